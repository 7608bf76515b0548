// The key map file: the written form, completion of the defaults, the start-up load and what a failed or refused
// write leaves behind.
#include "keymap/keymapfile.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"
#ifdef CLAVORA_PLATFORM_LINUX
#include "platform/posix/linuxfilesystem.h"
#endif

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cerrno>

using namespace clavora;
using clavora::test::readBytes;
using clavora::test::writeBytes;

namespace {

QByteArray defaultsWritten() {
    QByteArray bytes;
    for (const QString& line : DefaultBindings) {
        bytes += line.toUtf8() + "\r\n";
    }
    return bytes;
}

const QByteArray Bom("\xEF\xBB\xBF");

class KeyMapFileTest : public test::PlatformTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_root.file("data")));
        ASSERT_TRUE(QDir().mkpath(m_root.file("program")));
        m_data = m_root.file("data") + "/";
        m_program = m_root.file("program") + "/";
        m_keys = m_data + "keys.db";
        m_map = KeyMap::fromLines({"left over from an earlier load"});
    }

    // Loads the map at start-up and hands back its lines, unbound ones included.
    Status load(const QString& dataFolder, const QString& programFolder) {
        return KeyMapFile(m_services).load(dataFolder, programFolder, m_map);
    }
    QStringList loaded() const { return m_map.lines(); }

    QStringList readBack(const QString& path) {
        QStringList lines;
        EXPECT_TRUE(KeyMapFile(m_services).read(path, lines).ok());
        return lines;
    }

    QString m_data;
    QString m_program;
    QString m_keys;
    KeyMap m_map;
};

TEST(KeyMapText, DefaultBindingsAreTheTwelveFunctionKeys) {
    ASSERT_EQ(DefaultBindings.size(), 12);
    EXPECT_EQ(DefaultBindings.first(), QStringLiteral("F1|Sounds\\11.mp3"));
    EXPECT_EQ(DefaultBindings.at(9), QStringLiteral("F10|Sounds\\20.mp3"));
    EXPECT_EQ(DefaultBindings.last(), QStringLiteral("F12|Sounds\\22.mp3"));
}

// The program folder's keys.db that a new user starts with binds the function keys only: a letter bound there would
// play whenever the user types, in any program, as hotkey mode is on from the start.
TEST(KeyMapText, TheShippedSeedIsTheTwelveDefaultsInTheWrittenForm) {
    EXPECT_EQ(readBytes(QStringLiteral(CLAVORA_SEED_KEYS_DB)), encodeKeyMapText(DefaultBindings));
}

TEST(KeyMapText, WrittenFormIsUtf8WithBomAndCrLfAfterEveryLine) {
    EXPECT_EQ(encodeKeyMapText({}), Bom);
    EXPECT_EQ(encodeKeyMapText({"a|b", QStringLiteral("é|c"), "", "no bar"}),
              Bom + "a|b\r\n\xC3\xA9|c\r\n\r\nno bar\r\n");
}

