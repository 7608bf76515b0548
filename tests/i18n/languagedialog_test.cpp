// The language dialog and the stored language choice: the list, the credits, the flags, the restart script and
// the dialog's answers to OK, and start-up's use of the stored language.
#include "i18n/flagpictures.h"
#include "i18n/languagechoice.h"
#include "i18n/languagedialog.h"
#include "i18n/widgetnames.h"
#include "tests/i18n/i18ntestsupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace clavora;
using clavora::test::LanguageFixture;

namespace {

const QByteArray GermanFile = "{INFO:Translated By} Anna , Bob ,Chloé \n{Yes}Ja\n{Language}Sprache\n";

// Decisions ------------------------------------------------------------------------------------------------------

TEST(LanguageChoiceTest, EnglishFirstThenTheNamesSortedWithLetterCaseIgnored) {
    const QStringList files{"Turkish.lang.txt", "dutch.lang.txt", "Arabic.LANG.TXT", "English.lang.txt",
                            "German.lang.txt"};
    EXPECT_EQ(languageItems(files), (QStringList{"English", "", "dutch", "English", "German", "Turkish"}));
    EXPECT_EQ(languageItems({}), QStringList{"English"});
}

// The files are named in English, their languages' own names come from ICU.
TEST(LanguageChoiceTest, EachLanguagesOwnNameFromItsEnglishFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"German", "Deutsch"},
        {"ChineseSimplified", "中文（简体）"},
        {"PortugueseBrazil", "Português (Brasil)"},
        {"Japanese", "日本語"},
        {"Russian", "Русский"},
        {"French", "Français"},
        {"English", "English"},
        {"Zemtrakish", ""},
        {"", ""},
    };
    for (const auto& [name, native] : cases) {
        EXPECT_EQ(nativeLanguageName(QString::fromUtf8(name)), QString::fromUtf8(native)) << name;
    }
    EXPECT_EQ(languageDisplayText("PortugueseBrazil"), QString::fromUtf8("PortugueseBrazil — Português (Brasil)"));
    EXPECT_EQ(languageDisplayText("English"), "English");
    EXPECT_EQ(languageDisplayText("Zemtrakish"), "Zemtrakish");
}

TEST(LanguageChoiceTest, CreditsOnePerLineWithoutTheBlanksAroundTheCommas) {
    EXPECT_EQ(creditLines(QStringLiteral(" Anna , Bob ,Chloé ")), (QStringList{"Anna", "Bob", "Chloé"}));
    EXPECT_EQ(creditLines(QStringLiteral("a,,b,")), (QStringList{"a", "", "b", ""}));
    EXPECT_EQ(creditLines(QStringLiteral("Solo")), QStringList{"Solo"});
    EXPECT_TRUE(creditLines(QString()).isEmpty());
}

TEST(LanguageChoiceTest, FlagsByExactName) {
    const std::pair<const char*, const char*> cases[] = {
        {"English", "english"}, {"German", "de"}, {"PortugueseBrazil", "br"}, {"Hindi", "in"}, {"Vietnamese", "vi"},
        {"german", "xx"},       {"", "xx"},       {"Klingon", "xx"},
    };
    for (const auto& [name, code] : cases) {
        EXPECT_EQ(flagCodeFor(QString::fromUtf8(name)), QString::fromUtf8(code)) << name;
    }
    // Every language with a flag of its own draws something other than the neutral picture.
    const QImage neutral = flagPicture(QStringLiteral("xx"), 16, 1).toImage();
    for (const char* name : {"English",
                             "German",
                             "French",
                             "Turkish",
                             "Albanian",
                             "Arabic",
                             "Bulgarian",
                             "ChineseSimplified",
                             "ChineseTraditional",
                             "Czech",
                             "Dutch",
                             "Finnish",
                             "Greek",
                             "Hebrew",
                             "Hungarian",
                             "Abkhazian",
                             "Catalan",
                             "Italian",
                             "Japanese",
                             "Korean",
                             "Persian",
                             "Polish",
                             "PortugueseBrazil",
                             "PortuguesePortugal",
                             "Romanian",
                             "Russian",
                             "Slovenian",
                             "Spanish",
                             "Swedish",
                             "Ukrainian",
                             "Vietnamese",
                             "Slovak",
                             "Norwegian",
                             "Hindi"}) {
        const QString code = flagCodeFor(QString::fromLatin1(name));
        EXPECT_TRUE(hasOwnFlag(code)) << name;
        EXPECT_NE(flagPicture(code, 16, 1).toImage(), neutral) << name;
    }
}

