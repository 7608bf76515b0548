// The update check, step by step, and the decisions it is made of.
#include "online/updatecheck.h"

#include "online/textscramble.h"

#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <limits>

namespace clavora::online {

namespace {

constexpr int DailyRequestLimit = 5;
constexpr int DailyNoticeLimit = 3;

// A signed decimal integer that fits 32 bits, nothing around it.
bool isInt32Text(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch()) {
        return false;
    }
    bool ok = false;
    text.toInt(&ok, 10);
    return ok;
}

} // namespace

UpdateCheckContext makeUpdateCheckContext(platform::Services& services, const QString& companyName,
                                          const QString& productName, const QString& appVersion) {
    UpdateCheckContext context;
    context.companyName = companyName;
    context.productName = productName;
    context.appTitle = companyName + QLatin1String(" - ") + productName;
    context.appVersion = appVersion;
    context.webHost = services.webHost().makerWebHost();
    context.caFile = services.webHost().trustedAuthoritiesFile();
    context.storeFolder = checkStoreFolder(services.fileSystem(), companyName, productName);
    context.localeName = userLocaleName(services.locale());
    context.dateFormat = services.locale().shortDateFormat();
    context.files = &services.fileSystem();
    context.systemInfo = &services.systemInfo();
    context.today = [] { return QDate::currentDate(); };
    return context;
}

void CheckLog::log(const QString& message) {
    if (message.trimmed().isEmpty()) {
        return;
    }
    m_failed = true;
    m_text = m_text.isEmpty() ? message : m_text + QLatin1String("\r\r") + message;
}

void CheckLog::clear() {
    m_text.clear();
    m_failed = false;
}

int nextStartCount(int storedCount, const QString& storedVersion, const QString& appVersion) {
    const int count = storedVersion == appVersion ? std::max(storedCount, 0) : 0;
    return count == std::numeric_limits<int>::max() ? count : count + 1;
}

DayAllowance dayAllowance(const QString& lastCheckDate, int lastCheckCount, const QString& today) {
    const bool sameDay = lastCheckDate == today;
    if (sameDay && lastCheckCount >= DailyRequestLimit) {
        return DayAllowance{false, lastCheckCount};
    }
    return DayAllowance{true, sameDay ? lastCheckCount + 1 : 1};
}

bool isUpdateNoticeDue(const QString& serverVersion, const QString& appVersion, int showUpdate,
                       const QString& lastCheckDate, const QString& today, int dayCount) {
    if (serverVersion == appVersion || showUpdate != 1) {
        return false;
    }
    QString digits = serverVersion;
    digits.remove(QLatin1Char('.'));
    if (!isInt32Text(digits)) {
        return false;
    }
    return lastCheckDate != today || dayCount <= DailyNoticeLimit;
}

CheckReply parseCheckReply(const QString& reply) {
    const QStringList lines = replyLines(reply);
    const auto line = [&lines](qsizetype number) { return number <= lines.size() ? lines[number - 1] : QString(); };
    CheckReply parsed;
    parsed.startsWithError = reply.startsWith(QLatin1String("ERROR"));
    parsed.version = getTagValue(line(1), QStringLiteral("version"));
    parsed.url = getTagValue(line(2), QStringLiteral("url"));
    parsed.result = getTagValue(line(4), QStringLiteral("result"));
    parsed.important = getTagValue(line(6), QStringLiteral("important"));
    return parsed;
}

bool isMakerHttpsUrl(const QString& url, const QString& webHost) {
    const QUrl link(url, QUrl::StrictMode);
    const QUrl maker(QLatin1String("https://") + webHost, QUrl::StrictMode);
    return link.isValid() && maker.isValid() &&
           link.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 && !link.host().isEmpty() &&
           link.host().compare(maker.host(), Qt::CaseInsensitive) == 0;
}

QString cleanServerText(const QString& text, qsizetype maxLength) {
    qsizetype length = std::min(text.size(), maxLength);
    if (length > 0 && length < text.size() && text[length - 1].isHighSurrogate()) {
        --length; // never leave half a character behind
    }
    QString clean = text.left(length);
    for (QChar& c : clean) {
        if (c.category() == QChar::Other_Control) {
            c = QLatin1Char(' ');
        }
    }
    return clean;
}

QString dateText(const QDate& today, const QString& dateFormat) {
    // Short date formats are numeric in practice, so the C locale writes them as the user's would; what matters is
    // that the text changes with the date and stays the same within it.
    const QString format = dateFormat.isEmpty() ? QStringLiteral("yyyy-MM-dd") : dateFormat;
    return QLocale::c().toString(today, format);
}

