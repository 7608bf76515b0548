// The key map file: decoding and line rules, the written form, completion of the defaults, the start-up load and
// what a failed or refused write leaves behind.
#include "keymap/keymapfile.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakelocale.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/linux/linuxfilesystem.h"
#endif
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cerrno>

using namespace clavora;
using clavora::test::readBytes;
using clavora::test::writeBytes;

namespace {

QByteArray DefaultsWritten() {
    QByteArray bytes;
    for (const QString& line : DefaultBindings) {
        bytes += line.toUtf8() + "\r\n";
    }
    return bytes;
}

const QByteArray Bom("\xEF\xBB\xBF");

class KeyMapFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(FRoot.file("data")));
        ASSERT_TRUE(QDir().mkpath(FRoot.file("program")));
        FData = FRoot.file("data") + "/";
        FProgram = FRoot.file("program") + "/";
        FKeys = FData + "keys.db";
        KeyList = QStringList{"left over from an earlier load"};
    }
    void TearDown() override { KeyList.clear(); }

    QStringList readBack(const QString& path) {
        QStringList lines;
        EXPECT_TRUE(ReadKeyMapFile(path, lines).ok());
        return lines;
    }

    test::TempFolder FRoot;
    platform::FakeFileSystem FFs;
    platform::FakeLocale FLocale;
    platform::ScopedService<platform::IFileSystem> FUseFs{FFs};
    platform::ScopedService<platform::ILocale> FUseLocale{FLocale};
    QString FData;
    QString FProgram;
    QString FKeys;
};

TEST(KeyMapText, DefaultBindingsAreTheTwelveFunctionKeys) {
    ASSERT_EQ(DefaultBindings.size(), 12);
    EXPECT_EQ(DefaultBindings.first(), QStringLiteral("F1|Sounds\\11.mp3"));
    EXPECT_EQ(DefaultBindings.at(9), QStringLiteral("F10|Sounds\\20.mp3"));
    EXPECT_EQ(DefaultBindings.last(), QStringLiteral("F12|Sounds\\22.mp3"));
}

TEST(KeyMapText, SplitsAtTheFirstBar) {
    struct TCase {
        QString line;
        bool split;
        QString key;
        QString path;
    };
    const TCase cases[] = {
        {"a|b|c", true, "a", "b|c"},    {"|x.wav", true, "", "x.wav"},
        {"F5|", true, "F5", ""},        {"q|C:\\Sounds\\q.mp3", true, "q", "C:\\Sounds\\q.mp3"},
        {"no bar here", false, "", ""}, {"", false, "", ""},
    };
    for (const TCase& c : cases) {
        QString key;
        QString path;
        EXPECT_EQ(SplitBindingLine(c.line, key, path), c.split) << c.line.toStdString();
        EXPECT_EQ(key, c.key) << c.line.toStdString();
        EXPECT_EQ(path, c.path) << c.line.toStdString();
    }
}

