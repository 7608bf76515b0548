// Fuzz target: the server's reply to the update check, from the bytes on the wire to what is stored and shown. The
// reply goes through a whole check (a store in memory, a post that answers with the bytes) and through the parsing
// helpers on their own. Whatever the server says, what is shown or stored is cut to its length and holds no control
// characters.
#include "tests/fuzz/fuzzsupport.h"

#include "online/updatecheck.h"

#include <QHash>

using namespace clavora;
using namespace clavora::online;

namespace {

class MemoryCheckStore : public ICheckStore {
public:
    bool open() override { return true; }
    QString readString(const char* name, const QString& defaultValue) override {
        return m_values.value(QLatin1String(name), defaultValue);
    }
    int readInteger(const char* name, int defaultValue) override {
        bool ok = false;
        const int value = m_values.value(QLatin1String(name)).toInt(&ok);
        return ok ? value : defaultValue;
    }
    bool writeString(const char* name, const QString& value) override {
        m_values.insert(QLatin1String(name), value);
        return true;
    }
    bool writeInteger(const char* name, int value) override { return writeString(name, QString::number(value)); }

private:
    QHash<QString, QString> m_values;
};

bool hasControl(const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control) {
            return true;
        }
    }
    return false;
}

void checkClean(const QString& text, qsizetype maxLength) {
    FUZZ_CHECK(text.size() <= maxLength);
    FUZZ_CHECK(!hasControl(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (fuzz::quietQtMessages(), true);
    (void)quiet;
    fuzz::FuzzInput input(data, size);
    const bool httpsFails = input.takeByte() & 1;
    const QString reply = QString::fromUtf8(input.rest());

    const CheckReply parsed = parseCheckReply(reply);
    for (const QString& line : replyLines(reply)) {
        FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        for (const char* tag : {"version", "url", "result", "important", "VERSION", "<", "/", "a>"}) {
            const QString value = getTagValue(line, QLatin1String(tag));
            FUZZ_CHECK(value.size() <= line.size());
        }
    }
    for (const qsizetype length : {qsizetype(0), qsizetype(1), qsizetype(2), MaxVersionLength}) {
        for (const QString& text : {parsed.version, parsed.url, parsed.important, reply}) {
            const QString clean = cleanServerText(text, length);
            checkClean(clean, length);
            FUZZ_CHECK(clean.isValidUtf16() || !text.isValidUtf16());
        }
    }

    MemoryCheckStore store;
    UpdateCheckContext context;
    context.appTitle = QStringLiteral("Zemtrak - Clavora");
    context.appVersion = QStringLiteral("1.0");
    context.webHost = QStringLiteral("127.0.0.1");
    context.localeName = QStringLiteral("en-US");
    context.dateFormat = QStringLiteral("yyyy-MM-dd");
    context.today = [] { return QDate(2026, 1, 2); };
    QString shown;
    CheckServices services;
    services.store = &store;
    services.post = [&](const QString& url, const FormFields&, int) {
        if (httpsFails && url.startsWith(QLatin1String("https"))) {
            return PostResult{false, QString(), QStringLiteral("refused")};
        }
        return PostResult{true, reply, QString()};
    };
    services.installationId = [] { return InstallationId{}; };
    services.osDescription = [] { return QStringLiteral("Linux"); };
    services.showImportant = [&shown](const QString& message) { shown = message; };
    const CheckResult result = runUpdateCheck(context, services);
    FUZZ_CHECK(result.requestSent);
    checkClean(result.serverVersion, MaxVersionLength);
    checkClean(result.downloadUrl, MaxUrlLength);
    checkClean(shown, MaxMessageLength);
    checkClean(store.readString(checkstore::CurrentVersion, QString()), MaxVersionLength);
    if (result.noticeDue) {
        FUZZ_CHECK(!result.serverVersion.isEmpty() && result.serverVersion != context.appVersion);
        FUZZ_CHECK(!result.log.failed());
    }
    return 0;
}
