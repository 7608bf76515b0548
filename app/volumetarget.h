// What the volume slider stands for, chosen once the audio output has started (or failed to): the volume of the
// program's stream at the sound server; without a sound server, the audio engine's own master gain, kept across
// runs in the per-user state store; without audio output, nothing.
#pragma once

#include "audio/mixer.h"
#include "platform/clock.h"
#include "platform/programvolume.h"
#include "platform/services.h"

#include <QString>

#include <memory>

namespace clavora {

namespace audio {
class SoundPlayer;
}

enum class VolumeTarget { SoundServer, EngineGain, None };

// The sound server's volume when Services' program volume follows the stream of an output on AudioDriver (an SDL
// driver name), else the engine's gain; nothing without audio output.
VolumeTarget chooseVolumeTarget(const platform::Services& services, bool audioRunning, const QString& audioDriver);

// The engine gain that sounds as loud as a stream volume of Volume at the sound server, whose volume scale is cubic
// (0..65535 here stands for 0..100 %).
quint16 serverVolumeAsGain(quint16 volume);

// The per-user state store, an INI file under the user's state folder (empty when StateFolder is).
QString stateStoreFile(const QString& stateFolder);

// A volume kept in the state store (StateFile, under Section) for the next run: written a second after the last
// change (a drag of the slider makes several changes; the store gets the last), by Clock, and when this object goes.
// An empty StateFile keeps nothing. GUI thread.
class KeptVolume {
public:
    static constexpr int SaveDelayMs = 1000;

    // Files reads and writes the store.
    KeptVolume(platform::IFileSystem& files, QString stateFile, QString section,
               const platform::Clock& clock = platform::steadyClock());
    ~KeptVolume();

    // The volume stored; false when the store has none or it is malformed.
    bool load(platform::ChannelVolume& volume) const;
    void keep(platform::ChannelVolume volume);
    // Writes a changed volume to the store now.
    void save();

private:
    platform::IFileSystem& m_files;
    QString m_stateFile;
    QString m_section;
    platform::ChannelVolume m_volume;
    bool m_dirty = false;
    std::unique_ptr<platform::ClockTimer> m_saveTimer;
};

// The engine's master gain as the program's volume: always available, read back from the engine, and kept in the
// state store so the next run starts with it.
class EngineGainVolume : public platform::IProgramVolume {
public:
    // Applies the gain stored in StateFile, when there is a valid one, to the engine at once. An empty StateFile
    // keeps nothing.
    EngineGainVolume(audio::SoundPlayer& sound, platform::IFileSystem& files, QString stateFile);

    void follow(const QString& streamName) override;
    bool isAvailable() override;
    bool read(platform::ChannelVolume& volume) override;
    bool write(platform::ChannelVolume volume) override;

private:
    audio::SoundPlayer& m_sound;
    KeptVolume m_kept;
};

// Makes the volume the slider controls for Sound's output as it started. SoundServer follows the engine's stream
// through Services' program volume (Services must outlive the result); StateFolder is the user's state folder for
// the engine's gain.
std::unique_ptr<platform::IProgramVolume>
makeProgramVolume(audio::SoundPlayer& sound, const platform::Services& services, const QString& stateFolder);

} // namespace clavora
