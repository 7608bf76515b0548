// A window manager on the X display of the test rig, for the tests whose outcome depends on one: iconic states,
// stacking, focus after a box and the restore from the notification area behave differently on a bare X server.
#pragma once

#include <QProcess>

namespace clavora::test {

// True when a window manager owns the display: the root window names its check window.
bool hasWindowManager();

// Starts openbox on the display unless a window manager already runs there, and waits until it owns the display.
// Stops the one it started, by its PID, when destroyed.
class WindowManager {
public:
    WindowManager();
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // A window manager owns the display (ours or one that was there before).
    bool running() const { return m_running; }

private:
    QProcess m_process;
    bool m_running = false;
};

} // namespace clavora::test
