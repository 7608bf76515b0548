// What the program may tell the maker's server about the machine it runs on. Unlike the services reached through
// Service<T>(), these are plain functions without state: the update check calls them from its worker thread.
#pragma once

#include <QByteArray>
#include <QString>

namespace clavora::platform {

// The machine's own identifier as the system keeps it, surrounding blanks removed; empty when it cannot be read.
// It identifies the machine to anyone who sees it, so it never leaves the program as it is: see
// online::installationIdFromMachineId. Any thread; reads a small file.
QByteArray readMachineId();

// The raw facts an operating-system description is made of. Any thread; reads a small file.
struct SystemFacts {
    QByteArray osRelease;  // the os-release file's text, empty when there is none
    QString kernelRelease; // e.g. "6.1.0-18-amd64"
    QString machine;       // hardware name of the running kernel, e.g. "x86_64"
};
SystemFacts readSystemFacts();

} // namespace clavora::platform
