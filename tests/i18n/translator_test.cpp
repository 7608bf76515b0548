// Choosing, reading and using a language file: the code table, the file search, the line rules of the lookup and
// what happens when a file cannot be used.
#include "tests/i18n/i18ntestsupport.h"

#include "platform/foldersearch.h"

#include <QFile>

#include <cctype>
#include <thread>

namespace clavora::test {
namespace {

const QByteArray GermanFile = "{OK}Gut\n{Yes}Ja\n";

TEST_F(LanguageFixture, WithoutLanguagesFolderEverythingStaysEnglish) {
    EXPECT_TRUE(m_translator.loadLanguage(QString()).ok());

    EXPECT_EQ(m_translator.languagesFolder(), m_program.file(QStringLiteral("Languages")));
    EXPECT_TRUE(m_translator.languageFiles().isEmpty());
    EXPECT_TRUE(m_translator.currentLanguage().isEmpty());
    EXPECT_TRUE(m_translator.currentLanguageFile().isEmpty());
    EXPECT_EQ(m_translator.translate(QStringLiteral("OK")), QStringLiteral("OK"));
}

TEST_F(LanguageFixture, ListsLanguageFilesWithLetterCaseIgnoredAndSkipsFolders) {
    for (const char* name : {"German.lang.txt", "french.Lang.Txt", "Pirate.LANG.TXT", ".hidden.lang.txt", "lang.txt",
                             "notes.txt", "German.lang.txt.bak", "Germanlang.txt"}) {
        writeLanguageFile(QString::fromLatin1(name), GermanFile);
    }
    QDir().mkpath(languages() + QStringLiteral("/Folder.lang.txt"));

    m_translator.loadLanguage(QString());

    EXPECT_EQ(m_translator.languageFiles(), (QStringList{".hidden.lang.txt", "french.Lang.Txt", "German.lang.txt",
                                                         "Germanlang.txt", "lang.txt", "Pirate.LANG.TXT"}));
}

TEST_F(LanguageFixture, UnlistableFolderLeavesNoLanguageFiles) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), GermanFile);
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,German.lang.txt\n");
    m_folders.unlistableFolders.insert(languages());

    EXPECT_TRUE(m_translator.loadLanguage(QString()).ok());
    EXPECT_TRUE(m_translator.languageFiles().isEmpty());
    EXPECT_TRUE(m_translator.currentLanguageFile().isEmpty());
    EXPECT_EQ(m_translator.translate(QStringLiteral("OK")), QStringLiteral("OK"));
}

struct ChoiceCase {
    const char* what;
    QByteArray table;        // LanguageCodes.csv; null: no table at all
    QStringList filesOnDisk; // each holds GermanFile
    quint16 languageId;
    const char* expectedFile; // name in Languages, "" when no language is loaded
    const char* expectedName; // CurrentLanguage
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.what;
}

class AutomaticChoice : public LanguageFixture, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(AutomaticChoice, PicksTheFileTheTableNamesForTheLanguage) {
    const ChoiceCase& c = GetParam();
    for (const QString& name : c.filesOnDisk) {
        writeLanguageFile(name, GermanFile);
    }
    QDir().mkpath(languages());
    if (!c.table.isNull()) {
        writeLanguageFile(QStringLiteral("LanguageCodes.csv"), c.table);
    }
    m_locale.languageId = c.languageId;

    EXPECT_TRUE(m_translator.loadLanguage(QString()).ok());

    const QString expectedFile = QString::fromUtf8(c.expectedFile);
    EXPECT_EQ(m_translator.currentLanguageFile(),
              expectedFile.isEmpty() ? QString() : languages() + '/' + expectedFile);
    EXPECT_EQ(m_translator.currentLanguage(), QString::fromUtf8(c.expectedName));
    EXPECT_EQ(m_translator.translate(QStringLiteral("Yes")),
              expectedFile.isEmpty() ? QStringLiteral("Yes") : QStringLiteral("Ja"));
}

