// Choosing, reading and using a language file: the code table, the file search, the line rules of the lookup and
// what happens when a file cannot be used.
#include "tests/i18n/i18ntestsupport.h"

#include "platform/foldersearch.h"

#include <QFile>

#include <cctype>

namespace clavora::test {
namespace {

const QByteArray KGerman = "{OK}Gut\n{Yes}Ja\n";

TEST_F(TLanguageFixture, WithoutLanguagesFolderEverythingStaysEnglish) {
    EXPECT_TRUE(LoadLanguage(QString()).ok());

    EXPECT_EQ(LanguagesFolder(), FProgram.file(QStringLiteral("Languages")));
    EXPECT_TRUE(LanguageFiles().isEmpty());
    EXPECT_TRUE(CurrentLanguage().isEmpty());
    EXPECT_TRUE(CurrentLanguageFile().isEmpty());
    EXPECT_EQ(Translate(QStringLiteral("OK")), QStringLiteral("OK"));
}

TEST_F(TLanguageFixture, ListsLanguageFilesWithLetterCaseIgnoredAndSkipsFolders) {
    for (const char* name : {"German.lang.txt", "french.Lang.Txt", "Pirate.LANG.TXT", ".hidden.lang.txt", "lang.txt",
                             "notes.txt", "German.lang.txt.bak", "Germanlang.txt"}) {
        writeLanguageFile(QString::fromLatin1(name), KGerman);
    }
    QDir().mkpath(languages() + QStringLiteral("/Folder.lang.txt"));

    LoadLanguage(QString());

    EXPECT_EQ(LanguageFiles(), (QStringList{".hidden.lang.txt", "french.Lang.Txt", "German.lang.txt", "Germanlang.txt",
                                            "lang.txt", "Pirate.LANG.TXT"}));
}

TEST_F(TLanguageFixture, UnlistableFolderLeavesNoLanguageFiles) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), KGerman);
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,German.lang.txt\n");
    FFolders.unlistableFolders.insert(languages());

    EXPECT_TRUE(LoadLanguage(QString()).ok());
    EXPECT_TRUE(LanguageFiles().isEmpty());
    EXPECT_TRUE(CurrentLanguageFile().isEmpty());
    EXPECT_EQ(Translate(QStringLiteral("OK")), QStringLiteral("OK"));
}

struct TChoiceCase {
    const char* what;
    QByteArray table;        // LanguageCodes.csv; null: no table at all
    QStringList filesOnDisk; // each holds KGerman
    quint16 languageId;
    const char* expectedFile; // name in Languages, "" when no language is loaded
    const char* expectedName; // CurrentLanguage
};

void PrintTo(const TChoiceCase& c, std::ostream* os) {
    *os << c.what;
}

class TAutomaticChoice : public TLanguageFixture, public ::testing::WithParamInterface<TChoiceCase> {};

TEST_P(TAutomaticChoice, PicksTheFileTheTableNamesForTheLanguage) {
    const TChoiceCase& c = GetParam();
    for (const QString& name : c.filesOnDisk) {
        writeLanguageFile(name, KGerman);
    }
    QDir().mkpath(languages());
    if (!c.table.isNull()) {
        writeLanguageFile(QStringLiteral("LanguageCodes.csv"), c.table);
    }
    FLocale.languageId = c.languageId;

    EXPECT_TRUE(LoadLanguage(QString()).ok());

    const QString expectedFile = QString::fromUtf8(c.expectedFile);
    EXPECT_EQ(CurrentLanguageFile(), expectedFile.isEmpty() ? QString() : languages() + '/' + expectedFile);
    EXPECT_EQ(CurrentLanguage(), QString::fromUtf8(c.expectedName));
    EXPECT_EQ(Translate(QStringLiteral("Yes")), expectedFile.isEmpty() ? QStringLiteral("Yes") : QStringLiteral("Ja"));
}

const QStringList KGermanOnDisk{"German.lang.txt"};