TEST(KeyMapText, DefaultPresenceIsACaseInsensitivePrefixTest) {
    struct Case {
        const char* name;
        QStringList lines;
        QList<int> missing; // function key numbers
    };
    const QList<int> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const Case cases[] = {
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
    for (const Case& c : cases) {
        QStringList expected;
        for (int n : c.missing) {
            expected << DefaultBindings.at(n - 1);
        }
        EXPECT_EQ(missingDefaultBindings(c.lines), expected) << c.name;
    }
}

TEST_F(KeyMapFileTest, EmptyFileGetsTheTwelveDefaultsAsUtf8WithBom) {
    writeBytes(m_keys, QByteArray());
    ASSERT_TRUE(KeyMapFile(m_services).completeDefaultBindings(m_keys).ok());
    EXPECT_EQ(readBytes(m_keys), Bom + defaultsWritten());
}

TEST_F(KeyMapFileTest, CompleteFileIsNotRewrittenEvenInAnsi) {
    const QByteArray ansi = "caf\xE9|x.wav\r\nf12|a\nF11|\nf10|b\nF9|c\nf8|d\nF7|e\nf6|f\nF5|g\nf4|h\nF3|i\nf2|j\nF1|k";
    writeBytes(m_keys, ansi);
    ASSERT_TRUE(KeyMapFile(m_services).completeDefaultBindings(m_keys).ok());
    EXPECT_EQ(readBytes(m_keys), ansi);
    EXPECT_TRUE(m_files.writes.isEmpty());
}

TEST_F(KeyMapFileTest, AnsiFileLackingF5IsRewrittenAsUtf8WithItsLettersKept) {
    struct Case {
        int codePage;
        QByteArray accented;
        QByteArray utf8;
    };
    const Case cases[] = {{1252, "caf\xE9", "caf\xC3\xA9"}, {1251, "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8"}};
    for (const Case& c : cases) {
        m_locale.codePage = c.codePage;
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
        writeBytes(m_keys, ansi);
        ASSERT_TRUE(KeyMapFile(m_services).completeDefaultBindings(m_keys).ok());
        EXPECT_EQ(readBytes(m_keys), expected) << c.codePage;
    }
}

TEST_F(KeyMapFileTest, MissingFileIsCreatedWithTheDefaults) {
    ASSERT_TRUE(KeyMapFile(m_services).completeDefaultBindings(m_keys).ok());
    EXPECT_EQ(readBytes(m_keys), Bom + defaultsWritten());
}

TEST_F(KeyMapFileTest, UnreadableFileIsNeverOverwrittenWithDefaults) {
    writeBytes(m_keys, "q|mine.wav\r\n");
    m_files.unreadable.insert(m_keys);
    const Status status = KeyMapFile(m_services).completeDefaultBindings(m_keys);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(m_keys));
    EXPECT_TRUE(m_files.writes.isEmpty());
    EXPECT_EQ(readBytes(m_keys), "q|mine.wav\r\n");
}

TEST_F(KeyMapFileTest, LoadCompletesTheDataFolderFileAndKeepsEveryLine) {
    const QByteArray user = "a|b|c\r\n|empty key\r\nno bar\r\n\r\nq|one.wav\r\nq|two.wav\r\nF3|mine.wav";
    writeBytes(m_keys, user);
    writeBytes(m_program + "keys.db", "z|seed.wav\r\n");
    ASSERT_TRUE(load(m_data, m_program).ok());

    QStringList expected = {"a|b|c", "|empty key", "no bar", "", "q|one.wav", "q|two.wav", "F3|mine.wav"};
    for (const QString& line : DefaultBindings) {
        if (!line.startsWith("F3|")) {
            expected << line;
        }
    }
    EXPECT_EQ(loaded(), expected);
    EXPECT_EQ(readBytes(m_keys), encodeKeyMapText(expected));
    EXPECT_TRUE(m_files.copies.isEmpty());
}

TEST_F(KeyMapFileTest, SeedFromTheProgramFolderIsCopiedUnchangedWithoutCompletion) {
    const QByteArray seed = "caf\xE9|x.wav\r\nF1|one.mp3";
    writeBytes(m_program + "keys.db", seed);
    ASSERT_TRUE(load(m_data, m_program).ok());
    EXPECT_EQ(readBytes(m_keys), seed);
    EXPECT_EQ(loaded(), (QStringList{QStringLiteral("café|x.wav"), "F1|one.mp3"}));
    EXPECT_EQ(m_files.copies, QStringList{m_program + "keys.db -> " + m_keys});
    EXPECT_TRUE(m_files.writes.isEmpty());

    // The next start completes it.
    ASSERT_TRUE(load(m_data, m_program).ok());
    EXPECT_EQ(loaded().size(), 2 + 11);
    EXPECT_EQ(loaded().last(), DefaultBindings.last());
    EXPECT_EQ(m_files.copies.size(), 1);
}

