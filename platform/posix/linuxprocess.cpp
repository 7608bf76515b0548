// Process-wide services on Linux.
#include "platform/posix/linuxprocess.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace clavora::platform {

namespace {

class LockFile : public IHeld {
public:
    explicit LockFile(int fd) : m_fd(fd) {}
    ~LockFile() override { ::close(m_fd); }

private:
    int m_fd;
};

constexpr std::array<int, 3> EndSignals = {SIGTERM, SIGINT, SIGHUP};

// The write end of the pipe of the one catcher in force; the signal handler may touch nothing else.
volatile sig_atomic_t endRequestPipe = -1;

void onEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (endRequestPipe >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(endRequestPipe, &byte, 1);
    }
    errno = saved;
}

class EndRequestCatcher : public IHeld {
public:
    EndRequestCatcher(int readEnd, int writeEnd, std::function<void()> handler)
        : m_readEnd(readEnd), m_writeEnd(writeEnd), m_notifier(readEnd, QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this, handler = std::move(handler)] {
            char bytes[16];
            while (::read(m_readEnd, bytes, sizeof bytes) > 0) {
            }
            handler();
        });
        endRequestPipe = m_writeEnd;
        struct sigaction action {};
        action.sa_handler = &onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < EndSignals.size(); ++i) {
            ::sigaction(EndSignals[i], &action, &m_previous[i]);
        }
    }
    ~EndRequestCatcher() override {
        for (size_t i = 0; i < EndSignals.size(); ++i) {
            ::sigaction(EndSignals[i], &m_previous[i], nullptr);
        }
        endRequestPipe = -1;
        ::close(m_readEnd);
        ::close(m_writeEnd);
    }

private:
    int m_readEnd;
    int m_writeEnd;
    QSocketNotifier m_notifier;
    std::array<struct sigaction, EndSignals.size()> m_previous{};
};

} // namespace

std::unique_ptr<IHeld> LinuxProcess::catchEndRequests(std::function<void()> handler) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    return std::make_unique<EndRequestCatcher>(ends[0], ends[1], std::move(handler));
}

std::unique_ptr<IHeld> LinuxProcess::createNamedMutex(const QString& name) {
    QString folder = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name + QLatin1String(".lock"));
    int fd = ::open(path.constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    // Shared: any number of instances may hold it, as with a mutex that is created but never waited on.
    ::flock(fd, LOCK_SH | LOCK_NB);
    return std::make_unique<LockFile>(fd);
}

} // namespace clavora::platform
