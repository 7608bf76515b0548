// Requests to the maker's server against local servers: the form on the wire, HTTPS and the plain retry, and each
// way a request can fail, within its time limit. Also the reply readers and the identity values.
#include "online/clientidentity.h"
#include "online/serverrequest.h"
#include "online/textscramble.h"
#include "tests/online/localservers.h"
#include "tests/support/manualclock.h"
#include "tests/support/testsupport.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/posix/linuxlocale.h"
#include "platform/posix/linuxsysteminfo.h"
#else
#include "platform/fake/fakelocale.h"
#include "platform/fake/fakesysteminfo.h"
#endif

#include <QElapsedTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace clavora;
using namespace clavora::online;
using clavora::test::LocalServer;
using clavora::test::TestAuthority;

namespace {

// The machine the tests run on, as the program sees it.
#ifdef CLAVORA_PLATFORM_LINUX
using SystemInfo = platform::LinuxSystemInfo;
using SystemLocale = platform::LinuxLocale;
#else
using SystemInfo = platform::FakeSystemInfo;
using SystemLocale = platform::FakeLocale;
#endif

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

// Each failure comes back as a message, within the request's limit: a closed port at once, without waiting for the
// limit; a time-out once the limit has passed, and before twice the limit, since the wait for the response is a limit
// of its own, not added to the connection's. (The margins are whole seconds, so a loaded machine keeps within them.)
TEST(PostFormTest, FailuresReturnTheTransportsMessageWithinTheirLimit) {
    constexpr int Limit = 2000;
    test::SilentListener silent;
    test::FullBacklogListener full;
    const struct {
        const char* name;
        QString host;
        qint64 atLeastMs;
        qint64 atMostMs;
    } cases[] = {
        {"closed port", QStringLiteral("127.0.0.1:%1").arg(test::closedPort()), 0, Limit - 1},
        {"connect time-out", QStringLiteral("127.0.0.1:%1").arg(full.port()), Limit - 50, 2 * Limit - 1},
        {"response time-out", silent.host(), Limit - 50, 2 * Limit - 1},
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

TEST(PostFormTest, TheReplyIsDecodedByItsDeclaredCharset) {
    LocalServer server;
    const struct {
        const char* contentType;
        std::string body;
        QString text;
    } cases[] = {
        // Octal escapes: a hex escape would run on into the "e".
        {"text/plain; charset=iso-8859-1", "Gr\366\337e", QStringLiteral("Größe")},
        {"text/plain;charset=\"ISO-8859-1\"", "Gr\366\337e", QStringLiteral("Größe")},
        {"text/html; Charset=windows-1251; q=1", "\xCF\xF0\xE8\xE2\xE5\xF2", QStringLiteral("Привет")},
        {"text/plain; charset=Shift_JIS", "\x93\xFA\x96\x7B", QStringLiteral("日本")},
        {"text/plain; charset=utf-8", "Gr\303\266\303\237e", QStringLiteral("Größe")},
        // A byte the declared set has no character for becomes U+FFFD, the rest is kept.
        {"text/plain; charset=us-ascii", "caf\351 ok", QString::fromUtf16(u"caf\uFFFD ok")},
        // No charset, or one nobody knows: UTF-8.
        {"text/plain", "Gr\303\266\303\237e", QStringLiteral("Größe")},
        {"text/plain; charset=no-such-set", "Gr\303\266\303\237e", QStringLiteral("Größe")},
    };
    for (const auto& c : cases) {
        server.setContentType(c.contentType);
        server.setReply(c.body);
        const PostResult result = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 3000);
        ASSERT_TRUE(result.ok) << c.contentType << ": " << result.error.toStdString();
        EXPECT_EQ(result.reply, c.text) << c.contentType;
    }
}

// The time-out limits each wait for data, not the whole reply: a reply that keeps coming is read to its end even when
// it takes longer than the time-out, while the overall bound still ends one that never stops.
TEST(PostFormTest, ASlowReplyThatKeepsComingIsReadUntilTheOverallBound) {
    LocalServer server;
    server.setByteInterval(150);
    const std::string body = "<result>1</result>"; // 18 bytes: about 2.7 s, longer than the time-out
    server.setReply(body);
    const PostResult slow = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 1500);
    ASSERT_TRUE(slow.ok) << slow.error.toStdString();
    EXPECT_EQ(slow.reply, QString::fromStdString(body));

    RequestOptions bounded;
    bounded.overallLimitMs = 1000;
    const PostResult endless = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 1500, bounded);
    EXPECT_FALSE(endless.ok);
    EXPECT_FALSE(endless.unreachable);

