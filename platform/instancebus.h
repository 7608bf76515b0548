// One instance per desktop session, and the door through which other processes drive it: a second start of the
// program, its command line, the desktop's own key bindings, scripts. The first start claims the session's place and
// serves the commands; a later start finds it there and hands its command line over instead of running again.
#pragma once

#include "platform/status.h"

#include <QString>

#include <memory>

namespace clavora::platform {

// The volume as other processes see it: the main window's slider steps, 0 (silent) to MaxRemoteVolume (full).
inline constexpr unsigned MaxRemoteVolume = 8;

// What the instance that serves does for a caller. Called on the GUI thread, from its event loop.
class IInstanceCommands {
public:
    virtual ~IInstanceCommands() = default;
    // Shows the window and brings it to the front, from the notification area too.
    virtual void activate() = 0;
    // Plays the bindings of one key name as a press of that key would. Fails when no sound is bound to it.
    virtual Status playKey(const QString& keyName) = 0;
    // Plays one sound file (an absolute path) as a binding of it would. Fails when there is no such file.
    virtual Status playFile(const QString& path) = 0;
    virtual void stopAll() = 0;
    // The volume step, 0 to MaxRemoteVolume.
    virtual unsigned volume() const = 0;
    virtual void setVolume(unsigned step) = 0;
    virtual bool hotkeyMode() const = 0;
    // Fails when the option cannot be kept (the settings file is not written); the mode has changed all the same.
    virtual Status setHotkeyMode(bool on) = 0;
};

// The instance that serves, reached from another process. Each call waits for its answer; a failure's message says
// what went wrong, for the user.
class IRunningInstance {
public:
    virtual ~IRunningInstance() = default;
    virtual Status activate() = 0;
    virtual Status playKey(const QString& keyName) = 0;
    virtual Status playFile(const QString& path) = 0;
    virtual Status stopAll() = 0;
    virtual Status setVolume(unsigned step) = 0;
};

class IInstanceBus {
public:
    enum class Claim {
        Claimed,     // this process is the session's instance now
        Taken,       // another process is: hand it the command line
        Unavailable, // no session bus: run alone, as though no other instance could be
    };

    virtual ~IInstanceBus() = default;

    // Takes the session's place. Calls that come in from then on wait, in order, until serve().
    virtual Claim claim() = 0;
    // Why the last claim() or findRunning() could not reach the bus, for the log and the user.
    virtual QString unavailableReason() const = 0;
    // From now on the calls go to Commands (which must outlive this object or the next release()); those that came
    // before are answered now, in the order they came.
    virtual void serve(IInstanceCommands& commands) = 0;
    // Gives the place up, before the program starts its successor; calls are no longer served.
    virtual void release() = 0;

    // What the instance tells its listeners: a sound has started, the volume step or the hotkey mode has changed.
    virtual void soundStarted(const QString& path) = 0;
    virtual void volumeChanged(unsigned step) = 0;
    virtual void hotkeyModeChanged(bool on) = 0;

    // The instance that holds the place; null when none does or the bus cannot be reached, and Failure (when given)
    // then says which, for the user.
    virtual std::unique_ptr<IRunningInstance> findRunning(QString* failure = nullptr) = 0;
};

} // namespace clavora::platform