INSTANTIATE_TEST_SUITE_P(
    Table, TAutomaticChoice,
    ::testing::Values(
        TChoiceCase{"plain line", "1031,German.lang.txt\n", KGermanOnDisk, 1031, "German.lang.txt", "German"},
        TChoiceCase{"blanks and tabs around the fields", " \t1031 ,  German.lang.txt \t\r\n", KGermanOnDisk, 1031,
                    "German.lang.txt", "German"},
        TChoiceCase{"header line and other languages first",
                    "Code,File\r\n1036,French.lang.txt\r\n3079,German.lang.txt\r\n1031,German.lang.txt\r\n",
                    KGermanOnDisk, 1031, "German.lang.txt", "German"},
        TChoiceCase{"letter case of the table's name ignored, disk spelling kept", "1031,GERMAN.LANG.txt\n",
                    KGermanOnDisk, 1031, "German.lang.txt", "German"},
        TChoiceCase{"only A to Z are folded",
                    "1055,\xC3\x87"
                    "eviri.lang.txt\n",
                    {"\xC3\xA7"
                     "eviri.lang.txt"},
                    1055,
                    "",
                    ""},
        TChoiceCase{"suffix in capitals loads with an empty name",
                    "1031,Pirate.LANG.TXT\n",
                    {"Pirate.LANG.TXT"},
                    1031,
                    "Pirate.LANG.TXT",
                    ""},
        TChoiceCase{"a second comma belongs to the file name", "1031,German.lang.txt,extra\n", KGermanOnDisk, 1031, "",
                    ""},
        TChoiceCase{"first line with the code wins even when its file is missing",
                    "1031,Missing.lang.txt\n1031,German.lang.txt\n", KGermanOnDisk, 1031, "", ""},
        TChoiceCase{"codes compare as text", "01031,German.lang.txt\n", KGermanOnDisk, 1031, "", ""},
        TChoiceCase{"no line for the language", "1036,German.lang.txt\n", KGermanOnDisk, 1031, "", ""},
        TChoiceCase{"no table", QByteArray(), KGermanOnDisk, 1031, "", ""},
        TChoiceCase{"table without any comma", "1031 German.lang.txt\n", KGermanOnDisk, 1031, "", ""},
        TChoiceCase{"file name not among the language files", "1031,German.txt\n", {"German.txt"}, 1031, "", ""},
        TChoiceCase{"UTF-16 table with byte-order mark",
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
                    KGermanOnDisk, 1031, "German.lang.txt", "German"},
        TChoiceCase{"UTF-8 table with byte-order mark",
                    "\xEF\xBB\xBF"
                    "1031,German.lang.txt",
                    KGermanOnDisk, 1031, "German.lang.txt", "German"}),
    [](const ::testing::TestParamInfo<TChoiceCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name;
    });

TEST_F(TLanguageFixture, NamedEntryThatIsAFolderIsNotLoaded) {
    QDir().mkpath(languages() + QStringLiteral("/Folder.lang.txt"));
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,Folder.lang.txt\n");
    FLocale.languageId = 1031;

    EXPECT_TRUE(LoadLanguage(QString()).ok());
    EXPECT_TRUE(CurrentLanguageFile().isEmpty());
}

TEST_F(TLanguageFixture, ExplicitFileNameIsUsedAsGivenAndStaysInsideTheFolder) {
    writeLanguageFile(QStringLiteral("French.lang.txt"), "{Yes}Oui\n");
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1033,German.lang.txt\n");
    writeBytes(FProgram.file(QStringLiteral("Outside.lang.txt")), "{Yes}Outside\n");

    LoadLanguage(QStringLiteral("French.lang.txt"));
    EXPECT_EQ(CurrentLanguage(), QStringLiteral("French"));
    EXPECT_EQ(Translate(QStringLiteral("Yes")), QStringLiteral("Oui"));

    for (const char* name : {" French.lang.txt", "../Outside.lang.txt", "Missing.lang.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(LoadLanguage(QString::fromLatin1(name)).ok());
        EXPECT_TRUE(CurrentLanguageFile().isEmpty());
        EXPECT_EQ(Translate(QStringLiteral("Yes")), QStringLiteral("Yes"));
    }
}

// The line rules of a language file, all in one file so that they must also hold side by side.
TEST_F(TLanguageFixture, TranslateFollowsTheLineRules) {
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
    FLocale.languageId = 1031;
    ASSERT_TRUE(LoadLanguage(QString()).ok());

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
        EXPECT_EQ(Translate(QString::fromUtf8(c.source)), QString::fromUtf8(c.expected));
    }
}

TEST_F(TLanguageFixture, TranslationThatBreaksThePlaceholderIsNotUsed) {
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
        ASSERT_TRUE(LoadLanguage(QStringLiteral("Test.lang.txt")).ok());
        EXPECT_EQ(Translate(QStringLiteral("About %s")), QString::fromUtf8(c.expected));
        EXPECT_EQ(TranslateFromList(QStringLiteral("About %s"), {QString::fromUtf8(c.line)}),
                  QString::fromUtf8(c.expected));
    }
}

