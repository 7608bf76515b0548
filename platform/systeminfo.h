// What the program may tell the maker's server about the machine it runs on, and how busy its processors are. The
// only service without state: the update check asks it from its worker thread, the audio output from its own.
#pragma once

#include <QByteArray>
#include <QString>

namespace clavora::platform {

// The raw facts an operating-system description is made of.
struct SystemFacts {
    QByteArray osRelease;  // the os-release file's text, empty when there is none
    QString kernelRelease; // e.g. "6.1.0-18-amd64"
    QString machine;       // hardware name of the running kernel, e.g. "x86_64"
};
// How much the processors have to do, as the audio output judges how much sound to keep ahead.
struct ProcessorLoad {
    int processors = 0; // online; 0 when unknown
    int runnable = 0;   // threads running or ready to run as it was read, the reader included; 0 when unknown
    // Share of the last ten seconds in which some thread was ready to run and waited for a processor, 0 to 1; 0 when
    // unknown.
    double waitingShare = 0;
    // Time in which some thread waited for a processor since the system started, in microseconds; -1 when unknown.
    qint64 waitedUs = -1;
};

class ISystemInfo {
public:
    virtual ~ISystemInfo() = default;

    // The machine's own identifier as the system keeps it, surrounding blanks removed; empty when it cannot be read.
    // It identifies the machine to anyone who sees it, so it never leaves the program as it is: see
    // online::installationIdFromMachineId. Any thread; reads a small file.
    virtual QByteArray machineId() = 0;

    // Any thread; reads a small file.
    virtual SystemFacts systemFacts() = 0;

    // Any thread; reads two small files.
    virtual ProcessorLoad processorLoad() = 0;
};

} // namespace clavora::platform
