// A private session bus for one test: a dbus-daemon of its own on a socket in a temporary folder, stopped by its PID
// at the end. The desktop's own bus (where a real Clavora may run) is never touched: every test process starts with
// a DBUS_SESSION_BUS_ADDRESS that reaches no bus (tests/support/testmain.cpp).
#pragma once

#include "tests/support/testsupport.h"

#include <QProcess>
#include <QString>

namespace clavora::test {

class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // Starts the daemon and waits until it listens. False, with the reason in error(), when it does not.
    bool start();
    void stop();
    // The address to connect to ("unix:path=..."), for DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }
    QString error() const { return m_error; }

private:
    TempFolder m_folder;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

} // namespace clavora::test