TEST(LanguageChoiceTest, TheStoredLanguageIsUsedOnlyWhenItsFileIsInstalled) {
    using Kind = PreferredLanguage::Kind;
    const QStringList files{"German.lang.txt", "English.lang.txt", "Pirate.LANG.TXT"};
    const struct {
        const char* stored;
        Kind kind;
        const char* file;
    } cases[] = {
        {"", Kind::Automatic, ""},
        {"  ", Kind::Automatic, ""},
        {"English", Kind::English, ""}, // the program's own texts, even with an English file installed
        {"German", Kind::File, "German.lang.txt"},
        {" German\t", Kind::File, "German.lang.txt"},
        {"german", Kind::Automatic, ""},
        {"French", Kind::Automatic, ""}, // no longer installed
        {"Pirate", Kind::Automatic, ""},
        {"../German", Kind::Automatic, ""},
    };
    for (const auto& c : cases) {
        const PreferredLanguage preferred = preferredLanguage(QString::fromUtf8(c.stored), files);
        EXPECT_EQ(preferred.kind, c.kind) << c.stored;
        EXPECT_EQ(preferred.fileName, QString::fromUtf8(c.file)) << c.stored;
    }
}

TEST(RestartScriptTest, LinesAndTheQuotedProgramPath) {
    EXPECT_EQ(shellQuoted(QStringLiteral("/opt/clavora/clavora")), QStringLiteral("'/opt/clavora/clavora'"));
    EXPECT_EQ(shellQuoted(QStringLiteral("/tmp/it's \"x\" $HOME `id`/a b")),
              QStringLiteral("'/tmp/it'\\''s \"x\" $HOME `id`/a b'"));
    EXPECT_EQ(restartScript(QStringLiteral("/home/ü ser/it's/clavora")),
              QByteArray("#!/bin/sh\n"
                         "echo \"This file was created automatically to restart the program.\"\n"
                         "echo \"It is safe to delete this file.\"\n"
                         "sleep 1\n"
                         "'/home/\xC3\xBC ser/it'\\''s/clavora'\n"));
}

TEST(RestartScriptTest, TheScriptStartsAProgramWhosePathHasBlanksAndQuotes) {
    test::TempFolder root;
    const QString folder = root.file(QStringLiteral("my 'odd' \"dir\" $x"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/prog ram");
    const QString marker = root.file(QStringLiteral("started"));
    test::writeBytes(program, "#!/bin/sh\necho started > " + QFile::encodeName(shellQuoted(marker)) + "\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString script = root.file(QStringLiteral("start.sh"));
    test::writeBytes(script, restartScript(program));

    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {script});
    ASSERT_TRUE(shell.waitForStarted());
    const bool finished = shell.waitForFinished(10000);
    if (!finished) {
        shell.kill();
        shell.waitForFinished();
    }
    ASSERT_TRUE(finished);
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    EXPECT_EQ(test::readBytes(marker), QByteArray("started\n"));
}

// Credits and start-up against a program folder ------------------------------------------------------------------

class LanguageFolderTest : public LanguageFixture {};

TEST_F(LanguageFolderTest, CreditsComeFromTheFileExceptForEnglish) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), GermanFile);
    writeLanguageFile(QStringLiteral("English.lang.txt"), "{INFO:Translated By}Somebody Else\n");
    writeLanguageFile(QStringLiteral("Silent.lang.txt"), "{Yes}Oui\n");
    writeLanguageFile(QStringLiteral("Empty.lang.txt"), "{INFO:Translated By}\n");
    writeLanguageFile(QStringLiteral("Broken.lang.txt"), "\xFF\xFE\xFF");
    m_files.unreadable.insert(languages() + QStringLiteral("/Broken.lang.txt"));

    EXPECT_EQ(languageCredit(m_files, QStringLiteral("English"), languages()), QStringLiteral("Zemtrak"));
    EXPECT_EQ(languageCredit(m_files, QStringLiteral("German"), languages()), QStringLiteral(" Anna , Bob ,Chloé "));
    EXPECT_EQ(languageCredit(m_files, QStringLiteral("Silent"), languages()), QStringLiteral("INFO:Translated By"));
    EXPECT_EQ(languageCredit(m_files, QStringLiteral("Empty"), languages()), QString());
    EXPECT_EQ(languageCredit(m_files, QStringLiteral("Broken"), languages()), QString());
    EXPECT_EQ(languageCredit(m_files, QStringLiteral("Missing"), languages()), QString());
    EXPECT_EQ(languageCredit(m_files, QString(), languages()), QString()); // looks for ".lang.txt" alone
}

