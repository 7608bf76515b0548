// What the fuzz targets share: a check that stops the run with a report when a property fails, and file and folder
// services held in memory, so a target can feed its bytes through the program's own start-up steps without a disk.
#pragma once

#include "platform/fake/fakeservices.h"
#include "platform/filesystem.h"
#include "platform/foldersearch.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QString>
#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace clavora::fuzz {

// Reports the failed property and aborts, which both libFuzzer and the corpus test count as a failure.
[[noreturn]] void failCheck(const char* condition, const char* file, int line);

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            ::clavora::fuzz::failCheck(#condition, __FILE__, __LINE__);                                                \
        }                                                                                                              \
    } while (false)

// Silences Qt's message output: the modules log what they refuse, and a fuzzer refuses millions of inputs. Call
// once per process.
void quietQtMessages();

// The program's view of files, all in memory. The program file is /program/clavora; the per-user folders are
// /config and /state. Folders exist once created or once a file is put below them.
class MemoryFileSystem : public platform::IFileSystem {
public:
    QString programFilePath() override { return QStringLiteral("/program/clavora"); }
    QString programFolder() override { return QStringLiteral("/program"); }
    QString userConfigFolder() override { return QStringLiteral("/config"); }
    QString userStateFolder() override { return QStringLiteral("/state"); }
    bool createAndRemoveExclusive(const QString& path) override;
    bool createFolder(const QString& path) override;
    platform::FileKind fileKind(const QString& path) override;
    // A file in memory has its size and never changes.
    bool fileIdentity(const QString& path, platform::FileIdentity& identity) override {
        const auto it = files.constFind(path);
        if (it == files.constEnd()) {
            return false;
        }
        identity = {it->size(), 0};
        return true;
    }
    bool copyFileNoOverwrite(const QString& source, const QString& target) override;
    Status readFile(const QString& path, QByteArray& contents, qint64 maxBytes = platform::MaxReadBytes) override;
    Status writeFileReplacing(const QString& path, const QByteArray& contents) override;
    bool removeFile(const QString& path) override;
    platform::FileMapping mapFile(const QString&) override { return {nullptr, ENOSYS}; }
    platform::OpenedFile openForReading(const QString&) override { return {nullptr, ENOSYS}; }

    // Puts a file in place, creating its folders.
    void put(const QString& path, const QByteArray& contents);

    QHash<QString, QByteArray> files;
    QSet<QString> folders;
};

// Folder listings over a MemoryFileSystem.
class MemoryFolderSearch : public platform::IFolderSearch {
public:
    explicit MemoryFolderSearch(const MemoryFileSystem& files) : m_files(files) {}
    bool folderExists(const QString& path) override;
    Status findEntries(const QString& folder, const QString& pattern, QList<platform::FolderEntry>& entries) override;

private:
    const MemoryFileSystem& m_files;
};

// The services of a target that reads its files from memory: the memory file system and its folder listings, the
// locale the target sets up, fakes for the rest.
struct MemoryServices {
    explicit MemoryServices(platform::ILocale& locale)
        : services(fakes.services().withParts([&](platform::Services::Parts& parts) {
              parts.fileSystem = &files;
              parts.folderSearch = &folders;
              parts.locale = &locale;
          })) {}

    MemoryFileSystem files;
    MemoryFolderSearch folders{files};
    platform::FakeServices fakes;
    std::unique_ptr<platform::Services> services;
};

// Hands out the fuzzer's bytes in pieces: a few leading bytes that pick among choices, then the rest.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    // The next byte, or 0 when none is left.
    uint8_t takeByte();
    // Everything not taken yet.
    QByteArrayView rest() const;

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_taken = 0;
};

} // namespace clavora::fuzz
