// The Redefine Keys dialog and its Add/Edit Key windows, driven the way a user drives them: rows selected and
// buttons clicked, keys typed, files dropped. What they leave in the key map and in keys.db is what is checked.
#include "keymap/keyeditdialog.h"
#include "keymap/keymapfile.h"
#include "keymap/redefinekeysdialog.h"
#include "keymap/widgetnames.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakelocale.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace clavora;
using clavora::test::namedChild;

namespace {

struct Message {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    QWidget* parent;
};

class KeyDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { m_keysDb = m_root.file("keys.db"); }

    // Writes keys.db as UTF-8 with CR LF and opens the dialog on the map read back from it.
    void open(const QStringList& lines) {
        writeKeysDb(encodeKeyMapText(lines));
        openOnFile();
    }
    void writeKeysDb(const QByteArray& bytes) { test::writeBytes(m_keysDb, bytes); }
    void openOnFile() {
        QStringList lines;
        ASSERT_TRUE(m_keyMapFile.read(m_keysDb, lines));
        m_map = KeyMap::fromLines(lines);
        m_fs.writes.clear();
        m_dialog = std::make_unique<RedefineKeysDialog>(m_map, m_keyMapFile, m_keysDb);
        KeyDialogHooks hooks;
        hooks.showMessage = [this](QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                   const QString& text) {
            m_messages.append({icon, caption, text, parent});
        };
        hooks.chooseSoundFile = [this](QWidget*, const QString& startFile) {
            m_browseStarts.append(startFile);
            return m_nextChosenFile;
        };
        m_dialog->setHooks(hooks);
        m_list = namedChild<QTableWidget>(*m_dialog, widgetnames::redefinekeys::BindingList);
        m_add = namedChild<QPushButton>(*m_dialog, widgetnames::redefinekeys::AddButton);
        m_edit = namedChild<QPushButton>(*m_dialog, widgetnames::redefinekeys::EditButton);
        m_delete = namedChild<QPushButton>(*m_dialog, widgetnames::redefinekeys::DeleteButton);
        m_dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    }

