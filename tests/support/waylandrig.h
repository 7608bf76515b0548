// The Wayland test rig of scripts/wayland-rig.sh seen from a test: the compositor's windows, screenshots, typed
// text, a pointer of the test's own, and the program run as the compositor's user with it as its display.
#pragma once

#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QImage>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace clavora::test {

// True when the Wayland rig runs (its CLAVORA_WAYLAND_* variables are set).
bool waylandRigRunning();

// One window on the compositor, as swaymsg reports it: its place in the output's coordinates.
struct WaylandWindow {
    QString title;
    qint64 pid = 0;
    QRect rect;
    bool focused = false;
};

// The mapped windows of process Pid (every process when Pid is 0), in the order of the compositor's tree.
std::vector<WaylandWindow> waylandWindowsOf(qint64 pid = 0);
// The compositor's output as a picture (grim); a null image on failure.
QImage waylandScreenshot();
// Types Text into the window that has the keyboard focus (wtype).
void waylandType(const QString& text);
// Runs swaymsg with Arguments; its standard output.
QString swayCommand(const QStringList& arguments);

// A pointer of the test's own on the compositor (a virtual pointer device): it clicks at a point of the output.
class WaylandPointer {
public:
    WaylandPointer();
    ~WaylandPointer();
    WaylandPointer(const WaylandPointer&) = delete;
    WaylandPointer& operator=(const WaylandPointer&) = delete;

    bool connected() const;
    void moveTo(QPoint point);
    void press();
    void release();
    void click(QPoint point);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A keyboard of the test's own on the compositor (a virtual keyboard device): the seat has a keyboard while it
// lives, and the compositor hands its keymap to every client.
class WaylandKeyboard {
public:
    WaylandKeyboard();
    ~WaylandKeyboard();
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    bool connected() const;
    // Gives the keyboard the keymap of an XKB layout ("de", "fr"...); false when it does not compile.
    bool setLayout(const QString& layout, const QString& variant = QString());
    // Gives it a keymap in XKB's text form.
    void setKeymap(const QByteArray& text);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The last place of the on-screen keyboard the program logged (its debug log of clavora.display.keyboard): the
// layout variant, the locale it was chosen for and the rectangle in the window. Empty name when it logged none.
struct LoggedKeyboard {
    QString layoutName;
    QString locale;
    QRect rect;
};
LoggedKeyboard lastLoggedKeyboard(const QString& output);

// A test of the program run natively on the rig's compositor: a program folder and a home that the compositor's user
// owns (m_programDir, m_home below m_root). Skipped without the rig.
class WaylandProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A run of the program as the compositor's user, with the compositor as its only display and its sound written
    // to m_soundFile (SDL's disk driver).
    std::unique_ptr<ProgramRun> makeRun();
    // Hands everything below m_root to the compositor's user again (after the test wrote files there).
    void handOver();
    // Waits until the program has a window with this title on the compositor; it then is that window.
    bool waitForWindow(const ProgramRun& run, const QString& title, WaylandWindow* window = nullptr,
                       int timeoutMs = 20000);

    QString m_root;
    QString m_programDir;
    QString m_home;
    QString m_soundFile;
};

} // namespace clavora::test