TEST_F(KeyMapFileTest, SameFolderForDataAndProgramNeverCopies) {
    writeBytes(m_program + "keys.db", Bom + defaultsWritten());
    ASSERT_TRUE(load(m_program, m_program).ok());
    EXPECT_EQ(loaded(), DefaultBindings);
    EXPECT_TRUE(m_files.copies.isEmpty());
    EXPECT_TRUE(m_files.writes.isEmpty());
}

TEST_F(KeyMapFileTest, NoFileAnywhereCreatesAndLoadsTheDefaults) {
    ASSERT_TRUE(load(m_data, m_program).ok());
    EXPECT_EQ(loaded(), DefaultBindings);
    EXPECT_EQ(readBytes(m_keys), Bom + defaultsWritten());
}

TEST_F(KeyMapFileTest, StartUpGoesOnWhenNothingCanBeWritten) {
    // No file and a read-only data folder: the defaults still play for this run.
    m_files.readOnlyFolders.insert(m_root.file("data"));
    Status status = load(m_data, m_program);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(m_keys));
    EXPECT_EQ(loaded(), DefaultBindings);
    EXPECT_FALSE(QFile::exists(m_keys));

    // The seed cannot be copied: its bindings are used as they are.
    writeBytes(m_program + "keys.db", "z|seed.wav\r\n");
    status = load(m_data, m_program);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(loaded(), QStringList{"z|seed.wav"});
    EXPECT_FALSE(QFile::exists(m_keys));
}

TEST_F(KeyMapFileTest, FullDiskDuringCompletionLoadsTheFileAsItIs) {
    const QByteArray user = "caf\xE9|x.wav\r\nq|y.wav";
    writeBytes(m_keys, user);
    m_files.failingWrites.insert(m_keys);
    const Status status = load(m_data, m_program);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(m_keys));
    EXPECT_EQ(loaded(), (QStringList{QStringLiteral("café|x.wav"), "q|y.wav"}));
    EXPECT_EQ(readBytes(m_keys), user);
}

TEST_F(KeyMapFileTest, ReadOnlyKeysDbKeepsItsBytesAndTheErrorNamesThePath) {
    const QByteArray user = "q|y.wav\r\n";
    writeBytes(m_keys, user);
    ASSERT_TRUE(QFile::setPermissions(m_keys, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    const Status loadStatus = load(m_data, m_program);
    EXPECT_FALSE(loadStatus.ok());
    EXPECT_EQ(loaded(), QStringList{"q|y.wav"});

    m_map = KeyMap::fromLines(QStringList{"q|new.wav"});
    const Status saved = KeyMapFile(m_services).save(m_keys, m_map);
    EXPECT_FALSE(saved.ok());
    EXPECT_TRUE(saved.message().startsWith(QStringLiteral("Cannot create file \"%1\".").arg(m_keys)))
        << saved.message().toStdString();
    EXPECT_GT(saved.message().size(), QStringLiteral("Cannot create file \"%1\". ").arg(m_keys).size());
    EXPECT_EQ(readBytes(m_keys), user);
    EXPECT_EQ(loaded(), QStringList{"q|new.wav"});
}

TEST_F(KeyMapFileTest, SaveWritesTheWrittenFormOrKeepsTheOldFile) {
    m_map = KeyMap::fromLines(QStringList{"a|b|c", QStringLiteral("é|Sounds\\é.mp3"), "q|1", "q|1"});
    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, m_map).ok());
    EXPECT_EQ(readBytes(m_keys), Bom + "a|b|c\r\n\xC3\xA9|Sounds\\\xC3\xA9.mp3\r\nq|1\r\nq|1\r\n");
    EXPECT_EQ(readBack(m_keys), loaded());

    // A line break inside a path would split the binding in two when read back.
    const QByteArray before = readBytes(m_keys);
    m_map = KeyMap::fromLines(QStringList{"a|b", "q|/tmp/two\nlines.wav"});
    EXPECT_FALSE(KeyMapFile(m_services).save(m_keys, m_map).ok());
    EXPECT_EQ(readBytes(m_keys), before);
}

