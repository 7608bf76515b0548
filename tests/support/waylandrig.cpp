// The Wayland test rig seen from a test.
#include "tests/support/waylandrig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <QRegularExpression>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace clavora::test {

namespace {

QString rigValue(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

QProcessEnvironment toolEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), rigValue("CLAVORA_WAYLAND_RUNTIME"));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), rigValue("CLAVORA_WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("SWAYSOCK"), rigValue("CLAVORA_WAYLAND_SWAYSOCK"));
    environment.remove(QStringLiteral("DISPLAY"));
    return environment;
}

QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(2000);
        return QByteArray();
    }
    return process.readAllStandardOutput();
}

void collectWindows(const QJsonObject& node, qint64 pid, std::vector<WaylandWindow>& found) {
    if (node.contains(QLatin1String("pid")) && (pid == 0 || node.value(QLatin1String("pid")).toInteger() == pid)) {
        const QJsonObject rect = node.value(QLatin1String("rect")).toObject();
        WaylandWindow window;
        window.title = node.value(QLatin1String("name")).toString();
        window.pid = node.value(QLatin1String("pid")).toInteger();
        window.rect = QRect(rect.value(QLatin1String("x")).toInt(), rect.value(QLatin1String("y")).toInt(),
                            rect.value(QLatin1String("width")).toInt(), rect.value(QLatin1String("height")).toInt());
        window.focused = node.value(QLatin1String("focused")).toBool();
        found.push_back(window);
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        for (const QJsonValue child : node.value(QLatin1String(children)).toArray()) {
            collectWindows(child.toObject(), pid, found);
        }
    }
}

// The virtual pointer protocol of wlroots compositors, declared by hand: its two interfaces are all a test needs.
const wl_interface* noTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
extern const wl_interface virtualPointerInterface;
const wl_interface* createPointerTypes[] = {&wl_seat_interface, &virtualPointerInterface};
const wl_message managerRequests[] = {
    {"create_virtual_pointer", "?on", createPointerTypes},
    {"destroy", "", noTypes},
};
const wl_interface virtualPointerManagerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, managerRequests, 0, nullptr};
const wl_message pointerRequests[] = {
    {"motion", "uff", noTypes},   {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes},   {"axis", "uuf", noTypes},
    {"frame", "", noTypes},       {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes}, {"axis_discrete", "uufi", noTypes},
    {"destroy", "", noTypes},
};
const wl_interface virtualPointerInterface = {"zwlr_virtual_pointer_v1", 1, 9, pointerRequests, 0, nullptr};

// The virtual keyboard protocol, the same way.
extern const wl_interface virtualKeyboardInterface;
const wl_interface* createKeyboardTypes[] = {&wl_seat_interface, &virtualKeyboardInterface};
const wl_message keyboardManagerRequests[] = {
    {"create_virtual_keyboard", "on", createKeyboardTypes},
};
const wl_interface virtualKeyboardManagerInterface = {"zwp_virtual_keyboard_manager_v1", 1, 1,
                                                      keyboardManagerRequests,           0, nullptr};
const wl_message keyboardRequests[] = {
    {"keymap", "uhu", noTypes},
    {"key", "uuu", noTypes},
    {"modifiers", "uuuu", noTypes},
    {"destroy", "", noTypes},
};
const wl_interface virtualKeyboardInterface = {"zwp_virtual_keyboard_v1", 1, 4, keyboardRequests, 0, nullptr};

// A connection of the test's own to the rig's compositor, with its seat and one global bound by name.
struct RigConnection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
    const wl_interface* managerInterface = nullptr;

    explicit RigConnection(const wl_interface* wanted);
    ~RigConnection();
};

enum PointerRequest : std::uint32_t { MotionAbsolute = 1, Button = 2, Frame = 4, Destroy = 8 };
constexpr std::uint32_t LeftButton = 0x110; // BTN_LEFT

} // namespace

bool waylandRigRunning() {
    return !rigValue("CLAVORA_WAYLAND_RUNTIME").isEmpty() && !rigValue("CLAVORA_WAYLAND_DISPLAY").isEmpty();
}

std::vector<WaylandWindow> waylandWindowsOf(qint64 pid) {
    std::vector<WaylandWindow> found;
    const QJsonDocument tree = QJsonDocument::fromJson(runTool(QStringLiteral("swaymsg"), {"-r", "-t", "get_tree"}));
    collectWindows(tree.object(), pid, found);
    return found;
}

QImage waylandScreenshot() {
    return QImage::fromData(runTool(QStringLiteral("grim"), {QStringLiteral("-")}), "PNG");
}