TEST(TTranslateFromList, SearchesTheGivenLinesAndKeepsAnEmptyTranslation) {
    const QStringList lines{"{INFO:Translated By}Anna, Ben", "{Copy}", "{Copy}Kopieren"};
    EXPECT_EQ(TranslateFromList(QStringLiteral("INFO:Translated By"), lines), QStringLiteral("Anna, Ben"));
    EXPECT_EQ(TranslateFromList(QStringLiteral("Copy"), lines), QString());
    EXPECT_EQ(TranslateFromList(QStringLiteral("Send"), lines), QStringLiteral("Send"));
    EXPECT_EQ(TranslateFromList(QStringLiteral("Copy"), {}), QStringLiteral("Copy"));
}

TEST_F(TLanguageFixture, FileThatCannotBeUsedKeepsEnglish) {
    const struct {
        const char* what;
        QByteArray bytes;
        bool unreadable;
    } cases[] = {
        {"read error", KGerman, true},
        {"invalid UTF-8", "{OK}Gut\n{Yes}J\xE4\n", false},
        {"UTF-8 cut inside a character", "{OK}Gut\n{Yes}J\xC3", false},
        {"UTF-16 with a dangling byte", QByteArray("\xFF\xFE{\0O\0K\0}\0G\0u\0t", 15), false},
        {"UTF-16 with an unpaired surrogate", QByteArray("\xFF\xFE{\0O\0K\0}\0G\0\x00\xD8", 14), false},
    };
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,German.lang.txt\n");
    FLocale.languageId = 1031;
    const QString path = languages() + QStringLiteral("/German.lang.txt");

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeLanguageFile(QStringLiteral("German.lang.txt"), c.bytes);
        FFiles.unreadable.clear();
        if (c.unreadable) {
            FFiles.unreadable.insert(path);
        }

        const Status loaded = LoadLanguage(QString());

        EXPECT_FALSE(loaded.ok());
        EXPECT_TRUE(loaded.message().contains(path)) << loaded.message().toStdString();
        EXPECT_EQ(CurrentLanguageFile(), path);
        EXPECT_EQ(CurrentLanguage(), QStringLiteral("German"));
        EXPECT_TRUE(TranslationLines().isEmpty());
        EXPECT_EQ(Translate(QStringLiteral("OK")), QStringLiteral("OK"));
    }
}

TEST_F(TLanguageFixture, UnreadableTableKeepsEnglish) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), KGerman);
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1031,German.lang.txt\n");
    FFiles.unreadable.insert(languages() + QStringLiteral("/LanguageCodes.csv"));
    FLocale.languageId = 1031;

    EXPECT_TRUE(LoadLanguage(QString()).ok());
    EXPECT_TRUE(CurrentLanguageFile().isEmpty());
    EXPECT_EQ(LanguageFiles(), QStringList{"German.lang.txt"});
}

TEST(TLanguageText, DecodesLineBreaksAndByteOrderMarks) {
    QStringList lines;
    ASSERT_TRUE(DecodeLanguageText("a\r\nb\rc\n\nd\r\n", lines));
    EXPECT_EQ(lines, (QStringList{"a", "b", "c", "", "d"}));

    // Only the first mark is taken off: a second one is part of the line, as the file says.
    ASSERT_TRUE(DecodeLanguageText("\xEF\xBB\xBF\xEF\xBB\xBF{OK}x", lines));
    EXPECT_EQ(lines, QStringList{QString(QChar(0xFEFF)) + "{OK}x"});

    ASSERT_TRUE(DecodeLanguageText(QByteArray("\xFE\xFF\0{\0O\0K\0}\x04\x14", 12), lines));
    EXPECT_EQ(lines, QStringList{QString::fromUtf8("{OK}\xD0\x94")});

    // The table falls back to the user's code page only for bytes that are not UTF-8.
    EXPECT_EQ(DecodeCodeTableText("1049,\xD0\xA0.lang.txt", 1251),
              QStringList{QString::fromUtf8("1049,\xD0\xA0.lang.txt")});
    EXPECT_EQ(DecodeCodeTableText("1049,\xD0.lang.txt", 1251),
              QStringList{QString::fromUtf8("1049,\xD0\xA0.lang.txt")});
}

TEST(TFileNamePattern, MatchesLikeTheSystemSearch) {
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
