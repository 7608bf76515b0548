// Requests to the maker's web server over libcurl. Each request runs its own easy handle inside its own multi handle,
// so that a cancel from another thread can wake the wait at once (curl_multi_wakeup) instead of the request sitting
// out its time-out while the program is leaving.
#include "online/serverrequest.h"

#include "i18n/textcodec.h"

#include <QRegularExpression>

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

Q_LOGGING_CATEGORY(clavora::online::lcOnline, "clavora.online")

namespace clavora::online {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// An easy handle added to a multi handle; removed again before either is cleaned up.
class MultiMembership {
public:
    MultiMembership(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy) {
        m_added = curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~MultiMembership() {
        if (m_added) {
            curl_multi_remove_handle(m_multi, m_easy);
        }
    }
    MultiMembership(const MultiMembership&) = delete;
    MultiMembership& operator=(const MultiMembership&) = delete;
    bool added() const { return m_added; }

private:
    CURLM* m_multi;
    CURL* m_easy;
    bool m_added = false;
};

// A request's cancel token attachment, detached on every way out.
class CancelAttachment {
public:
    CancelAttachment(CancelToken* token, CURLM* multi) : m_token(token) {
        if (m_token) {
            m_attached = m_token->attach([multi] { curl_multi_wakeup(multi); });
        }
    }
    ~CancelAttachment() {
        if (m_attached) {
            m_token->detach();
        }
    }
    CancelAttachment(const CancelAttachment&) = delete;
    CancelAttachment& operator=(const CancelAttachment&) = delete;
    bool cancelled() const { return m_token && m_token->isCancelled(); }

private:
    CancelToken* m_token;
    bool m_attached = false;
};

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    QByteArray body;
    bool cut = false; // the body reached MaxReplyBytes and the transfer was stopped on purpose
    const platform::Clock* clock = &platform::steadyClock();
    // Set when the request goes out, then moved on by every byte of the response: the time-out counts from here.
    std::optional<qint64> lastActivityMs;
    // A socket of this request got as far as a TCP connection: the server was reached, whatever failed after.
    bool connected = false;
};

void noteActivity(Transfer* transfer) {
    transfer->lastActivityMs = transfer->clock->nowMs();
}

size_t noteHeader(char*, size_t size, size_t count, void* userData) {
    noteActivity(static_cast<Transfer*>(userData));
    return size * count;
}

size_t collectBody(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    noteActivity(transfer);
    const size_t bytes = size * count;
    const qsizetype room = MaxReplyBytes - transfer->body.size();
    if (qsizetype(bytes) > room) {
        transfer->body.append(data, room);
        transfer->cut = true;
        return 0; // stops the transfer; the cut body is the reply
    }
    transfer->body.append(data, qsizetype(bytes));
    return bytes;
}

// Called once the connection (and TLS) is up, right before the request goes out: the response time-out starts here.
int connectionReady(void* userData, char*, char*, int, int) {
    noteActivity(static_cast<Transfer*>(userData));
    return CURL_PREREQFUNC_OK;
}

// Curl closes its sockets through here, so that each can be asked first whether it ever had a peer: a socket that was
// refused or timed out while connecting has none.
int closeSocket(void* userData, curl_socket_t socket) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        static_cast<Transfer*>(userData)->connected = true;
    }
    return ::close(socket);
}

// The charset parameter of a Content-Type value (`text/plain; charset="iso-8859-1"`), empty when there is none.
QByteArray declaredCharset(const char* contentType) {
    if (!contentType) {
        return QByteArray();
    }
    const QList<QByteArray> parts = QByteArray(contentType).split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts[i].trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset") {
            continue;
        }
        QByteArray value = parameter.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) {
            value = value.mid(1, value.size() - 2);
        }
        return value;
    }
    return QByteArray();
}