TEST(KeyMapText, DecodesByTheReadingRules) {
    struct TCase {
        const char* name;
        QByteArray bytes;
        int codePage;
        QString text;
    };
    const QChar bad(QChar::ReplacementCharacter);
    const TCase cases[] = {
        {"UTF-8 with BOM",
         QByteArray("\xEF\xBB\xBF"
                    "caf\xC3\xA9|x"),
         1252, QStringLiteral("café|x")},
        {"UTF-8 without BOM", QByteArray("\xC3\xA9|\xF0\x9F\x8E\xB5"), 1252, QStringLiteral("é|🎵")},
        {"ANSI 1252", QByteArray("caf\xE9|x"), 1252, QStringLiteral("café|x")},
        {"ANSI 1251", QByteArray("\xCF\xF0\xE8|x"), 1251, QStringLiteral("При|x")},
        {"ANSI 1254", QByteArray("\xFE|x"), 1254, QStringLiteral("ş|x")},
        {"ANSI 932", QByteArray("\x82\xA0|x\x81"), 932, QStringLiteral("あ|x") + bad},
        {"ANSI 936", QByteArray("\xC4\xE3|x"), 936, QStringLiteral("你|x")},
        {"ANSI 949", QByteArray("\xB0\xA1|x"), 949, QStringLiteral("가|x")},
        {"ANSI 950", QByteArray("\xA4\xA4|x"), 950, QStringLiteral("中|x")},
        {"unknown page read as 1252", QByteArray("\xE9"), 4242, QStringLiteral("é")},
        {"overlong form is not UTF-8", QByteArray("\xC0\xAF"), 1252, QStringLiteral("À¯")},
        {"encoded surrogate is not UTF-8", QByteArray("\xED\xA0\x80"), 1252, QStringLiteral("í\u00A0€")},
        {"past U+10FFFF is not UTF-8", QByteArray("\xF4\x90\x80\x80"), 1252, QStringLiteral("ô\u0090€€")},
        {"cut sequence at the end", QByteArray("a\xC3"), 1252, QStringLiteral("aÃ")},
        {"bad UTF-8 after a UTF-8 BOM",
         QByteArray("\xEF\xBB\xBF"
                    "a\xFF"
                    "b"),
         1252, QStringLiteral("a") + bad + "b"},
        {"UTF-16 LE",
         QByteArray("\xFF\xFE"
                    "a\0|\0\xE9\0",
                    8),
         1252, QStringLiteral("a|é")},
        {"UTF-16 BE", QByteArray("\xFE\xFF\0a\0|\x4E\x2D", 8), 1252, QStringLiteral("a|中")},
        {"UTF-16 LE surrogate pair", QByteArray("\xFF\xFE\x3C\xD8\xB5\xDF", 6), 1252, QStringLiteral("🎵")},
        {"UTF-16 odd byte count",
         QByteArray("\xFF\xFE"
                    "a\0b",
                    5),
         1252, QStringLiteral("a") + bad},
        {"UTF-16 lone surrogate",
         QByteArray("\xFF\xFE\x3C\xD8"
                    "a\0",
                    6),
         1252, bad + QStringLiteral("a")},
        {"NUL bytes are text", QByteArray("a\0|b", 4), 1252, QString(QStringLiteral("a")) + QChar(0) + "|b"},
        {"BOM alone", QByteArray("\xEF\xBB\xBF"), 1252, QString()},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(DecodeKeyMapText(c.bytes, c.codePage), c.text) << c.name;
    }
}

