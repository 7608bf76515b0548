// Process-wide services on Linux.
#include "platform/linux/linuxprocess.h"

#include <QDir>
#include <QFile>

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

} // namespace

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

template <> IProcess& defaultService<IProcess>() {
    static LinuxProcess service;
    return service;
}

} // namespace clavora::platform
