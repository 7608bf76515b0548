// The program's look as its style sheet draws it: the sizes the dialogs give their buttons, disabled fields, message
// boxes wherever they open, and the update notice's link under the pointer. The sheet is applied once for the whole
// executable, as the program applies it at start-up; what is checked is the rendered widget.
#include "about/aboutdialog.h"
#include "about/widgetnames.h"
#include "app/application.h"
#include "i18n/languagedialog.h"
#include "i18n/widgetnames.h"
#include "keymap/keyeditdialog.h"
#include "keymap/keymap.h"
#include "keymap/redefinekeysdialog.h"
#include "keymap/widgetnames.h"
#include "online/feedbackdialog.h"
#include "online/updatenotice.h"
#include "online/widgetnames.h"
#include "tests/support/platformtest.h"

#include <QApplication>
#include <QCursor>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

using namespace clavora;

// Readable sizes and rectangles in failure messages.
void PrintTo(const QSize& size, std::ostream* out) {
    *out << size.width() << " x " << size.height();
}
void PrintTo(const QRect& rect, std::ostream* out) {
    *out << "(" << rect.x() << ", " << rect.y() << ") " << rect.width() << " x " << rect.height();
}

namespace {

// The colour that covers most of Area of Image: the surface behind whatever is drawn there.
QRgb surfaceColour(const QImage& image, QRect area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return best;
}

int darkestGrey(const QImage& image, QRect area) {
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
        }
    }
    return darkest;
}

bool holdsColour(const QImage& image, QRect area, QColor colour) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (QColor(image.pixel(x, y)).rgb() == colour.rgb()) {
                return true;
            }
        }
    }
    return false;
}

// A window as drawn, at one image pixel per widget pixel.
QImage drawn(QWidget& window) {
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32).scaled(window.size());
}

// Where Child lies in the image of its window.
QRect placeIn(QWidget& window, QWidget* child) {
    return QRect(child->mapTo(&window, QPoint(0, 0)), child->size());
}

class VisualStyleTest : public test::PlatformTest {
protected:
    static void SetUpTestSuite() { configureApplication(*qApp); }

