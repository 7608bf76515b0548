// Requests to the maker's server against local servers: the form on the wire, HTTPS and the plain retry, and each
// way a request can fail, within its time limit. Also the reply readers and the identity values.
#include "online/clientidentity.h"
#include "online/serverrequest.h"
#include "online/textscramble.h"
#include "tests/online/localservers.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

using namespace clavora;
using namespace clavora::online;
using clavora::test::LocalServer;
using clavora::test::TestAuthority;

namespace {

QString url(const QString& scheme, const QString& host) {
    return scheme + host + QLatin1String(CheckPath);
}

const FormFields TrickyFields{
    {QStringLiteral("cmd"), QStringLiteral("feedback")},
    {QStringLiteral("appname"), QStringLiteral("Zemtrak - Clavora")},
    {QStringLiteral("feedback"), QStringLiteral("line one\r\nline two & a=b")},
    {QStringLiteral("email"), QStringLiteral("Grüße 日本 +~%")},
};
const char TrickyBody[] = "cmd=feedback&appname=Zemtrak+-+Clavora&feedback=line+one%0D%0Aline+two+%26+a%3Db"
                          "&email=Gr%C3%BC%C3%9Fe+%E6%97%A5%E6%9C%AC+%2B%7E%25";

TEST(PostFormTest, SendsTheFieldsInOrderFormEncodedWithItsHeaders) {
    LocalServer server;
    server.setReply("<version>3.2</version>\r\n");
    const PostResult result = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 3000);

    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.reply, QStringLiteral("<version>3.2</version>\r\n"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, CheckPath);
    EXPECT_EQ(requests[0].body, TrickyBody);
    EXPECT_EQ(requests[0].header("content-type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(requests[0].header("connection"), "close");
}

TEST(PostFormTest, ALongTextArrivesWhole) {
    LocalServer server;
    server.setReply("ok");
    const QString text = QString(5000, QLatin1Char('x')) + QStringLiteral("ü\n"); // under the test server's form limit
    const PostResult result =
        postForm(url(QStringLiteral("http://"), server.host()), {{QStringLiteral("feedback"), text}}, 3000);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.reply, QStringLiteral("ok"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "feedback=" + std::string(5000, 'x') + "%C3%BC%0A");
}

TEST(PostFormTest, HttpsInAnyLetterCaseIsVerifiedAgainstTheGivenAuthority) {
    TestAuthority authority;
    LocalServer server(&authority);
    server.setReply("<result>1</result>");
    const RequestOptions trusted{authority.caFile()};

    for (const char* scheme : {"https://", "HTTPS://", "HttpS://"}) {
        const PostResult result = postForm(url(QLatin1String(scheme), server.host()), TrickyFields, 3000, trusted);
        ASSERT_TRUE(result.ok) << scheme << ": " << result.error.toStdString();
        EXPECT_EQ(result.reply, QStringLiteral("<result>1</result>"));
    }
    EXPECT_EQ(server.requests().back().body, TrickyBody);

    // Without the test authority the server is a stranger: the system's store does not know it.
    const PostResult untrusted = postForm(url(QStringLiteral("https://"), server.host()), TrickyFields, 3000);
    EXPECT_FALSE(untrusted.ok);
    EXPECT_FALSE(untrusted.error.isEmpty());
    // And plain HTTP to a TLS server is no reply either.
    EXPECT_FALSE(postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 3000).ok);
}

// Each failure comes back as a message, within the request's limit.
TEST(PostFormTest, FailuresReturnTheTransportsMessageWithinTheirLimit) {
    constexpr int Limit = 1000;
    test::SilentListener silent;
    test::FullBacklogListener full;
    const struct {
        const char* name;
        QString host;
        qint64 atLeastMs;
        qint64 atMostMs;
    } cases[] = {
        {"closed port", QStringLiteral("127.0.0.1:%1").arg(test::closedPort()), 0, 300},
        // Upper bounds below twice the limit: the response wait is its own limit, not connect and response added.
        {"connect time-out", QStringLiteral("127.0.0.1:%1").arg(full.port()), Limit - 50, Limit + 600},
        {"response time-out", silent.host(), Limit - 50, Limit + 600},
    };
    for (const auto& c : cases) {
        for (const char* scheme : {"http://", "https://"}) {
            QElapsedTimer clock;
            clock.start();
            const PostResult result = postForm(url(QLatin1String(scheme), c.host), TrickyFields, Limit);
            const qint64 elapsed = clock.elapsed();
            EXPECT_FALSE(result.ok) << c.name << " " << scheme;
            EXPECT_FALSE(result.error.isEmpty()) << c.name << " " << scheme;
            EXPECT_GE(elapsed, c.atLeastMs) << c.name << " " << scheme;
            EXPECT_LE(elapsed, c.atMostMs) << c.name << " " << scheme << ": " << result.error.toStdString();
        }
    }
    EXPECT_GE(silent.connections(), 2);
}

TEST(PostFormTest, AnOverlongReplyIsCut) {
    LocalServer server;
    server.setReply(std::string(3 * MaxReplyBytes, 'v'));
    const PostResult result = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 3000);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.reply.size(), MaxReplyBytes);
}