    QStringList listRows() const {
        QStringList rows;
        for (int row = 0; row < m_list->rowCount(); ++row) {
            rows << m_list->item(row, 0)->text() + "|" + m_list->item(row, 1)->text();
        }
        return rows;
    }
    QByteArray fileBytes() const { return test::readBytes(m_keysDb); }
    // The file and the key map in memory hold exactly Lines, and the list shows them (with "/" for a backslash).
    void expectEverywhere(const QStringList& lines) {
        EXPECT_EQ(fileBytes(), encodeKeyMapText(lines));
        EXPECT_EQ(m_map.lines(), lines);
        QStringList shown = lines;
        shown.replaceInStrings("\\", "/");
        EXPECT_EQ(listRows(), shown);
    }
    void select(const QList<int>& rows) {
        m_list->clearSelection();
        for (int row : rows) {
            m_list->selectionModel()->select(m_list->model()->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    KeyEditDialog* onlyWindow() {
        const QList<KeyEditDialog*> windows = m_dialog->keyEditWindows();
        EXPECT_EQ(windows.size(), 1);
        return windows.value(0);
    }
    static QLineEdit* keyField(KeyEditDialog* window) {
        return namedChild<QLineEdit>(*window, widgetnames::keyedit::KeyField);
    }
    static QLineEdit* fileField(KeyEditDialog* window) {
        return namedChild<QLineEdit>(*window, widgetnames::keyedit::FileField);
    }
    static QSpinBox* volumeField(KeyEditDialog* window) {
        return namedChild<QSpinBox>(*window, widgetnames::keyedit::VolumeField);
    }
    static void typeVolume(KeyEditDialog* window, const char* text) {
        QSpinBox* field = volumeField(window);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }
    QStringList listVolumes() const {
        QStringList volumes;
        for (int row = 0; row < m_list->rowCount(); ++row) {
            volumes << m_list->item(row, 2)->text();
        }
        return volumes;
    }
    static void clickOk(KeyEditDialog* window) {
        QTest::mouseClick(namedChild<QPushButton>(*window, widgetnames::keyedit::OkButton), Qt::LeftButton);
    }
    // Lets closed windows be deleted.
    static void settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    QPoint rowCentre(int row) const { return m_list->visualRect(m_list->model()->index(row, 1)).center(); }
    // A double-click as the window system delivers it: press, release, press, double-click, release.
    void doubleClickList(QPoint at) {
        QTest::mouseDClick(m_dialog->windowHandle(), Qt::LeftButton, {}, m_list->viewport()->mapTo(m_dialog.get(), at));
        QCoreApplication::processEvents();
    }

    test::TempFolder m_root;
    QString m_keysDb;
    platform::FakeFileSystem m_fs;
    platform::FakeLocale m_locale;
    const KeyMapFile m_keyMapFile{m_fs, m_locale};
    KeyMap m_map;
    std::unique_ptr<RedefineKeysDialog> m_dialog;
    QTableWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_delete = nullptr;
    QList<Message> m_messages;
    QStringList m_browseStarts;
    QString m_nextChosenFile;
};

TEST_F(KeyDialogsTest, TheListShowsTheBindingsInFileOrder) {
    open({"F1|Sounds\\11.mp3", "no bar", "a|b|c", "|lead", "q|one.wav", "q|two.wav"});
    EXPECT_EQ(m_dialog->windowTitle(), "Redefine Keys");
    EXPECT_EQ(m_list->horizontalHeaderItem(0)->text(), "Key");
    EXPECT_EQ(m_list->horizontalHeaderItem(1)->text(), "Sound");
    EXPECT_EQ(m_list->horizontalHeaderItem(2)->text(), "Volume");
    EXPECT_EQ(m_list->columnWidth(0), 100);
    // The sound column fills the list beside the volumes, at least 500 wide, and grows with the window.
    EXPECT_GE(m_list->columnWidth(1), 500);
    EXPECT_EQ(m_list->columnWidth(0) + m_list->columnWidth(1) + m_list->columnWidth(2), m_list->viewport()->width());
    const int narrow = m_list->columnWidth(1);
    m_dialog->resize(m_dialog->width() + 300, m_dialog->height());
    EXPECT_TRUE(test::waitFor([&] { return m_list->columnWidth(1) == narrow + 300; }, 5000));
    EXPECT_EQ(m_list->columnWidth(0), 100);
    EXPECT_TRUE(m_list->showGrid());
    EXPECT_EQ(m_list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(m_list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(m_list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(m_list->tabKeyNavigation()) << "Tab goes on to the buttons";
    // A backslash is a folder separator, shown as "/" on this system; the file keeps what it holds.
    EXPECT_EQ(listRows(), (QStringList{"F1|Sounds/11.mp3", "a|b|c", "|lead", "q|one.wav", "q|two.wav"}));
    // Add, Edit and Delete from the left along the bottom.
    for (QPushButton* button : {m_add, m_edit, m_delete}) {
        EXPECT_EQ(button->size(), QSize(75, 28));
    }
    EXPECT_EQ(m_add->text(), "Add");
    EXPECT_EQ(m_edit->text(), "Edit");
    EXPECT_EQ(m_delete->text(), "Delete");
    EXPECT_EQ(m_add->mapTo(m_dialog.get(), QPoint()).x(), 3);
    EXPECT_LT(m_add->x(), m_edit->x());
    EXPECT_LT(m_edit->x(), m_delete->x());
    EXPECT_EQ(m_dialog->height() - m_add->mapTo(m_dialog.get(), QPoint()).y() - m_add->height(), 3);
    EXPECT_TRUE(m_fs.writes.isEmpty()) << "opening writes nothing";
}

// Whatever the first change is, the lines without a bar are gone from the file after it.
TEST_F(KeyDialogsTest, ALineWithoutABarIsDroppedAtTheFirstSave) {
    const QStringList lines = {"first without bar", "a|1.wav", "", "b|2.wav", "last without bar"};
    struct Case {
        const char* change;
        std::function<void()> run;
        QStringList expected;
    };
    const Case cases[] = {
        {"add",
         [this] {
             KeyEditDialog* window = m_dialog->openAddKey("3.wav");
             QTest::keyClicks(keyField(window), "c");
             clickOk(window);
         },
         {"a|1.wav", "b|2.wav", "c|3.wav"}},
        {"edit",
         [this] {
             KeyEditDialog* window = m_dialog->openEditKey(1);
             fileField(window)->setText("new.wav");
             clickOk(window);
         },
         {"a|1.wav", "b|new.wav"}},
        {"delete",
         [this] {
             select({0});
             QTest::mouseClick(m_delete, Qt::LeftButton);
         },
         {"b|2.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        open(lines);
        EXPECT_EQ(m_map.lines(), lines);
        c.run();
        EXPECT_EQ(m_fs.writes, QStringList{m_keysDb});
        expectEverywhere(c.expected);
        m_dialog.reset();
    }
}

// The list's keys move through its rows, selecting the row they reach; Shift extends the selection.
TEST_F(KeyDialogsTest, HomeEndAndThePageKeysMoveThroughTheRows) {
    QStringList lines;
    for (int n = 0; n < 40; ++n) {
        lines << QString::number(n) + "|" + QString::number(n) + ".wav";
    }
    open(lines);
    QApplication::setActiveWindow(m_dialog.get());
    m_list->setFocus();
    m_list->setCurrentCell(5, 1);
    auto selectedRows = [this] {
        QList<int> rows;
        for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) {
            rows << index.row();
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    };

    QTest::keyClick(m_list, Qt::Key_End);
    EXPECT_EQ(m_list->currentRow(), 39);
    EXPECT_EQ(selectedRows(), QList<int>{39});
    QTest::keyClick(m_list, Qt::Key_Home);
    EXPECT_EQ(m_list->currentRow(), 0);
    EXPECT_EQ(selectedRows(), QList<int>{0});

    QTest::keyClick(m_list, Qt::Key_PageDown);
    const int page = m_list->currentRow();
    EXPECT_GT(page, 1) << "a page is the rows in view";
    EXPECT_LT(page, 39);
    EXPECT_EQ(selectedRows(), QList<int>{page});
    QTest::keyClick(m_list, Qt::Key_PageUp);
    EXPECT_EQ(m_list->currentRow(), 0);

    QTest::keyClick(m_list, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows().size(), 40);
}

// Scattered rows, and runs of adjacent rows next to single ones: each goes, the rest keep their order.
TEST_F(KeyDialogsTest, DeletingSelectedRowsWritesTheFileOnce) {
    const struct {
        QList<int> selected;
        QStringList left;
    } cases[] = {
        {{4, 0, 2}, {"b|2", "d|4", "f|6", "g|7", "h|8"}},
        {{1, 2, 3, 5, 6}, {"a|1", "e|5", "h|8"}},
        {{0, 1, 2, 3, 4, 5, 6, 7}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.left.join(' ').toStdString());
        m_dialog.reset();
        m_messages.clear();
        open({"a|1", "b|2", "c|3", "d|4", "e|5", "f|6", "g|7", "h|8"});
        int saves = 0;
        QObject::connect(m_dialog.get(), &RedefineKeysDialog::keyMapSaved, [&saves] { ++saves; });
        select(c.selected);
        QTest::mouseClick(m_delete, Qt::LeftButton);
        EXPECT_EQ(m_fs.writes.size(), 1);
        EXPECT_EQ(saves, 1);
        EXPECT_TRUE(m_messages.isEmpty()) << "Delete does not ask";
        expectEverywhere(c.left);
    }
}

TEST_F(KeyDialogsTest, DeleteWithNothingSelectedRewritesTheFileInTheWrittenForm) {
    // A file from another editor: Latin-1, LF line ends, a line without a bar, no line end at the end.
    writeKeysDb("F5|Sounds\\15.mp3\ncaf\xe9|caf\xe9.wav\nno bar\nF6|last");
    openOnFile();
    ASSERT_EQ(listRows(), (QStringList{"F5|Sounds/15.mp3", QString::fromUtf8("café|café.wav"), "F6|last"}));
    QTest::mouseClick(m_delete, Qt::LeftButton);
    EXPECT_EQ(m_fs.writes.size(), 1);
    EXPECT_EQ(fileBytes(), "\xEF\xBB\xBF"
                           "F5|Sounds\\15.mp3\r\ncaf\xC3\xA9|caf\xC3\xA9.wav\r\nF6|last\r\n");
    expectEverywhere({"F5|Sounds\\15.mp3", QString::fromUtf8("café|café.wav"), "F6|last"});
}

TEST_F(KeyDialogsTest, ADoubleClickEditsTheRowUnderItAndOnEmptySpaceDoesNothing) {
    open({"a|1", "F5|Sounds\\15.mp3"});
    const QPoint below(m_list->viewport()->width() / 2, m_list->viewport()->height() - 5);
    ASSERT_FALSE(m_list->indexAt(below).isValid());
    doubleClickList(below);
    settle();
    EXPECT_TRUE(m_dialog->keyEditWindows().isEmpty());

    // Nor with a row selected before: the click on empty space hits no row.
    select({0});
    doubleClickList(below);
    EXPECT_TRUE(m_dialog->keyEditWindows().isEmpty());

    doubleClickList(rowCentre(1));
    KeyEditDialog* window = onlyWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Edit Key");
    EXPECT_EQ(keyField(window)->text(), "F5");
    EXPECT_TRUE(m_fs.writes.isEmpty());
}

TEST_F(KeyDialogsTest, EditOpensEditKeyForTheFirstSelectedRowWithTheKeyFixed) {
    open({"a|1", "F5|Sounds\\15.mp3", "b|2"});
    QTest::mouseClick(m_edit, Qt::LeftButton);
    EXPECT_TRUE(m_dialog->keyEditWindows().isEmpty()) << "Edit with nothing selected does nothing";

    select({2, 1});
    QTest::mouseClick(m_edit, Qt::LeftButton);
    KeyEditDialog* window = onlyWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Edit Key");
    EXPECT_EQ(window->mode(), KeyEditDialog::Mode::Edit);
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(keyField(window)->text(), "F5");
    EXPECT_FALSE(keyField(window)->isEnabled());
    EXPECT_EQ(fileField(window)->text(), "Sounds\\15.mp3");
    EXPECT_TRUE(m_dialog->isEnabled()) << "the list stays usable";
}

TEST_F(KeyDialogsTest, TheAddKeyWindowLaysOutItsFieldsAndTabOrder) {
    open({"a|1"});
    QTest::mouseClick(m_add, Qt::LeftButton);
    KeyEditDialog* window = onlyWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Add Key");
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->size(), QSize(385, 140));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    QLineEdit* key = keyField(window);
    EXPECT_TRUE(key->isEnabled());
    EXPECT_EQ(key->geometry(), QRect(72, 8, 225, 21));
    EXPECT_EQ(fileField(window)->geometry(), QRect(72, 40, 225, 21));
    EXPECT_EQ(namedChild<QPushButton>(*window, widgetnames::keyedit::BrowseButton)->text(), "Browse...");
    EXPECT_EQ(namedChild<QPushButton>(*window, widgetnames::keyedit::OkButton)->text(), "OK");
    EXPECT_EQ(namedChild<QPushButton>(*window, widgetnames::keyedit::CancelButton)->text(), "Cancel");
    EXPECT_EQ(volumeField(window)->value(), 100);
    const char* order[] = {widgetnames::keyedit::KeyField,     widgetnames::keyedit::FileField,
                           widgetnames::keyedit::BrowseButton, widgetnames::keyedit::VolumeField,
                           widgetnames::keyedit::OkButton,     widgetnames::keyedit::CancelButton};
    QWidget* widget = key;
    for (int n = 1; n < 6; ++n) {
        // The volume field's own text field comes along with it.
        do {
            widget = widget->nextInFocusChain();
        } while (widget->focusPolicy() == Qt::NoFocus || qobject_cast<QSpinBox*>(widget->parentWidget()));
        EXPECT_EQ(widget->objectName(), order[n]);
    }
}

// A volume set in Add Key or Edit Key reaches the key map, the list and the file beside keys.db, and the next
// Edit Key window and the next load find it again; keys.db itself keeps the key and the path alone.
TEST_F(KeyDialogsTest, TheVolumeRoundTripsThroughAddAndEditKey) {
    open({"a|1"});
    KeyEditDialog* add = m_dialog->openAddKey("x.wav");
    QTest::keyClicks(keyField(add), "z");
    typeVolume(add, "50");
    clickOk(add);
    ASSERT_TRUE(m_messages.isEmpty());
    expectEverywhere({"a|1", "z|x.wav"});
    EXPECT_FLOAT_EQ(m_map.row(1).gain, 0.5f);
    EXPECT_EQ(listVolumes(), (QStringList{"100%", "50%"}));

    KeyEditDialog* edit = m_dialog->openEditKey(1);
    EXPECT_EQ(volumeField(edit)->value(), 50);
    typeVolume(edit, "300");
    EXPECT_LE(volumeField(edit)->value(), 200) << "no more than 200%";
    typeVolume(edit, "150");
    clickOk(edit);
    ASSERT_TRUE(m_messages.isEmpty());
    EXPECT_FLOAT_EQ(m_map.row(1).gain, 1.5f);
    EXPECT_EQ(listVolumes(), (QStringList{"100%", "150%"}));
    EXPECT_EQ(volumeField(m_dialog->openEditKey(0))->value(), 100);
    // A new sound for the row keeps its volume.
    ASSERT_TRUE(m_dialog->replacePath(m_dialog->rowId(1), "y.wav"));
    EXPECT_FLOAT_EQ(m_map.row(1).gain, 1.5f);

    m_dialog.reset();
    openOnFile();
    ASSERT_TRUE(m_keyMapFile.loadVolumes(m_root.file("bindings.ini"), m_map).ok());
    m_dialog.reset();
    m_dialog = std::make_unique<RedefineKeysDialog>(m_map, m_keyMapFile, m_keysDb);
    m_list = namedChild<QTableWidget>(*m_dialog, widgetnames::redefinekeys::BindingList);
    EXPECT_EQ(listVolumes(), (QStringList{"100%", "150%"}));
    EXPECT_EQ(volumeField(m_dialog->openEditKey(1))->value(), 150);
}

TEST_F(KeyDialogsTest, TheKeyFieldHoldsTheLastCharacterTyped) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openAddKey();
    QTest::keyClicks(keyField(window), "x");
    QTest::keyClicks(keyField(window), "y");
    EXPECT_EQ(keyField(window)->text(), "y");
    QTest::keyClicks(keyField(window), "zQ");
    EXPECT_EQ(keyField(window)->text(), "Q");
}

// keys.db holds UTF-8: a character outside the basic plane is two UTF-16 units, kept together as one key.
TEST_F(KeyDialogsTest, TheKeyFieldKeepsACharacterOutsideTheBasicPlaneWhole) {
    open({"a|1"});
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    KeyEditDialog* window = m_dialog->openAddKey("x.wav");
    QTest::sendKeyEvent(QTest::Click, keyField(window), Qt::Key_unknown, emoji, Qt::NoModifier);
    EXPECT_EQ(keyField(window)->text(), emoji);
    // Several characters at once (a paste) leave the first.
    keyField(window)->insert(emoji + "b");
    EXPECT_EQ(keyField(window)->text(), emoji);
    keyField(window)->insert("b" + emoji);
    EXPECT_EQ(keyField(window)->text(), "b");
    QTest::sendKeyEvent(QTest::Click, keyField(window), Qt::Key_unknown, emoji, Qt::NoModifier);
    clickOk(window);
    EXPECT_TRUE(m_messages.isEmpty());
    expectEverywhere({"a|1", emoji + "|x.wav"});
    EXPECT_TRUE(fileBytes().endsWith("a|1\r\n\xF0\x9F\x98\x80|x.wav\r\n"));
}

// "||x.wav" would read back as an empty key bound to "|x.wav".
TEST_F(KeyDialogsTest, TheBarIsRefusedAsAKeyWithAMessage) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openAddKey("x.wav");
    QTest::keyClicks(keyField(window), "|");
    clickOk(window);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0].caption, "WARNING");
    EXPECT_TRUE(m_messages[0].text.contains("|")) << m_messages[0].text.toStdString();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(m_fs.writes.isEmpty());
    expectEverywhere({"a|1"});
}

TEST_F(KeyDialogsTest, AddingAKeyThatExistsWarnsAndAnotherLetterCaseIsAnotherKey) {
    open({"q|one.wav"});
    KeyEditDialog* window = m_dialog->openAddKey("two.wav");
    QTest::keyClicks(keyField(window), "q");
    clickOk(window);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0].text, "Key already exists!");
    EXPECT_EQ(m_messages[0].caption, "WARNING");
    EXPECT_EQ(m_messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(m_messages[0].parent, window);
    EXPECT_TRUE(m_fs.writes.isEmpty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(fileField(window)->text(), "two.wav");
    expectEverywhere({"q|one.wav"});

    QTest::keyClicks(keyField(window), "Q");
    clickOk(window);
    EXPECT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_fs.writes.size(), 1);
    EXPECT_FALSE(window->isVisible());
    expectEverywhere({"q|one.wav", "Q|two.wav"});
}

TEST_F(KeyDialogsTest, AddingWithAnEmptyKeyFieldRefusesAndPointsAtTheKeyField) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openAddKey("x.wav");
    QApplication::setActiveWindow(window);
    fileField(window)->setFocus();
    clickOk(window);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0].caption, "WARNING");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->focusWidget(), keyField(window));
    EXPECT_TRUE(m_fs.writes.isEmpty());
    expectEverywhere({"a|1"});
}

