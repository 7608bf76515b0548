// The program natively on a Wayland compositor, with no X display at all: its window, the on-screen keyboard's
// captions from the compositor's keymap, and its clicks playing the bindings.
#include "display/keyboardlayouts.h"
#include "tests/support/portalrig.h"
#include "tests/support/waylandrig.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace clavora::test;
using clavora::platform::PhysicalKey;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
const QString LocaleError = QStringLiteral("Error retrieving locale information");

// The middle of a key, where its caption is drawn, in grey.
QImage captionArea(const QImage& screen, const QRect& key) {
    const QSize size(key.width() / 2, key.height() / 2);
    return screen.copy(QRect(key.center() - QPoint(size.width() / 2, size.height() / 2), size))
        .convertToFormat(QImage::Format_Grayscale8);
}

// Pixels dark enough to be a caption's ink on the light key face.
int inkOf(const QImage& area) {
    int ink = 0;
    for (int y = 0; y < area.height(); ++y) {
        const uchar* line = area.constScanLine(y);
        ink += int(std::count_if(line, line + area.width(), [](uchar grey) { return grey < 96; }));
    }
    return ink;
}

// Letter keys of every layout the tests use.
const PhysicalKey LetterKeys[] = {{16, false}, {21, false}, {30, false}, {33, false}, {44, false}, {50, false}};

class WaylandE2E : public WaylandProgramTest {
protected:
    // Starts the program with the on-screen keyboard's placement logged, and waits for its window and for the
    // keyboard to be placed in it for Locale.
    bool startAndPlace(ProgramRun& run, const QString& locale) {
        run.environment().insert(QStringLiteral("QT_LOGGING_RULES"),
                                 QStringLiteral("clavora.display.keyboard.debug=true"));
        if (!run.start() || !waitForWindow(run, Title, &m_window)) {
            return false;
        }
        return waitFor(
            [&] {
                m_log += run.output();
                m_keyboard = lastLoggedKeyboard(m_log);
                // The last placement is the one in the window as the compositor sized it.
                return m_keyboard.locale == locale && m_keyboard.rect.bottom() < m_window.rect.height() &&
                       m_keyboard.rect.height() > m_window.rect.height() / 3;
            },
            20000);
    }

    // Where the key Key is on the output, as the program placed it.
    QRect keyOnOutput(PhysicalKey key) const {
        const clavora::KeyboardLayout* layout = nullptr;
        for (const clavora::KeyboardLayout& candidate : clavora::builtInLayouts()) {
            if (candidate.name == m_keyboard.layoutName) {
                layout = &candidate;
            }
        }
        if (!layout) {
            return QRect();
        }
        for (const clavora::KeyPlacement& placed : clavora::placeKeys(*layout, m_keyboard.rect.size())) {
            if (layout->rows[size_t(placed.row)].keys[size_t(placed.index)].key == key) {
                return placed.rect.translated(m_window.rect.topLeft() + m_keyboard.rect.topLeft());
            }
        }
        return QRect();
    }

    // Waits until every letter key shows a caption and the picture has settled: two shots in a row alike (the first
    // frames may still be of the size the window had before the compositor placed it). Screen: the last shot.
    bool waitUntilDrawn(QImage& screen) {
        QImage previous;
        const QRect area = m_keyboard.rect.translated(m_window.rect.topLeft());
        return waitFor(
            [&] {
                previous = screen;
                screen = waylandScreenshot();
                return !screen.isNull() && !previous.isNull() && screen.copy(area) == previous.copy(area) &&
                       std::all_of(std::begin(LetterKeys), std::end(LetterKeys),
                                   [&](auto key) { return inkOf(captionArea(screen, keyOnOutput(key))) > 20; });
            },
            20000);
    }

    WaylandWindow m_window;
    LoggedKeyboard m_keyboard;
    QString m_log;
};

// Pixels of A and B that differ in ink, with B shifted by at most a pixel each way to the best match (captions are
// centred by rounding).
int inkDifference(const QImage& a, const QImage& b) {
    int best = a.width() * a.height();
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            int differing = 0;
            for (int y = 1; y + 1 < std::min(a.height(), b.height()); ++y) {
                for (int x = 1; x + 1 < std::min(a.width(), b.width()); ++x) {
                    differing += (a.pixelColor(x, y).value() < 96) != (b.pixelColor(x + dx, y + dy).value() < 96);
                }
            }
            best = std::min(best, differing);
        }
    }
    return best;
}

// Whether the file holds a sample that is not silence (SDL's disk driver writes silence as zero bytes).
bool holdsSound(const QString& path) {
    const QByteArray samples = readBytes(path);
    return std::any_of(samples.begin(), samples.end(), [](char byte) { return byte != 0; });
}