TEST(PostFormTest, ACancelFromAnotherThreadEndsTheWaitAtOnce) {
    test::SilentListener silent;
    CancelToken token;
    const RequestOptions options{QString(), &token};
    std::thread canceller([&token] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        token.cancel();
    });
    QElapsedTimer clock;
    clock.start();
    const PostResult result = postForm(url(QStringLiteral("http://"), silent.host()), TrickyFields, 10000, options);
    const qint64 elapsed = clock.elapsed();
    canceller.join();
    EXPECT_FALSE(result.ok);
    EXPECT_LT(elapsed, 1000);
    // A cancelled token stops the next request before it starts.
    clock.start();
    EXPECT_FALSE(postForm(url(QStringLiteral("http://"), silent.host()), TrickyFields, 10000, options).ok);
    EXPECT_LT(clock.elapsed(), 100);
}

TEST(SendToServerTest, AFailedHttpsAttemptIsReportedAndTheSameFieldsGoOverHttp) {
    LocalServer server; // plain only: the TLS handshake fails
    const std::string reply =
        "<version>3.3</version>\r\n<url>http://x/</url>\n\n<result>1</result>\r\r\nodd \x01 bytes";
    server.setReply(reply);
    QStringList reports;
    const ServerReply answer = sendToServer(
        checkEndpoint(server.host()), TrickyFields, 3000,
        [&](const QString& scheme, const QString& message) { reports << scheme + QLatin1Char(':') + message; });

    EXPECT_EQ(answer.via, ServerReply::Via::Http);
    EXPECT_EQ(answer.text, QString::fromStdString(reply));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].startsWith(QLatin1String("https:"))) << reports[0].toStdString();
    EXPECT_GT(reports[0].size(), 7);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, TrickyBody);
    EXPECT_EQ(requests[0].path, CheckPath);
}

TEST(SendToServerTest, HttpsThatAnswersIsTheOnlyAttempt) {
    TestAuthority authority;
    LocalServer server(&authority);
    server.setReply("secure");
    int reports = 0;
    const ServerReply answer = sendToServer(
        feedbackEndpoint(server.host()), TrickyFields, 3000, [&](const QString&, const QString&) { ++reports; },
        RequestOptions{authority.caFile()});
    EXPECT_EQ(answer.via, ServerReply::Via::Https);
    EXPECT_EQ(answer.text, QStringLiteral("secure"));
    EXPECT_EQ(reports, 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, FeedbackPath);
}

TEST(SendToServerTest, BothAttemptsFailingGiveAnEmptyReplyAndTwoReports) {
    QStringList schemes;
    const ServerReply answer =
        sendToServer(QStringLiteral("127.0.0.1:%1/php/check2.php").arg(test::closedPort()), TrickyFields, 1000,
                     [&](const QString& scheme, const QString&) { schemes << scheme; });
    EXPECT_EQ(answer.via, ServerReply::Via::Nothing);
    EXPECT_TRUE(answer.text.isEmpty());
    EXPECT_EQ(schemes, (QStringList{QStringLiteral("https"), QStringLiteral("http")}));
}

