// The session's one instance on a private session bus: the first start claims the name and serves the program's
// interface, a later start finds it there and drives it.
#include "platform/dbus/dbusinstancebus.h"
#include "platform/dbus/instanceobject.h"
#include "tests/support/sessionbus.h"
#include "tests/support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QSet>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <future>

using namespace clavora;
using namespace clavora::platform;

namespace {

// Records what the instance was asked to do.
class RecordingCommands : public IInstanceCommands {
public:
    void activate() override { calls << QStringLiteral("activate"); }
    Status playKey(const QString& keyName) override {
        calls << QStringLiteral("playKey ") + keyName;
        return keyName == QLatin1String("UNBOUND") ? Status::failure(QStringLiteral("nothing bound"))
                                                   : Status::success();
    }
    Status playFile(const QString& path) override {
        calls << QStringLiteral("playFile ") + path;
        return Status::success();
    }
    void stopAll() override { calls << QStringLiteral("stopAll"); }
    unsigned volume() const override { return m_volume; }
    void setVolume(unsigned step) override {
        calls << QStringLiteral("setVolume %1").arg(step);
        m_volume = step;
    }
    bool hotkeyMode() const override { return m_hotkeyMode; }
    Status setHotkeyMode(bool on) override {
        calls << QStringLiteral("setHotkeyMode %1").arg(on);
        m_hotkeyMode = on;
        return Status::success();
    }

    QStringList calls;

private:
    unsigned m_volume = 5;
    bool m_hotkeyMode = true;
};

// What a listener on the bus hears from the instance.
class Listener : public QObject {
    Q_OBJECT
public:
    QStringList heard;

public slots:
    void soundStarted(const QString& path) { heard << QStringLiteral("SoundStarted ") + path; }
    void propertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&) {
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            heard << interface + QLatin1Char(' ') + it.key() + QLatin1Char('=') + it.value().toString();
        }
    }
};

class InstanceBusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_bus.start()) << m_bus.error().toStdString(); }

    // Runs Call on another thread while this one's event loop serves the instance, and returns what it gave.
    template <class F> auto fromAnotherProcess(F call) {
        std::future<decltype(call())> result = std::async(std::launch::async, call);
        EXPECT_TRUE(test::waitFor([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                  20000));
        return result.get();
    }

    // A connection of a caller of its own, as gdbus or a script would have.
    QDBusConnection caller(const QString& name) { return QDBusConnection::connectToBus(m_bus.address(), name); }

    QDBusMessage call(QDBusConnection connection, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(InstanceServiceName, InstanceObjectPath, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = connection.asyncCall(message, 20000);
        EXPECT_TRUE(test::waitFor([&] { return pending.isFinished(); }, 20000));
        return pending.reply();
    }

    test::SessionBus m_bus;
};

TEST_F(InstanceBusTest, TheFirstStartServesAndALaterOneDrivesIt) {
    DBusInstanceBus first(m_bus.address());
    RecordingCommands commands;
    ASSERT_EQ(first.claim(), IInstanceBus::Claim::Claimed);
    first.serve(commands);

    DBusInstanceBus second(m_bus.address());
    EXPECT_EQ(second.claim(), IInstanceBus::Claim::Taken);
    QString failure;
    std::unique_ptr<IRunningInstance> running = second.findRunning(&failure);
    ASSERT_NE(running, nullptr) << failure.toStdString();

    struct Case {
        std::function<Status()> call;
        bool succeeds;
        const char* recorded; // what reached the commands, or nothing
    };
    const Case cases[] = {
        {[&] { return running->activate(); }, true, "activate"},
        {[&] { return running->playKey(QStringLiteral("F5")); }, true, "playKey F5"},
        {[&] { return running->playKey(QStringLiteral("UNBOUND")); }, false, "playKey UNBOUND"},
        {[&] { return running->playFile(QStringLiteral("/sounds/a.wav")); }, true, "playFile /sounds/a.wav"},
        // A relative path would name another file in the instance's working folder.
        {[&] { return running->playFile(QStringLiteral("a.wav")); }, false, nullptr},
        {[&] { return running->stopAll(); }, true, "stopAll"},
        {[&] { return running->setVolume(0); }, true, "setVolume 0"},
        {[&] { return running->setVolume(8); }, true, "setVolume 8"},
        {[&] { return running->setVolume(9); }, false, nullptr},
    };
    for (const Case& c : cases) {
        commands.calls.clear();
        const Status status = fromAnotherProcess(c.call);
        EXPECT_EQ(status.ok(), c.succeeds) << status.message().toStdString();
        if (!c.succeeds) {
            EXPECT_FALSE(status.message().isEmpty());
        }
        EXPECT_EQ(commands.calls, c.recorded ? QStringList{QLatin1String(c.recorded)} : QStringList());
    }
    // The instance's own failure reaches the caller as it was put.
    EXPECT_EQ(fromAnotherProcess([&] { return running->playKey(QStringLiteral("UNBOUND")); }).message(),
              QStringLiteral("nothing bound"));
}

TEST_F(InstanceBusTest, CallsMadeBeforeTheInstanceServesWaitAndAreAnsweredInOrder) {
    DBusInstanceBus first(m_bus.address());
    ASSERT_EQ(first.claim(), IInstanceBus::Claim::Claimed);

    QDBusConnection connection = caller(QStringLiteral("early"));
    QDBusMessage activate = QDBusMessage::createMethodCall(InstanceServiceName, InstanceObjectPath, InstanceInterface,
                                                           QStringLiteral("Activate"));
    QDBusMessage play = QDBusMessage::createMethodCall(InstanceServiceName, InstanceObjectPath, InstanceInterface,
                                                       QStringLiteral("PlayKey"));
    play << QStringLiteral("F1");
    QDBusPendingCall activated = connection.asyncCall(activate, 20000);
    QDBusPendingCall played = connection.asyncCall(play, 20000);
    // The instance answers its introspection at once, in the order the calls came: once it has, the two before it
    // were delivered, and they wait.
    QDBusPendingCall introspected =
        connection.asyncCall(QDBusMessage::createMethodCall(InstanceServiceName, InstanceObjectPath,
                                                            QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                            QStringLiteral("Introspect")),
                             20000);
    ASSERT_TRUE(test::waitFor([&] { return introspected.isFinished(); }, 20000));
    EXPECT_FALSE(activated.isFinished());
    EXPECT_FALSE(played.isFinished());

    RecordingCommands commands;
    first.serve(commands);
    ASSERT_TRUE(test::waitFor([&] { return activated.isFinished() && played.isFinished(); }, 20000));
    EXPECT_FALSE(activated.isError()) << activated.error().message().toStdString();
    EXPECT_FALSE(played.isError()) << played.error().message().toStdString();
    EXPECT_EQ(commands.calls, (QStringList{QStringLiteral("activate"), QStringLiteral("playKey F1")}));
    QDBusConnection::disconnectFromBus(QStringLiteral("early"));
}

TEST_F(InstanceBusTest, APlaceGivenUpOrLeftIsTakenByTheNextStart) {
    auto first = std::make_unique<DBusInstanceBus>(m_bus.address());
    ASSERT_EQ(first->claim(), IInstanceBus::Claim::Claimed);
    first->release();

    DBusInstanceBus successor(m_bus.address());
    EXPECT_EQ(successor.claim(), IInstanceBus::Claim::Claimed);
    // The first one is no longer behind the name: a call finds the successor or nothing.
    EXPECT_EQ(first->claim(), IInstanceBus::Claim::Taken);
    first.reset();

    successor.release();
    DBusInstanceBus caller(m_bus.address());
    QString failure;
    EXPECT_EQ(caller.findRunning(&failure), nullptr);
    EXPECT_EQ(failure, QStringLiteral("Clavora is not running."));
}

TEST_F(InstanceBusTest, PropertiesReadAndWriteAndChangesAndSoundsAreAnnounced) {
    DBusInstanceBus first(m_bus.address());
    RecordingCommands commands;
    ASSERT_EQ(first.claim(), IInstanceBus::Claim::Claimed);
    first.serve(commands);

    QDBusConnection connection = caller(QStringLiteral("listener"));
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const auto get = [&](const QString& name) {
        const QDBusMessage reply = call(connection, properties, QStringLiteral("Get"), {InstanceInterface, name});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    };
    EXPECT_EQ(get(QStringLiteral("Volume")).toUInt(), 5u);
    EXPECT_EQ(get(QStringLiteral("HotkeyMode")).toBool(), true);

    struct Write {
        const char* property;
        QVariant value;
        const char* recorded;
    };
    const Write writes[] = {
        {"HotkeyMode", false, "setHotkeyMode 0"},
        {"Volume", QVariant::fromValue(2u), "setVolume 2"},
        // Past the top is the top.
        {"Volume", QVariant::fromValue(12u), "setVolume 8"},
    };
    for (const Write& write : writes) {
        commands.calls.clear();
        const QDBusMessage reply =
            call(connection, properties, QStringLiteral("Set"),
                 {InstanceInterface, QLatin1String(write.property), QVariant::fromValue(QDBusVariant(write.value))});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(commands.calls, QStringList{QLatin1String(write.recorded)});
    }
    EXPECT_EQ(get(QStringLiteral("HotkeyMode")).toBool(), false);
    EXPECT_EQ(get(QStringLiteral("Volume")).toUInt(), 8u);

    // What the instance announces reaches whoever listens.
    Listener listener;
    ASSERT_TRUE(connection.connect(InstanceServiceName, InstanceObjectPath, InstanceInterface,
                                   QStringLiteral("SoundStarted"), &listener, SLOT(soundStarted(QString))));
    ASSERT_TRUE(connection.connect(InstanceServiceName, InstanceObjectPath, properties,
                                   QStringLiteral("PropertiesChanged"), &listener,
                                   SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    // The match rules are in place once the bus has answered a call made after them.
    get(QStringLiteral("Volume"));
    first.soundStarted(QStringLiteral("/sounds/a.wav"));
    first.volumeChanged(3);
    first.hotkeyModeChanged(true);
    const QStringList expected{QStringLiteral("SoundStarted /sounds/a.wav"),
                               QStringLiteral("com.zemtrak.Clavora1 Volume=3"),
                               QStringLiteral("com.zemtrak.Clavora1 HotkeyMode=true")};
    EXPECT_TRUE(test::waitFor([&] { return listener.heard.size() >= expected.size(); }, 20000));
    EXPECT_EQ(listener.heard, expected);
    QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
}

// The members of com.zemtrak.Clavora1 in introspection data, one line each ("method PlayKey in s name").
QSet<QString> interfaceMembers(const QString& xml) {
    QSet<QString> members;
    QXmlStreamReader reader(xml);
    bool inside = false;
    QString member;
    while (!reader.atEnd()) {
        reader.readNext();
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString name = reader.name().toString();
        if (reader.isStartElement() && name == QLatin1String("interface")) {
            inside = attributes.value(QLatin1String("name")) == InstanceInterface;
        } else if (reader.isEndElement() && name == QLatin1String("interface")) {
            inside = false;
        } else if (inside && reader.isStartElement()) {
            if (name == QLatin1String("method") || name == QLatin1String("signal")) {
                member = name + QLatin1Char(' ') + attributes.value(QLatin1String("name")).toString();
                members << member;
            } else if (name == QLatin1String("property")) {
                members << QStringLiteral("property %1 %2 %3")
                               .arg(attributes.value(QLatin1String("name")), attributes.value(QLatin1String("type")),
                                    attributes.value(QLatin1String("access")));
            } else if (name == QLatin1String("arg")) {
                const QString direction = attributes.value(QLatin1String("direction")).toString();
                members << member + QStringLiteral(" %1 %2 %3")
                                        .arg(direction.isEmpty() ? QStringLiteral("out") : direction,
                                             attributes.value(QLatin1String("type")),
                                             attributes.value(QLatin1String("name")));
            }
        }
    }
    return members;
}

TEST_F(InstanceBusTest, TheServedInterfaceIsTheOneItsDescriptionGives) {
    DBusInstanceBus first(m_bus.address());
    ASSERT_EQ(first.claim(), IInstanceBus::Claim::Claimed);

    QDBusConnection connection = caller(QStringLiteral("introspector"));
    const QDBusMessage reply =
        call(connection, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const QSet<QString> served = interfaceMembers(reply.arguments().value(0).toString());

    QFile description(test::sourceDir() + QStringLiteral("/platform/dbus/com.zemtrak.Clavora1.xml"));
    ASSERT_TRUE(description.open(QIODevice::ReadOnly));
    const QSet<QString> described = interfaceMembers(QString::fromUtf8(description.readAll()));
    EXPECT_TRUE(described.contains(QStringLiteral("method PlayKey in s name")));
    EXPECT_TRUE(described.contains(QStringLiteral("property Volume u readwrite")));
    EXPECT_EQ(served, described);
    QDBusConnection::disconnectFromBus(QStringLiteral("introspector"));
}

TEST(InstanceBusWithoutBusTest, NothingIsClaimedAndNoInstanceIsFound) {
    test::TempFolder folder;
    DBusInstanceBus bus(QStringLiteral("unix:path=") + folder.file(QStringLiteral("no-bus")));
    EXPECT_EQ(bus.claim(), IInstanceBus::Claim::Unavailable);
    EXPECT_FALSE(bus.unavailableReason().isEmpty());
    QString failure;
    EXPECT_EQ(bus.findRunning(&failure), nullptr);
    EXPECT_TRUE(failure.startsWith(QLatin1String("Clavora cannot reach the session bus"))) << failure.toStdString();
}

} // namespace

#include "instancebus_test.moc"
