// Runs a fuzz target over its stored corpus, built with the ordinary compiler, so every input that once found a
// fault is tried again by the test suite. Arguments: files or folders (searched recursively). Fails when an argument
// holds no input at all; a fault in the target aborts the run.
#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

QStringList inputsOf(const QString& argument) {
    if (!QFileInfo(argument).isDir()) {
        return {argument};
    }
    QStringList inputs;
    QDirIterator it(argument, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        inputs.append(it.next());
    }
    inputs.sort();
    return inputs;
}

} // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const QString& path : inputsOf(QString::fromLocal8Bit(argv[i]))) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 1;
            }
            const QByteArray bytes = file.readAll();
            std::printf("%s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                   static_cast<size_t>(bytes.size()));
            ++count;
        }
    }
    std::printf("%d inputs\n", count);
    return count > 0 ? 0 : 1;
}