TEST_F(LanguageFolderTest, StartUpLoadsTheStoredLanguageBeforeTheAutomaticChoice) {
    writeLanguageFile(QStringLiteral("German.lang.txt"), GermanFile);
    writeLanguageFile(QStringLiteral("French.lang.txt"), "{Yes}Oui\n");
    writeLanguageFile(QStringLiteral("LanguageCodes.csv"), "1036,French.lang.txt\n");
    m_locale.languageId = 1036;

    ASSERT_TRUE(m_translator.loadPreferredLanguage(QStringLiteral("German")).ok());
    EXPECT_EQ(m_translator.currentLanguage(), QStringLiteral("German"));
    EXPECT_EQ(m_translator.translate(QStringLiteral("Yes")), QStringLiteral("Ja"));

    ASSERT_TRUE(m_translator.loadPreferredLanguage(QStringLiteral("English")).ok());
    EXPECT_EQ(m_translator.currentLanguage(), QString());
    EXPECT_EQ(m_translator.translate(QStringLiteral("Yes")), QStringLiteral("Yes"));
    EXPECT_EQ(m_translator.languageFiles().size(), 2); // listed all the same, for the dialog
    EXPECT_EQ(m_translator.languagesFolder(), languages());

    for (const char* automatic : {"", "Italian"}) {
        ASSERT_TRUE(m_translator.loadPreferredLanguage(QString::fromLatin1(automatic)).ok());
        EXPECT_EQ(m_translator.currentLanguage(), QStringLiteral("French")) << automatic;
    }
}

// The dialog ------------------------------------------------------------------------------------------------------

// Answers every message box that comes up while it lives with Answer, recording what it showed.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            captions << box->windowTitle();
            texts << box->text();
            QStringList buttonTexts;
            for (QAbstractButton* button : box->buttons()) {
                buttonTexts << button->text();
            }
            buttons << buttonTexts;
            defaults << (box->defaultButton() ? box->defaultButton()->text() : QString());
            box->button(answer)->click();
        });
        m_timer.start(10);
    }
    QStringList captions;
    QStringList texts;
    QList<QStringList> buttons;
    QStringList defaults;

private:
    QTimer m_timer;
};

class LanguageDialogTest : public LanguageFixture {
protected:
    LanguageDialogTest() {
        writeLanguageFile(QStringLiteral("German.lang.txt"), GermanFile);
        writeLanguageFile(QStringLiteral("Turkish.lang.txt"), "{INFO:Translated By}Ayşe\n");
        writeLanguageFile(QStringLiteral("Pirate.LANG.TXT"), "{INFO:Translated By}Arr\n");
        QDir().mkpath(m_data.path());
    }