TEST(GetTagValueTest, ReadsOnlyExactTagLines) {
    const struct {
        const char* line;
        const char* tag;
        const char* value;
    } cases[] = {
        {"<version>3.2</version>", "version", "3.2"},
        {"<version>3.2</version>", "Version", "3.2"}, // the tag name is lower-cased
        {"<VERSION>3.2</VERSION>", "version", ""},    // the tags themselves are compared exactly
        {"<VERSION>3.2</VERSION>", "VERSION", ""},
        {" <version>3.2</version>", "version", ""},
        {"<version>3.2</version> ", "version", ""},
        {"<version>3.2", "version", ""},
        {"<version></version>", "version", ""},
        {"<url> http://a/?b=<c> </url>", "url", " http://a/?b=<c> "}, // nothing is trimmed or unescaped
        {"<result>1</result>", "version", ""},
        {"", "version", ""},
        {"<version>3.2</version>", "", ""},
        {"<a>/a>", "a", ""},
        {"<a></a>", "a", ""},
        {"<a><a></a></a>", "a", "<a></a>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(getTagValue(QString::fromUtf8(c.line), QString::fromUtf8(c.tag)), QString::fromUtf8(c.value))
            << c.line << " / " << c.tag;
    }
}

TEST(ReplyLinesTest, SplitsAtEveryKindOfLineBreak) {
    const struct {
        const char* reply;
        QStringList lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n", {"a"}},
        {"a\n\n", {"a", ""}},
        {"\n", {""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replyLines(QString::fromUtf8(c.reply)), c.lines) << c.reply;
    }
}

TEST(TextScrambleTest, UnscrambleGivesBackWhatWasScrambled) {
    for (const QString& text : {QString(), QStringLiteral("h"), QStringLiteral("https://www.zemtrak.com/download/"),
                                QStringLiteral("Grüße aus Köln, 日本語, 🎹 and \r\n")}) {
        const QString scrambled = scrambleText(text);
        EXPECT_EQ(scrambled.size(), text.toUtf8().size() * 2);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]*$")).match(scrambled).hasMatch());
        EXPECT_EQ(unscrambleText(scrambled), text);
        EXPECT_EQ(unscrambleText(scrambled.toLower()), text);
    }
    // The text does not show through, and equal bytes do not scramble alike.
    const QString scrambled = scrambleText(QStringLiteral("aaaa"));
    EXPECT_NE(scrambled.mid(0, 2), scrambled.mid(2, 2));
    EXPECT_FALSE(scrambleText(QStringLiteral("http")).contains(QLatin1String("68747470")));
}

TEST(TextScrambleTest, OddOrBrokenInputIsHandled) {
    const QString scrambled = scrambleText(QStringLiteral("abc"));
    EXPECT_EQ(unscrambleText(scrambled + QLatin1Char('7')), QStringLiteral("abc")); // an odd last digit is ignored
    EXPECT_EQ(unscrambleText(QStringLiteral("A")), QString());
    EXPECT_EQ(unscrambleText(scrambled.left(2) + QStringLiteral("G1")), QString());
    EXPECT_EQ(unscrambleText(QStringLiteral("  ")), QString());
    EXPECT_EQ(unscrambleText(QStringLiteral("https://")), QString());
    EXPECT_EQ(unscrambleText(QString()), QString());
}

TEST(ClientIdentityTest, TheInstallationIdentifierIsAStableGuidThatHidesTheMachineId) {
    const QByteArray machine = "3d1219c7c4c5404aaa1f6d2a48adfda4";
    const QString id = installationIdFromMachineId(machine);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                    .match(id)
                    .hasMatch())
        << id.toStdString();
    EXPECT_EQ(installationIdFromMachineId(machine), id);
    EXPECT_NE(installationIdFromMachineId("3d1219c7c4c5404aaa1f6d2a48adfda5"), id);
    QString bare = id;
    bare.remove(QLatin1Char('-'));
    EXPECT_NE(bare, QString::fromLatin1(machine));
    EXPECT_FALSE(QString::fromLatin1(machine).contains(bare.left(8)));
    EXPECT_EQ(installationIdFromMachineId(QByteArray()), QString());

    // This machine's: the same on every call, never its raw id.
    const InstallationId here = readInstallationId();
    EXPECT_EQ(readInstallationId().id, here.id);
    if (!here.id.isEmpty()) {
        EXPECT_NE(here.id.toLatin1(), platform::readMachineId());
    }
}

TEST(ClientIdentityTest, OsDescriptionNamesSystemVersionBuildAndEdition) {
    const struct {
        const char* osRelease;
        const char* kernel;
        const char* machine;
        const char* description;
    } cases[] = {
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n",
         "6.1.0-18-amd64", "x86_64",
         "Debian GNU/Linux 12 (bookworm) (Version 12, Build 6.1.0-18-amd64, 64-bit Edition)"},
        {"NAME='Arch Linux'\nBUILD_ID=rolling\n", "6.9.1-arch1", "i686",
         "Arch Linux (Version unknown, Build 6.9.1-arch1, 32-bit Edition)"},
        {"PRETTY_NAME=\"A \\\"quoted\\\" name\"\nVERSION=\"24.04 LTS\"\n", "6.8.0", "aarch64",
         "A \"quoted\" name (Version 24.04 LTS, Build 6.8.0, 64-bit Edition)"},
        {"", "", "armv7l", "Linux (Version unknown, Build unknown, 32-bit Edition)"},
        {"PRETTY_NAME=\"Two\tParts\"\n", "5.0", "x86_64", "Two Parts (Version unknown, Build 5.0, 64-bit Edition)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatOsDescription({c.osRelease, QString::fromUtf8(c.kernel), QString::fromUtf8(c.machine)}),
                  QString::fromUtf8(c.description));
    }
    const QString here = osDescription();
    EXPECT_FALSE(here.contains(QLatin1Char('\n')));
    EXPECT_TRUE(here.endsWith(QLatin1String("-bit Edition)"))) << here.toStdString();
}

TEST(ClientIdentityTest, LocaleTagsJoinLanguageAndCountry) {
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("en_US"))), QStringLiteral("en-US"));
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("de_DE"))), QStringLiteral("de-DE"));
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("pt_BR"))), QStringLiteral("pt-BR"));
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("tr"))), QStringLiteral("tr-TR"));
    EXPECT_EQ(localeTag(QLocale::c()), QStringLiteral("xx"));
    EXPECT_FALSE(userLocaleName().isEmpty());
}

} // namespace
