// Reads the version information a program file carries: the identity strings and the numeric file version.
//
// Everything here reads untrusted bytes: every length and offset is checked against what is really there before it
// is used, arithmetic is done in 64 bits so nothing wraps, and every loop advances by at least one node, so no file,
// however damaged, makes the reader crash, read out of bounds or hang.
#include "app/versioninfo.h"

#include <QFile>

#include <cstddef>
#include <cstring>
#include <elf.h>

namespace clavora {

Q_LOGGING_CATEGORY(lcVersionInfo, "clavora.versioninfo", QtInfoMsg)

namespace {

// The ELF section that carries our own block.
constexpr char VersionSection[] = ".vsinfo";

// Bounds-checked little-endian reads over an image. Out-of-range reads report failure instead of touching memory.
class Reader {
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    quint64 size() const { return quint64(m_bytes.size()); }
    bool has(quint64 offset, quint64 length) const { return offset <= size() && length <= size() - offset; }

    bool u8(quint64 offset, quint8& value) const { return readLE(offset, 1, value); }
    bool u16(quint64 offset, quint16& value) const { return readLE(offset, 2, value); }
    bool u32(quint64 offset, quint32& value) const { return readLE(offset, 4, value); }
    bool u64(quint64 offset, quint64& value) const { return readLE(offset, 8, value); }

    QByteArrayView slice(quint64 offset, quint64 length) const {
        if (!has(offset, length)) {
            return {};
        }
        return m_bytes.sliced(qsizetype(offset), qsizetype(length));
    }

private:
    template <typename T> bool readLE(quint64 offset, unsigned width, T& value) const {
        if (!has(offset, width)) {
            return false;
        }
        quint64 v = 0;
        for (unsigned i = 0; i < width; ++i) {
            v |= quint64(quint8(m_bytes[qsizetype(offset + i)])) << (8 * i);
        }
        value = T(v);
        return true;
    }