    LanguageDialogContext context(const QString& current) {
        LanguageDialogContext c;
        c.services = &m_services;
        c.translate = [](const QString& text) { return QLatin1Char('[') + text + QLatin1Char(']'); };
        c.languageFiles = {"Turkish.lang.txt", "Pirate.LANG.TXT", "German.lang.txt"};
        c.languagesFolder = languages();
        c.currentLanguage = current;
        c.dataFolder = m_data.path(); // without the trailing separator, which the dialog adds
        c.programFile = QStringLiteral("/opt/my programs/clavora");
        c.translationPageUrl = QStringLiteral("https://www.example.com/translation/");
        c.storeLanguage = [this](const QString& language) {
            stored << language;
            return Status::success();
        };
        c.showError = [this](const QString& message) { errors << message; };
        c.quit = [this] { ++quits; };
        return c;
    }

    std::unique_ptr<LanguageDialog> open(const LanguageDialogContext& c) {
        auto dialog = std::make_unique<LanguageDialog>(c);
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }

    static QComboBox* list(LanguageDialog& d) {
        return test::namedChild<QComboBox>(d, widgetnames::language::LanguageBox);
    }
    static QPlainTextEdit* credits(LanguageDialog& d) {
        return test::namedChild<QPlainTextEdit>(d, widgetnames::language::CreditsText);
    }
    static QStringList items(LanguageDialog& d) {
        QStringList texts;
        for (int i = 0; i < list(d)->count(); ++i) {
            texts << list(d)->itemText(i);
        }
        return texts;
    }
    QString script() const { return m_data.file(QStringLiteral("start.sh")); }

    test::TempFolder m_data;
    QStringList stored;
    QStringList errors;
    int quits = 0;
};

TEST_F(LanguageDialogTest, ListsTheLanguagesWithTheLoadedOneSelectedAndItsTranslators) {
    auto dialog = open(context(QStringLiteral("German")));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("[Language]"));
    // Each language with its own name beside the file's, where they differ.
    EXPECT_EQ(items(*dialog), (QStringList{"English", "", "German — Deutsch", "Turkish — Türkçe"}));
    EXPECT_EQ(list(*dialog)->currentText(), QStringLiteral("German — Deutsch"));
    EXPECT_EQ(dialog->initialLanguage(), QStringLiteral("German"));
    EXPECT_EQ(credits(*dialog)->toPlainText(), QStringLiteral("Anna\nBob\nChloé"));

    list(*dialog)->setCurrentIndex(0);
    EXPECT_EQ(credits(*dialog)->toPlainText(), QStringLiteral("Zemtrak"));
    list(*dialog)->setCurrentIndex(3);
    EXPECT_EQ(credits(*dialog)->toPlainText(), QStringLiteral("Ayşe"));

    // The file whose suffix has the wrong letter case: an empty item with the neutral flag and its own credits.
    list(*dialog)->setCurrentIndex(1);
    EXPECT_EQ(credits(*dialog)->toPlainText(), QStringLiteral("Arr"));
    const qreal dpr = dialog->devicePixelRatioF();
    EXPECT_EQ(list(*dialog)->itemIcon(1).pixmap(QSize(16, 16), dpr).toImage(),
              flagPicture(QStringLiteral("xx"), 16, dpr).toImage());
    EXPECT_EQ(list(*dialog)->itemIcon(2).pixmap(QSize(16, 16), dpr).toImage(),
              flagPicture(QStringLiteral("de"), 16, dpr).toImage());

    auto english = open(context(QString()));
    EXPECT_EQ(list(*english)->currentText(), QStringLiteral("English"));
    EXPECT_EQ(list(*english)->currentIndex(), 0);
}

// Running in a language loaded from a file whose suffix has other letters (it has no language name), the dialog shows
// that language and its translators, not English.
TEST_F(LanguageDialogTest, ALanguageLoadedFromAFileWithTheSuffixInCapitalsIsTheSelectedOne) {
    LanguageDialogContext c = context(QString());
    c.currentLanguageFile = languages() + QStringLiteral("/Pirate.LANG.TXT");
    auto dialog = open(c);
    EXPECT_EQ(list(*dialog)->currentIndex(), 1);
    EXPECT_EQ(credits(*dialog)->toPlainText(), QStringLiteral("Arr"));
    // OK without a change asks nothing; English is a change.
    BoxAnswerer answerer(QMessageBox::Yes);
    list(*dialog)->setCurrentIndex(0);
    dialog->confirm();
    EXPECT_EQ(stored, QStringList{"English"});

    // Loaded from German.lang.txt, the name and the file agree.
    c.currentLanguage = QStringLiteral("German");
    c.currentLanguageFile = languages() + QStringLiteral("/German.lang.txt");
    EXPECT_EQ(list(*open(c))->currentIndex(), 2);
}