void waylandType(const QString& text) {
    runTool(QStringLiteral("wtype"), {text});
}

QString swayCommand(const QStringList& arguments) {
    return QString::fromUtf8(runTool(QStringLiteral("swaymsg"), arguments));
}

RigConnection::RigConnection(const wl_interface* wanted) : managerInterface(wanted) {
    const QByteArray path =
        QFile::encodeName(rigValue("CLAVORA_WAYLAND_RUNTIME") + QLatin1Char('/') + rigValue("CLAVORA_WAYLAND_DISPLAY"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    display = wl_display_connect_to_fd(fd);
    if (!display) {
        return;
    }
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* globals, std::uint32_t name, const char* interface, std::uint32_t) {
            auto* self = static_cast<RigConnection*>(data);
            if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
                self->seat = static_cast<wl_seat*>(wl_registry_bind(globals, name, &wl_seat_interface, 1));
            } else if (std::strcmp(interface, self->managerInterface->name) == 0 && !self->manager) {
                self->manager = static_cast<wl_proxy*>(wl_registry_bind(globals, name, self->managerInterface, 1));
            }
        },
        [](void*, wl_registry*, std::uint32_t) {}};
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, this);
    wl_display_roundtrip(display);
}

RigConnection::~RigConnection() {
    if (manager) {
        wl_proxy_destroy(manager);
    }
    if (seat) {
        wl_seat_destroy(seat);
    }
    if (registry) {
        wl_registry_destroy(registry);
    }
    if (display) {
        wl_display_roundtrip(display);
        wl_display_disconnect(display);
    }
}

struct WaylandPointer::Impl {
    RigConnection connection{&virtualPointerManagerInterface};
    wl_proxy* pointer = nullptr;
    QSize extent{1280, 1024};

    std::uint32_t now() const { return std::uint32_t(QDateTime::currentMSecsSinceEpoch()); }
    void send(std::uint32_t opcode, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
              std::uint32_t e) {
        wl_proxy_marshal_flags(pointer, opcode, nullptr, wl_proxy_get_version(pointer), 0, a, b, c, d, e);
    }
    void frame() {
        wl_proxy_marshal_flags(pointer, Frame, nullptr, wl_proxy_get_version(pointer), 0);
        wl_display_roundtrip(connection.display);
    }
};

WaylandPointer::WaylandPointer() : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    if (!d.connection.manager) {
        return;
    }
    d.pointer =
        wl_proxy_marshal_flags(d.connection.manager, 0, &virtualPointerInterface, 1, 0, d.connection.seat, nullptr);
    wl_display_roundtrip(d.connection.display);
}

WaylandPointer::~WaylandPointer() {
    if (m_impl->pointer) {
        wl_proxy_marshal_flags(m_impl->pointer, Destroy, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
    }
}

bool WaylandPointer::connected() const {
    return m_impl->pointer != nullptr;
}

void WaylandPointer::moveTo(QPoint point) {
    if (!connected()) {
        return;
    }
    m_impl->send(MotionAbsolute, m_impl->now(), std::uint32_t(point.x()), std::uint32_t(point.y()),
                 std::uint32_t(m_impl->extent.width()), std::uint32_t(m_impl->extent.height()));
    m_impl->frame();
}

void WaylandPointer::press() {
    if (connected()) {
        m_impl->send(Button, m_impl->now(), LeftButton, WL_POINTER_BUTTON_STATE_PRESSED, 0, 0);
        m_impl->frame();
    }
}

void WaylandPointer::release() {
    if (connected()) {
        m_impl->send(Button, m_impl->now(), LeftButton, WL_POINTER_BUTTON_STATE_RELEASED, 0, 0);
        m_impl->frame();
    }
}

void WaylandPointer::click(QPoint point) {
    moveTo(point);
    press();
    release();
}

struct WaylandKeyboard::Impl {
    RigConnection connection{&virtualKeyboardManagerInterface};
    wl_proxy* keyboard = nullptr;
};

WaylandKeyboard::WaylandKeyboard() : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    if (!d.connection.manager) {
        return;
    }
    d.keyboard =
        wl_proxy_marshal_flags(d.connection.manager, 0, &virtualKeyboardInterface, 1, 0, d.connection.seat, nullptr);
}