const QStringList GermanOnDisk{"German.lang.txt"};

INSTANTIATE_TEST_SUITE_P(
    Table, AutomaticChoice,
    ::testing::Values(
        ChoiceCase{"plain line", "1031,German.lang.txt\n", GermanOnDisk, 1031, "German.lang.txt", "German"},
        ChoiceCase{"blanks and tabs around the fields", " \t1031 ,  German.lang.txt \t\r\n", GermanOnDisk, 1031,
                   "German.lang.txt", "German"},
        ChoiceCase{"header line and other languages first",
                   "Code,File\r\n1036,French.lang.txt\r\n3079,German.lang.txt\r\n1031,German.lang.txt\r\n",
                   GermanOnDisk, 1031, "German.lang.txt", "German"},
        ChoiceCase{"letter case of the table's name ignored, disk spelling kept", "1031,GERMAN.LANG.txt\n",
                   GermanOnDisk, 1031, "German.lang.txt", "German"},
        ChoiceCase{"only A to Z are folded",
                   "1055,\xC3\x87"
                   "eviri.lang.txt\n",
                   {"\xC3\xA7"
                    "eviri.lang.txt"},
                   1055,
                   "",
                   ""},
        ChoiceCase{"suffix in capitals loads with an empty name",
                   "1031,Pirate.LANG.TXT\n",
                   {"Pirate.LANG.TXT"},
                   1031,
                   "Pirate.LANG.TXT",
                   ""},
        ChoiceCase{"a second comma belongs to the file name", "1031,German.lang.txt,extra\n", GermanOnDisk, 1031, "",
                   ""},
        ChoiceCase{"first line with the code wins even when its file is missing",
                   "1031,Missing.lang.txt\n1031,German.lang.txt\n", GermanOnDisk, 1031, "", ""},
        ChoiceCase{"codes compare as text", "01031,German.lang.txt\n", GermanOnDisk, 1031, "", ""},
        ChoiceCase{"no line for the language", "1036,German.lang.txt\n", GermanOnDisk, 1031, "", ""},
        ChoiceCase{"no table", QByteArray(), GermanOnDisk, 1031, "", ""},
        ChoiceCase{"table without any comma", "1031 German.lang.txt\n", GermanOnDisk, 1031, "", ""},
        ChoiceCase{"file name not among the language files", "1031,German.txt\n", {"German.txt"}, 1031, "", ""},
        ChoiceCase{"UTF-16 table with byte-order mark",
                   QByteArray("\xFF\xFE"
                              "1\0"
                              "0\0"
                              "3\0"
                              "1\0"
                              ",\0"
                              "G\0"
                              "e\0"
                              "r\0"
                              "m\0"
                              "a\0"
                              "n\0"
                              ".\0"
                              "l\0"
                              "a\0"
                              "n\0"
                              "g\0"
                              ".\0"
                              "t\0"
                              "x\0"
                              "t\0",
                              42),
                   GermanOnDisk, 1031, "German.lang.txt", "German"},
        ChoiceCase{"UTF-8 table with byte-order mark",
                   "\xEF\xBB\xBF"
                   "1031,German.lang.txt",
                   GermanOnDisk, 1031, "German.lang.txt", "German"}),
    [](const ::testing::TestParamInfo<ChoiceCase>& tested) {
        std::string name;
        for (const char* c = tested.param.what; *c; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name;
    });

TEST_F(LanguageFixture, NamedEntryThatIsAFolderIsNotLoaded) {
    QDir().mkpath(languages() + QStringLiteral("/Folder.lang.txt"));
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,Folder.lang.txt\n");
    m_locale.languageId = 1031;

    EXPECT_TRUE(m_translator.loadLanguage(QString()).ok());
    EXPECT_TRUE(m_translator.currentLanguageFile().isEmpty());
}

TEST_F(LanguageFixture, ExplicitFileNameIsUsedAsGivenAndStaysInsideTheFolder) {
    writeLanguageFile(QStringLiteral("French.lang.txt"), "{Yes}Oui\n");
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1033,German.lang.txt\n");
    writeBytes(m_program.file(QStringLiteral("Outside.lang.txt")), "{Yes}Outside\n");

    m_translator.loadLanguage(QStringLiteral("French.lang.txt"));
    EXPECT_EQ(m_translator.currentLanguage(), QStringLiteral("French"));
    EXPECT_EQ(m_translator.translate(QStringLiteral("Yes")), QStringLiteral("Oui"));

    for (const char* name : {" French.lang.txt", "../Outside.lang.txt", "Missing.lang.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(m_translator.loadLanguage(QString::fromLatin1(name)).ok());
        EXPECT_TRUE(m_translator.currentLanguageFile().isEmpty());
        EXPECT_EQ(m_translator.translate(QStringLiteral("Yes")), QStringLiteral("Yes"));
    }
}

// The line rules of a language file, all in one file so that they must also hold side by side.
TEST_F(LanguageFixture, TranslateFollowsTheLineRules) {
    writeLanguageFile(QStringLiteral("Test.lang.txt"), "\xEF\xBB\xBF"
                                                       "; translator's note {OK}Wrong\r\n"
                                                       "\r\n"
                                                       "{Select All}\r\n"
                                                       "{OK} Gut\r"
                                                       "{copy}kopieren\n"
                                                       "{Send}Senden\n"
                                                       "{Send}Abschicken\n"
                                                       "{Yes}Ja} {oder} Nein\n"
                                                       "{No}Nein  \n"
                                                       "{Info\n"
                                                       "{Never Asked For}Nie\n"
                                                       "{About %s}\xC3\x9C"
                                                       "ber %s\n"
                                                       "{Language}Sprache");
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,Test.lang.txt\n");
    m_locale.languageId = 1031;
    ASSERT_TRUE(m_translator.loadLanguage(QString()).ok());

    const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"Select All", "Select All"}, // empty translation keeps English
        {"OK", " Gut"},               // leading space kept; a note elsewhere on a line does not count
        {"Copy", "Copy"},             // source texts match with their letter case
        {"Send", "Senden"},           // the upper line wins
        {"Yes", "Ja} {oder} Nein"},   // cut at the first "}" only
        {"No", "Nein  "},             // trailing spaces kept
        {"Info", "Info"},             // a line shorter than the key does not match
        {"About %s", "\xC3\x9C"
                     "ber %s"},   // UTF-8 text
        {"Language", "Sprache"},  // last line without a line break
        {"Feedback", "Feedback"}, // not in the file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(m_translator.translate(QString::fromUtf8(c.source)), QString::fromUtf8(c.expected));
    }
}