// The labels take the width their translation needs (German needs more than the English 258 pixels), the list and
// the credits move over and end where they always do; the list's rows are 23 pixels high.
TEST_F(LanguageDialogTest, LabelsFitTheirTranslationAndTheListRowsAre23PixelsHigh) {
    for (const bool german : {false, true}) {
        SCOPED_TRACE(german);
        LanguageDialogContext c = context(QStringLiteral("German"));
        if (german) {
            c.translate = [](const QString& text) {
                return text == "User Interface Language:" ? QStringLiteral("Sprache der Benutzeroberfläche:")
                       : text == "Translated by:"         ? QStringLiteral("Übersetzt von:")
                                                          : text;
            };
        }
        auto dialog = open(c);
        auto* title = test::namedChild<QLabel>(*dialog, widgetnames::language::LanguageLabel);
        auto* by = test::namedChild<QLabel>(*dialog, widgetnames::language::CreditsLabel);
        for (QLabel* label : {title, by}) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
            EXPECT_GE(label->width(), 258);
        }
        EXPECT_EQ(title->width() == 258, !german);
        for (QWidget* field : {static_cast<QWidget*>(list(*dialog)), static_cast<QWidget*>(credits(*dialog))}) {
            EXPECT_GT(field->x(), title->geometry().right());
            EXPECT_EQ(field->geometry().right(), 617);
        }
        EXPECT_EQ(list(*dialog)->x(), german ? title->geometry().right() + 3 : 263);

        list(*dialog)->showPopup();
        QAbstractItemView* rows = list(*dialog)->view();
        EXPECT_TRUE(test::waitFor([&] { return rows->isVisible(); }, 5000));
        for (int row = 0; row < list(*dialog)->count(); ++row) {
            EXPECT_EQ(rows->visualRect(rows->model()->index(row, 0)).height(), LanguageDialog::RowHeight);
        }
        EXPECT_EQ(LanguageDialog::RowHeight, 23);
        list(*dialog)->hidePopup();
    }
}

TEST_F(LanguageDialogTest, OkWithoutAChangeClosesWithoutAsking) {
    for (const QStringList& files : {QStringList{"German.lang.txt"}, QStringList{}}) {
        LanguageDialogContext c = context(files.isEmpty() ? QString() : QStringLiteral("German"));
        c.languageFiles = files;
        auto dialog = open(c);
        BoxAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(test::namedChild<QPushButton>(*dialog, widgetnames::language::OkButton), Qt::LeftButton);
        EXPECT_TRUE(answerer.texts.isEmpty());
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    }
    EXPECT_FALSE(QFile::exists(script()));
    EXPECT_TRUE(stored.isEmpty());
    EXPECT_EQ(quits, 0);
}