    QByteArrayView m_bytes;
};

quint64 alignUp4(quint64 offset) {
    return (offset + 3) & ~quint64(3);
}

// ---- ELF ------------------------------------------------------------------------------------------------------

// Field offsets and widths of the two ELF classes, taken from <elf.h> so they cannot drift.
struct ElfLayout {
    quint64 shoff, shentsize, shnum, shstrndx;
    unsigned offWidth; // width of addresses and offsets: 4 or 8
    quint64 shdrSize, shName, shType, shOffset, shSize, shLink;
};

#define CLAVORA_ELF_LAYOUT(Ehdr, Shdr, width)                                                                          \
    ElfLayout {                                                                                                        \
        offsetof(Ehdr, e_shoff), offsetof(Ehdr, e_shentsize), offsetof(Ehdr, e_shnum), offsetof(Ehdr, e_shstrndx),     \
            width, sizeof(Shdr), offsetof(Shdr, sh_name), offsetof(Shdr, sh_type), offsetof(Shdr, sh_offset),          \
            offsetof(Shdr, sh_size), offsetof(Shdr, sh_link)                                                           \
    }

constexpr ElfLayout Elf32Layout = CLAVORA_ELF_LAYOUT(Elf32_Ehdr, Elf32_Shdr, 4);
constexpr ElfLayout Elf64Layout = CLAVORA_ELF_LAYOUT(Elf64_Ehdr, Elf64_Shdr, 8);
#undef CLAVORA_ELF_LAYOUT

bool readWord(const Reader& r, quint64 offset, unsigned width, quint64& value) {
    if (width == 4) {
        quint32 v = 0;
        if (!r.u32(offset, v)) {
            return false;
        }
        value = v;
        return true;
    }
    return r.u64(offset, value);
}

QByteArrayView findElfSection(QByteArrayView image) {
    const Reader r(image);
    quint8 elfClass = 0, elfData = 0;
    if (!r.u8(EI_CLASS, elfClass) || !r.u8(EI_DATA, elfData) || elfData != ELFDATA2LSB) {
        return {};
    }
    if (elfClass != ELFCLASS32 && elfClass != ELFCLASS64) {
        return {};
    }
    const ElfLayout& l = elfClass == ELFCLASS64 ? Elf64Layout : Elf32Layout;
    quint64 shoff = 0;
    quint16 shentsize = 0, shnum16 = 0, shstrndx16 = 0;
    if (!readWord(r, l.shoff, l.offWidth, shoff) || !r.u16(l.shentsize, shentsize) || !r.u16(l.shnum, shnum16) ||
        !r.u16(l.shstrndx, shstrndx16)) {
        return {};
    }
    if (shoff == 0 || shentsize < l.shdrSize || !r.has(shoff, shentsize)) {
        return {};
    }
    // Files with very many sections keep the real count and string-table index in section header 0.
    quint64 shnum = shnum16;
    quint64 shstrndx = shstrndx16;
    if (shnum == 0) {
        if (!readWord(r, shoff + l.shSize, l.offWidth, shnum)) {
            return {};
        }
    }
    if (shstrndx == SHN_XINDEX) {
        quint32 link = 0;
        if (!r.u32(shoff + l.shLink, link)) {
            return {};
        }
        shstrndx = link;
    }
    // Only headers that lie wholly inside the file count; a count claiming more is cut to what fits.
    shnum = qMin(shnum, (r.size() - shoff) / shentsize);
    if (shstrndx >= shnum) {
        return {};
    }

    auto sectionRange = [&](quint64 index, quint64& offset, quint64& size) {
        const quint64 header = shoff + index * shentsize;
        quint32 type = 0;
        if (!r.u32(header + l.shType, type) || type == SHT_NOBITS) {
            return false;
        }
        return readWord(r, header + l.shOffset, l.offWidth, offset) &&
               readWord(r, header + l.shSize, l.offWidth, size) && r.has(offset, size);
    };
    quint64 namesOffset = 0, namesSize = 0;
    if (!sectionRange(shstrndx, namesOffset, namesSize)) {
        return {};
    }
    const QByteArrayView names = r.slice(namesOffset, namesSize);
    const QByteArrayView wanted(VersionSection, qsizetype(sizeof(VersionSection))); // with its terminator

    for (quint64 i = 1; i < shnum; ++i) {
        quint32 nameOffset = 0;
        if (!r.u32(shoff + i * shentsize + l.shName, nameOffset) || nameOffset >= quint64(names.size())) {
            continue;
        }
        if (names.sliced(nameOffset).startsWith(wanted)) {
            quint64 offset = 0, size = 0;
            if (sectionRange(i, offset, size)) {
                return r.slice(offset, size);
            }
        }
    }
    return {};
}

// ---- PE -------------------------------------------------------------------------------------------------------

constexpr quint32 ResourceTypeVersion = 16; // RT_VERSION
constexpr quint32 ResourceSubdirectory = 0x80000000;
constexpr quint64 SectionHeaderSize = 40;

class PeImage {
public:
    explicit PeImage(QByteArrayView image) : m_reader(image) {}

