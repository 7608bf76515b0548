// Reads the version information a program file carries: the identity strings (company, product, ...) and the
// numeric file version. Windows programs keep it as a resource; ours keeps the same binary block in an ELF section,
// so one reader serves both kinds of file.
#pragma once

#include "platform/filesystem.h"
#include "platform/status.h"

#include <QByteArrayView>
#include <QLoggingCategory>
#include <QString>
#include <QStringView>

#include <cerrno>
#include <optional>

namespace clavora {

Q_DECLARE_LOGGING_CATEGORY(lcVersionInfo)

// The string entries of a version resource, in their customary order. An entry the file does not carry stays empty.
struct VersionStrings {
    QString companyName;
    QString fileDescription;
    QString fileVersion;
    QString internalName;
    QString legalCopyright;
    QString legalTrademarks;
    QString originalFileName;
    QString productName;
    QString productVersion;
    QString comments;
    QString privateBuild;
    QString specialBuild;

    bool operator==(const VersionStrings&) const = default;
};

// System error codes reported by the reader besides the ones that come from opening and mapping the file (ENOENT,
// EACCES, EISDIR...).
inline constexpr int VersionErrorNoResource = ENODATA;   // the file carries no version information
inline constexpr int VersionErrorDamaged = EBADMSG;      // the block is there but not well formed
inline constexpr int VersionErrorNoTranslation = ENOMSG; // the block has no translation table

// Fills Data from the version information of FileName. Only the first language/code-page pair of the translation
// table is used; entries kept under any other translation are not found. On failure Data is left exactly as it was
// and the status message names the file, the system's reason and its code; the code alone is stored in
// *SystemError when given. Blocks only for reading the file; safe on any input, however damaged.
Status readVersionStrings(platform::IFileSystem& files, const QString& fileName, VersionStrings& data,
                          int* systemError = nullptr);

// The most significant word of the fixed file version of FileName: Major is its high 16 bits, Minor its low 16 bits.
// False, leaving both alone, when the file has no readable fixed version.
bool readFixedFileVersion(platform::IFileSystem& files, const QString& fileName, int& major, int& minor);

// The same readers over a file image already in memory (the whole file's bytes).
Status readVersionStringsFromImage(QByteArrayView image, VersionStrings& data, int* systemError = nullptr);
bool readFixedFileVersionFromImage(QByteArrayView image, int& major, int& minor);

// The raw version block inside a program image: the ".vsinfo" section of a little-endian ELF file, or the first
// version resource (type 16, first name, first language) of a PE file. Empty when there is none.
QByteArrayView findVersionBlock(QByteArrayView image);

// Look-ups inside one version block, with the system's rules: a path such as "\StringFileInfo\040904B0\CompanyName"
// names one child per level, keys compare without regard to ASCII letter case, empty levels (a doubled or trailing
// backslash) are skipped, and "\" alone is the root's own value (the fixed file information).
class VersionBlock {
public:
    explicit VersionBlock(QByteArrayView block);

    // False when the block does not start with a well-formed "VS_VERSION_INFO" node; every query then fails.
    bool valid() const { return m_valid; }

    struct Value {
        QByteArrayView bytes; // never reaches past the node that holds it
        bool text = false;    // a UTF-16 string rather than binary data
    };
    std::optional<Value> query(QStringView path) const;

    // The string value at Path, up to its terminator or the end of its node; nullopt when there is no such node.
    std::optional<QString> queryString(QStringView path) const;

private:
    QByteArrayView m_block;
    bool m_valid = false;
};

} // namespace clavora