// On a real disk, a save that fails at its last step (the new bytes written, the rename not done) leaves the old
// file as it was and no temporary file beside it.
TEST_F(KeyMapFileTest, FailedSaveKeepsTheOldFile) {
#ifdef CLAVORA_PLATFORM_LINUX
    m_map = KeyMap::fromLines(QStringList{"q|old.wav"});
    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, m_map).ok());
    const QByteArray before = readBytes(m_keys);
    platform::LinuxFileSystem disk;
    int failures = 0;
    disk.setBeforeRenameHook([&](const QString&) {
        ++failures;
        return EIO;
    });
    const KeyMapFile onDisk(disk, m_locale);
    m_map = KeyMap::fromLines(QStringList{"x|new.wav"});
    const Status status = onDisk.save(m_keys, m_map);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message().contains(m_keys));
    EXPECT_EQ(readBytes(m_keys), before);
    EXPECT_EQ(QDir(m_data).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"keys.db"});

    disk.setBeforeRenameHook({});
    ASSERT_TRUE(onDisk.save(m_keys, m_map).ok());
    EXPECT_EQ(readBytes(m_keys), Bom + "x|new.wav\r\n");
#else
    GTEST_SKIP() << "needs the file system of a real system";
#endif
}

// Whatever bytes keys.db holds, start-up completes it and what it wrote reads back as exactly what was loaded.
TEST_F(KeyMapFileTest, BadBytesLoadWithoutHarmAndRoundTrip) {
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    QList<Case> cases;
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

    for (const Case& c : cases) {
        writeBytes(m_keys, c.bytes);
        ASSERT_TRUE(load(m_data, m_program).ok()) << c.name;
        EXPECT_TRUE(readBytes(m_keys).startsWith(Bom)) << c.name;
        EXPECT_EQ(readBack(m_keys), loaded()) << c.name;
        ASSERT_GE(loaded().size(), 12) << c.name;
        EXPECT_EQ(loaded().mid(loaded().size() - 12), DefaultBindings) << c.name;
    }
    EXPECT_EQ(loaded().first().size(), 2 + 1024 * 1024);
    EXPECT_TRUE(loaded().first().endsWith(QStringLiteral("éé")));
}

TEST_F(KeyMapFileTest, TenMegabyteFileLoadsWhole) {
    QByteArray bytes;
    bytes.reserve(10 * 1024 * 1024 + 64);
    int lines = 0;
    while (bytes.size() < 10 * 1024 * 1024) {
        bytes += "k" + QByteArray::number(lines++) + "|Sounds\\x.mp3\n";
    }
    writeBytes(m_keys, bytes);
    ASSERT_TRUE(load(m_data, m_program).ok());
    ASSERT_EQ(loaded().size(), lines + 12);
    EXPECT_EQ(loaded().at(lines - 1), QStringLiteral("k%1|Sounds\\x.mp3").arg(lines - 1));
    EXPECT_EQ(loaded().last(), DefaultBindings.last());
}