    QByteArrayView versionResource() {
        if (!parseHeaders()) {
            return {};
        }
        quint64 rsrc = 0, rsrcSize = 0;
        if (m_resourceRva == 0 || !mapRva(m_resourceRva, rsrc, rsrcSize)) {
            return {};
        }
        const Reader dir(m_reader.slice(rsrc, rsrcSize));
        // Three fixed levels: type, name, language. Each step only descends, so a directory that points back at
        // itself cannot make this loop.
        quint32 entry = 0;
        if (!findEntry(dir, 0, true, entry) || !(entry & ResourceSubdirectory)) {
            return {};
        }
        if (!findEntry(dir, entry & ~ResourceSubdirectory, false, entry) || !(entry & ResourceSubdirectory)) {
            return {};
        }
        if (!findEntry(dir, entry & ~ResourceSubdirectory, false, entry) || (entry & ResourceSubdirectory)) {
            return {};
        }
        quint32 dataRva = 0, dataSize = 0;
        if (!dir.u32(entry, dataRva) || !dir.u32(entry + 4, dataSize)) {
            return {};
        }
        quint64 offset = 0, available = 0;
        if (!mapRva(dataRva, offset, available)) {
            return {};
        }
        return m_reader.slice(offset, qMin<quint64>(dataSize, available));
    }

private:
    bool parseHeaders() {
        quint32 peOffset = 0, signature = 0;
        if (!m_reader.u32(0x3C, peOffset) || !m_reader.u32(peOffset, signature) || signature != 0x00004550) {
            return false;
        }
        const quint64 coff = quint64(peOffset) + 4;
        quint16 sectionCount = 0, optionalSize = 0, magic = 0;
        if (!m_reader.u16(coff + 2, sectionCount) || !m_reader.u16(coff + 16, optionalSize)) {
            return false;
        }
        const quint64 optional = coff + 20;
        if (!m_reader.u16(optional, magic)) {
            return false;
        }
        quint64 countField = 0, directories = 0;
        if (magic == 0x10B) { // PE32
            countField = optional + 92;
            directories = optional + 96;
        } else if (magic == 0x20B) { // PE32+
            countField = optional + 108;
            directories = optional + 112;
        } else {
            return false;
        }
        quint32 directoryCount = 0;
        constexpr quint32 ResourceDirectory = 2;
        const quint64 resourceEntry = directories + ResourceDirectory * 8;
        if (!m_reader.u32(countField, directoryCount) || directoryCount <= ResourceDirectory ||
            resourceEntry + 8 > optional + optionalSize || !m_reader.u32(resourceEntry, m_resourceRva)) {
            return false;
        }
        m_sections = optional + optionalSize;
        m_sectionCount = qMin<quint64>(
            sectionCount, m_reader.has(m_sections, 0) ? (m_reader.size() - m_sections) / SectionHeaderSize : 0);
        return true;
    }

    // File offset of Rva and how many bytes of the section's file data follow it.
    bool mapRva(quint64 rva, quint64& offset, quint64& available) const {
        for (quint64 i = 0; i < m_sectionCount; ++i) {
            const quint64 header = m_sections + i * SectionHeaderSize;
            quint32 address = 0, rawSize = 0, rawPointer = 0;
            if (!m_reader.u32(header + 12, address) || !m_reader.u32(header + 16, rawSize) ||
                !m_reader.u32(header + 20, rawPointer)) {
                return false;
            }
            if (rva < address || rva - address >= rawSize) {
                continue;
            }
            offset = quint64(rawPointer) + (rva - address);
            if (!m_reader.has(offset, 0)) {
                return false;
            }
            available = qMin<quint64>(rawSize - (rva - address), m_reader.size() - offset);
            return true;
        }
        return false;
    }

    // The entry of the directory at DirOffset: the one with the version type id (ByType), else simply the first.
    static bool findEntry(const Reader& dir, quint64 dirOffset, bool byType, quint32& target) {
        quint16 named = 0, ids = 0;
        if (!dir.u16(dirOffset + 12, named) || !dir.u16(dirOffset + 14, ids)) {
            return false;
        }
        const quint64 count = quint64(named) + ids;
        for (quint64 i = 0; i < count; ++i) {
            const quint64 entry = dirOffset + 16 + i * 8;
            quint32 name = 0;
            if (!dir.u32(entry, name) || !dir.u32(entry + 4, target)) {
                return false;
            }
            if (!byType || name == ResourceTypeVersion) {
                return true;
            }
        }
        return false;
    }