TEST(KeyMapText, SplitsLinesAtCrLfLfOrCr) {
    struct TCase {
        QString text;
        QStringList lines;
    };
    const TCase cases[] = {
        {"", {}},
        {"a|1", {"a|1"}},
        {"a|1\r\nb|2\r\n", {"a|1", "b|2"}},
        {"a|1\rb|2\nc|3\r\nd|4", {"a|1", "b|2", "c|3", "d|4"}},
        {"\r\n", {""}},
        {"a\n\n", {"a", ""}},
        {"\n\r", {"", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(SplitTextLines(c.text), c.lines) << c.text.toStdString();
    }
}

TEST(KeyMapText, WrittenFormIsUtf8WithBomAndCrLfAfterEveryLine) {
    EXPECT_EQ(EncodeKeyMapText({}), Bom);
    EXPECT_EQ(EncodeKeyMapText({"a|b", QStringLiteral("é|c"), "", "no bar"}),
              Bom + "a|b\r\n\xC3\xA9|c\r\n\r\nno bar\r\n");
}

TEST(KeyMapText, DefaultPresenceIsACaseInsensitivePrefixTest) {
    struct TCase {
        const char* name;
        QStringList lines;
        QList<int> missing; // function key numbers
    };
    const QList<int> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const TCase cases[] = {
        {"nothing", {}, all},
        {"F10 to F12 do not stand for F1", {"F10|a", "F11|b", "F12|c"}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"F1 does not stand for F10", {"F1|a"}, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"lower-case f counts", {"f3|x.wav", "f12|y"}, {1, 2, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"empty path counts", {"F7|"}, {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12}},
        {"blank before the bar or the F", {"F5 |x.wav", " F6|y"}, all},
        {"no bar", {"F4", "F2x|"}, all},
        {"all twelve, any order and case",
         {"f12|a", "F11|", "f10|b", "F9|c", "f8|d", "F7|e", "f6|f", "F5|g", "f4|h", "F3|i", "f2|j", "F1|k"},
         {}},
    };
    for (const TCase& c : cases) {
        QStringList expected;
        for (int n : c.missing) {
            expected << DefaultBindings.at(n - 1);
        }
        EXPECT_EQ(MissingDefaultBindings(c.lines), expected) << c.name;
    }
}

TEST_F(KeyMapFileTest, EmptyFileGetsTheTwelveDefaultsAsUtf8WithBom) {
    writeBytes(FKeys, QByteArray());
    ASSERT_TRUE(CompleteDefaultBindings(FKeys).ok());
    EXPECT_EQ(readBytes(FKeys), Bom + DefaultsWritten());
}

TEST_F(KeyMapFileTest, CompleteFileIsNotRewrittenEvenInAnsi) {
    const QByteArray ansi = "caf\xE9|x.wav\r\nf12|a\nF11|\nf10|b\nF9|c\nf8|d\nF7|e\nf6|f\nF5|g\nf4|h\nF3|i\nf2|j\nF1|k";
    writeBytes(FKeys, ansi);
    ASSERT_TRUE(CompleteDefaultBindings(FKeys).ok());
    EXPECT_EQ(readBytes(FKeys), ansi);
    EXPECT_TRUE(FFs.writes.isEmpty());
}

TEST_F(KeyMapFileTest, AnsiFileLackingF5IsRewrittenAsUtf8WithItsLettersKept) {
    struct TCase {
        int codePage;
        QByteArray accented;
        QByteArray utf8;
    };
    const TCase cases[] = {{1252, "caf\xE9", "caf\xC3\xA9"}, {1251, "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8"}};
    for (const TCase& c : cases) {
        FLocale.codePage = c.codePage;
        QByteArray ansi;
        QByteArray expected = Bom;
        for (int n = 1; n <= 12; ++n) {
            if (n != 5) {
                ansi += "F" + QByteArray::number(n) + "|" + c.accented + ".mp3\r\n";
                expected += "F" + QByteArray::number(n) + "|" + c.utf8 + ".mp3\r\n";
            }
        }
        ansi += c.accented + "|last line without end";
        expected += c.utf8 + "|last line without end\r\n" + "F5|Sounds\\15.mp3\r\n";
        writeBytes(FKeys, ansi);
        ASSERT_TRUE(CompleteDefaultBindings(FKeys).ok());
        EXPECT_EQ(readBytes(FKeys), expected) << c.codePage;
    }
}

TEST_F(KeyMapFileTest, MissingFileIsCreatedWithTheDefaults) {
    ASSERT_TRUE(CompleteDefaultBindings(FKeys).ok());
    EXPECT_EQ(readBytes(FKeys), Bom + DefaultsWritten());
}

TEST_F(KeyMapFileTest, UnreadableFileIsNeverOverwrittenWithDefaults) {
    writeBytes(FKeys, "q|mine.wav\r\n");
    FFs.unreadable.insert(FKeys);
    const Status status = CompleteDefaultBindings(FKeys);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(FKeys));
    EXPECT_TRUE(FFs.writes.isEmpty());
    EXPECT_EQ(readBytes(FKeys), "q|mine.wav\r\n");
}

TEST_F(KeyMapFileTest, LoadCompletesTheDataFolderFileAndKeepsEveryLine) {
    const QByteArray user = "a|b|c\r\n|empty key\r\nno bar\r\n\r\nq|one.wav\r\nq|two.wav\r\nF3|mine.wav";
    writeBytes(FKeys, user);
    writeBytes(FProgram + "keys.db", "z|seed.wav\r\n");
    ASSERT_TRUE(LoadKeyMap(FData, FProgram).ok());

    QStringList expected = {"a|b|c", "|empty key", "no bar", "", "q|one.wav", "q|two.wav", "F3|mine.wav"};
    for (const QString& line : DefaultBindings) {
        if (!line.startsWith("F3|")) {
            expected << line;
        }
    }
    EXPECT_EQ(KeyList, expected);
    EXPECT_EQ(readBytes(FKeys), EncodeKeyMapText(expected));
    EXPECT_TRUE(FFs.copies.isEmpty());
}

TEST_F(KeyMapFileTest, SeedFromTheProgramFolderIsCopiedUnchangedWithoutCompletion) {
    const QByteArray seed = "caf\xE9|x.wav\r\nF1|one.mp3";
    writeBytes(FProgram + "keys.db", seed);
    ASSERT_TRUE(LoadKeyMap(FData, FProgram).ok());
    EXPECT_EQ(readBytes(FKeys), seed);
    EXPECT_EQ(KeyList, (QStringList{QStringLiteral("café|x.wav"), "F1|one.mp3"}));
    EXPECT_EQ(FFs.copies, QStringList{FProgram + "keys.db -> " + FKeys});
    EXPECT_TRUE(FFs.writes.isEmpty());

    // The next start completes it.
    ASSERT_TRUE(LoadKeyMap(FData, FProgram).ok());
    EXPECT_EQ(KeyList.size(), 2 + 11);
    EXPECT_EQ(KeyList.last(), DefaultBindings.last());
    EXPECT_EQ(FFs.copies.size(), 1);
}

TEST_F(KeyMapFileTest, SameFolderForDataAndProgramNeverCopies) {
    writeBytes(FProgram + "keys.db", Bom + DefaultsWritten());
    ASSERT_TRUE(LoadKeyMap(FProgram, FProgram).ok());
    EXPECT_EQ(KeyList, DefaultBindings);
    EXPECT_TRUE(FFs.copies.isEmpty());
    EXPECT_TRUE(FFs.writes.isEmpty());
}

TEST_F(KeyMapFileTest, NoFileAnywhereCreatesAndLoadsTheDefaults) {
    ASSERT_TRUE(LoadKeyMap(FData, FProgram).ok());
    EXPECT_EQ(KeyList, DefaultBindings);
    EXPECT_EQ(readBytes(FKeys), Bom + DefaultsWritten());
}

TEST_F(KeyMapFileTest, StartUpGoesOnWhenNothingCanBeWritten) {
    // No file and a read-only data folder: the defaults still play for this run.
    FFs.readOnlyFolders.insert(FRoot.file("data"));
    Status status = LoadKeyMap(FData, FProgram);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(FKeys));
    EXPECT_EQ(KeyList, DefaultBindings);
    EXPECT_FALSE(QFile::exists(FKeys));

    // The seed cannot be copied: its bindings are used as they are.
    writeBytes(FProgram + "keys.db", "z|seed.wav\r\n");
    status = LoadKeyMap(FData, FProgram);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(KeyList, QStringList{"z|seed.wav"});
    EXPECT_FALSE(QFile::exists(FKeys));
}

TEST_F(KeyMapFileTest, FullDiskDuringCompletionLoadsTheFileAsItIs) {
    const QByteArray user = "caf\xE9|x.wav\r\nq|y.wav";
    writeBytes(FKeys, user);
    FFs.failingWrites.insert(FKeys);
    const Status status = LoadKeyMap(FData, FProgram);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(FKeys));
    EXPECT_EQ(KeyList, (QStringList{QStringLiteral("café|x.wav"), "q|y.wav"}));
    EXPECT_EQ(readBytes(FKeys), user);
}