// The volumes beside keys.db: found again by key and path at the next load, whatever the key and the path hold.
TEST_F(KeyMapFileTest, VolumesGoBesideKeysDbAndComeBackByKeyAndPath) {
    const struct {
        QString key;
        QString path;
        int volume;
    } bindings[] = {
        {"a", "Sounds\\11.mp3", 50},
        {"a", "Sounds\\12.mp3", 100},
        {" ", "x=y;z.wav", 200},
        {"F5", "a|b [c].wav", 0},
        {"[", "]", 75},
        {"b", "Sounds\\11.mp3", 150},
        {"a", "Sounds\\11.mp3", 50}, // the same binding twice
    };
    KeyMap map;
    for (const auto& b : bindings) {
        map.appendRow(Binding{b.key, b.path, gainOfVolume(b.volume)});
    }
    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, map).ok());
    EXPECT_EQ(readBytes(m_keys), encodeKeyMapText(map.lines())) << "keys.db keeps its own form";
    ASSERT_TRUE(QFile::exists(m_data + "bindings.ini"));

    ASSERT_TRUE(load(m_data, m_program).ok());
    ASSERT_EQ(m_map.rowCount(), 7 + 11) << "the defaults but F5 are completed after the saved rows";
    for (qsizetype row = 0; row < 7; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(m_map.row(row).key, bindings[row].key);
        EXPECT_EQ(m_map.row(row).path, bindings[row].path);
        EXPECT_EQ(volumePercentOf(m_map.row(row).gain), bindings[row].volume);
    }
    EXPECT_EQ(m_map.row(7).gain, 1.0f);
}

// keys.db edited elsewhere: a volume whose binding has gone binds nothing, one that cannot be read is 100%, and the
// next save leaves out what binds nothing.
TEST_F(KeyMapFileTest, VolumesOfBindingsThatVanishedOrCannotBeReadAreIgnored) {
    writeBytes(m_keys, "q|q.wav\r\nw|w.wav\r\ne|e.wav\r\nr|r.wav\r\n");
    writeBytes(m_data + "bindings.ini", "[Binding1]\nKey=gone\nPath=q.wav\nVolume=50\n"
                                        "[Binding2]\nKey=q\nPath=elsewhere.wav\nVolume=50\n"
                                        "[Binding3]\nKey=w\nPath=w.wav\nVolume=loud\n"
                                        "[Binding4]\nKey=e\nPath=e.wav\nVolume=250\n"
                                        "[Binding5]\nKey=r\nVolume=30\n"
                                        "[Binding6]\nPath=r.wav\nVolume=30\n"
                                        "[Binding7]\nKey=e\nPath=e.wav\nVolume=-5\n"
                                        "[Binding8]\nKey=r\nPath=r.wav\nVolume=40\n");
    ASSERT_TRUE(load(m_data, m_program).ok());
    const float expected[] = {1.0f, 1.0f, 1.0f, 0.4f};
    for (qsizetype row = 0; row < 4; ++row) {
        SCOPED_TRACE(m_map.row(row).key.toStdString());
        EXPECT_FLOAT_EQ(m_map.row(row).gain, expected[row]);
    }

    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, m_map).ok());
    EXPECT_EQ(readBack(m_data + "bindings.ini"), QStringList({"[Binding1]", "Key=r", "Path=r.wav", "Volume=40", ""}));
}

TEST_F(KeyMapFileTest, VolumesAreWrittenOnlyWhenABindingHasOneOrTheFileExists) {
    KeyMap map = KeyMap::fromLines({"q|q.wav"});
    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, map).ok());
    EXPECT_FALSE(QFile::exists(m_data + "bindings.ini"));
    EXPECT_EQ(m_files.writes.size(), 1);

    map.setGain(0, 0.5f);
    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, map).ok());
    EXPECT_TRUE(readBytes(m_data + "bindings.ini").contains("Volume=50"));
    // Back to 100%: the file is emptied rather than left to say otherwise.
    map.setGain(0, 1.0f);
    ASSERT_TRUE(KeyMapFile(m_services).save(m_keys, map).ok());
    EXPECT_TRUE(readBack(m_data + "bindings.ini").isEmpty());

    // When the volumes cannot be written, keys.db is not either.
    map.replacePath(0, "new.wav");
    map.setGain(0, 0.25f);
    m_files.failingWrites.insert(m_data + "bindings.ini");
    const Status failed = KeyMapFile(m_services).save(m_keys, map);
    EXPECT_FALSE(failed.ok());
    EXPECT_TRUE(failed.message().contains(m_data + "bindings.ini")) << failed.message().toStdString();
    EXPECT_EQ(readBack(m_keys), QStringList{"q|q.wav"});
}

} // namespace