    Reader m_reader;
    quint32 m_resourceRva = 0;
    quint64 m_sections = 0;
    quint64 m_sectionCount = 0;
};

// ---- Version block nodes --------------------------------------------------------------------------------------

// One node of a version block: [length][value length][type][key\0][pad][value][pad][children...]. All offsets are
// relative to the block start, which the format keeps on a 32-bit boundary.
struct Node {
    quint64 start = 0;
    quint64 end = 0; // one past the node, never past its parent
    quint64 keyStart = 0;
    quint64 keyUnits = 0; // UTF-16 units, without the terminator
    quint64 valueStart = 0;
    quint64 valueEnd = 0;
    quint64 childrenStart = 0;
    bool text = false;
};

bool parseNode(const Reader& r, quint64 start, quint64 limit, Node& node) {
    quint16 length = 0, valueLength = 0, type = 0;
    if (start + 6 > limit || !r.u16(start, length) || !r.u16(start + 2, valueLength) || !r.u16(start + 4, type)) {
        return false;
    }
    if (length < 6) {
        return false;
    }
    node.start = start;
    node.end = qMin<quint64>(start + length, limit);
    node.keyStart = start + 6;
    quint64 pos = node.keyStart;
    for (;;) {
        quint16 c = 0;
        if (pos + 2 > node.end || !r.u16(pos, c)) {
            return false; // a key must end inside its node
        }
        pos += 2;
        if (c == 0) {
            break;
        }
    }
    node.keyUnits = (pos - 2 - node.keyStart) / 2;
    node.text = type == 1;
    const quint64 valueBytes = node.text ? quint64(valueLength) * 2 : valueLength;
    node.valueStart = qMin(alignUp4(pos), node.end);
    node.valueEnd = qMin(node.valueStart + valueBytes, node.end);
    node.childrenStart = qMin(alignUp4(node.valueStart + valueBytes), node.end);
    return true;
}

// Keys compare without regard to letter case, as the system's look-up does. No allocation: this runs for every
// node on the way to every entry.
char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

bool keyEquals(const Reader& r, const Node& node, QStringView key) {
    if (node.keyUnits != quint64(key.size())) {
        return false;
    }
    for (qsizetype i = 0; i < key.size(); ++i) {
        quint16 c = 0;
        r.u16(node.keyStart + 2 * quint64(i), c);
        const char16_t k = key[i].unicode();
        if (c == k) {
            continue;
        }
        if (c < 0x80 && k < 0x80 ? asciiLower(c) != asciiLower(k)
                                 : QChar(c).toCaseFolded() != QChar(k).toCaseFolded()) {
            return false;
        }
    }
    return true;
}

bool findChild(const Reader& r, const Node& parent, QStringView key, Node& child) {
    quint64 pos = parent.childrenStart;
    while (pos + 6 <= parent.end) {
        if (!parseNode(r, pos, parent.end, child)) {
            return false;
        }
        if (keyEquals(r, child, key)) {
            return true;
        }
        pos = alignUp4(child.end); // a node is at least 6 bytes long, so this always moves on
    }
    return false;
}

QString decodeUtf16(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = char16_t(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8));
        if (c == 0) {
            break;
        }
        text.append(QChar(c));
    }
    return text;
}

// ---- Files ----------------------------------------------------------------------------------------------------

QString systemMessage(int code) {
    switch (code) {
    case VersionErrorNoResource:
        return QStringLiteral("The file has no version resource");
    case VersionErrorDamaged:
        return QStringLiteral("The version resource of the file is damaged");
    case VersionErrorNoTranslation:
        return QStringLiteral("The version resource has no translation table");
    default:
        return QString::fromLocal8Bit(std::strerror(code));
    }
}

Status failure(const QString& fileName, int code, int* systemError) {
    if (systemError != nullptr) {
        *systemError = code;
    }
    const QString message = fileName.isEmpty()
                                ? QStringLiteral("Cannot read the version information: %1 (system error %2).")
                                      .arg(systemMessage(code), QString::number(code))
                                : QStringLiteral("Cannot read the version information of \"%1\": %2 (system error %3).")
                                      .arg(fileName, systemMessage(code), QString::number(code));
    qCDebug(lcVersionInfo).noquote() << message;
    return Status::failure(message);
}