WaylandKeyboard::~WaylandKeyboard() {
    if (m_impl->keyboard) {
        wl_proxy_marshal_flags(m_impl->keyboard, 3, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
    }
}

bool WaylandKeyboard::connected() const {
    return m_impl->keyboard != nullptr;
}

bool WaylandKeyboard::setLayout(const QString& layout, const QString& variant) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const QByteArray layoutName = layout.toUtf8();
    const QByteArray variantName = variant.toUtf8();
    xkb_rule_names names{};
    names.rules = "evdev";
    names.model = "pc105";
    names.layout = layoutName.constData();
    names.variant = variantName.constData();
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    const QByteArray keymapText = text ? QByteArray(text) : QByteArray();
    std::free(text);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    if (keymapText.isEmpty()) {
        return false;
    }
    setKeymap(keymapText);
    return true;
}

void WaylandKeyboard::setKeymap(const QByteArray& text) {
    if (!connected()) {
        return;
    }
    const int fd = ::memfd_create("keymap", MFD_CLOEXEC);
    const QByteArray withNul = text + '\0';
    if (fd < 0 || ::write(fd, withNul.constData(), size_t(withNul.size())) != withNul.size()) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    wl_proxy_marshal_flags(m_impl->keyboard, 0, nullptr, 1, 0, std::uint32_t(WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1), fd,
                           std::uint32_t(withNul.size()));
    wl_display_roundtrip(m_impl->connection.display);
    ::close(fd);
}

LoggedKeyboard lastLoggedKeyboard(const QString& output) {
    static const QRegularExpression placed(
        QStringLiteral(R"re(Keys placed: "([^"]*)" for "([^"]*)" at QRect\((-?\d+),(-?\d+) (\d+)x(\d+)\))re"));
    LoggedKeyboard logged;
    QRegularExpressionMatchIterator it = placed.globalMatch(output);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        logged.layoutName = match.captured(1);
        logged.locale = match.captured(2);
        logged.rect = QRect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(5).toInt(),
                            match.captured(6).toInt());
    }
    return logged;
}

void WaylandProgramTest::SetUp() {
    if (!waylandRigRunning()) {
        GTEST_SKIP() << "needs the compositor of the Wayland test rig (scripts/wayland-rig.sh)";
    }
    // A folder the compositor's user can reach: QTemporaryDir makes private ones.
    m_root = QDir::tempPath() + QStringLiteral("/clavora-wayland-%1").arg(QCoreApplication::applicationPid());
    QDir(m_root).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(m_root));
    ::chmod(QFile::encodeName(m_root).constData(), 0755);
    m_programDir = m_root + QStringLiteral("/program");
    m_home = m_root + QStringLiteral("/home");
    m_soundFile = m_home + QStringLiteral("/sound.raw");
    ASSERT_TRUE(QDir().mkpath(m_home));
    ASSERT_TRUE(copyProgramFolder(m_programDir));
    handOver();
}

void WaylandProgramTest::TearDown() {
    if (!m_root.isEmpty()) {
        QDir(m_root).removeRecursively();
    }
}

void WaylandProgramTest::handOver() {
    if (::geteuid() == 0) {
        const QString uid = rigValue("CLAVORA_WAYLAND_UID");
        runCommand(QStringLiteral("chown"), {QStringLiteral("-R"), uid + QLatin1Char(':') + uid, m_root});
    }
}

std::unique_ptr<ProgramRun> WaylandProgramTest::makeRun() {
    auto run = std::make_unique<ProgramRun>(m_programDir + QStringLiteral("/clavora"), m_home);
    QProcessEnvironment& environment = run->environment();
    for (const char* name : {"DISPLAY", "PULSE_SERVER", "PULSE_RUNTIME_PATH", "DBUS_SESSION_BUS_ADDRESS"}) {
        environment.remove(QLatin1String(name));
    }
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), rigValue("CLAVORA_WAYLAND_RUNTIME"));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), rigValue("CLAVORA_WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    // The compositor draws no borders; Qt's own decorations would shift the window's content.
    environment.insert(QStringLiteral("QT_WAYLAND_DISABLE_WINDOWDECORATION"), QStringLiteral("1"));
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    environment.insert(QStringLiteral("SDL_DISKAUDIOFILE"), m_soundFile);
    const int uid = rigValue("CLAVORA_WAYLAND_UID").toInt();
    if (uid > 0) {
        run->runAsUser(uid);
    }
    return run;
}

bool WaylandProgramTest::waitForWindow(const ProgramRun& run, const QString& title, WaylandWindow* window,
                                       int timeoutMs) {
    return waitFor(
        [&] {
            for (const WaylandWindow& found : waylandWindowsOf(run.pid())) {
                if (found.title == title && found.rect.isValid()) {
                    if (window) {
                        *window = found;
                    }
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

} // namespace clavora::test