QString decodeReply(const QByteArray& body, const char* contentType) {
    const QByteArray charset = declaredCharset(contentType);
    if (!charset.isEmpty()) {
        if (std::optional<QString> text = text::decodeCharset(body, charset)) {
            return *std::move(text);
        }
        qCInfo(lcOnline) << "Unknown charset" << charset << "in the reply; read as UTF-8";
    }
    return QString::fromUtf8(body);
}

// No connection was ever made: the name did not resolve, or connecting was refused or timed out. A connect time-out
// (CURLOPT_CONNECTTIMEOUT) also covers the TLS handshake, so a time-out counts only when no socket had a peer.
bool neverConnected(const Transfer& transfer, CURLcode result) {
    if (transfer.connected) {
        return false;
    }
    return result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT ||
           result == CURLE_OPERATION_TIMEDOUT;
}

bool isFormByteKept(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' || c == '-' ||
           c == '.' || c == '_';
}

void appendFormEncoded(QByteArray& out, const QString& text) {
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    for (const char c : bytes) {
        if (isFormByteKept(c)) {
            out.append(c);
        } else if (c == ' ') {
            out.append('+');
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.append('%');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 0x0F]);
        }
    }
}

PostResult failure(QString message, bool unreachable = false) {
    return PostResult{false, QString(), std::move(message), unreachable};
}

} // namespace

void CancelToken::cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_wake) {
        m_wake();
    }
}

bool CancelToken::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool CancelToken::attach(std::function<void()> wake) {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        return false;
    }
    m_wake = std::move(wake);
    return true;
}

void CancelToken::detach() {
    std::lock_guard lock(m_mutex);
    m_wake = nullptr;
}

QString checkEndpoint(const QString& webHost) {
    return webHost + QLatin1String(CheckPath);
}
QString feedbackEndpoint(const QString& webHost) {
    return webHost + QLatin1String(FeedbackPath);
}

QByteArray encodeForm(const FormFields& fields) {
    QByteArray body;
    for (const FormField& field : fields) {
        if (!body.isEmpty()) {
            body.append('&');
        }
        appendFormEncoded(body, field.name);
        body.append('=');
        appendFormEncoded(body, field.value);
    }
    return body;
}