TEST_F(KeyMapFileTest, ReadOnlyKeysDbKeepsItsBytesAndTheErrorNamesThePath) {
    const QByteArray user = "q|y.wav\r\n";
    writeBytes(FKeys, user);
    ASSERT_TRUE(QFile::setPermissions(FKeys, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    const Status loaded = LoadKeyMap(FData, FProgram);
    EXPECT_FALSE(loaded.ok());
    EXPECT_EQ(KeyList, QStringList{"q|y.wav"});

    KeyList = QStringList{"q|new.wav"};
    const Status saved = SaveKeyMap(FKeys);
    EXPECT_FALSE(saved.ok());
    EXPECT_TRUE(saved.message().startsWith(QStringLiteral("Cannot create file \"%1\".").arg(FKeys)))
        << saved.message().toStdString();
    EXPECT_GT(saved.message().size(), QStringLiteral("Cannot create file \"%1\". ").arg(FKeys).size());
    EXPECT_EQ(readBytes(FKeys), user);
    EXPECT_EQ(KeyList, QStringList{"q|new.wav"});
}

TEST_F(KeyMapFileTest, SaveWritesTheWrittenFormOrKeepsTheOldFile) {
    KeyList = QStringList{"a|b|c", QStringLiteral("é|Sounds\\é.mp3"), "q|1", "q|1"};
    ASSERT_TRUE(SaveKeyMap(FKeys).ok());
    EXPECT_EQ(readBytes(FKeys), Bom + "a|b|c\r\n\xC3\xA9|Sounds\\\xC3\xA9.mp3\r\nq|1\r\nq|1\r\n");
    EXPECT_EQ(readBack(FKeys), KeyList);

    // A line break inside a path would split the binding in two when read back.
    const QByteArray before = readBytes(FKeys);
    KeyList = QStringList{"a|b", "q|/tmp/two\nlines.wav"};
    EXPECT_FALSE(SaveKeyMap(FKeys).ok());
    EXPECT_EQ(readBytes(FKeys), before);
}

// On a real disk, a save that fails at its last step (the new bytes written, the rename not done) leaves the old
// file as it was and no temporary file beside it.
TEST_F(KeyMapFileTest, FailedSaveKeepsTheOldFile) {
#ifdef CLAVORA_PLATFORM_LINUX
    KeyList = QStringList{"q|old.wav"};
    ASSERT_TRUE(SaveKeyMap(FKeys).ok());
    const QByteArray before = readBytes(FKeys);
    platform::LinuxFileSystem disk;
    int failures = 0;
    disk.setBeforeRenameHook([&](const QString&) {
        ++failures;
        return EIO;
    });
    platform::ScopedService<platform::IFileSystem> useDisk(disk);
    KeyList = QStringList{"x|new.wav"};
    const Status status = SaveKeyMap(FKeys);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(FKeys));
    EXPECT_EQ(readBytes(FKeys), before);
    EXPECT_EQ(QDir(FData).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"keys.db"});

    disk.setBeforeRenameHook({});
    ASSERT_TRUE(SaveKeyMap(FKeys).ok());
    EXPECT_EQ(readBytes(FKeys), Bom + "x|new.wav\r\n");
#else
    GTEST_SKIP() << "needs the file system of a real system";
#endif
}

