// The update check with a fake clock, a fake server and a store in memory: requests per day, the start counter, the
// reply lines and the error log. The decisions are tested on their own below.
#include "online/textscramble.h"
#include "online/updatecheck.h"
#include "tests/support/testsupport.h"

#include <QHash>

#include <gtest/gtest.h>

using namespace clavora;
using namespace clavora::online;

namespace {

// The check store in memory; writes can be made to fail.
class MemoryStore : public ICheckStore {
public:
    bool open() override { return !openFails; }
    QString readString(const char* name, const QString& defaultValue) override {
        return values.value(QLatin1String(name), defaultValue);
    }
    int readInteger(const char* name, int defaultValue) override {
        bool ok = false;
        const int value = values.value(QLatin1String(name)).toInt(&ok);
        return ok ? value : defaultValue;
    }
    bool writeString(const char* name, const QString& value) override {
        if (openFails || failWrites.contains(QLatin1String(name))) {
            return false;
        }
        values.insert(QLatin1String(name), value);
        return true;
    }
    bool writeInteger(const char* name, int value) override { return writeString(name, QString::number(value)); }

    QString value(const char* name) const { return values.value(QLatin1String(name)); }

    QHash<QString, QString> values;
    QStringList failWrites;
    bool openFails = false;
};

// The maker's server as the check sees it: each scheme answers or fails as set, and every attempt is recorded.
struct FakeServer {
    PostResult post(const QString& url, const FormFields& fields, int timeoutMs) {
        urls << url;
        sent << fields;
        timeouts << timeoutMs;
        const bool secure = url.startsWith(QLatin1String("https://"));
        if ((secure && !httpsError.isEmpty()) || (!secure && !httpError.isEmpty())) {
            return PostResult{false, QString(), secure ? httpsError : httpError, secure && httpsUnreachable};
        }
        return PostResult{true, reply, QString()};
    }
    int requests() const {
        int count = 0;
        for (const QString& url : urls) {
            count += url.startsWith(QLatin1String("https://")) ? 1 : 0;
        }
        return count;
    }

    QString reply;
    QString httpsError;
    QString httpError;
    bool httpsUnreachable = false; // the HTTPS failure is one of reaching the server at all, not of TLS
    QStringList urls;
    QList<FormFields> sent;
    QList<int> timeouts;
};

QString checkReply(const QString& version, const QString& url = QStringLiteral("https://www.zemtrak.com/get/"),
                   const QString& result = QStringLiteral("1"), const QString& important = QString()) {
    return QStringLiteral("<version>%1</version>\r\n<url>%2</url>\r\n<notes>x</notes>\r\n<result>%3</result>\r\n\r\n"
                          "<important>%4</important>\r\n\r\n\r\n")
        .arg(version, url, result, important);
}

class UpdateCheckTest : public ::testing::Test {
protected:
    UpdateCheckTest() {
        context.companyName = QStringLiteral("Zemtrak");
        context.productName = QStringLiteral("Clavora");
        context.appTitle = QStringLiteral("Zemtrak - Clavora");
        context.appVersion = QStringLiteral("3.2");
        context.webHost = QStringLiteral("updates.example:8443");
        context.localeName = QStringLiteral("de-DE");
        context.dateFormat = QStringLiteral("dd.MM.yy");
        context.today = [this] { return today; };
        server.reply = checkReply(QStringLiteral("3.3"));
    }

    CheckResult run() {
        CheckServices services;
        services.store = &store;
        services.post = [this](const QString& url, const FormFields& fields, int timeoutMs) {
            return server.post(url, fields, timeoutMs);
        };
        services.installationId = [this] { return guid; };
        services.osDescription = [] {
            return QStringLiteral("Debian GNU/Linux 12 (Version 12, Build 6.1, 64-bit Edition)");
        };
        services.showImportant = [this](const QString& text) { shown << text; };
        return runUpdateCheck(context, services);
    }

    QString todayText() const { return today.toString(QStringLiteral("dd.MM.yy")); }

