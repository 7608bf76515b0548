// Requests to the maker's web server: a form POST that returns the reply text, the send that tries HTTPS and, only
// when no connection could be made, plain HTTP, and the reader of tagged reply lines. Every call blocks its caller and
// keeps no state, so any thread may use them; the update check calls them on its worker, the feedback dialog on the GUI
// thread.
#pragma once

#include "platform/clock.h"

#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

namespace clavora::online {

Q_DECLARE_LOGGING_CATEGORY(lcOnline)

// One field of a request; the first is always the command ("cmd" = "check").
struct FormField {
    QString name;
    QString value;
    friend bool operator==(const FormField&, const FormField&) = default;
};
using FormFields = QList<FormField>;

// Server paths, put after the web host (which may carry a port) and before which a scheme is put when sending.
inline constexpr char CheckPath[] = "/php/check2.php";
inline constexpr char FeedbackPath[] = "/php/feedback.php";
QString checkEndpoint(const QString& webHost);
QString feedbackEndpoint(const QString& webHost);

// A reply longer than this is cut here: it is meant to be a few short lines, and whatever comes of it is shown or
// stored.
inline constexpr qsizetype MaxReplyBytes = 64 * 1024;

// However lively a reply, a request never takes longer than this (or six of its time-outs, when that is longer).
inline constexpr int OverallLimitMs = 60 * 1000;

// Lets another thread stop a request under way at once (the program is leaving). Once cancelled it stays so, and
// every request handed this token fails without waiting for the network.
class CancelToken {
public:
    // Any thread.
    void cancel();
    bool isCancelled() const;

    // For the request code: Wake is called (under the token's lock) when cancel comes while it is attached.
    // Attach returns false, attaching nothing, when the token is already cancelled.
    bool attach(std::function<void()> wake);
    void detach();

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    std::function<void()> m_wake;
};

struct RequestOptions {
    // Certificates of the authorities that HTTPS servers are checked against, in PEM; empty: the system's store.
    // Tests hand the authority they made.
    QString caFile;
    // Null: the request cannot be cancelled.
    CancelToken* cancel = nullptr;
    // The bound on the whole request; 0: the larger of OverallLimitMs and six time-outs. Tests shorten it.
    int overallLimitMs = 0;
    // The clock the wait for data is measured on (curl's own limits keep the system's); null: the steady clock.
    const platform::Clock* clock = nullptr;
};

struct PostResult {
    bool ok = false;
    // The body, at most MaxReplyBytes of it, decoded by the charset its Content-Type declares, as UTF-8 when it
    // declares none or one no converter knows; the status code is not looked at.
    QString reply;
    QString error; // the transport's message when not ok
    // Not ok because the server could not be reached at all: its name did not resolve, or no connection to it was
    // made (refused or timed out). Any failure after that, a TLS handshake or a certificate check among them, is not.
    bool unreachable = false;
};

// The fields as an application/x-www-form-urlencoded body: names and values as UTF-8, percent-encoded (a blank
// becomes "+"), pairs joined with "&" in order.
QByteArray encodeForm(const FormFields& fields);

// Posts Fields to Url ("https://..." in any letter case is sent over TLS, verified against the system's authorities;
// anything else as plain http) with Connection: close and the form content type. TimeoutMs limits making the
// connection and, once connected, each wait for data: the attempt ends when no byte of the response has come for
// TimeoutMs, while a slow reply that keeps coming is read on up to the overall limit. Fails with the transport's
// message on name resolution, connection, TLS, time-out or cancellation; never retries.
PostResult postForm(const QString& url, const FormFields& fields, int timeoutMs, const RequestOptions& options = {});

// Told of each failed attempt of sendToServer: the attempt's scheme ("https" or "http") and the error's message.
using FailureReport = std::function<void(const QString& scheme, const QString& message)>;

struct ServerReply {
    enum class Via { Nothing, Https, Http };
    Via via = Via::Nothing; // which attempt answered; Nothing when both failed
    QString text;           // empty when both failed
};

// Sends one request; postForm with fixed options in the program, a fake in tests.
using PostFunction = std::function<PostResult(const QString& url, const FormFields& fields, int timeoutMs)>;

// Whether a request may go over plain HTTP when HTTPS cannot reach the server. Requests that carry what the user
// wrote or who they are never do.
enum class PlainRetry { WhenUnreachable, Never };

// Posts Fields to "https://" + Endpoint; when the server could not be reached over HTTPS at all (PostResult::
// unreachable) and Retry allows it, the same fields once more to "http://" + Endpoint with the same time-out. After a
// TLS or certificate failure, or any failure once connected, nothing goes over plain HTTP: whoever stands in the way
// could answer it. Endpoint is a host (with an optional port) followed by a path. Never fails: with every attempt
// failed the reply is empty.
ServerReply sendToServer(const QString& endpoint, const FormFields& fields, int timeoutMs, const FailureReport& report,
                         const RequestOptions& options = {}, PlainRetry retry = PlainRetry::WhenUnreachable);
// The same attempts, each made through Post.
ServerReply sendToServer(const QString& endpoint, const FormFields& fields, int timeoutMs, const FailureReport& report,
                         const PostFunction& post, PlainRetry retry = PlainRetry::WhenUnreachable);

// The value of a reply line "<tag>value</tag>": Tag is lower-cased, the line must start with the opening tag and
// end with the closing one, compared exactly; nothing is trimmed. Empty for anything else.
QString getTagValue(const QString& line, const QString& tag);

// A reply's lines: split at CR LF, CR or LF; a final line break ends the last line instead of starting an empty one,
// and an empty reply has no lines.
QStringList replyLines(const QString& reply);

} // namespace clavora::online
