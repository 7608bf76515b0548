// Local servers for the online tests.
#include "tests/online/localservers.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace clavora::test {

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    require(extension != nullptr, "certificate extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// An authority's certificate (self-signed), or a server's for 127.0.0.1: signed by Issuer, or by its own key when
// Issuer is null.
X509* makeCertificate(EVP_PKEY* key, const char* commonName, long serial, X509* issuer, EVP_PKEY* issuerKey,
                      bool authority) {
    X509* certificate = X509_new();
    require(certificate != nullptr, "X509_new");
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(signer));
    if (authority) {
        addExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(certificate, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(certificate, signer, NID_ext_key_usage, "serverAuth");
        addExtension(certificate, signer, NID_subject_alt_name, "IP:127.0.0.1");
    }
    addExtension(certificate, signer, NID_subject_key_identifier, "hash");
    require(X509_sign(certificate, issuerKey, EVP_sha256()) > 0, "X509_sign");
    return certificate;
}

int loopbackSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    require(fd >= 0, "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    require(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
    return fd;
}

int portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    require(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname");
    return ntohs(address.sin_port);
}

QString loopbackHost(int port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

TestAuthority::TestAuthority(ServerCertificate server) {
    m_caKey = EVP_EC_gen("P-256");
    m_serverKey = EVP_EC_gen("P-256");
    require(m_caKey && m_serverKey, "EVP_EC_gen");
    m_caCertificate = makeCertificate(m_caKey, "Clavora test authority", 1, nullptr, m_caKey, true);
    m_serverCertificate = server == ServerCertificate::SelfSigned
                              ? makeCertificate(m_serverKey, "127.0.0.1", 2, nullptr, m_serverKey, false)
                              : makeCertificate(m_serverKey, "127.0.0.1", 2, m_caCertificate, m_caKey, false);

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/clavora-test-ca-XXXXXX.pem"));
    file.setAutoRemove(false);
    require(file.open(), "CA file");
    m_caFile = file.fileName();
    file.close();
    BIO* out = BIO_new_file(QFile::encodeName(m_caFile).constData(), "w");
    require(out != nullptr, "BIO_new_file");
    PEM_write_bio_X509(out, m_caCertificate);
    BIO_free(out);
}

TestAuthority::~TestAuthority() {
    QFile::remove(m_caFile);
    X509_free(m_serverCertificate);
    X509_free(m_caCertificate);
    EVP_PKEY_free(m_serverKey);
    EVP_PKEY_free(m_caKey);
}

LocalServer::LocalServer(const TestAuthority* authority) {
    if (authority) {
        m_server = std::make_unique<httplib::SSLServer>(authority->serverCertificate(), authority->serverKey());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    require(m_server->is_valid(), "server");
    m_server->Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        RecordedRequest recorded;
        recorded.method = request.method;
        recorded.path = request.path;
        recorded.body = request.body;
        for (const auto& [name, value] : request.headers) {
            std::string lower = name;
            for (char& c : lower) {
                c = char(std::tolower(static_cast<unsigned char>(c)));
            }
            recorded.headers.emplace(lower, value);
        }
        std::unique_lock lock(m_mutex);
        m_requests.push_back(std::move(recorded));
        m_released.wait(lock, [this] { return !m_holding; });
        if (m_byteIntervalMs <= 0) {
            response.set_content(m_reply, m_contentType);
            return;
        }
        response.set_chunked_content_provider(
            m_contentType, [body = m_reply, interval = m_byteIntervalMs](size_t offset, httplib::DataSink& sink) {
                if (offset >= body.size()) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(interval));
                // A client that gave up ends the reply here.
                return sink.write(body.data() + offset, 1);
            });
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    require(m_port > 0, "bind_to_any_port");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running()) {
        std::this_thread::yield();
    }
}

LocalServer::~LocalServer() {
    {
        std::lock_guard lock(m_mutex);
        m_holding = false;
    }
    m_released.notify_all();
    m_server->stop();
    m_thread.join();
}

QString LocalServer::host() const {
    return loopbackHost(m_port);
}

void LocalServer::setContentType(std::string contentType) {
    std::lock_guard lock(m_mutex);
    m_contentType = std::move(contentType);
}

void LocalServer::setByteInterval(int ms) {
    std::lock_guard lock(m_mutex);
    m_byteIntervalMs = ms;
}

void LocalServer::setReply(std::string body) {
    std::lock_guard lock(m_mutex);
    m_reply = std::move(body);
}

void LocalServer::holdReplies() {
    std::lock_guard lock(m_mutex);
    m_holding = true;
}

std::vector<RecordedRequest> LocalServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int closedPort() {
    const int fd = loopbackSocket();
    const int port = portOf(fd);
    ::close(fd);
    return port;
}

SilentListener::SilentListener() {
    m_listener = loopbackSocket();
    m_port = portOf(m_listener);
    require(::listen(m_listener, 16) == 0, "listen");
    m_thread = std::thread([this] {
        for (;;) {
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                return; // the listener was shut down
            }
            m_accepted.push_back(connection);
            ++m_connections;
        }
    });
}

SilentListener::~SilentListener() {
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
    for (const int fd : m_accepted) {
        ::close(fd);
    }
}

QString SilentListener::host() const {
    return loopbackHost(m_port);
}

FullBacklogListener::FullBacklogListener() {
    m_listener = loopbackSocket();
    m_port = portOf(m_listener);
    // A backlog of 0 takes one connection into the queue; the kernel drops the handshake of every one after it.
    require(::listen(m_listener, 0) == 0, "listen");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(m_port));
    const int first = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    require(::connect(first, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "connect");
    m_fillers.push_back(first);
    for (int i = 0; i < 2; ++i) {
        const int more = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(more, reinterpret_cast<sockaddr*>(&address), sizeof address);
        m_fillers.push_back(more);
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (const int fd : m_fillers) {
        ::close(fd);
    }
    ::close(m_listener);
}

} // namespace clavora::test