TEST_F(LanguageFixture, TranslationThatBreaksThePlaceholderIsNotUsed) {
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {
        {"{About %s}%s hakkında", "%s hakkında"}, {"{About %s}Info", "About %s"},    {"{About %s}%s, %s", "About %s"},
        {"{About %s}%d %s", "About %s"},          {"{About %s}100% %s", "About %s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        writeLanguageFile(QStringLiteral("Test.lang.txt"), c.line);
        ASSERT_TRUE(m_translator.loadLanguage(QStringLiteral("Test.lang.txt")).ok());
        EXPECT_EQ(m_translator.translate(QStringLiteral("About %s")), QString::fromUtf8(c.expected));
        EXPECT_EQ(translateFromList(QStringLiteral("About %s"), {QString::fromUtf8(c.line)}),
                  QString::fromUtf8(c.expected));
    }
}

TEST(TranslateFromListTest, SearchesTheGivenLinesAndKeepsAnEmptyTranslation) {
    const QStringList lines{"{INFO:Translated By}Anna, Ben", "{Copy}", "{Copy}Kopieren"};
    EXPECT_EQ(translateFromList(QStringLiteral("INFO:Translated By"), lines), QStringLiteral("Anna, Ben"));
    EXPECT_EQ(translateFromList(QStringLiteral("Copy"), lines), QString());
    EXPECT_EQ(translateFromList(QStringLiteral("Send"), lines), QStringLiteral("Send"));
    EXPECT_EQ(translateFromList(QStringLiteral("Copy"), {}), QStringLiteral("Copy"));
}

TEST_F(LanguageFixture, FileThatCannotBeUsedKeepsEnglish) {
    const struct {
        const char* what;
        QByteArray bytes;
        bool unreadable;
    } cases[] = {
        {"read error", GermanFile, true},
        {"invalid UTF-8", "{OK}Gut\n{Yes}J\xE4\n", false},
        {"UTF-8 cut inside a character", "{OK}Gut\n{Yes}J\xC3", false},
        {"UTF-16 with a dangling byte", QByteArray("\xFF\xFE{\0O\0K\0}\0G\0u\0t", 15), false},
        {"UTF-16 with an unpaired surrogate", QByteArray("\xFF\xFE{\0O\0K\0}\0G\0\x00\xD8", 14), false},
    };
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,German.lang.txt\n");
    m_locale.languageId = 1031;
    const QString path = languages() + QStringLiteral("/German.lang.txt");

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeLanguageFile(QStringLiteral("German.lang.txt"), c.bytes);
        m_files.unreadable.clear();
        if (c.unreadable) {
            m_files.unreadable.insert(path);
        }

        const Status loaded = m_translator.loadLanguage(QString());

        EXPECT_FALSE(loaded.ok());
        EXPECT_TRUE(loaded.message().contains(path)) << loaded.message().toStdString();
        EXPECT_EQ(m_translator.currentLanguageFile(), path);
        EXPECT_EQ(m_translator.currentLanguage(), QStringLiteral("German"));
        EXPECT_TRUE(m_translator.translationLines().isEmpty());
        EXPECT_EQ(m_translator.translate(QStringLiteral("OK")), QStringLiteral("OK"));
    }
}