    // A reply that stops coming ends the attempt once no byte has come for the time-out, its headers already in.
    server.setByteInterval(2000);
    const PostResult stalled = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, 300);
    EXPECT_FALSE(stalled.ok);
    EXPECT_FALSE(stalled.unreachable);
    EXPECT_TRUE(stalled.error.contains(QLatin1String("no data received"))) << stalled.error.toStdString();
}

// The wait for data is measured on the request's clock: a server that took the request and says nothing ends it once
// that clock has moved on by the time-out, however little time the system's clock has seen.
TEST(PostFormTest, TheWaitForDataIsMeasuredOnTheRequestsClock) {
    constexpr int Limit = 60000;
    LocalServer server;
    server.holdReplies();
    test::ManualClock clock;
    RequestOptions options;
    options.clock = &clock;
    // Should the request's clock not count, curl's own bound, shorter than the time-out, ends it with another message.
    options.overallLimitMs = 30000;
    std::atomic<bool> done{false};
    PostResult result;
    std::thread request([&] {
        result = postForm(url(QStringLiteral("http://"), server.host()), TrickyFields, Limit, options);
        done = true;
    });
    EXPECT_TRUE(test::waitFor([&] { return !server.requests().empty(); }, 10000)) << "the request did not arrive";
    // A second more on the request's clock at each look, until it gives up.
    EXPECT_TRUE(test::waitFor(
        [&] {
            clock.advance(1000);
            return done.load();
        },
        60000));
    request.join();
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.unreachable);
    EXPECT_TRUE(result.error.contains(QLatin1String("no data received"))) << result.error.toStdString();
    EXPECT_TRUE(result.error.contains(QString::number(Limit))) << result.error.toStdString();
}

// The server never answers and the request would wait a minute: the cancel, once the request waits, ends it.
TEST(PostFormTest, ACancelFromAnotherThreadEndsTheWaitAtOnce) {
    constexpr int Limit = 60000;
    test::SilentListener silent;
    CancelToken token;
    const RequestOptions options{QString(), &token};
    std::thread canceller([&] {
        test::waitFor([&] { return silent.connections() >= 1; }, 10000);
        token.cancel();
    });
    QElapsedTimer clock;
    clock.start();
    const PostResult result = postForm(url(QStringLiteral("http://"), silent.host()), TrickyFields, Limit, options);
    const qint64 elapsed = clock.elapsed();
    canceller.join();
    EXPECT_FALSE(result.ok);
    EXPECT_LT(elapsed, Limit) << "it waited for the time-out";
    // A cancelled token stops the next request before it starts: the server sees no other connection.
    const int connections = silent.connections();
    EXPECT_FALSE(postForm(url(QStringLiteral("http://"), silent.host()), TrickyFields, Limit, options).ok);
    EXPECT_EQ(silent.connections(), connections);
}

// A server that HTTPS cannot reach at all (here: its HTTPS port is closed) gets the same fields once more over plain
// HTTP; the failed attempt is reported.
TEST(SendToServerTest, AServerUnreachableOverHttpsGetsTheSameFieldsOverHttp) {
    LocalServer server;
    const std::string reply =
        "<version>3.3</version>\r\n<url>http://x/</url>\n\n<result>1</result>\r\r\nodd \x01 bytes";
    server.setReply(reply);
    const QString closedHost = QStringLiteral("127.0.0.1:%1").arg(test::closedPort());
    QStringList urls;
    const PostFunction httpsPortClosed = [&](const QString& sentTo, const FormFields& fields, int limit) {
        urls << sentTo;
        QString target = sentTo;
        if (target.startsWith(QLatin1String("https://"))) {
            target.replace(server.host(), closedHost);
        }
        return postForm(target, fields, limit);
    };
    QStringList reports;
    const ServerReply answer = sendToServer(
        checkEndpoint(server.host()), TrickyFields, 3000,
        [&](const QString& scheme, const QString& message) { reports << scheme + QLatin1Char(':') + message; },
        httpsPortClosed);

    EXPECT_EQ(answer.via, ServerReply::Via::Http);
    EXPECT_EQ(answer.text, QString::fromStdString(reply));
    EXPECT_EQ(urls, (QStringList{url(QStringLiteral("https://"), server.host()),
                                 url(QStringLiteral("http://"), server.host())}));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].startsWith(QLatin1String("https:"))) << reports[0].toStdString();
    EXPECT_GT(reports[0].size(), 7);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, TrickyBody);
    EXPECT_EQ(requests[0].path, CheckPath);

    // A request that must not go in clear stops after the failed HTTPS attempt.
    urls.clear();
    const ServerReply refused =
        sendToServer(feedbackEndpoint(server.host()), TrickyFields, 3000, nullptr, httpsPortClosed, PlainRetry::Never);
    EXPECT_EQ(refused.via, ServerReply::Via::Nothing);
    EXPECT_EQ(urls.size(), 1);
    EXPECT_EQ(server.requests().size(), 1u);
}