    UpdateCheckContext context;
    QDate today{2026, 3, 14};
    MemoryStore store;
    FakeServer server;
    InstallationId guid{QStringLiteral("0f5c6a7e-1b2d-4c3e-8f9a-0b1c2d3e4f50"), false};
    QStringList shown;
};

TEST_F(UpdateCheckTest, FirstRunAsksWithCountOneRemembersTheDayAndAnnouncesTheNewVersion) {
    const CheckResult result = run();

    ASSERT_EQ(server.urls.size(), 1);
    EXPECT_EQ(server.urls[0], QStringLiteral("https://updates.example:8443/php/check2.php"));
    EXPECT_EQ(server.timeouts[0], 10000);
    QStringList fields;
    for (const FormField& field : server.sent[0]) {
        fields << field.name + QLatin1Char('=') + field.value;
    }
    EXPECT_EQ(fields, (QStringList{"cmd=check", "appname=Zemtrak - Clavora", "version=3.2",
                                   "os=Debian GNU/Linux 12 (Version 12, Build 6.1, 64-bit Edition)", "local=de-DE",
                                   "guid=0f5c6a7e-1b2d-4c3e-8f9a-0b1c2d3e4f50", "howmany=1"}));

    EXPECT_TRUE(result.noticeDue);
    EXPECT_EQ(result.serverVersion, QStringLiteral("3.3"));
    EXPECT_EQ(result.downloadUrl, QStringLiteral("https://www.zemtrak.com/get/"));
    EXPECT_EQ(result.showUpdate, 1);
    EXPECT_EQ(result.startCount, 1);
    EXPECT_FALSE(result.log.failed());
    EXPECT_EQ(store.value(checkstore::LastUpdateCheck), QStringLiteral("14.03.26"));
    EXPECT_EQ(store.value(checkstore::LastUpdateCheckCount), QStringLiteral("1"));
    EXPECT_EQ(store.value(checkstore::HowMany), QStringLiteral("1"));
    EXPECT_EQ(store.value(checkstore::InstalledVersion), QStringLiteral("3.2"));
    EXPECT_EQ(store.value(checkstore::CurrentVersion), QStringLiteral("3.3"));
    EXPECT_NE(store.value(checkstore::CurrentUrl), QStringLiteral("https://www.zemtrak.com/get/"));
    EXPECT_EQ(unscrambleText(store.value(checkstore::CurrentUrl)), QStringLiteral("https://www.zemtrak.com/get/"));
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(UpdateCheckTest, FiveRequestsADayTheFirstThreeMayAnnounceAndANewDayStartsAgain) {
    const bool expectNotice[] = {true, true, true, false, false, false, false};
    const int expectRequests[] = {1, 2, 3, 4, 5, 5, 5};
    for (int start = 0; start < 7; ++start) {
        const CheckResult result = run();
        EXPECT_EQ(result.noticeDue, expectNotice[start]) << "start " << start + 1;
        EXPECT_EQ(server.requests(), expectRequests[start]) << "start " << start + 1;
        EXPECT_EQ(result.startCount, start + 1);
        EXPECT_EQ(result.showUpdate, 1); // the menu command becomes usable and stays checked
    }
    EXPECT_EQ(store.value(checkstore::LastUpdateCheckCount), QStringLiteral("5"));
    EXPECT_EQ(server.sent.last().last().value, QStringLiteral("5")); // howmany of the fifth request

    today = today.addDays(1);
    const CheckResult nextDay = run();
    EXPECT_TRUE(nextDay.noticeDue);
    EXPECT_EQ(server.requests(), 6);
    EXPECT_EQ(store.value(checkstore::LastUpdateCheckCount), QStringLiteral("1"));
    EXPECT_EQ(nextDay.startCount, 8);
}

TEST_F(UpdateCheckTest, TheStartCounterBelongsToOneVersion) {
    store.values = {{"HowMany", "7"}, {"InstalledVersion", "3.1"}};
    EXPECT_EQ(run().startCount, 1);
    EXPECT_EQ(run().startCount, 2);
    EXPECT_EQ(store.value(checkstore::InstalledVersion), QStringLiteral("3.2"));

    store.values = {{"HowMany", "-4"}, {"InstalledVersion", "3.2"}};
    EXPECT_EQ(run().startCount, 1);
    store.values = {{"HowMany", "lots"}, {"InstalledVersion", "3.2"}};
    EXPECT_EQ(run().startCount, 1);
}

TEST_F(UpdateCheckTest, ShowUpdateZeroAsksNothingButStillCountsTheStart) {
    store.values = {{"ShowUpdate", "0"}, {"HowMany", "2"}, {"InstalledVersion", "3.2"}};
    const CheckResult result = run();
    EXPECT_TRUE(server.urls.isEmpty());
    EXPECT_FALSE(result.noticeDue);
    EXPECT_EQ(result.showUpdate, 0);
    EXPECT_EQ(store.value(checkstore::HowMany), QStringLiteral("3"));
    EXPECT_EQ(store.value(checkstore::LastUpdateCheck), QString());
}

TEST_F(UpdateCheckTest, WhatTheReplyAnnouncesAndStores) {
    const struct {
        const char* name;
        QString version;
        bool notice;
    } cases[] = {
        {"same version", QStringLiteral("3.2"), false},  {"empty version", QString(), false},
        {"older version", QStringLiteral("3.1"), true},  {"word after the number", QStringLiteral("3.3 beta"), false},
        {"markup", QStringLiteral("<b>4.0</b>"), false},
    };
    for (const auto& c : cases) {
        store.values.clear();
        server.reply = checkReply(c.version);
        const CheckResult result = run();
        EXPECT_EQ(result.noticeDue, c.notice) << c.name;
        EXPECT_EQ(store.value(checkstore::CurrentVersion), c.version) << c.name;
        EXPECT_EQ(result.serverVersion, c.version) << c.name;
        EXPECT_FALSE(result.log.failed()) << c.name;
    }
    context.appVersion = QStringLiteral("3.9");
    server.reply = checkReply(QStringLiteral("3.10"));
    EXPECT_TRUE(run().noticeDue);
}

TEST_F(UpdateCheckTest, InvalidRepliesAreLoggedAndKeepTheStoredValues) {
    const struct {
        const char* name;
        QString reply;
    } cases[] = {
        {"error word", QStringLiteral("ERROR: database down\r\n") + checkReply(QStringLiteral("9.9"))},
        {"error first", QStringLiteral("ERROR")},
        {"three lines", QStringLiteral("<version>9.9</version>\r\n<url>https://evil/</url>\r\n\r\n")},
        {"result 2", checkReply(QStringLiteral("9.9"), QStringLiteral("https://evil/"), QStringLiteral("2"))},
        {"empty", QString()},
    };
    for (const auto& c : cases) {
        store.values = {{"CurrentVersion", "3.3"}, {"CurrentURL", scrambleText(QStringLiteral("https://ok/"))}};
        server.reply = c.reply;
        const CheckResult result = run();
        EXPECT_TRUE(result.log.failed()) << c.name;
        EXPECT_TRUE(result.log.text().contains(QLatin1String(checkmessage::InvalidReply))) << c.name;
        EXPECT_FALSE(result.noticeDue) << c.name;
        EXPECT_EQ(store.value(checkstore::CurrentVersion), QStringLiteral("3.3")) << c.name;
        EXPECT_EQ(unscrambleText(store.value(checkstore::CurrentUrl)), QStringLiteral("https://ok/")) << c.name;
        EXPECT_EQ(store.value(checkstore::LastUpdateCheck), todayText()) << c.name; // stored before the request
        EXPECT_TRUE(shown.isEmpty()) << c.name;
    }
}

TEST_F(UpdateCheckTest, TheImportantLineIsShownWhenItHoldsText) {
    server.reply = checkReply(QStringLiteral("3.3"), QString(), QStringLiteral("0"), QStringLiteral("  \t "));
    run();
    EXPECT_TRUE(shown.isEmpty());

    server.reply = checkReply(QStringLiteral("3.3"), QString(), QStringLiteral("0"),
                              QStringLiteral("Maintenance <b>tonight</b> <a href=\"x\">here</a>"));
    const CheckResult result = run();
    EXPECT_EQ(shown, QStringList{QStringLiteral("Maintenance <b>tonight</b> <a href=\"x\">here</a>")});
    EXPECT_TRUE(result.noticeDue); // the box comes first, the notice after it
    EXPECT_EQ(result.downloadUrl, QString());
}

TEST_F(UpdateCheckTest, OverlongOrBinaryServerTextIsCutAndCleaned) {
    const QString longUrl = QStringLiteral("https://x/") + QString(5000, QLatin1Char('a'));
    const QString message = QStringLiteral("bad\x01\x7f news") + QString(5000, QLatin1Char('!'));
    server.reply = checkReply(QString(200, QLatin1Char('9')), longUrl, QStringLiteral("1"), message);
    const CheckResult result = run();
    EXPECT_EQ(result.serverVersion.size(), MaxVersionLength);
    EXPECT_EQ(result.downloadUrl, longUrl.left(MaxUrlLength));
    EXPECT_EQ(store.value(checkstore::CurrentVersion).size(), MaxVersionLength);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].size(), MaxMessageLength);
    EXPECT_TRUE(shown[0].startsWith(QLatin1String("bad   news")));
    EXPECT_FALSE(result.noticeDue); // 200 digits are not a 32-bit number
}

