// Global shortcuts through the desktop portal.
#include "platform/wayland/portalshortcuts.h"

#include "platform/wayland/portalshortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QLoggingCategory>

#include <memory>

Q_LOGGING_CATEGORY(lcPortalShortcuts, "clavora.platform.shortcuts")

namespace clavora::platform {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

void registerTypes() {
    static const bool registered = [] {
        // By name as well: the signals' slots are found by their parameters' type names, which Qt knows only once
        // the types are registered.
        qRegisterMetaType<QDBusObjectPath>("QDBusObjectPath");
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    Q_UNUSED(registered);
}

// The part of a request's or session's object path that names the caller: its unique bus name without the colon,
// dots as underscores.
QString senderPart(const QDBusConnection& bus) {
    QString sender = bus.baseService();
    sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return sender;
}

// Listens for the Response of one request; deletes itself after it.
class ResponseListener : public QObject {
    Q_OBJECT
public:
    ResponseListener(QDBusConnection bus, QString path, std::function<void(uint, const QVariantMap&)> done)
        : m_bus(std::move(bus)), m_path(std::move(path)), m_done(std::move(done)) {
        m_bus.connect(PortalService, m_path, RequestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap)));
    }
    ~ResponseListener() override {
        m_bus.disconnect(PortalService, m_path, RequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
    }
    void fail() {
        if (m_done) {
            m_done(2, {});
            m_done = nullptr;
        }
        deleteLater();
    }

public slots:
    void onResponse(uint response, const QVariantMap& results) {
        if (m_done) {
            m_done(response, results);
            m_done = nullptr;
        }
        deleteLater();
    }

private:
    QDBusConnection m_bus;
    QString m_path;
    std::function<void(uint, const QVariantMap&)> m_done;
};

} // namespace

bool portalOffersGlobalShortcuts(const QDBusConnection& bus, std::chrono::milliseconds timeout) {
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        PortalService, PortalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << ShortcutsInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, int(timeout.count()));
    return reply.type() == QDBusMessage::ReplyMessage;
}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus) : m_bus(std::move(bus)) {
    registerTypes();
    m_bus.connect(PortalService, PortalPath, ShortcutsInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    m_bus.connect(PortalService, PortalPath, ShortcutsInterface, QStringLiteral("Deactivated"), this,
                  SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalGlobalShortcuts::~PortalGlobalShortcuts() {
    unbind();
}

bool PortalGlobalShortcuts::bind(const QStringList& names, Handler handler) {
    if (!m_bus.isConnected()) {
        return false;
    }
    m_names = names;
    m_handler = std::move(handler);
    if (!m_session.isEmpty()) {
        bindShortcuts();
    } else if (!m_creating) {
        createSession();
    }
    return true;
}

void PortalGlobalShortcuts::unbind() {
    ++m_generation;
    m_handler = nullptr;
    m_names.clear();
    m_creating = false;
    closeSession();
}

void PortalGlobalShortcuts::request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                                    std::function<void(const QVariantMap&)> onResponse) {
    const QString token = QStringLiteral("clavora%1").arg(++m_tokens);
    options.insert(QStringLiteral("handle_token"), token);
    // Listening before asking: the response may come before the call's own reply.
    const QString path = PortalPath + QStringLiteral("/request/") + senderPart(m_bus) + QLatin1Char('/') + token;
    const int generation = m_generation;
    auto* listener = new ResponseListener(
        m_bus, path,
        [this, method, generation, onResponse = std::move(onResponse)](uint response, const QVariantMap& results) {
            if (generation != m_generation) {
                return;
            }
            if (response != 0) {
                qCWarning(lcPortalShortcuts) << "The desktop portal refused" << method << "with answer" << response;
                if (method == QLatin1String("CreateSession")) {
                    m_creating = false;
                }
                return;
            }
            onResponse(results);
        });
    listener->setParent(this);

    QDBusMessage call = QDBusMessage::createMethodCall(PortalService, PortalPath, ShortcutsInterface, method);
    arguments << options;
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [listener, method](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *done;
        if (reply.isError()) {
            qCWarning(lcPortalShortcuts) << "The desktop portal's" << method << "failed:" << reply.error().message();
            listener->fail();
        }
    });
}

void PortalGlobalShortcuts::createSession() {
    m_creating = true;
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("clavora%1").arg(++m_tokens));
    request(QStringLiteral("CreateSession"), {}, options, [this](const QVariantMap& results) {
        m_creating = false;
        m_session = results.value(QStringLiteral("session_handle")).toString();
        if (m_session.isEmpty()) {
            qCWarning(lcPortalShortcuts) << "The desktop portal made no shortcut session";
            return;
        }
        qCInfo(lcPortalShortcuts) << "Shortcut session" << m_session;
        bindShortcuts();
    });
}

void PortalGlobalShortcuts::bindShortcuts() {
    QList<PortalShortcut> shortcuts;
    for (const QString& name : m_names) {
        shortcuts.append({name, {{QStringLiteral("description"), QStringLiteral("Play %1").arg(name)}}});
    }
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()}, {},
            [count = shortcuts.size()](const QVariantMap& results) {
                Q_UNUSED(results);
                qCInfo(lcPortalShortcuts) << "The desktop bound" << count << "shortcuts";
            });
}

void PortalGlobalShortcuts::closeSession() {
    if (m_session.isEmpty()) {
        return;
    }
    m_bus.asyncCall(
        QDBusMessage::createMethodCall(PortalService, m_session, SessionInterface, QStringLiteral("Close")));
    m_session.clear();
}

void PortalGlobalShortcuts::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                        const QVariantMap&) {
    if (session.path() == m_session && m_handler && m_names.contains(id)) {
        m_handler(id, true);
    }
}

void PortalGlobalShortcuts::onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                          const QVariantMap&) {
    if (session.path() == m_session && m_handler && m_names.contains(id)) {
        m_handler(id, false);
    }
}

} // namespace clavora::platform

#include "portalshortcuts.moc"