TEST_F(KeyDialogsTest, AnEmptyPathIsWrittenAsTheKeyAndABar) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openAddKey();
    QTest::keyClicks(keyField(window), "k");
    clickOk(window);
    expectEverywhere({"a|1", "k|"});
    EXPECT_TRUE(fileBytes().endsWith("a|1\r\nk|\r\n"));
}

TEST_F(KeyDialogsTest, EditOnAMultiCharacterKeyReplacesThatRowsPathFromBrowse) {
    open({"a|1", "ENTER|old.wav", "F5|Sounds\\15.mp3"});
    KeyEditDialog* window = m_dialog->openEditKey(1);
    // A cancelled file dialog leaves the field; a chosen file replaces it.
    QTest::mouseClick(namedChild<QPushButton>(*window, widgetnames::keyedit::BrowseButton), Qt::LeftButton);
    EXPECT_EQ(fileField(window)->text(), "old.wav");
    m_nextChosenFile = m_root.file("chosen.mp3");
    QTest::mouseClick(namedChild<QPushButton>(*window, widgetnames::keyedit::BrowseButton), Qt::LeftButton);
    EXPECT_EQ(m_browseStarts, (QStringList{"old.wav", "old.wav"}));
    EXPECT_EQ(fileField(window)->text(), m_root.file("chosen.mp3"));
    clickOk(window);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(m_fs.writes.size(), 1);
    expectEverywhere({"a|1", "ENTER|" + m_root.file("chosen.mp3"), "F5|Sounds\\15.mp3"});
    EXPECT_EQ(m_map.pathsFor(u"ENTER"), QStringList{m_root.file("chosen.mp3")});
}