TEST_F(UpdateCheckTest, APlainHttpAnswerAfterAnUnreachableHttpsServerClearsTheLog) {
    guid = InstallationId{QString(), true}; // logged before the request
    server.httpsError = QStringLiteral("Failed to connect to updates.example port 8443");
    server.httpsUnreachable = true;
    server.reply = checkReply(QStringLiteral("3.3"), QStringLiteral("https://updates.example/get/"));
    const CheckResult result = run();
    EXPECT_EQ(server.urls, (QStringList{"https://updates.example:8443/php/check2.php",
                                        "http://updates.example:8443/php/check2.php"}));
    EXPECT_EQ(server.sent[0], server.sent[1]);
    EXPECT_FALSE(result.log.failed());
    EXPECT_EQ(result.log.text(), QString());
    EXPECT_TRUE(result.noticeDue);
    EXPECT_EQ(result.downloadUrl, QStringLiteral("https://updates.example/get/"));
}

// A certificate or handshake failure may be someone on the way: nothing follows in clear, and the check has no reply.
TEST_F(UpdateCheckTest, ATlsFailureIsLoggedAndNoPlainRequestFollows) {
    server.httpsError = QStringLiteral("SSL certificate problem: self-signed certificate");
    const CheckResult result = run();
    EXPECT_EQ(server.urls, QStringList{"https://updates.example:8443/php/check2.php"});
    EXPECT_EQ(result.log.text(), QStringLiteral("HTTPS Response:\rSSL certificate problem: self-signed certificate"));
    EXPECT_FALSE(result.noticeDue);
    EXPECT_EQ(store.value(checkstore::CurrentVersion), QString());
}

