// The bundle of services.
#include "platform/services.h"

#include <QtGlobal>

#include <algorithm>
#include <iterator>

namespace clavora::platform {

namespace {

void checkComplete(const Services::Parts& parts) {
    const void* all[] = {parts.fileSystem,      parts.folderSearch,   parts.locale,         parts.process,
                         parts.autostart,       parts.shell,          parts.webHost,        parts.systemInfo,
                         parts.threadPriority,  parts.soundServer,    parts.fallbackPlayer, parts.keyboard,
                         parts.keyCaptions,     parts.keyInjector,    parts.keyWatch,       parts.programVolume,
                         parts.voiceMicrophone, parts.globalShortcuts};
    // A bundle with a hole would fail far from where it was made; it fails here instead.
    if (std::find(std::begin(all), std::end(all), nullptr) != std::end(all)) {
        qFatal("Services: a service has no implementation");
    }
}

} // namespace

Services::Services(const Parts& parts, std::initializer_list<Capability> capabilities, QStringList volumeDrivers,
                   std::vector<std::shared_ptr<void>> owned)
    : Services(parts, std::vector<Capability>(capabilities), std::move(volumeDrivers), std::move(owned)) {}

Services::Services(const Parts& parts, const std::vector<Capability>& capabilities, QStringList volumeDrivers,
                   std::vector<std::shared_ptr<void>> owned)
    : m_parts(parts), m_capabilities(capabilities), m_volumeDrivers(std::move(volumeDrivers)),
      m_owned(std::move(owned)) {
    checkComplete(m_parts);
}

Services::~Services() {
    // The parts made last may lean on those made before them (the autostart entry on the file system).
    while (!m_owned.empty()) {
        m_owned.pop_back();
    }
}

std::unique_ptr<Services> Services::withParts(const std::function<void(Parts&)>& change) const {
    Parts parts = m_parts;
    change(parts);
    return std::make_unique<Services>(parts, m_capabilities, m_volumeDrivers);
}

bool Services::has(Capability capability) const {
    return std::find(m_capabilities.begin(), m_capabilities.end(), capability) != m_capabilities.end();
}

bool Services::programVolumeFollows(const QString& audioDriver) const {
    return hasProgramVolume() && m_volumeDrivers.contains(audioDriver, Qt::CaseInsensitive);
}

} // namespace clavora::platform