// The file dialog opens where the field's file is, with it selected; keys.db's backslash separates folders too.
TEST(FileDialogStartTest, OpensAtTheFilesFolderWithItSelected) {
    const QString current = QDir::currentPath();
    const struct {
        QString field;
        QString folder;
        QString fileName;
    } cases[] = {
        {"Sounds\\15.mp3", current + "/Sounds", "15.mp3"}, {"Sounds/15.mp3", current + "/Sounds", "15.mp3"},
        {"a\\b\\c.wav", current + "/a/b", "c.wav"},        {"15.mp3", current, "15.mp3"},
        {"/tmp\\sounds\\x.ogg", "/tmp/sounds", "x.ogg"},   {"/tmp/x.ogg", "/tmp", "x.ogg"},
    };
    for (const auto& c : cases) {
        const FileDialogStart start = fileDialogStart(c.field);
        EXPECT_EQ(start.folder, c.folder) << c.field.toStdString();
        EXPECT_EQ(start.fileName, c.fileName) << c.field.toStdString();
    }
}

TEST_F(KeyDialogsTest, BrowseStartsWithoutAFileNameWhenTheFieldIsEmpty) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openAddKey();
    QTest::mouseClick(namedChild<QPushButton>(*window, widgetnames::keyedit::BrowseButton), Qt::LeftButton);
    EXPECT_EQ(m_browseStarts, QStringList{""});
    EXPECT_EQ(fileField(window)->text(), "");
}