// Whoever answers a plain request may have forged it: its link is followed only to the maker's own host over HTTPS,
// anything else is dropped and the notice opens the home page. A reply over HTTPS keeps its link.
TEST_F(UpdateCheckTest, APlainReplyLinksOnlyToTheMakersHostOverHttps) {
    const struct {
        QString link;
        bool plainKeeps;
    } cases[] = {
        {QStringLiteral("https://updates.example/get/"), true},
        {QStringLiteral("HTTPS://Updates.Example:443/get/?v=3.3"), true},
        {QStringLiteral("http://updates.example/get/"), false}, // the download would come in clear as well
        {QStringLiteral("https://evil.example/get/"), false},
        {QStringLiteral("https://updates.example.evil.example/get/"), false},
        {QStringLiteral("https://updates.example@evil.example/get/"), false},
        {QStringLiteral("javascript:alert(1)"), false},
        {QStringLiteral("updates.example/get/"), false},
    };
    for (const auto& c : cases) {
        for (const bool plain : {false, true}) {
            store.values.clear();
            server.httpsError = plain ? QStringLiteral("Connection refused") : QString();
            server.httpsUnreachable = plain;
            server.reply = checkReply(QStringLiteral("3.3"), c.link);
            const CheckResult result = run();
            const bool kept = !plain || c.plainKeeps;
            EXPECT_EQ(result.downloadUrl, kept ? c.link : QString()) << c.link.toStdString() << " plain " << plain;
            EXPECT_EQ(unscrambleText(store.value(checkstore::CurrentUrl)), result.downloadUrl) << c.link.toStdString();
            EXPECT_TRUE(result.noticeDue) << c.link.toStdString() << " plain " << plain;
        }
    }
}

