// Servers on 127.0.0.1 for the request and update-check tests: an HTTP or HTTPS server that records what it is sent
// and answers with a set reply, a certificate authority made for the run, and listeners that never answer or never
// let a connection through. Every thread and socket they start ends with them.
#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

namespace httplib {
class Server;
}

namespace clavora::test {

// A certificate authority and a server certificate for 127.0.0.1 that it signed (or that signed itself), made with
// OpenSSL when constructed; the authority's certificate is written in PEM to a temporary file for the client.
class TestAuthority {
public:
    enum class ServerCertificate { SignedByTheAuthority, SelfSigned };
    explicit TestAuthority(ServerCertificate server = ServerCertificate::SignedByTheAuthority);
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    QString caFile() const { return m_caFile; }
    X509* serverCertificate() const { return m_serverCertificate; }
    EVP_PKEY* serverKey() const { return m_serverKey; }

private:
    EVP_PKEY* m_caKey = nullptr;
    X509* m_caCertificate = nullptr;
    EVP_PKEY* m_serverKey = nullptr;
    X509* m_serverCertificate = nullptr;
    QString m_caFile;
};

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string header(const std::string& lowerName) const {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// Answers every POST with the reply set last (200 OK, text/plain unless set) and records the requests.
class LocalServer {
public:
    // Plain HTTP, or HTTPS with Authority's server certificate.
    explicit LocalServer(const TestAuthority* authority = nullptr);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    int port() const { return m_port; }
    // "127.0.0.1:PORT", the form of the web host setting.
    QString host() const;

    void setReply(std::string body);
    // From here on a request is recorded at once but answered only when the server goes away: the client runs into
    // its time-out.
    void holdReplies();
    // The Content-Type of the replies; "text/plain" unless set.
    void setContentType(std::string contentType);
    // Above 0: the reply's body goes out one byte at a time, this long apart (chunked), the headers at once.
    void setByteInterval(int ms);
    std::vector<RecordedRequest> requests() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::string m_reply;
    std::string m_contentType = "text/plain";
    int m_byteIntervalMs = 0;
    std::vector<RecordedRequest> m_requests;
    bool m_holding = false;
    std::condition_variable m_released;
};

// A local port on which nothing listens: connecting fails at once.
int closedPort();

// Accepts connections and never says a word; counts them.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return m_port; }
    QString host() const;
    int connections() const { return m_connections.load(); }

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<int> m_connections{0};
    std::vector<int> m_accepted;
};

// A listener whose queue of waiting connections is full: the handshake of a new connection never completes, so a
// client waits until its connect time-out.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;

    int port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

} // namespace clavora::test