TEST_F(KeyDialogsTest, AnEditIsTiedToItsOwnRowAmongRowsWithTheSameKey) {
    open({"q|one.wav", "a|1", "q|two.wav"});
    select({2});
    QTest::mouseClick(m_edit, Qt::LeftButton);
    KeyEditDialog* window = onlyWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(fileField(window)->text(), "two.wav");
    // Rows above it go meanwhile; the window follows its row.
    select({1});
    QTest::mouseClick(m_delete, Qt::LeftButton);
    fileField(window)->setText("three.wav");
    clickOk(window);
    expectEverywhere({"q|one.wav", "q|three.wav"});
}

TEST_F(KeyDialogsTest, AnEditKeyWindowWhoseRowWasDeletedSaysSoAndChangesNothing) {
    open({"a|1", "b|2", "c|3"});
    KeyEditDialog* window = m_dialog->openEditKey(1);
    select({1});
    QTest::mouseClick(m_delete, Qt::LeftButton);
    m_fs.writes.clear();
    fileField(window)->setText("new.wav");
    clickOk(window);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(m_messages[0].text, "This key has been deleted from the list.");
    EXPECT_TRUE(m_fs.writes.isEmpty());
    EXPECT_TRUE(window->isVisible());
    expectEverywhere({"a|1", "c|3"});
}