TEST_F(UpdateCheckTest, AnErrorBeforeTheRequestBlocksTheEvaluationWhenHttpsAnswers) {
    guid = InstallationId{QString(), true};
    const CheckResult result = run();
    EXPECT_EQ(result.log.text(), QLatin1String(checkmessage::GuidProblem));
    EXPECT_EQ(server.sent[0][5].name, QStringLiteral("guid"));
    EXPECT_EQ(server.sent[0][5].value, QString()); // the request still goes out, with an empty identifier
    EXPECT_FALSE(result.noticeDue);
    EXPECT_EQ(store.value(checkstore::CurrentVersion), QString());
}

TEST_F(UpdateCheckTest, BothAttemptsFailingAreLoggedInOrder) {
    server.httpsError = QStringLiteral("Could not resolve host");
    server.httpsUnreachable = true;
    server.httpError = QStringLiteral("Connection refused");
    const CheckResult result = run();
    EXPECT_EQ(result.log.text(),
              QStringLiteral("HTTPS Response:\rCould not resolve host\r\rHTTP Response:\rConnection refused"));
    EXPECT_FALSE(result.noticeDue);
    EXPECT_EQ(store.value(checkstore::CurrentVersion), QString());
}

TEST_F(UpdateCheckTest, AStoreThatCannotKeepTheStartCountEndsTheCheckDoneWithNothingSent) {
    store.values = {{"ShowUpdate", "1"}};
    store.failWrites = {QStringLiteral("InstalledVersion")};
    CheckResult result = run();
    EXPECT_TRUE(server.urls.isEmpty());
    EXPECT_FALSE(result.noticeDue);
    EXPECT_EQ(result.showUpdate, 1);
    EXPECT_TRUE(result.log.failed());

    store.openFails = true;
    result = run();
    EXPECT_TRUE(server.urls.isEmpty());
    EXPECT_TRUE(result.log.text().startsWith(QLatin1String(checkmessage::StoreOpenProblem)));
    EXPECT_EQ(result.showUpdate, 1); // a store that cannot be read gives the default
}

TEST_F(UpdateCheckTest, AFailedDayWriteOnlyCostsTheDayLimit) {
    store.failWrites = {QStringLiteral("LastUpdateCheck"), QStringLiteral("LastUpdateCheckCount")};
    for (int start = 0; start < 7; ++start) {
        EXPECT_TRUE(run().noticeDue);
    }
    EXPECT_EQ(server.requests(), 7);
}

TEST_F(UpdateCheckTest, AnEmptyLocaleNameIsLoggedAndLeftOut) {
    context.localeName.clear();
    const CheckResult result = run();
    EXPECT_EQ(result.log.text(), QLatin1String(checkmessage::LocaleProblem));
    for (const FormField& field : server.sent[0]) {
        EXPECT_NE(field.name, QStringLiteral("local"));
    }
    EXPECT_FALSE(result.noticeDue);
}