TEST_F(LanguageFixture, UnreadableTableKeepsEnglish) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), GermanFile);
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,German.lang.txt\n");
    m_files.unreadable.insert(languages() + QStringLiteral("/LanguageCodes.csv"));
    m_locale.languageId = 1031;

    EXPECT_TRUE(m_translator.loadLanguage(QString()).ok());
    EXPECT_TRUE(m_translator.currentLanguageFile().isEmpty());
    EXPECT_EQ(m_translator.languageFiles(), QStringList{"German.lang.txt"});
}

// The update check translates on its worker thread from a copy of its own.
TEST_F(LanguageFixture, ACopyTranslatesOnAnotherThread) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), GermanFile);
    ASSERT_TRUE(m_translator.loadLanguage(QStringLiteral("German.lang.txt")).ok());
    const Translator copy = m_translator;
    QString translated;
    std::thread worker([&] { translated = copy.translate(QStringLiteral("Yes")); });
    worker.join();
    EXPECT_EQ(translated, QStringLiteral("Ja"));
    EXPECT_EQ(Translator().translate(QStringLiteral("Yes")), QStringLiteral("Yes"));
}

TEST(FileNamePattern, MatchesLikeTheSystemSearch) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"German.lang.txt", "*lang.txt", true},
        {"German.LANG.TXT", "*lang.txt", true},
        {"lang.txt", "*lang.txt", true},
        {"langlang.txtlang.txt", "*lang.txt", true},
        {"German.lang.txt.bak", "*lang.txt", false},
        {"German.lang_txt", "*lang.txt", false},
        {"ang.txt", "*lang.txt", false},
        {"a.b", "?.?", true},
        {"ab.b", "?.?", false},
        {"", "*", true},
        {"x", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.pattern);
        EXPECT_EQ(platform::matchesFileNamePattern(QString::fromLatin1(c.name), QString::fromLatin1(c.pattern)),
                  c.matches);
    }
}

} // namespace
} // namespace clavora::test