// Whatever bytes keys.db holds, start-up completes it and what it wrote reads back as exactly what was loaded.
TEST_F(KeyMapFileTest, BadBytesLoadWithoutHarmAndRoundTrip) {
    struct TCase {
        const char* name;
        QByteArray bytes;
    };
    QList<TCase> cases;
    QRandomGenerator random(20261209);
    for (int i = 0; i < 4; ++i) {
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        cases.append({"random bytes", bytes});
    }
    QByteArray utf16 = "\xFF\xFE";
    utf16 += QByteArray(4097, 'x');
    cases.append({"random after a UTF-16 BOM, odd length", utf16 + cases.first().bytes.left(1001)});
    cases.append({"random after a UTF-8 BOM", Bom + cases.last().bytes});
    cases.append({"NUL bytes", QByteArray("a|\0\0b\0\r\n\0\0\0|\0", 13) + QByteArray(1000, '\0')});
    cases.append({"one 1 MB line in ANSI", "k|" + QByteArray(1024 * 1024, '\xE9')});

    for (const TCase& c : cases) {
        writeBytes(FKeys, c.bytes);
        ASSERT_TRUE(LoadKeyMap(FData, FProgram).ok()) << c.name;
        EXPECT_TRUE(readBytes(FKeys).startsWith(Bom)) << c.name;
        EXPECT_EQ(readBack(FKeys), KeyList) << c.name;
        ASSERT_GE(KeyList.size(), 12) << c.name;
        EXPECT_EQ(KeyList.mid(KeyList.size() - 12), DefaultBindings) << c.name;
    }
    EXPECT_EQ(KeyList.first().size(), 2 + 1024 * 1024);
    EXPECT_TRUE(KeyList.first().endsWith(QStringLiteral("éé")));
}

TEST_F(KeyMapFileTest, TenMegabyteFileLoadsWhole) {
    QByteArray bytes;
    bytes.reserve(10 * 1024 * 1024 + 64);
    int lines = 0;
    while (bytes.size() < 10 * 1024 * 1024) {
        bytes += "k" + QByteArray::number(lines++) + "|Sounds\\x.mp3\n";
    }
    writeBytes(FKeys, bytes);
    ASSERT_TRUE(LoadKeyMap(FData, FProgram).ok());
    ASSERT_EQ(KeyList.size(), lines + 12);
    EXPECT_EQ(KeyList.at(lines - 1), QStringLiteral("k%1|Sounds\\x.mp3").arg(lines - 1));
    EXPECT_EQ(KeyList.last(), DefaultBindings.last());
}

} // namespace