TEST_F(WaylandE2E, StartsWithoutAnErrorAndCaptionsTheKeysFromTheCompositorsLayout) {
    const PhysicalKey KeyRightOfT{21, false}; // y on a US keyboard, f with Dvorak
    const PhysicalKey KeyOfF{33, false};      // f on a US keyboard
    const struct {
        QString layout;
        QString variant;
        QString locale;
    } cases[] = {
        {"us", "", "en-US"},
        {"us", "dvorak", "en-US"},
        {"de", "", "de-DE"},
    };
    std::map<QString, QImage> captions;
    for (const auto& c : cases) {
        const QString name = c.layout + QLatin1Char(':') + c.variant;
        SCOPED_TRACE(name.toStdString());
        WaylandKeyboard device;
        ASSERT_TRUE(device.setLayout(c.layout, c.variant));
        m_log.clear();
        auto run = makeRun();
        ASSERT_TRUE(startAndPlace(*run, c.locale)) << m_log.toStdString();

        QImage screen;
        ASSERT_TRUE(waitUntilDrawn(screen));
        captions[name + QStringLiteral("/T")] = captionArea(screen, keyOnOutput(KeyRightOfT));
        captions[name + QStringLiteral("/F")] = captionArea(screen, keyOnOutput(KeyOfF));

        // No error box: the program's only window is its main window, and the error was never raised.
        m_log += run->output();
        EXPECT_FALSE(m_log.contains(LocaleError)) << m_log.toStdString();
        // Hotkey mode is on by default and hears nothing here: the window says so in a notice of its own.
        EXPECT_TRUE(m_log.contains(QLatin1String("does not let programs watch keys"))) << m_log.toStdString();
        const std::vector<WaylandWindow> windows = waylandWindowsOf(run->pid());
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows.front().title, Title);
        EXPECT_TRUE(run->isRunning());
    }
    // The captions are the layout's: Dvorak has f right of T, where the US layout has y.
    const QImage& dvorakF = captions["us:dvorak/T"];
    EXPECT_LT(inkDifference(dvorakF, captions["us:/F"]), inkOf(dvorakF) / 5);
    EXPECT_GT(inkDifference(dvorakF, captions["us:/T"]), inkOf(dvorakF) / 2);
}

TEST_F(WaylandE2E, ClickOnTheOnScreenKeyboardPlaysTheKeysBinding) {
    WaylandKeyboard device;
    ASSERT_TRUE(device.setLayout("us"));
    WaylandPointer pointer;
    ASSERT_TRUE(pointer.connected());
    QFile keys(m_programDir + QStringLiteral("/keys.db"));
    ASSERT_TRUE(keys.open(QIODevice::Append));
    keys.write("q|Sounds\\11.mp3\r\n");
    keys.close();
    handOver();

    auto run = makeRun();
    ASSERT_TRUE(startAndPlace(*run, QStringLiteral("en-US"))) << m_log.toStdString();
    QImage screen;
    ASSERT_TRUE(waitUntilDrawn(screen));
    const QRect q = keyOnOutput(PhysicalKey{16, false});
    ASSERT_TRUE(q.isValid());
    // Nothing has played before the click.
    ASSERT_FALSE(holdsSound(m_soundFile));

    pointer.click(q.center());
    EXPECT_TRUE(waitFor([&] { return holdsSound(m_soundFile); }, 20000)) << (m_log + run->output()).toStdString();
    EXPECT_TRUE(run->isRunning());
}

TEST_F(WaylandE2E, AWindowOnTheCompositorTakesItsKeyboardThereThoughAnXDisplayAnswers) {
    // The X11 rig's display stands for XWayland's: reachable, with a layout (US) of its own.
    const QString x11Display = qEnvironmentVariable("DISPLAY");
    if (x11Display.isEmpty()) {
        GTEST_SKIP() << "needs the X display of the X11 rig as well";
    }
    WaylandKeyboard device;
    ASSERT_TRUE(device.setLayout("de"));
    auto run = makeRun();
    run->environment().insert(QStringLiteral("DISPLAY"), x11Display);
    ASSERT_TRUE(startAndPlace(*run, QStringLiteral("de-DE"))) << m_log.toStdString();
    EXPECT_TRUE(m_log.contains(QLatin1String("keyboard from the compositor"))) << m_log.toStdString();
    QImage screen;
    EXPECT_TRUE(waitUntilDrawn(screen));
    EXPECT_FALSE(m_log.contains(LocaleError));
}

TEST_F(WaylandE2E, HotkeysThroughTheDesktopPortalPlayTheShortcutsKey) {
    if (!PortalRig::available()) {
        GTEST_SKIP() << "needs xdg-desktop-portal and dbus-daemon";
    }
    // The desktop's portal on a session bus the program's user may reach.
    const QString portalFolder = m_root + QStringLiteral("/portal");
    ASSERT_TRUE(QDir().mkpath(portalFolder));
    PortalRig portal;
    ASSERT_TRUE(portal.start(portalFolder, true)) << portal.error().toStdString();
    QFile keys(m_programDir + QStringLiteral("/keys.db"));
    ASSERT_TRUE(keys.open(QIODevice::Append));
    keys.write("q|Sounds\\11.mp3\r\n");
    keys.close();
    handOver();

    WaylandKeyboard device;
    ASSERT_TRUE(device.setLayout("us"));
    auto run = makeRun();
    run->environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), portal.address());
    ASSERT_TRUE(startAndPlace(*run, QStringLiteral("en-US"))) << m_log.toStdString();

    // One shortcut per key name of the key map, the defaults' and q.
    ASSERT_TRUE(waitFor([&] { return !portal.backend().binds.empty(); }, 20000))
        << (m_log + run->output()).toStdString() << portal.frontend().readAll().toStdString();
    QStringList ids;
    for (const PortalShortcut& shortcut : portal.backend().binds.back().second) {
        ids << shortcut.id;
        EXPECT_EQ(shortcut.properties.value("description").toString(), "Play " + shortcut.id);
    }
    EXPECT_TRUE(ids.contains("F1") && ids.contains("F12") && ids.contains("q")) << ids.join(',').toStdString();
    EXPECT_EQ(ids.count("q"), 1);

    // Nothing to say about hotkey mode here: it hears the desktop's shortcuts.
    m_log += run->output();
    EXPECT_FALSE(m_log.contains(QLatin1String("does not let programs watch keys"))) << m_log.toStdString();
    ASSERT_FALSE(holdsSound(m_soundFile));
    portal.backend().press("q", true);
    EXPECT_TRUE(waitFor([&] { return holdsSound(m_soundFile); }, 20000)) << (m_log + run->output()).toStdString();
    portal.backend().press("q", false);
    EXPECT_TRUE(run->isRunning());
}

} // namespace
