// Machine identifier, system facts and the processors' load on Linux.
#pragma once

#include "platform/systeminfo.h"

namespace clavora::platform {

class LinuxSystemInfo : public ISystemInfo {
public:
    QByteArray machineId() override;
    SystemFacts systemFacts() override;
    ProcessorLoad processorLoad() override;
};

} // namespace clavora::platform