TEST_F(KeyDialogsTest, ClosingRedefineKeysClosesItsAddAndEditWindows) {
    open({"a|1", "b|2"});
    QPointer<KeyEditDialog> add = m_dialog->openAddKey();
    QPointer<KeyEditDialog> edit = m_dialog->openEditKey(0);
    QApplication::setActiveWindow(m_dialog.get());
    QTest::keyClick(m_list, Qt::Key_Escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_FALSE(add->isVisible());
    EXPECT_FALSE(edit->isVisible());
    settle();
    EXPECT_TRUE(add.isNull());
    EXPECT_TRUE(edit.isNull());
    EXPECT_TRUE(m_fs.writes.isEmpty()) << "closing saves nothing";
}

TEST_F(KeyDialogsTest, EnterPressesNoButtonAndEscClosesTheWindowWithoutAChange) {
    open({"a|1"});
    QPointer<KeyEditDialog> window = m_dialog->openAddKey("x.wav");
    QTest::keyClicks(keyField(window), "k");
    // Not in the fields, nor on OK or Cancel themselves.
    for (QWidget* widget : std::initializer_list<QWidget*>{
             keyField(window), fileField(window), namedChild<QPushButton>(*window, widgetnames::keyedit::OkButton),
             namedChild<QPushButton>(*window, widgetnames::keyedit::CancelButton)}) {
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter);
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(m_fs.writes.isEmpty());
    QApplication::setActiveWindow(window);
    QTest::keyClick(fileField(window), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(m_dialog->isVisible()) << "Esc in the window closes the window only";
    settle();
    EXPECT_TRUE(window.isNull());
    QPointer<KeyEditDialog> cancelled = m_dialog->openAddKey("y.wav");
    QTest::keyClicks(keyField(cancelled), "m");
    QTest::mouseClick(namedChild<QPushButton>(*cancelled, widgetnames::keyedit::CancelButton), Qt::LeftButton);
    settle();
    EXPECT_TRUE(cancelled.isNull());
    EXPECT_TRUE(m_fs.writes.isEmpty());
    expectEverywhere({"a|1"});
}

// The file cannot be replaced: the user sees the key map's error, and the file, the key map and the list stay
// as they were, so a retry once the cause is gone saves the same change.
TEST_F(KeyDialogsTest, AFailedSaveShowsTheErrorAndKeepsTheWindowTheListAndTheFile) {
    open({"no bar", "a|1", "b|2"});
    const QByteArray before = fileBytes();
    m_fs.failingWrites.insert(m_keysDb);

    KeyEditDialog* add = m_dialog->openAddKey("new.wav");
    QTest::keyClicks(keyField(add), "n");
    clickOk(add);
    KeyEditDialog* edit = m_dialog->openEditKey(0);
    fileField(edit)->setText("changed.wav");
    clickOk(edit);
    select({0, 1});
    QTest::mouseClick(m_delete, Qt::LeftButton);

    ASSERT_EQ(m_messages.size(), 3);
    for (const Message& message : m_messages) {
        EXPECT_EQ(message.icon, QMessageBox::Critical);
        EXPECT_TRUE(message.text.contains(m_keysDb)) << message.text.toStdString();
        EXPECT_TRUE(message.text.contains("No space left on device")) << message.text.toStdString();
    }
    EXPECT_EQ(m_messages[0].parent, add);
    EXPECT_EQ(m_messages[1].parent, edit);
    EXPECT_EQ(m_messages[2].parent, m_dialog.get());
    EXPECT_TRUE(add->isVisible());
    EXPECT_TRUE(edit->isVisible());
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(m_map.lines(), (QStringList{"no bar", "a|1", "b|2"}));
    EXPECT_EQ(listRows(), (QStringList{"a|1", "b|2"}));

    m_fs.failingWrites.clear();
    clickOk(add);
    clickOk(edit);
    EXPECT_FALSE(add->isVisible());
    EXPECT_FALSE(edit->isVisible());
    EXPECT_EQ(m_messages.size(), 3);
    expectEverywhere({"a|changed.wav", "b|2", "n|new.wav"});
}

TEST_F(KeyDialogsTest, AFileNameWithALineBreakIsRefusedWithoutAChange) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openEditKey(0);
    fileField(window)->setText("two\nlines.wav");
    window->confirm();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(window->isVisible());
    expectEverywhere({"a|1"});
}

QMimeData* urlsOf(const QStringList& paths) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << (path.startsWith("http") ? QUrl(path) : QUrl::fromLocalFile(path));
    }
    mime->setUrls(urls);
    return mime;
}