    static void showAndWait(QWidget& window) {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
};

TEST_F(VisualStyleTest, ButtonsKeepTheSizesTheirDialogsGiveThem) {
    KeyMap keys = KeyMap::fromLines({QStringLiteral("F5|Sounds\\15.mp3")});
    RedefineKeysDialog redefine(keys, KeyMapFile(m_services), m_root.file(QStringLiteral("keys.db")));
    showAndWait(redefine);
    KeyEditDialog* editKey = redefine.openEditKey(0);
    ASSERT_NE(editKey, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(editKey));
    about::AboutDialog about(
        {QStringLiteral("Clavora"), QStringLiteral("1.0"), QStringLiteral("www.example.com"), QString(), {}, {}},
        m_files, m_shell);
    showAndWait(about);
    LanguageDialogContext languageContext;
    languageContext.services = &m_services;
    LanguageDialog language{languageContext};
    showAndWait(language);
    online::FeedbackDialog feedback{online::FeedbackContext{}};
    showAndWait(feedback);

    const int stripTop = redefine.height() - 34;
    struct Case {
        QWidget* window;
        const char* button;
        QRect geometry; // in the window; an empty rectangle where only the size is fixed
        QSize size;
    };
    const Case cases[] = {
        {&redefine, widgetnames::redefinekeys::AddButton, QRect(3, stripTop + 3, 75, 28), {75, 28}},
        {&redefine, widgetnames::redefinekeys::EditButton, QRect(), {75, 28}},
        {&redefine, widgetnames::redefinekeys::DeleteButton, QRect(), {75, 28}},
        {editKey, widgetnames::keyedit::BrowseButton, QRect(303, 38, 75, 25), {75, 25}},
        {editKey, widgetnames::keyedit::OkButton, QRect(72, 107, 88, 25), {88, 25}},
        {editKey, widgetnames::keyedit::CancelButton, QRect(166, 107, 88, 25), {88, 25}},
        {&about, widgetnames::about::OkButton, QRect(48 + 49, 42 + 226, 122, 33), {122, 33}},
        {&about, widgetnames::about::InfoButton, QRect(48 + 177, 42 + 226, 122, 33), {122, 33}},
        {&language, widgetnames::language::OkButton, QRect(), {172, 33}},
        {&feedback, widgetnames::feedback::SendButton, QRect(), {172, 33}},
    };
    for (const Case& c : cases) {
        auto* button = test::namedChild<QPushButton>(*c.window, c.button);
        const QRect placed = placeIn(*c.window, button);
        const QString where = c.window->objectName() + QLatin1Char('.') + QLatin1String(c.button);
        EXPECT_EQ(placed.size(), c.size) << where.toStdString();
        if (!c.geometry.isEmpty()) {
            EXPECT_EQ(placed, c.geometry) << where.toStdString();
        }
        EXPECT_TRUE(c.window->rect().contains(placed)) << where.toStdString();
    }

    // The strip's buttons stand side by side from the left; OK and Cancel leave a gap between them.
    const auto right = [&](QWidget* window, const char* name) {
        return placeIn(*window, test::namedChild<QPushButton>(*window, name)).right();
    };
    const auto left = [&](QWidget* window, const char* name) {
        return placeIn(*window, test::namedChild<QPushButton>(*window, name)).left();
    };
    EXPECT_LT(right(&redefine, widgetnames::redefinekeys::AddButton),
              left(&redefine, widgetnames::redefinekeys::EditButton));
    EXPECT_LT(right(&redefine, widgetnames::redefinekeys::EditButton),
              left(&redefine, widgetnames::redefinekeys::DeleteButton));
    EXPECT_LT(right(editKey, widgetnames::keyedit::OkButton) + 1, left(editKey, widgetnames::keyedit::CancelButton));
}

TEST_F(VisualStyleTest, ADisabledFieldLooksDisabled) {
    KeyMap keys = KeyMap::fromLines({QStringLiteral("F5|Sounds\\15.mp3")});
    RedefineKeysDialog redefine(keys, KeyMapFile(m_services), m_root.file(QStringLiteral("keys.db")));
    showAndWait(redefine);
    KeyEditDialog* editKey = redefine.openEditKey(0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(editKey));
    auto* key = test::namedChild<QLineEdit>(*editKey, widgetnames::keyedit::KeyField);
    auto* file = test::namedChild<QLineEdit>(*editKey, widgetnames::keyedit::FileField);
    ASSERT_FALSE(key->isEnabled());
    file->setText(key->text()); // the same text in both, so only the state tells them apart
    file->clearFocus();
    QCoreApplication::processEvents();

    const QImage image = drawn(*editKey);
    const QRect disabledInside = placeIn(*editKey, key).adjusted(2, 2, -2, -2);
    const QRect enabledInside = placeIn(*editKey, file).adjusted(2, 2, -2, -2);
    EXPECT_NE(surfaceColour(image, disabledInside), surfaceColour(image, enabledInside));
    // Its text is greyed: even its darkest pixel is well lighter than the enabled field's text.
    EXPECT_GT(darkestGrey(image, disabledInside), darkestGrey(image, enabledInside) + 40);
}

// A message box opened over the About dialog shows what one opened over nothing shows, and in both the icon and the
// text lie on the box's own surface.
TEST_F(VisualStyleTest, MessageBoxesKeepTheirLookOverTheAboutDialog) {
    about::AboutDialog about(
        {QStringLiteral("Clavora"), QStringLiteral("1.0"), QStringLiteral("www.example.com"), m_root.path(), {}, {}},
        m_files, m_shell);
    showAndWait(about);

    struct Drawn {
        QImage image;
        QRect text;
        QRect icon;
        QRgb surface = 0;
    };
    const auto draw = [](QMessageBox& box) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&box));
        Drawn d;
        d.image = drawn(box);
        auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"));
        EXPECT_NE(text, nullptr);
        EXPECT_NE(icon, nullptr);
        if (text && icon) {
            d.text = placeIn(box, text);
            d.icon = placeIn(box, icon);
        }
        d.surface = d.image.pixel(2, 2);
        return d;
    };

    Drawn overAbout;
    bool seen = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->parentWidget() != &about) {
            return;
        }
        closer.stop();
        overAbout = draw(*box);
        seen = true;
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(20);
    test::namedAction(about, widgetnames::about::LicenseAction)->trigger(); // there is no license.txt
    ASSERT_TRUE(seen);

    QMessageBox alone(QMessageBox::Critical, QStringLiteral("License"), QString(), QMessageBox::Ok);
    alone.setTextFormat(Qt::PlainText);
    alone.setText(QStringLiteral("File not found!"));
    alone.show();
    const Drawn standard = draw(alone);

    ASSERT_EQ(overAbout.text, standard.text);
    EXPECT_EQ(overAbout.image.copy(overAbout.text), standard.image.copy(standard.text));
    EXPECT_EQ(overAbout.image.copy(overAbout.icon), standard.image.copy(standard.icon));
    EXPECT_LT(darkestGrey(overAbout.image, overAbout.text), 100); // dark text on the light box
    for (const Drawn* d : {static_cast<const Drawn*>(&overAbout), &standard}) {
        EXPECT_EQ(surfaceColour(d->image, d->text), d->surface);
        // The icon is round: its label shows through at the corners.
        EXPECT_EQ(d->image.pixel(d->icon.topLeft()), d->surface);
        EXPECT_EQ(d->image.pixel(d->icon.bottomRight()), d->surface);
    }
}

TEST_F(VisualStyleTest, TheUpdateNoticeLinkLightsUpUnderThePointer) {
    online::UpdateNoticeContent content;
    content.productName = QStringLiteral("Clavora");
    content.version = QStringLiteral("3.3");
    content.downloadUrl = QStringLiteral("https://www.example.com/get/");
    content.icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
    content.shell = &m_shell;
    online::UpdateNotice notice(content);
    ASSERT_TRUE(test::waitFor([&] { return notice.isVisible() && notice.size() == QSize(320, 68); }, 5000));
    auto* link = test::namedChild<QLabel>(notice, widgetnames::updatenotice::DownloadLink);

    const QColor plain = notice.palette().color(QPalette::WindowText);
    const QColor lit = notice.palette().color(QPalette::Highlight);
    ASSERT_NE(plain.rgb(), lit.rgb());
    // The underline is drawn in exactly the text's colour.
    const auto showsOnly = [&](QColor shown, QColor absent) {
        const QImage image = drawn(notice);
        const QRect area = placeIn(notice, link);
        return holdsColour(image, area, shown) && !holdsColour(image, area, absent);
    };

    QCursor::setPos(notice.mapToGlobal(QPoint(-50, 200)));
    EXPECT_TRUE(test::waitFor([&] { return showsOnly(plain, lit); }, 5000));
    QCursor::setPos(link->mapToGlobal(link->rect().center()));
    EXPECT_TRUE(test::waitFor([&] { return showsOnly(lit, plain); }, 5000));
    QCursor::setPos(notice.mapToGlobal(QPoint(-50, 200)));
    EXPECT_TRUE(test::waitFor([&] { return showsOnly(plain, lit); }, 5000));
}

} // namespace