TEST_F(LanguageDialogTest, NoKeepsTheDialogAndTheSelectionAndOkAsksAgain) {
    auto dialog = open(context(QStringLiteral("German")));
    list(*dialog)->setCurrentIndex(3);
    BoxAnswerer answerer(QMessageBox::No);
    dialog->confirm();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_EQ(answerer.captions[0], QStringLiteral("[Confirmation]"));
    EXPECT_EQ(answerer.texts[0], QStringLiteral("[Restart Application?]"));
    EXPECT_EQ(answerer.buttons[0].size(), 2);
    EXPECT_TRUE(answerer.buttons[0].contains(QStringLiteral("[Yes]")));
    EXPECT_TRUE(answerer.buttons[0].contains(QStringLiteral("[No]")));
    EXPECT_EQ(answerer.defaults[0], QStringLiteral("[Yes]"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(list(*dialog)->currentText(), QStringLiteral("Turkish — Türkçe"));

    dialog->confirm();
    EXPECT_EQ(answerer.texts.size(), 2);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(QFile::exists(script()));
    EXPECT_TRUE(stored.isEmpty());
    EXPECT_TRUE(m_shell.started.isEmpty());
    EXPECT_EQ(quits, 0);
}

TEST_F(LanguageDialogTest, YesWritesTheScriptKeepsTheChoiceRunsTheScriptAndEndsTheProgram) {
    auto dialog = open(context(QStringLiteral("German")));
    list(*dialog)->setCurrentIndex(3);
    BoxAnswerer answerer(QMessageBox::Yes);
    dialog->confirm();

    EXPECT_EQ(test::readBytes(script()), restartScript(QStringLiteral("/opt/my programs/clavora")));
    EXPECT_EQ(stored, QStringList{"Turkish"});
    EXPECT_EQ(m_shell.started, QStringList{QStringLiteral("/bin/sh ") + script()});
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(LanguageDialogTest, AScriptThatCannotBeWrittenIsReportedAndNothingElseHappens) {
    m_files.failingWrites.insert(script());
    auto dialog = open(context(QStringLiteral("German")));
    list(*dialog)->setCurrentIndex(0);
    BoxAnswerer answerer(QMessageBox::Yes);
    dialog->confirm();

    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(script())) << errors[0].toStdString();
    EXPECT_TRUE(stored.isEmpty());
    EXPECT_TRUE(m_shell.started.isEmpty());
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LanguageDialogTest, AChoiceThatCannotBeKeptDoesNotRestart) {
    LanguageDialogContext c = context(QStringLiteral("German"));
    c.storeLanguage = [](const QString&) { return Status::failure(QStringLiteral("settings.ini is read-only")); };
    auto dialog = open(c);
    list(*dialog)->setCurrentIndex(0);
    BoxAnswerer answerer(QMessageBox::Yes);
    dialog->confirm();
    EXPECT_EQ(errors, QStringList{"settings.ini is read-only"});
    EXPECT_TRUE(m_shell.started.isEmpty());
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LanguageDialogTest, EscapeClosesFromEachControlWithoutAQuestion) {
    for (const char* name :
         {widgetnames::language::LanguageBox, widgetnames::language::CreditsText, widgetnames::language::OkButton}) {
        auto dialog = open(context(QStringLiteral("German")));
        list(*dialog)->setCurrentIndex(3);
        QWidget* control = test::namedChild<QWidget>(*dialog, name);
        control->setFocus();
        BoxAnswerer answerer(QMessageBox::Yes);
        QTest::keyClick(control, Qt::Key_Escape);
        EXPECT_FALSE(dialog->isVisible()) << name;
        EXPECT_EQ(dialog->result(), QDialog::Rejected) << name;
        EXPECT_TRUE(answerer.texts.isEmpty()) << name;
    }
    EXPECT_TRUE(stored.isEmpty());
}

TEST_F(LanguageDialogTest, CreditsCanBeSelectedAndCopiedAndTheLinkOpensTheTranslationPage) {
    auto dialog = open(context(QStringLiteral("German")));
    EXPECT_EQ(test::namedAction(*dialog, widgetnames::language::CopyAction)->text(), QStringLiteral("[Copy]"));
    test::namedAction(*dialog, widgetnames::language::SelectAllAction)->trigger();
    test::namedAction(*dialog, widgetnames::language::CopyAction)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Anna\nBob\nChloé"));

    QLabel* link = test::namedChild<QLabel>(*dialog, widgetnames::language::TranslationLink);
    EXPECT_EQ(link->text(), QStringLiteral("[Contribute to Translation]"));
    EXPECT_EQ(link->toolTip(), QStringLiteral("https://www.example.com/translation/"));
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(m_shell.opened, QStringList{"https://www.example.com/translation/"});
}

} // namespace
