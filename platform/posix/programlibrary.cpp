// The program's body as a shared library beside the executable.
#include "platform/posix/programlibrary.h"

#include <QFile>

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace clavora::platform {

namespace {

// The running executable's folder, with a trailing "/"; empty when the system does not say.
QByteArray executableFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return {};
    }
    const QByteArray file(path, length);
    return file.left(file.lastIndexOf('/') + 1);
}

} // namespace

int runProgramLibrary(const QString& fileName, int argc, char** argv, QString& error) {
    const QByteArray folder = executableFolder();
    if (folder.isEmpty()) {
        error = QStringLiteral("The program's folder is not known.");
        return -1;
    }
    const QByteArray path = folder + QFile::encodeName(fileName);
    // Loaded for the life of the process: the program's threads and its exit handlers run from it to the end.
    void* library = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        error = QStringLiteral("The program cannot be loaded: %1").arg(QString::fromLocal8Bit(::dlerror()));
        return -1;
    }
    using Entry = int (*)(int, char**);
    const auto entry = reinterpret_cast<Entry>(::dlsym(library, ProgramLibraryEntry));
    if (entry == nullptr) {
        error = QStringLiteral("%1 has no entry point.").arg(QFile::decodeName(path));
        return -1;
    }
    return entry(argc, argv);
}

} // namespace clavora::platform