// Delivers a drag that enters Target and drops at its centre; true when the drop was taken.
bool drop(QWidget* target, QMimeData* mime) {
    std::unique_ptr<QMimeData> owned(mime);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent dropped(at, Qt::CopyAction, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

TEST_F(KeyDialogsTest, SoundFilesDroppedOnTheListOpenAnAddKeyWindowEach) {
    open({"a|1"});
    QStringList files;
    for (int n = 0; n < 12; ++n) {
        files << m_root.file(QString("drop%1.wav").arg(n));
        test::writeBytes(files.last(), "RIFF");
    }
    EXPECT_FALSE(drop(m_list->viewport(), urlsOf({m_root.path(), "https://127.0.0.1/x.wav"})))
        << "folders and remote files are no sound files to bind";
    EXPECT_TRUE(m_dialog->keyEditWindows().isEmpty());

    ASSERT_TRUE(drop(m_list->viewport(), urlsOf(files.mid(0, 2))));
    QList<KeyEditDialog*> windows = m_dialog->keyEditWindows();
    ASSERT_EQ(windows.size(), 2);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(windows[n]->windowTitle(), "Add Key");
        EXPECT_EQ(fileField(windows[n])->text(), files[n]);
        EXPECT_TRUE(keyField(windows[n])->text().isEmpty());
    }
    QTest::keyClicks(keyField(windows[1]), "d");
    clickOk(windows[1]);
    expectEverywhere({"a|1", "d|" + files[1]});

    // A large drop opens a bounded number of windows.
    ASSERT_TRUE(drop(m_list->viewport(), urlsOf(files)));
    EXPECT_EQ(m_dialog->keyEditWindows().size(), 1 + RedefineKeysDialog::MaxDroppedFiles);
}

TEST_F(KeyDialogsTest, AFileDroppedOnTheFileFieldFillsIt) {
    open({"a|1"});
    KeyEditDialog* window = m_dialog->openEditKey(0);
    const QString file = m_root.file("dropped.ogg");
    test::writeBytes(file, "OggS");
    ASSERT_TRUE(drop(fileField(window), urlsOf({file, m_root.file("second.ogg")})));
    EXPECT_EQ(fileField(window)->text(), file);
    clickOk(window);
    expectEverywhere({"a|" + file});
}

} // namespace
