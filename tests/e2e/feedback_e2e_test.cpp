// A feedback sent from the running program, for real: Help > "Send Feedback...", the text typed and Send pressed,
// and the program told to end while its request is under way.
#include "tests/online/localservers.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
const QString FeedbackTitle = QStringLiteral("Clavora feedback");

class FeedbackE2E : public ProgramTest {
protected:
    // The visible window of the program with this exact title, focused; empty when there is none.
    static QString focusedWindow(ProgramRun& run, const QString& title) {
        if (!run.waitForWindow(title, 10000)) {
            return QString();
        }
        const QString id = windowOf(run.pid(), title);
        if (!id.isEmpty()) {
            focusWindowId(id);
        }
        return id;
    }
    // Keys go to the window in the order pressed, an open menu taking the ones after the key that opened it.
    static void keys(const QStringList& names) { runCommand("xdotool", QStringList{"key", "--delay", "60"} + names); }

    static bool feedbackArrived(const LocalServer& server) {
        for (const RecordedRequest& request : server.requests()) {
            if (request.body.find("cmd=feedback") != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

// Ended by the system while the feedback is being sent, the program ends once the send has given up.
TEST_F(FeedbackE2E, AnEndRequestDuringTheSendEndsTheProgramOnceTheSendHasGivenUp) {
    // Over HTTPS, which the program trusts through the test's authority; the reply is held until the program gives
    // up (feedback is never retried in clear).
    TestAuthority authority;
    LocalServer server(&authority);
    server.holdReplies();
    ProgramRun run(m_programDir + "/clavora", m_home);
    run.environment().insert("CLAVORA_WEB_HOST", server.host());
    run.environment().insert("SSL_CERT_FILE", authority.caFile());
    run.environment().insert("QT_LOGGING_RULES", "clavora.online.info=true");
    ASSERT_TRUE(run.start());
    const QString main = focusedWindow(run, Title);
    ASSERT_FALSE(main.isEmpty()) << run.output().toStdString();

    // Soundboard is the first menu of the bar, Help the fourth; Send Feedback... is the one above About...
    const QStringList closed = visibleWindowsOf(run.pid());
    runCommand("xdotool", {"mousemove", "--window", main, "30", "10", "click", "1"});
    ASSERT_TRUE(waitForNewWindowOf(run.pid(), closed)) << "the menu did not open";
    keys({"Right", "Right", "Right", "Up", "Up", "Return"});
    ASSERT_FALSE(focusedWindow(run, FeedbackTitle).isEmpty()) << "the menu item did not open the dialog";
    runCommand("xdotool", {"type", "--delay", "20", "Goodbye"});
    keys({"Tab", "Tab", "space"});
    ASSERT_TRUE(waitFor([&] { return feedbackArrived(server); }, 15000)) << run.output().toStdString();

    ::kill(pid_t(run.pid()), SIGTERM);
    ASSERT_TRUE(waitFor([&] { return !run.isRunning(); }, 30000)) << "the end request was lost";
    EXPECT_EQ(run.exitCode(), 0);
    const QString output = run.output();
    // The send ran to its end: the worker reported its attempt running out before the program ended.
    EXPECT_TRUE(output.contains(QRegularExpression(R"(Feedback over "?https"? failed)"))) << output.toStdString();
}

} // namespace