// Once a connection was made, a failed HTTPS attempt is never followed by plain HTTP: a bad certificate, a broken
// handshake or a stalled one may be someone on the way, who would read and answer the plain request.
TEST(SendToServerTest, NoPlainRetryAfterATlsOrCertificateFailure) {
    TestAuthority authority;
    TestAuthority stranger; // a second authority, which signed nothing the server holds
    TestAuthority selfSigned(TestAuthority::ServerCertificate::SelfSigned);
    LocalServer tlsServer(&authority);
    tlsServer.setReply("secure");
    LocalServer selfSignedServer(&selfSigned);
    LocalServer plainServer; // answers anything in clear: a TLS handshake with it fails
    plainServer.setReply("<version>9.9</version>\r\n<url>http://evil.example/</url>\r\n<result>1</result>");
    test::SilentListener silent; // accepts and never answers: the handshake times out
    const struct {
        const char* name;
        QString host;
        QString caFile;
    } cases[] = {
        {"untrusted certificate, system store", tlsServer.host(), QString()},
        {"certificate of another authority", tlsServer.host(), stranger.caFile()},
        {"self-signed certificate", selfSignedServer.host(), QString()},
        {"self-signed certificate, its signer's authority trusted", selfSignedServer.host(), selfSigned.caFile()},
        {"plain server on the HTTPS port", plainServer.host(), authority.caFile()},
        {"handshake never answered", silent.host(), authority.caFile()},
    };
    for (const auto& c : cases) {
        QStringList schemes;
        const ServerReply answer = sendToServer(
            checkEndpoint(c.host), TrickyFields, 1000,
            [&](const QString& scheme, const QString&) { schemes << scheme; }, RequestOptions{c.caFile});
        EXPECT_EQ(answer.via, ServerReply::Via::Nothing) << c.name;
        EXPECT_TRUE(answer.text.isEmpty()) << c.name;
        EXPECT_EQ(schemes, QStringList{QStringLiteral("https")}) << c.name;
    }
    EXPECT_TRUE(plainServer.requests().empty());
    EXPECT_TRUE(tlsServer.requests().empty());
    EXPECT_TRUE(selfSignedServer.requests().empty());
}

// Which failures count as "could not reach the server at all".
TEST(PostFormTest, OnlyFailuresBeforeAnyConnectionCountAsUnreachable) {
    TestAuthority authority;
    LocalServer tlsServer(&authority);
    test::SilentListener silent;
    test::FullBacklogListener full;
    const struct {
        const char* name;
        QString url;
        bool unreachable;
    } cases[] = {
        {"closed port", url(QStringLiteral("https://"), QStringLiteral("127.0.0.1:%1").arg(test::closedPort())), true},
        {"connect time-out", url(QStringLiteral("https://"), QStringLiteral("127.0.0.1:%1").arg(full.port())), true},
        {"bad certificate", url(QStringLiteral("https://"), tlsServer.host()), false},
        {"stalled handshake", url(QStringLiteral("https://"), silent.host()), false},
        {"no response", url(QStringLiteral("http://"), silent.host()), false},
    };
    for (const auto& c : cases) {
        const PostResult result = postForm(c.url, TrickyFields, 1000);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.unreachable, c.unreachable) << c.name << ": " << result.error.toStdString();
    }
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
    SystemInfo system;
    const InstallationId here = readInstallationId(system);
    EXPECT_EQ(readInstallationId(system).id, here.id);
    if (!here.id.isEmpty()) {
        EXPECT_NE(here.id.toLatin1(), system.machineId());
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
    SystemInfo system;
    const QString here = osDescription(system);
    EXPECT_FALSE(here.contains(QLatin1Char('\n')));
    EXPECT_TRUE(here.endsWith(QLatin1String("-bit Edition)"))) << here.toStdString();
}

TEST(ClientIdentityTest, LocaleTagsJoinLanguageAndCountry) {
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("en_US"))), QStringLiteral("en-US"));
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("de_DE"))), QStringLiteral("de-DE"));
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("pt_BR"))), QStringLiteral("pt-BR"));
    EXPECT_EQ(localeTag(QLocale(QStringLiteral("tr"))), QStringLiteral("tr-TR"));
    EXPECT_EQ(localeTag(QLocale::c()), QStringLiteral("xx"));
    SystemLocale locale;
    EXPECT_FALSE(userLocaleName(locale).isEmpty());
}

} // namespace