Status readStrings(QByteArrayView image, const QString& fileName, VersionStrings& data, int* systemError) {
    const QByteArrayView raw = findVersionBlock(image);
    if (raw.isEmpty()) {
        return failure(fileName, VersionErrorNoResource, systemError);
    }
    const VersionBlock block(raw);
    if (!block.valid()) {
        return failure(fileName, VersionErrorDamaged, systemError);
    }
    const auto translation = block.query(u"\\VarFileInfo\\Translation\\");
    if (!translation || translation->bytes.size() < 4) {
        return failure(fileName, VersionErrorNoTranslation, systemError);
    }
    const Reader t(translation->bytes);
    quint16 language = 0, codePage = 0;
    t.u16(0, language);
    t.u16(2, codePage);
    // Language then code page, four upper-case hex digits each: 0x0409 and 1200 give "040904B0".
    const QString key =
        QStringLiteral("%1%2").arg(language, 4, 16, QLatin1Char('0')).arg(codePage, 4, 16, QLatin1Char('0')).toUpper();
    const QString prefix = QStringLiteral("\\StringFileInfo\\") + key + QLatin1Char('\\');

    const std::pair<const char*, QString VersionStrings::*> fields[] = {
        {"CompanyName", &VersionStrings::companyName},           {"FileDescription", &VersionStrings::fileDescription},
        {"FileVersion", &VersionStrings::fileVersion},           {"InternalName", &VersionStrings::internalName},
        {"LegalCopyright", &VersionStrings::legalCopyright},     {"LegalTrademarks", &VersionStrings::legalTrademarks},
        {"OriginalFileName", &VersionStrings::originalFileName}, {"ProductName", &VersionStrings::productName},
        {"ProductVersion", &VersionStrings::productVersion},     {"Comments", &VersionStrings::comments},
        {"PrivateBuild", &VersionStrings::privateBuild},         {"SpecialBuild", &VersionStrings::specialBuild},
    };
    for (const auto& [name, field] : fields) {
        if (auto value = block.queryString(QString(prefix + QLatin1String(name)))) {
            data.*field = *value;
        }
    }
    return Status::success();
}

bool readFixed(QByteArrayView image, int& major, int& minor) {
    const VersionBlock block(findVersionBlock(image));
    const auto fixed = block.query(u"\\");
    constexpr quint32 FixedInfoSignature = 0xFEEF04BD;
    quint32 signature = 0, versionMS = 0;
    if (!fixed) {
        return false;
    }
    const Reader r(fixed->bytes);
    if (!r.u32(0, signature) || signature != FixedInfoSignature || !r.u32(8, versionMS)) {
        return false;
    }
    major = int(versionMS >> 16);
    minor = int(versionMS & 0xFFFF);
    return true;
}

} // namespace

VersionBlock::VersionBlock(QByteArrayView block) : m_block(block) {
    Node root;
    const Reader r(m_block);
    m_valid = parseNode(r, 0, r.size(), root) && keyEquals(r, root, u"VS_VERSION_INFO");
}

std::optional<VersionBlock::Value> VersionBlock::query(QStringView path) const {
    if (!m_valid) {
        return std::nullopt;
    }
    const Reader r(m_block);
    Node node;
    parseNode(r, 0, r.size(), node);
    for (QStringView part : path.tokenize(u'\\', Qt::SkipEmptyParts)) {
        Node child;
        if (!findChild(r, node, part, child)) {
            return std::nullopt;
        }
        node = child;
    }
    return Value{r.slice(node.valueStart, node.valueEnd - node.valueStart), node.text};
}

std::optional<QString> VersionBlock::queryString(QStringView path) const {
    const auto value = query(path);
    if (!value) {
        return std::nullopt;
    }
    return decodeUtf16(value->bytes);
}

QByteArrayView findVersionBlock(QByteArrayView image) {
    if (image.startsWith(QByteArrayView(ELFMAG, SELFMAG))) {
        return findElfSection(image);
    }
    if (image.startsWith("MZ")) {
        return PeImage(image).versionResource();
    }
    return {};
}

Status readVersionStringsFromImage(QByteArrayView image, VersionStrings& data, int* systemError) {
    return readStrings(image, QString(), data, systemError);
}

bool readFixedFileVersionFromImage(QByteArrayView image, int& major, int& minor) {
    return readFixed(image, major, minor);
}

Status readVersionStrings(platform::IFileSystem& files, const QString& fileName, VersionStrings& data,
                          int* systemError) {
    // Mapped rather than read: program files can be large and only a few pages of them are looked at.
    const platform::FileMapping mapped = files.mapFile(fileName);
    if (!mapped.file) {
        // Whatever is not a regular file carries no version information.
        const int error = mapped.error == platform::FileMapping::NotRegularFile ? VersionErrorNoResource : mapped.error;
        return failure(fileName, error, systemError);
    }
    return readStrings(mapped.file->bytes(), fileName, data, systemError);
}

bool readFixedFileVersion(platform::IFileSystem& files, const QString& fileName, int& major, int& minor) {
    const platform::FileMapping mapped = files.mapFile(fileName);
    return mapped.file && readFixed(mapped.file->bytes(), major, minor);
}

} // namespace clavora
