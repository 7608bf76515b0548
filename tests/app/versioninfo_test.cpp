// Tests of the version information reader: Windows program files made by the resource compiler, files without
// version information, the program's own embedded block, and damaged or truncated input.
#include "app/versioninfo.h"
#include "tests/support/testsupport.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/posix/linuxfilesystem.h"
#else
#include "platform/fake/fakefilesystem.h"
#endif
#include "tools/versionblock.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <elf.h>
#include <sys/stat.h>

namespace clavora {

// Readable failure output for record comparisons.
void PrintTo(const VersionStrings& d, std::ostream* os) {
    const QStringList parts = {d.companyName,    d.fileDescription, d.fileVersion,      d.internalName,
                               d.legalCopyright, d.legalTrademarks, d.originalFileName, d.productName,
                               d.productVersion, d.comments,        d.privateBuild,     d.specialBuild};
    *os << "{" << parts.join(QStringLiteral(" | ")).toStdString() << "}";
}

namespace {

// The files are read as the program reads its own: through the system's file system.
platform::IFileSystem& disk() {
#ifdef CLAVORA_PLATFORM_LINUX
    static platform::LinuxFileSystem files;
#else
    static platform::FakeFileSystem files;
#endif
    return files;
}

namespace vb = versionblock;
using test::TempFolder;

QString Fixture(const char* name) {
    return test::sourceDir() + QStringLiteral("/tests/data/app/") + name;
}

// What the caller had in the record before a failed read; it must come back unchanged.
VersionStrings Sentinel() {
    VersionStrings d;
    d.companyName = QStringLiteral("keep company");
    d.productName = QStringLiteral("keep product");
    d.comments = QStringLiteral("keep comments");
    return d;
}

// The entries of the resource-compiler fixtures (tools/make-version-fixtures.sh).
VersionStrings FixtureEntries(bool withComments) {
    VersionStrings d;
    d.companyName = QStringLiteral("Fixture Company");
    d.fileDescription = QStringLiteral("Fixture description");
    d.fileVersion = QStringLiteral("3.14.15.92");
    d.internalName = QStringLiteral("fixture");
    d.legalCopyright = QStringLiteral("Copyright \u00A9 2026 Fixture Company");
    d.legalTrademarks = QStringLiteral("Fixture\u2122 is a trademark");
    d.originalFileName = QStringLiteral("fixture.exe");
    d.productName = QStringLiteral("Fixture Product");
    d.productVersion = QStringLiteral("3.14");
    d.comments = withComments ? QStringLiteral("Fixture comments") : QString();
    d.privateBuild = QStringLiteral("private build 7");
    d.specialBuild = QStringLiteral("special build 9");
    return d;
}

// ---- Images made in code ----------------------------------------------------------------------------------------

std::vector<vb::Node> AllTwelveStrings() {
    const char16_t* names[] = {u"CompanyName",    u"FileDescription", u"FileVersion",      u"InternalName",
                               u"LegalCopyright", u"LegalTrademarks", u"OriginalFilename", u"ProductName",
                               u"ProductVersion", u"Comments",        u"PrivateBuild",     u"SpecialBuild"};
    std::vector<vb::Node> strings;
    for (const char16_t* name : names) {
        strings.push_back(vb::textNode(name, std::u16string(u"value of ") + name));
    }
    return strings;
}

VersionStrings AllTwelveExpected() {
    VersionStrings d;
    d.companyName = QStringLiteral("value of CompanyName");
    d.fileDescription = QStringLiteral("value of FileDescription");
    d.fileVersion = QStringLiteral("value of FileVersion");
    d.internalName = QStringLiteral("value of InternalName");
    d.legalCopyright = QStringLiteral("value of LegalCopyright");
    d.legalTrademarks = QStringLiteral("value of LegalTrademarks");
    d.originalFileName = QStringLiteral("value of OriginalFilename");
    d.productName = QStringLiteral("value of ProductName");
    d.productVersion = QStringLiteral("value of ProductVersion");
    d.comments = QStringLiteral("value of Comments");
    d.privateBuild = QStringLiteral("value of PrivateBuild");
    d.specialBuild = QStringLiteral("value of SpecialBuild");
    return d;
}

vb::VersionQuad Quad(quint16 a, quint16 b, quint16 c, quint16 d) {
    vb::VersionQuad q;
    q.part[0] = a;
    q.part[1] = b;
    q.part[2] = c;
    q.part[3] = d;
    return q;
}

QByteArray Bytes(const vb::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

QByteArray StandardBlock(std::vector<vb::Node> strings = AllTwelveStrings()) {
    return Bytes(vb::serialize(
        vb::versionInfo(Quad(7, 42, 1, 0), Quad(7, 42, 0, 0), u"040904B0", 0x0409, 1200, std::move(strings))));
}

// Start of the node whose key is Key (the first one), for patching its header.
qsizetype NodeOffset(const QByteArray& block, QStringView key) {
    QByteArray pattern;
    for (QChar c : key) {
        pattern.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    }
    pattern.append('\0').append('\0');
    const qsizetype at = block.indexOf(pattern);
    EXPECT_GE(at, 6) << key.toString().toStdString();
    return at - 6;
}

void PatchU16(QByteArray& bytes, qsizetype offset, quint16 value) {
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}

void PatchU32(QByteArray& bytes, qsizetype offset, quint32 value) {
    PatchU16(bytes, offset, quint16(value & 0xFFFF));
    PatchU16(bytes, offset + 2, quint16(value >> 16));
}

static_assert(std::endian::native == std::endian::little, "the ELF images below are written in host order");

// A minimal little-endian ELF file: the null section, the section Name holding Payload, and the name table.
template <typename Ehdr, typename Shdr>
QByteArray MakeElfOf(unsigned char elfClass, quint16 machine, const QByteArray& name, const QByteArray& payload) {
    const QByteArray names = QByteArray("\0.shstrtab\0", 11) + name + QByteArray(1, '\0');
    const qsizetype payloadAt = 0x100;
    const qsizetype namesAt = payloadAt + payload.size();
    const qsizetype headersAt = (namesAt + names.size() + 7) & ~qsizetype(7);

    Ehdr eh{};
    std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
    eh.e_ident[EI_CLASS] = elfClass;
    eh.e_ident[EI_DATA] = ELFDATA2LSB;
    eh.e_ident[EI_VERSION] = EV_CURRENT;
    eh.e_type = ET_EXEC;
    eh.e_machine = machine;
    eh.e_version = EV_CURRENT;
    eh.e_shoff = decltype(eh.e_shoff)(headersAt);
    eh.e_ehsize = sizeof(Ehdr);
    eh.e_shentsize = sizeof(Shdr);
    eh.e_shnum = 3;
    eh.e_shstrndx = 2;

    Shdr sections[3]{};
    sections[1].sh_name = 11;
    sections[1].sh_type = SHT_PROGBITS;
    sections[1].sh_flags = SHF_ALLOC;
    sections[1].sh_offset = decltype(sections[1].sh_offset)(payloadAt);
    sections[1].sh_size = decltype(sections[1].sh_size)(payload.size());
    sections[1].sh_addralign = 4;
    sections[2].sh_name = 1;
    sections[2].sh_type = SHT_STRTAB;
    sections[2].sh_offset = decltype(sections[2].sh_offset)(namesAt);
    sections[2].sh_size = decltype(sections[2].sh_size)(names.size());

    QByteArray image(headersAt + qsizetype(sizeof(sections)), '\0');
    std::memcpy(image.data(), &eh, sizeof(eh));
    std::memcpy(image.data() + payloadAt, payload.constData(), size_t(payload.size()));
    std::memcpy(image.data() + namesAt, names.constData(), size_t(names.size()));
    std::memcpy(image.data() + headersAt, sections, sizeof(sections));
    return image;
}

QByteArray MakeElf64(const QByteArray& payload, const QByteArray& name = ".vsinfo") {
    return MakeElfOf<Elf64_Ehdr, Elf64_Shdr>(ELFCLASS64, EM_X86_64, name, payload);
}

QByteArray MakeElf32(const QByteArray& payload, const QByteArray& name = ".vsinfo") {
    return MakeElfOf<Elf32_Ehdr, Elf32_Shdr>(ELFCLASS32, EM_386, name, payload);
}

struct Outcome {
    bool ok = false;
    int code = 0;
    VersionStrings data;
};

Outcome ReadImage(const QByteArray& image) {
    Outcome out;
    out.data = Sentinel();
    const Status status = readVersionStringsFromImage(image, out.data, &out.code);
    out.ok = status.ok();
    if (out.ok) {
        out.code = 0;
    }
    return out;
}

// ---- Files ------------------------------------------------------------------------------------------------------

TEST(VersionInfoFiles, ReadsTheEntriesOfWindowsProgramFiles) {
    struct Case {
        const char* file;
        VersionStrings expected;
    };
    const Case cases[] = {
        {"full.exe", FixtureEntries(true)},        // 64-bit, translation 0409/04B0, all twelve entries
        {"full32.exe", FixtureEntries(true)},      // the same as a 32-bit program
        {"nocomments.exe", FixtureEntries(false)}, // Comments missing: stays empty, the rest is read
        {"othertranslation.exe", {}},              // strings only under a translation the table does not name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        VersionStrings data;
        int code = -1;
        const Status status = readVersionStrings(disk(), Fixture(c.file), data, &code);
        ASSERT_TRUE(status.ok()) << status.message().toStdString();
        EXPECT_EQ(data, c.expected);

        int major = 0, minor = 0;
        ASSERT_TRUE(readFixedFileVersion(disk(), Fixture(c.file), major, minor));
        EXPECT_EQ(major, 3);
        EXPECT_EQ(minor, 14);
    }
}

TEST(VersionInfoFiles, FailsWithTheSystemErrorAndLeavesTheRecordAlone) {
    TempFolder temp;
    test::writeBytes(temp.file("empty"), QByteArray());
    ASSERT_EQ(::mkfifo(QFile::encodeName(temp.file("fifo")).constData(), 0600), 0);

    struct Case {
        QString file;
        int code;
    };
    const Case cases[] = {
        {temp.file("missing.exe"), ENOENT},
        {temp.path(), EISDIR},
        {temp.file("empty"), VersionErrorNoResource},
        {temp.file("fifo"), VersionErrorNoResource}, // refused at once, never waits for a writer
        {Fixture("plain.txt"), VersionErrorNoResource},
        {Fixture("noresources.exe"), VersionErrorNoResource},
        {Fixture("noversion.exe"), VersionErrorNoResource},                // resources, but none of the version type
        {QCoreApplication::applicationFilePath(), VersionErrorNoResource}, // an ELF program without the section
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        VersionStrings data = Sentinel();
        int code = 0;
        const Status status = readVersionStrings(disk(), c.file, data, &code);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(data, Sentinel());
        EXPECT_TRUE(status.message().contains(c.file)) << status.message().toStdString();
        EXPECT_TRUE(status.message().contains(QString::number(c.code))) << status.message().toStdString();

        int major = 11, minor = 22;
        EXPECT_FALSE(readFixedFileVersion(disk(), c.file, major, minor));
        EXPECT_EQ(major, 11);
        EXPECT_EQ(minor, 22);
    }
}

TEST(VersionInfoFiles, UnreadableFileReportsPermissionDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    TempFolder temp;
    const QString file = temp.file("locked.exe");
    ASSERT_TRUE(QFile::copy(Fixture("full.exe"), file));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0), 0);
    VersionStrings data = Sentinel();
    int code = 0;
    EXPECT_FALSE(readVersionStrings(disk(), file, data, &code).ok());
    EXPECT_EQ(code, EACCES);
    EXPECT_EQ(data, Sentinel());
}

// ---- The program's own file -------------------------------------------------------------------------------------

QString ProgramFile() {
    return test::programDir() + QStringLiteral("/clavora");
}

void ExpectClavoraIdentity(const QString& file) {
    VersionStrings data;
    const Status status = readVersionStrings(disk(), file, data);
    ASSERT_TRUE(status.ok()) << status.message().toStdString();
    EXPECT_EQ(data.companyName, QStringLiteral("Zemtrak"));
    EXPECT_EQ(data.productName, QStringLiteral("Clavora"));
    EXPECT_EQ(data.internalName, QStringLiteral("clavora"));
    EXPECT_EQ(data.originalFileName, QStringLiteral("clavora"));
    EXPECT_TRUE(
        data.fileVersion.startsWith(QStringLiteral("%1.%2.").arg(CLAVORA_VERSION_MAJOR).arg(CLAVORA_VERSION_MINOR)))
        << data.fileVersion.toStdString();
    EXPECT_TRUE(data.legalCopyright.contains(QStringLiteral("Zemtrak")));
    EXPECT_FALSE(data.fileDescription.isEmpty());
    EXPECT_FALSE(data.productVersion.isEmpty());

    int major = -1, minor = -1;
    ASSERT_TRUE(readFixedFileVersion(disk(), file, major, minor));
    EXPECT_EQ(major, CLAVORA_VERSION_MAJOR);
    EXPECT_EQ(minor, CLAVORA_VERSION_MINOR);
}

TEST(VersionInfoProgram, CarriesItsOwnIdentityAndVersion) {
    ExpectClavoraIdentity(ProgramFile());
}

TEST(VersionInfoProgram, KeepsItThroughStripping) {
    const QString strip = QStandardPaths::findExecutable(QStringLiteral("strip"));
    if (strip.isEmpty()) {
        GTEST_SKIP() << "no strip tool";
    }
    TempFolder temp;
    const QString copy = temp.file("clavora");
    ASSERT_TRUE(QFile::copy(ProgramFile(), copy));
    QProcess process;
    process.start(strip, {QStringLiteral("--strip-all"), copy});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    ExpectClavoraIdentity(copy);
}

// ---- Look-ups inside a block ------------------------------------------------------------------------------------

TEST(VersionBlock, LooksUpPathsLikeTheSystemDoes) {
    const QByteArray raw = StandardBlock();
    const VersionBlock block(raw);
    ASSERT_TRUE(block.valid());

    const auto fixed = block.query(u"\\");
    ASSERT_TRUE(fixed.has_value());
    EXPECT_EQ(fixed->bytes.size(), 52);
    EXPECT_FALSE(fixed->text);

    const auto translation = block.query(u"\\VarFileInfo\\Translation\\"); // trailing backslash tolerated
    ASSERT_TRUE(translation.has_value());
    EXPECT_EQ(translation->bytes, QByteArrayView("\x09\x04\xB0\x04", 4));

    EXPECT_EQ(block.queryString(u"\\stringfileinfo\\040904b0\\COMPANYNAME"), QStringLiteral("value of CompanyName"));
    EXPECT_EQ(block.queryString(u"\\StringFileInfo\\\\040904B0\\Comments"), QStringLiteral("value of Comments"));
    EXPECT_FALSE(block.query(u"\\StringFileInfo\\040904B0\\Missing").has_value());
    EXPECT_FALSE(block.query(u"\\StringFileInfo\\040704E4\\CompanyName").has_value());
    EXPECT_FALSE(block.query(u"\\StringFileInfo\\040904B0\\CompanyName\\Deeper").has_value());
}

TEST(VersionInfoImages, ReadsTheSectionOfBothElfClasses) {
    for (const QByteArray& image : {MakeElf64(StandardBlock()), MakeElf32(StandardBlock())}) {
        const Outcome out = ReadImage(image);
        ASSERT_TRUE(out.ok) << out.code;
        EXPECT_EQ(out.data, AllTwelveExpected());
        int major = 0, minor = 0;
        ASSERT_TRUE(readFixedFileVersionFromImage(image, major, minor));
        EXPECT_EQ(major, 7);
        EXPECT_EQ(minor, 42);
    }
}

// ---- Damaged input ----------------------------------------------------------------------------------------------

TEST(VersionInfoImages, DamagedElfHeadersMeanNoVersionInformation) {
    const QByteArray good = MakeElf64(StandardBlock());
    const qsizetype shoff = qsizetype(offsetof(Elf64_Ehdr, e_shoff));
    const qsizetype headers = good.size() - 3 * qsizetype(sizeof(Elf64_Shdr));
    const qsizetype section1 = headers + qsizetype(sizeof(Elf64_Shdr));
    const qsizetype section2 = section1 + qsizetype(sizeof(Elf64_Shdr));

    struct Case {
        const char* what;
        std::function<void(QByteArray&)> damage;
    };
    const Case cases[] = {
        {"big-endian", [](QByteArray& b) { b[EI_DATA] = char(ELFDATA2MSB); }},
        {"unknown class", [](QByteArray& b) { b[EI_CLASS] = char(7); }},
        {"headers past the end", [&](QByteArray& b) { PatchU32(b, shoff, quint32(b.size()) + 8); }},
        {"headers at the very end", [&](QByteArray& b) { PatchU32(b, shoff, quint32(b.size())); }},
        {"header entries too small",
         [](QByteArray& b) { PatchU16(b, offsetof(Elf64_Ehdr, e_shentsize), sizeof(Elf64_Shdr) - 1); }},
        {"name table index out of range", [](QByteArray& b) { PatchU16(b, offsetof(Elf64_Ehdr, e_shstrndx), 3); }},
        {"name offset out of range",
         [&](QByteArray& b) { PatchU32(b, section1 + offsetof(Elf64_Shdr, sh_name), 0xFFFFFFF0u); }},
        {"section data past the end",
         [&](QByteArray& b) { PatchU32(b, section1 + offsetof(Elf64_Shdr, sh_size), quint32(b.size())); }},
        {"section offset wraps around",
         [&](QByteArray& b) {
             PatchU32(b, section1 + offsetof(Elf64_Shdr, sh_offset), 0xFFFFFFFFu);
             PatchU32(b, section1 + offsetof(Elf64_Shdr, sh_offset) + 4, 0xFFFFFFFFu);
         }},
        {"section without file data",
         [&](QByteArray& b) { PatchU32(b, section1 + offsetof(Elf64_Shdr, sh_type), SHT_NOBITS); }},
        {"name table past the end",
         [&](QByteArray& b) { PatchU32(b, section2 + offsetof(Elf64_Shdr, sh_offset), quint32(b.size())); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray image = good;
        c.damage(image);
        const Outcome out = ReadImage(image);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.code, VersionErrorNoResource);
        EXPECT_EQ(out.data, Sentinel());
    }

    // A section name that merely starts like ours is a different section.
    EXPECT_EQ(ReadImage(MakeElf64(StandardBlock(), ".vsinfo2")).code, VersionErrorNoResource);

    // Very many sections: the count lives in section header 0; the reader follows it.
    QByteArray extended = good;
    PatchU16(extended, offsetof(Elf64_Ehdr, e_shnum), 0);
    PatchU32(extended, headers + offsetof(Elf64_Shdr, sh_size), 3);
    EXPECT_TRUE(ReadImage(extended).ok);
    // A count far larger than the file holds is cut to the headers that are really there.
    QByteArray overcounted = good;
    PatchU16(overcounted, offsetof(Elf64_Ehdr, e_shnum), 0xFFFF);
    EXPECT_TRUE(ReadImage(overcounted).ok);
}

TEST(VersionInfoImages, DamagedBlocksNeverReadPastTheirNodes) {
    // A string whose length claims far more than its node holds, and which has no terminator: read to its node's end.
    vb::Node unterminated = vb::textNode(u"CompanyName", u"Zemtrak");
    unterminated.value.resize(unterminated.value.size() - 2);
    unterminated.valueLength = 0xFFFF;
    std::vector<vb::Node> strings = {unterminated, vb::textNode(u"ProductName", u"Clavora")};
    Outcome out = ReadImage(MakeElf64(StandardBlock(strings)));
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.data.companyName, QStringLiteral("Zemtrak"));
    EXPECT_EQ(out.data.productName, QStringLiteral("Clavora"));

    struct Case {
        const char* what;
        std::function<void(QByteArray&)> damage;
        int code;                // 0: the read succeeds
        VersionStrings expected; // on success
    };
    const VersionStrings onlyTranslationFound = Sentinel(); // strings unreachable, the read still succeeds
    VersionStrings companyOnly = Sentinel();
    companyOnly.companyName = QStringLiteral("value of CompanyName");
    const Case cases[] = {
        {"string node of length zero", [](QByteArray& b) { PatchU16(b, NodeOffset(b, u"CompanyName"), 0); }, 0,
         onlyTranslationFound},
        {"string node longer than its table", [](QByteArray& b) { PatchU16(b, NodeOffset(b, u"CompanyName"), 0xFFF0); },
         0, companyOnly},
        {"string table node shorter than a header", [](QByteArray& b) { PatchU16(b, NodeOffset(b, u"040904B0"), 5); },
         0, onlyTranslationFound},
        {"root shorter than a header", [](QByteArray& b) { PatchU16(b, 0, 4); }, VersionErrorDamaged, {}},
        {"root key is not the version key", [](QByteArray& b) { b[6] = 'W'; }, VersionErrorDamaged, {}},
        {"root key without terminator", [](QByteArray& b) { b.truncate(20); }, VersionErrorDamaged, {}},
        {"translation of two bytes",
         [](QByteArray& b) { PatchU16(b, NodeOffset(b, u"Translation") + 2, 2); },
         VersionErrorNoTranslation,
         {}},
        {"translation key renamed",
         [](QByteArray& b) { b[NodeOffset(b, u"Translation") + 6] = 'X'; },
         VersionErrorNoTranslation,
         {}},
        {"translation node of length zero",
         [](QByteArray& b) { PatchU16(b, NodeOffset(b, u"VarFileInfo"), 0); },
         VersionErrorNoTranslation,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray block = StandardBlock();
        c.damage(block);
        // Copied into a buffer of its own size, so the sanitizer build catches any read past it.
        out = ReadImage(MakeElf64(block));
        EXPECT_EQ(out.code, c.code);
        EXPECT_EQ(out.data, c.code == 0 ? c.expected : Sentinel());
    }
}

TEST(VersionInfoImages, DamagedResourceDirectoriesMeanNoVersionInformation) {
    const QByteArray good = test::readBytes(Fixture("full.exe"));
    // The layout the fixture script produces: the resource section's file data starts at 0x200, with one type
    // entry, one name entry, one language entry and then the data entry at 0x48.
    constexpr qsizetype Rsrc = 0x200;
    ASSERT_GT(good.size(), Rsrc + 0x50);
    ASSERT_EQ(quint8(good[Rsrc + 16]), 16); // the type entry names the version type

    struct Case {
        const char* what;
        std::function<void(QByteArray&)> damage;
    };
    const Case cases[] = {
        {"type directory points at itself", [](QByteArray& b) { PatchU32(b, Rsrc + 20, 0x80000000u); }},
        {"directory offset past the section", [](QByteArray& b) { PatchU32(b, Rsrc + 20, 0x8000FFF0u); }},
        {"no version type among huge entry counts",
         [](QByteArray& b) {
             PatchU32(b, Rsrc + 16, 3);
             PatchU16(b, Rsrc + 12, 0xFFFF);
             PatchU16(b, Rsrc + 14, 0xFFFF);
         }},
        {"data outside every section", [](QByteArray& b) { PatchU32(b, Rsrc + 0x48, 0xFFFFFFF0u); }},
        {"no PE signature", [](QByteArray& b) { b[qsizetype(quint8(b[0x3C])) + 1] = 'X'; }},
        {"header offset past the end", [](QByteArray& b) { PatchU32(b, 0x3C, 0xFFFFFFF0u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray image = good;
        c.damage(image);
        const Outcome out = ReadImage(image);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.data, Sentinel());
    }

    // A data size larger than the section is cut to the section: the block is still complete.
    QByteArray oversized = good;
    PatchU32(oversized, Rsrc + 0x4C, 0xFFFFFFFFu);
    EXPECT_EQ(ReadImage(oversized).data, FixtureEntries(true));
}

// Each field read from a damaged image is either missing or (when its text was cut) a prefix of the real value.
void ExpectPlausible(const Outcome& out, const VersionStrings& full) {
    if (!out.ok) {
        EXPECT_TRUE(out.code == VersionErrorNoResource || out.code == VersionErrorDamaged ||
                    out.code == VersionErrorNoTranslation)
            << out.code;
        EXPECT_EQ(out.data, Sentinel());
        return;
    }
    const QString VersionStrings::*fields[] = {
        &VersionStrings::companyName,      &VersionStrings::fileDescription, &VersionStrings::fileVersion,
        &VersionStrings::internalName,     &VersionStrings::legalCopyright,  &VersionStrings::legalTrademarks,
        &VersionStrings::originalFileName, &VersionStrings::productName,     &VersionStrings::productVersion,
        &VersionStrings::privateBuild,     &VersionStrings::specialBuild};
    const VersionStrings before = Sentinel();
    for (auto field : fields) {
        const QString& got = out.data.*field;
        EXPECT_TRUE(got == before.*field || (full.*field).startsWith(got)) << got.toStdString();
    }
}

TEST(VersionInfoImages, EveryTruncationIsSafe) {
    struct Case {
        const char* what;
        QByteArray image;
        VersionStrings full;
    };
    const Case cases[] = {
        {"ELF64", MakeElf64(StandardBlock()), AllTwelveExpected()},
        {"ELF32", MakeElf32(StandardBlock()), AllTwelveExpected()},
        {"PE32+", test::readBytes(Fixture("full.exe")), FixtureEntries(true)},
        {"PE32", test::readBytes(Fixture("full32.exe")), FixtureEntries(true)},
        {"bare block", StandardBlock(), AllTwelveExpected()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (qsizetype length = 0; length <= c.image.size(); ++length) {
            const QByteArray cut(c.image.constData(), length); // its own allocation, so over-reads are caught
            ExpectPlausible(ReadImage(cut), c.full);
            int major = 0, minor = 0;
            readFixedFileVersionFromImage(cut, major, minor);
            // The block alone also goes through the look-ups directly.
            const VersionBlock block(cut);
            (void)block.queryString(u"\\StringFileInfo\\040904B0\\SpecialBuild");
        }
        EXPECT_TRUE(ReadImage(c.image).ok || QByteArrayView(c.what) == "bare block");
    }
}

TEST(VersionInfoImages, RandomDamageIsSafe) {
    const QByteArray images[] = {MakeElf64(StandardBlock()), test::readBytes(Fixture("full.exe"))};
    QRandomGenerator random(20261209); // fixed, so a failure can be replayed
    for (int round = 0; round < 4000; ++round) {
        QByteArray image = images[round % 2];
        const int changes = 1 + int(random.bounded(8));
        for (int i = 0; i < changes; ++i) {
            image[qsizetype(random.bounded(quint32(image.size())))] = char(random.bounded(256));
        }
        const Outcome out = ReadImage(image);
        if (!out.ok) {
            EXPECT_EQ(out.data, Sentinel()) << "round " << round;
            EXPECT_NE(out.code, 0) << "round " << round;
        }
        int major = 0, minor = 0;
        readFixedFileVersionFromImage(image, major, minor);
    }
}

} // namespace
} // namespace clavora