TEST(UpdateDecisionTest, TheNoticeIsDueForAnyOtherNumericVersionOnTheFirstThreeChecksOfADay) {
    const struct {
        const char* server;
        const char* app;
        int showUpdate;
        const char* last;
        int dayCount;
        bool due;
    } cases[] = {
        {"3.3", "3.2", 1, "", 1, true},
        {"3.10", "3.9", 1, "", 1, true},
        {"3.1", "3.2", 1, "", 1, true},
        {"3.2", "3.2", 1, "", 1, false},
        {"03.2", "3.2", 1, "", 1, true}, // only text counts
        {"", "3.2", 1, "", 1, false},
        {"...", "3.2", 1, "", 1, false},
        {"3.3b", "3.2", 1, "", 1, false},
        {" 3.3", "3.2", 1, "", 1, false},
        {"-3.3", "3.2", 1, "", 1, true},
        {"2147.483647", "3.2", 1, "", 1, true},
        {"2147.483648", "3.2", 1, "", 1, false},
        {"3.3", "3.2", 0, "", 1, false},
        {"3.3", "3.2", 2, "", 1, false},
        {"3.3", "3.2", 1, "14.03.26", 3, true},
        {"3.3", "3.2", 1, "14.03.26", 4, false},
        {"3.3", "3.2", 1, "13.03.26", 4, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isUpdateNoticeDue(QString::fromUtf8(c.server), QString::fromUtf8(c.app), c.showUpdate,
                                    QString::fromUtf8(c.last), QStringLiteral("14.03.26"), c.dayCount),
                  c.due)
            << c.server << " vs " << c.app << ", show " << c.showUpdate << ", " << c.last << " #" << c.dayCount;
    }
}

TEST(UpdateDecisionTest, DayAllowanceAndStartCounter) {
    const QString today = QStringLiteral("3/14/26");
    EXPECT_TRUE(dayAllowance(QString(), 0, today).send);
    EXPECT_EQ(dayAllowance(QString(), 0, today).count, 1);
    EXPECT_EQ(dayAllowance(today, 4, today).count, 5);
    EXPECT_FALSE(dayAllowance(today, 5, today).send);
    EXPECT_FALSE(dayAllowance(today, 99, today).send);
    EXPECT_EQ(dayAllowance(QStringLiteral("3/13/26"), 99, today).count, 1);

    EXPECT_EQ(nextStartCount(0, QString(), QStringLiteral("1.0")), 1);
    EXPECT_EQ(nextStartCount(5, QStringLiteral("1.0"), QStringLiteral("1.0")), 6);
    EXPECT_EQ(nextStartCount(5, QStringLiteral("0.9"), QStringLiteral("1.0")), 1);
    EXPECT_EQ(nextStartCount(-3, QStringLiteral("1.0"), QStringLiteral("1.0")), 1);
    EXPECT_EQ(nextStartCount(std::numeric_limits<int>::max(), QStringLiteral("1.0"), QStringLiteral("1.0")),
              std::numeric_limits<int>::max());
}

TEST(CheckLogTest, BlankMessagesLogNothingAndMessagesAreJoinedByTwoCarriageReturns) {
    CheckLog log;
    log.log(QStringLiteral(" \r\n\t"));
    EXPECT_FALSE(log.failed());
    log.log(QStringLiteral("one"));
    log.log(QStringLiteral("two"));
    EXPECT_TRUE(log.failed());
    EXPECT_EQ(log.text(), QStringLiteral("one\r\rtwo"));
    log.clear();
    EXPECT_FALSE(log.failed());
    EXPECT_EQ(log.text(), QString());
}

TEST(DateTextTest, FollowsTheUsersShortFormat) {
    EXPECT_EQ(dateText(QDate(2026, 3, 4), QStringLiteral("M/d/yy")), QStringLiteral("3/4/26"));
    EXPECT_EQ(dateText(QDate(2026, 3, 4), QStringLiteral("dd.MM.yyyy")), QStringLiteral("04.03.2026"));
    EXPECT_EQ(dateText(QDate(2026, 3, 4), QString()), QStringLiteral("2026-03-04"));
}

} // namespace
