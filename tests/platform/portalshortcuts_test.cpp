// Global shortcuts through the desktop portal: the real xdg-desktop-portal frontend on a private session bus, with a
// GlobalShortcuts backend of the test's own that it finds through a .portal file of the test's portal folder.
#include "platform/wayland/portalshortcuts.h"
#include "tests/support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace clavora::platform {
namespace {

using test::waitFor;

const QString BackendName = QStringLiteral("org.freedesktop.impl.portal.desktop.clavoratest");
const QString DesktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ImplInterface = QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts");

// The desktop's side: binds whatever it is asked to and presses shortcuts when the test says so.
class ShortcutsBackend : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    explicit ShortcutsBackend(QDBusConnection bus) : m_bus(std::move(bus)) {}
    uint version() const { return 1; }

    std::vector<QString> sessions;
    // Each BindShortcuts: its session and its shortcuts.
    std::vector<std::pair<QString, QList<Shortcut>>> binds;

    // Presses or releases shortcut Id of a session, the newest unless told.
    void press(const QString& id, bool down, int session = -1) {
        QDBusMessage signal = QDBusMessage::createSignal(
            DesktopPath, ImplInterface, down ? QStringLiteral("Activated") : QStringLiteral("Deactivated"));
        const QString path = session < 0 ? sessions.back() : sessions.at(size_t(session));
        signal << QVariant::fromValue(QDBusObjectPath(path)) << id << qulonglong(0) << QVariantMap();
        m_bus.send(signal);
    }

public slots:
    uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session, const QString&, const QVariantMap&,
                       QVariantMap& results) {
        sessions.push_back(session.path());
        results.insert(QStringLiteral("session_handle"), session.path());
        return 0;
    }
    uint BindShortcuts(const QDBusObjectPath&, const QDBusObjectPath& session, const QList<Shortcut>& shortcuts,
                       const QString&, const QVariantMap&, QVariantMap& results) {
        binds.emplace_back(session.path(), shortcuts);
        results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts));
        return 0;
    }
    uint ListShortcuts(const QDBusObjectPath&, const QDBusObjectPath&, QVariantMap& results) {
        results.insert(QStringLiteral("shortcuts"),
                       QVariant::fromValue(binds.empty() ? QList<Shortcut>() : binds.back().second));
        return 0;
    }

private:
    QDBusConnection m_bus;
};

class PortalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // By name too: the backend's slots are matched by their parameters' type names.
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<QList<Shortcut>>();
        qRegisterMetaType<QList<Shortcut>>("QList<Shortcut>");
        const QString portal = QStringLiteral("/usr/libexec/xdg-desktop-portal");
        if (!QFileInfo(portal).isExecutable() || QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
            GTEST_SKIP() << "needs xdg-desktop-portal and dbus-daemon";
        }
        // A session bus of the test's own, which starts no services by itself: whatever answers there, the test
        // started.
        const QString address = QStringLiteral("unix:path=") + m_root.file("bus");
        test::writeBytes(m_root.file("bus.conf"), "<busconfig><type>session</type><listen>" + address.toUtf8() +
                                                      "</listen><policy context=\"default\"><allow "
                                                      "send_destination=\"*\" eavesdrop=\"true\"/><allow "
                                                      "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {"--config-file=" + m_root.file("bus.conf"), "--nofork", "--nopidfile"});
        ASSERT_TRUE(m_bus.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(m_root.file("bus")); }, 10000));
        m_backendBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "backend"));
        m_clientBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "client"));
        ASSERT_TRUE(m_backendBus->isConnected());
        ASSERT_TRUE(m_clientBus->isConnected());

        // The backend is on the bus before the frontend looks for it.
        m_backend = std::make_unique<ShortcutsBackend>(*m_backendBus);
        ASSERT_TRUE(m_backendBus->registerObject(
            DesktopPath, m_backend.get(), QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(m_backendBus->registerService(BackendName));

        // The frontend finds it by the desktop the session names.
        ASSERT_TRUE(QDir().mkpath(m_root.file("portals")));
        test::writeBytes(m_root.file("portals/clavoratest.portal"),
                         "[portal]\nDBusName=" + BackendName.toUtf8() +
                             "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=clavoratest\n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        environment.insert("XDG_DESKTOP_PORTAL_DIR", m_root.file("portals"));
        environment.insert("XDG_CURRENT_DESKTOP", "clavoratest");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        m_portal.setProcessEnvironment(environment);
        m_portal.setProcessChannelMode(QProcess::MergedChannels);
        m_portal.start(portal, {"--replace"});
        ASSERT_TRUE(m_portal.waitForStarted());
        ASSERT_TRUE(waitFor(
            [&] {
                return m_clientBus->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            20000))
            << m_portal.readAll().toStdString();
    }

    void TearDown() override {
        for (QProcess* process : {&m_portal, &m_bus}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
        }
        if (m_clientBus) {
            QDBusConnection::disconnectFromBus("client");
        }
        if (m_backendBus) {
            QDBusConnection::disconnectFromBus("backend");
        }
    }

    test::TempFolder m_root;
    QProcess m_bus;
    QProcess m_portal;
    std::unique_ptr<QDBusConnection> m_backendBus;
    std::unique_ptr<QDBusConnection> m_clientBus;
    std::unique_ptr<ShortcutsBackend> m_backend;
};

TEST_F(PortalShortcutsTest, BindsOneShortcutPerNameAndReportsItsPressesAndReleases) {
    EXPECT_TRUE(portalOffersGlobalShortcuts(*m_clientBus, std::chrono::milliseconds(10000)));

    PortalGlobalShortcuts shortcuts(*m_clientBus);
    std::vector<std::pair<QString, bool>> heard;
    ASSERT_TRUE(
        shortcuts.bind({"a", "F1", "SHIFT"}, [&](const QString& name, bool down) { heard.emplace_back(name, down); }));
    ASSERT_TRUE(waitFor([&] { return !m_backend->binds.empty(); }, 20000)) << m_portal.readAll().toStdString();
    ASSERT_EQ(m_backend->sessions.size(), 1u);
    const auto [session, bound] = m_backend->binds.front();
    EXPECT_EQ(session, m_backend->sessions.front());
    QStringList ids;
    QStringList descriptions;
    for (const Shortcut& shortcut : bound) {
        ids << shortcut.id;
        descriptions << shortcut.properties.value("description").toString();
    }
    EXPECT_EQ(ids, QStringList({"a", "F1", "SHIFT"}));
    EXPECT_EQ(descriptions, QStringList({"Play a", "Play F1", "Play SHIFT"}));
    ASSERT_TRUE(waitFor([&] { return !shortcuts.sessionPath().isEmpty(); }, 10000));

    m_backend->press("F1", true);
    m_backend->press("F1", false);
    ASSERT_TRUE(waitFor([&] { return heard.size() >= 2; }, 10000)) << m_portal.readAll().toStdString();
    EXPECT_EQ(heard, (std::vector<std::pair<QString, bool>>{{"F1", true}, {"F1", false}}));

    // The key map changed: the same session binds the new names.
    ASSERT_TRUE(shortcuts.bind({"a", "b"}, [&](const QString& name, bool down) { heard.emplace_back(name, down); }));
    ASSERT_TRUE(waitFor([&] { return m_backend->binds.size() == 2; }, 20000));
    EXPECT_EQ(m_backend->binds.back().first, session);
    EXPECT_EQ(m_backend->sessions.size(), 1u);
    heard.clear();
    // A name no longer bound is not reported; a bound one is.
    m_backend->press("F1", true);
    m_backend->press("b", true);
    ASSERT_TRUE(waitFor([&] { return !heard.empty(); }, 10000));
    EXPECT_EQ(heard, (std::vector<std::pair<QString, bool>>{{"b", true}}));

    // Given back: nothing more is heard from that session. Another one, made after, hears its own press, which the
    // bus delivers after the first session's.
    shortcuts.unbind();
    heard.clear();
    PortalGlobalShortcuts other(*m_clientBus);
    bool otherHeard = false;
    ASSERT_TRUE(other.bind({"b"}, [&](const QString&, bool) { otherHeard = true; }));
    ASSERT_TRUE(waitFor([&] { return m_backend->binds.size() == 3 && !other.sessionPath().isEmpty(); }, 20000));
    m_backend->press("b", false, 0);
    m_backend->press("b", true);
    ASSERT_TRUE(waitFor([&] { return otherHeard; }, 10000));
    EXPECT_TRUE(heard.empty());
}

TEST_F(PortalShortcutsTest, ABusWithoutTheFrontendOffersNone) {
    m_portal.terminate();
    ASSERT_TRUE(m_portal.waitForFinished(10000));
    ASSERT_TRUE(waitFor(
        [&] {
            return !m_clientBus->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"));
        },
        10000));
    EXPECT_FALSE(portalOffersGlobalShortcuts(*m_clientBus, std::chrono::milliseconds(10000)));
    PortalGlobalShortcuts shortcuts(*m_clientBus);
    EXPECT_TRUE(shortcuts.sessionPath().isEmpty());
}

} // namespace
} // namespace clavora::platform

#include "portalshortcuts_test.moc"
