// A private PulseAudio server for tests and benchmarks that change the server (load modules, set defaults): its own
// socket in a temporary folder, a null sink "speakers" as the default output, and stopped by its PID at the end.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace clavora::test {

class PrivateSoundServer {
public:
    PrivateSoundServer() = default;
    // Stops the server and puts back this process's PULSE_SERVER.
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts the server and points this process's libpulse at it (PULSE_SERVER). False when it did not answer.
    bool start();
    void stop();

    // "unix:<socket>"
    QString address() const { return m_address; }
    // Adds what a child process needs to use this server.
    void applyTo(QProcessEnvironment& environment) const;

    // Runs pactl against the server; its standard output.
    QString pactl(const QStringList& arguments) const;
    // The modules loaded, one "index name arguments" line each.
    QString modules() const {
        return pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
    }
    // The names of the sources.
    QStringList sourceNames() const;

    // A stand-in for the user's microphone, made the default source: a null sink "micfeed" whose monitor is
    // remapped into a source "fakemic" (a plain source, not a monitor). What is played to "micfeed" is what it
    // hears. False on failure.
    bool addFakeMicrophone();

private:
    QTemporaryDir m_folder;
    QProcess m_server;
    QString m_address;
    QByteArray m_previousAddress;
    bool m_hadPreviousAddress = false;
};

} // namespace clavora::test