CheckResult runUpdateCheck(const UpdateCheckContext& context, const CheckServices& services) {
    namespace key = checkstore;
    CheckResult result;
    CheckLog& log = result.log;
    ICheckStore& store = *services.store;
    const auto cancelled = [&services] { return services.cancelled && services.cancelled(); };

    log.clear();

    const InstallationId guid = services.installationId ? services.installationId() : InstallationId{};
    if (guid.malformed) {
        log.log(QLatin1String(checkmessage::GuidProblem));
    }

    if (!store.open()) {
        log.log(QLatin1String(checkmessage::StoreOpenProblem));
    }
    const QString lastDate = store.readString(key::LastUpdateCheck, QString());
    const int lastCount = store.readInteger(key::LastUpdateCheckCount, 0);
    const QString installedVersion = store.readString(key::InstalledVersion, QString());

    result.startCount = nextStartCount(store.readInteger(key::HowMany, 0), installedVersion, context.appVersion);
    const bool counted = store.writeInteger(key::HowMany, result.startCount) &&
                         store.writeString(key::InstalledVersion, context.appVersion);
    result.showUpdate = store.readInteger(key::ShowUpdate, 1);
    if (!counted) {
        // Without its start count the store is of no use this run; the check ends here, done, with nothing
        // announced, so the menu command still becomes usable.
        log.log(QStringLiteral("CheckStore Error:\rCannot store the start count"));
        return result;
    }
    if (result.showUpdate == 0 || cancelled()) {
        return result;
    }

    const QString today = dateText(context.today ? context.today() : QDate::currentDate(), context.dateFormat);
    const DayAllowance allowance = dayAllowance(lastDate, lastCount, today);
    if (!allowance.send) {
        return result;
    }
    // A failure here only costs the day's limit.
    store.writeString(key::LastUpdateCheck, today);
    store.writeInteger(key::LastUpdateCheckCount, allowance.count);

    FormFields fields{
        {QStringLiteral("cmd"), QStringLiteral("check")},
        {QStringLiteral("appname"), context.appTitle},
        {QStringLiteral("version"), context.appVersion},
        {QStringLiteral("os"), services.osDescription ? services.osDescription() : QString()},
    };
    if (context.localeName.isEmpty()) {
        log.log(QLatin1String(checkmessage::LocaleProblem));
    } else {
        fields.append({QStringLiteral("local"), context.localeName});
    }
    fields.append({QStringLiteral("guid"), guid.id});
    fields.append({QStringLiteral("howmany"), QString::number(result.startCount)});

    const FailureReport report = [&log](const QString& scheme, const QString& message) {
        log.log((scheme == QLatin1String("https") ? QLatin1String("HTTPS Response:\r")
                                                  : QLatin1String("HTTP Response:\r")) +
                message);
    };
    const ServerReply reply =
        sendToServer(checkEndpoint(context.webHost), fields, context.timeoutMs, report, services.post);
    result.requestSent = true;
    if (reply.via == ServerReply::Via::Http) {
        // The plain retry answering wipes the whole log, errors from before the request included.
        log.clear();
    }
    if (cancelled()) {
        return result;
    }

    const CheckReply parsed = parseCheckReply(reply.text);
    if (parsed.startsWithError) {
        log.log(QLatin1String(checkmessage::InvalidReply));
    }
    if (!log.failed() && parsed.result != QLatin1String("0") && parsed.result != QLatin1String("1")) {
        log.log(QLatin1String(checkmessage::InvalidReply));
    }
    if (log.failed()) {
        return result;
    }

    // A store that cannot be written only loses these values; the check goes on.
    result.serverVersion = cleanServerText(parsed.version, MaxVersionLength);
    store.writeString(key::CurrentVersion, result.serverVersion);
    result.downloadUrl = cleanServerText(parsed.url, MaxUrlLength);
    if (reply.via == ServerReply::Via::Http && !result.downloadUrl.isEmpty() &&
        !isMakerHttpsUrl(result.downloadUrl, context.webHost)) {
        // A plain reply may come from anyone on the way: its link may only lead to the maker's own site over HTTPS
        // (a plain link could be answered by the same someone), else the notice opens the home page.
        qCInfo(lcOnline) << "Link of a plain HTTP reply dropped:" << result.downloadUrl;
        result.downloadUrl.clear();
    }
    store.writeString(key::CurrentUrl, scrambleText(result.downloadUrl));
    const QString important = cleanServerText(parsed.important, MaxMessageLength);
    if (!important.trimmed().isEmpty() && services.showImportant) {
        services.showImportant(important);
    }

    result.noticeDue =
        isUpdateNoticeDue(parsed.version, context.appVersion, result.showUpdate, lastDate, today, allowance.count);
    return result;
}

} // namespace clavora::online