PostResult postForm(const QString& url, const FormFields& fields, int timeoutMs, const RequestOptions& options) {
    initialiseCurlOnce();
    if (options.cancel && options.cancel->isCancelled()) {
        return failure(QStringLiteral("Request abandoned"));
    }

    // Declared before the handles, which may still close a socket through it as they are cleaned up.
    Transfer transfer;
    if (options.clock != nullptr) {
        transfer.clock = options.clock;
    }
    EasyHandle easy(curl_easy_init());
    MultiHandle multi(curl_multi_init());
    if (!easy || !multi) {
        return failure(QStringLiteral("Cannot create an HTTP client"));
    }
    CURL* h = easy.get();

    // Everything curl is given must outlive the transfer.
    const QByteArray urlBytes = url.toUtf8();
    const QByteArray body = encodeForm(fields);
    const QByteArray caFile = options.caFile.toLocal8Bit();
    char errorText[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded; charset=utf-8");
    headers = curl_slist_append(headers, "Connection: close");
    // No "Expect: 100-continue" either, which curl adds on its own to bodies over a megabyte: the request carries
    // only the headers above.
    headers = curl_slist_append(headers, "Expect:");
    const HeaderList headerList(headers);

    const long limit = timeoutMs > 0 ? long(timeoutMs) : 1L;
    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limit);
    // The wait for data is watched below from the moment the request goes out; this bounds the whole request.
    const long overall =
        options.overallLimitMs > 0 ? long(options.overallLimitMs) : std::max(long(OverallLimitMs), 6 * limit);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, overall);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, noteHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, connectionReady);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &transfer);
    // The connection is closed as the transfer ends, not kept for another: by the time the result is read, every
    // socket has gone through closeSocket.
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    // An abandoned name lookup is left to finish on its own instead of being waited for.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
    if (!caFile.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
    }

    const MultiMembership membership(multi.get(), h);
    if (!membership.added()) {
        return failure(QStringLiteral("Cannot start the HTTP request"));
    }
    const CancelAttachment cancel(options.cancel, multi.get());

    QString stoppedBecause;
    for (;;) {
        int running = 0;
        const CURLMcode performed = curl_multi_perform(multi.get(), &running);
        if (performed != CURLM_OK) {
            return failure(QString::fromUtf8(curl_multi_strerror(performed)));
        }
        if (running == 0) {
            break;
        }
        if (cancel.cancelled()) {
            stoppedBecause = QStringLiteral("Request abandoned");
            break;
        }
        int waitMs = 1000;
        if (transfer.lastActivityMs) {
            const qint64 left = *transfer.lastActivityMs + limit - transfer.clock->nowMs();
            if (left <= 0) {
                stoppedBecause =
                    QStringLiteral("Operation timed out after %1 milliseconds with no data received").arg(limit);
                break;
            }
            waitMs = int(std::min<qint64>(waitMs, left));
        }
        curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr);
    }
    if (!stoppedBecause.isEmpty()) {
        return failure(stoppedBecause);
    }

    CURLcode result = CURLE_OK;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
            result = message->data.result;
        }
    }
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && transfer.cut)) {
        const QString text =
            errorText[0] ? QString::fromUtf8(errorText) : QString::fromUtf8(curl_easy_strerror(result));
        return failure(text, neverConnected(transfer, result));
    }
    if (transfer.cut) {
        qCInfo(lcOnline) << "Reply of" << url << "cut at" << MaxReplyBytes << "bytes";
    }
    const char* contentType = nullptr;
    curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType);
    return PostResult{true, decodeReply(transfer.body, contentType), QString()};
}

ServerReply sendToServer(const QString& endpoint, const FormFields& fields, int timeoutMs, const FailureReport& report,
                         const RequestOptions& options, PlainRetry retry) {
    return sendToServer(
        endpoint, fields, timeoutMs, report,
        [&options](const QString& url, const FormFields& sent, int limit) {
            return postForm(url, sent, limit, options);
        },
        retry);
}

ServerReply sendToServer(const QString& endpoint, const FormFields& fields, int timeoutMs, const FailureReport& report,
                         const PostFunction& post, PlainRetry retry) {
    const PostResult secure = post(QLatin1String("https://") + endpoint, fields, timeoutMs);
    if (secure.ok) {
        return ServerReply{ServerReply::Via::Https, secure.reply};
    }
    if (report) {
        report(QStringLiteral("https"), secure.error);
    }
    if (retry == PlainRetry::Never || !secure.unreachable) {
        return ServerReply{};
    }
    const PostResult plain = post(QLatin1String("http://") + endpoint, fields, timeoutMs);
    if (plain.ok) {
        return ServerReply{ServerReply::Via::Http, plain.reply};
    }
    if (report) {
        report(QStringLiteral("http"), plain.error);
    }
    return ServerReply{};
}

QString getTagValue(const QString& line, const QString& tag) {
    if (line.isEmpty() || tag.isEmpty()) {
        return QString();
    }
    const QString name = tag.toLower();
    const QString opening = QLatin1Char('<') + name + QLatin1Char('>');
    const QString closing = QLatin1String("</") + name + QLatin1Char('>');
    // Only a tag name holding "<" or "/" could make the two tags overlap; such a line has no value.
    if (line.size() < opening.size() + closing.size() || !line.startsWith(opening) || !line.endsWith(closing)) {
        return QString();
    }
    return line.mid(opening.size(), line.size() - opening.size() - closing.size());
}

QStringList replyLines(const QString& reply) {
    if (reply.isEmpty()) {
        return {};
    }
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = reply.split(lineBreak);
    if (lines.size() > 1 && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

} // namespace clavora::online
