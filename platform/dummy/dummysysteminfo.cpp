// Facts about the machine on a system without an implementation of its own: none are known.
#include "platform/systeminfo.h"

namespace clavora::platform {

QByteArray readMachineId() {
    return {};
}

SystemFacts readSystemFacts() {
    return {};
}

ProcessorLoad readProcessorLoad() {
    return {};
}

} // namespace clavora::platform
