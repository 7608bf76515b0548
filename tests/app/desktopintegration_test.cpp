// The program's side of its desktop integration: the icon it shows and the command its desktop entries name.
#include "app/application.h"
#include "app/launcher.h"
#include "app/menuicons.h"
#include "tests/support/testsupport.h"

#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <gtest/gtest.h>

using namespace clavora;

namespace {

// Pixels of A and B whose colours differ, both taken premultiplied as a pixmap holds them; every pixel when the
// sizes differ.
int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return a.width() * a.height() + b.width() * b.height();
    }
    const QImage left = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int count = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            count += left.pixel(x, y) != right.pixel(x, y);
        }
    }
    return count;
}

class LauncherPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(m_root.file("opt/clavora")));
        ASSERT_TRUE(QDir().mkpath(m_root.file("usr/bin")));
        ASSERT_TRUE(QDir().mkpath(m_root.file("elsewhere")));
        test::writeBytes(m_program, "program");
        test::writeBytes(m_root.file("elsewhere/clavora"), "another copy");
    }

    QString link(const QString& name, const QString& target) {
        const QString path = m_root.file(name);
        EXPECT_TRUE(QFile::link(target, path)) << name.toStdString();
        return path;
    }

    test::TempFolder m_root;
    const QString m_program = m_root.file("opt/clavora/clavora");
};

TEST_F(LauncherPathTest, TheLinkIsNamedWhenItLeadsToThisProgram) {
    const QString direct = link("usr/bin/clavora", m_program);
    EXPECT_EQ(launcherPath(m_program, direct), direct);

    // Debian's links between top-level folders are absolute; a relative one, or one through another link, leads
    // there all the same.
    const QString relative = link("usr/bin/relative", "../../opt/clavora/clavora");
    EXPECT_EQ(launcherPath(m_program, relative), relative);
    const QString chained = link("usr/bin/chained", direct);
    EXPECT_EQ(launcherPath(m_program, chained), chained);
}

TEST_F(LauncherPathTest, TheProgramFileIsNamedWhenTheLinkDoesNotLeadToIt) {
    const struct {
        const char* what;
        QString link;
    } cases[] = {
        {"no link at all", m_root.file("usr/bin/missing")},
        {"a link to another copy", link("usr/bin/other", m_root.file("elsewhere/clavora"))},
        {"a dangling link", link("usr/bin/dangling", m_root.file("opt/gone/clavora"))},
        {"a link to the program folder", link("usr/bin/folder", m_root.file("opt/clavora"))},
        {"a regular file", m_root.file("elsewhere/clavora")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(launcherPath(m_program, c.link), m_program);
    }
}

TEST(LauncherPathDefault, NamesThePackagesLink) {
    EXPECT_STREQ(PackageLauncherLink, "/usr/bin/clavora");
    // This test program is no installed copy, so it names itself.
    const QString self = QCoreApplication::applicationFilePath();
    EXPECT_EQ(launcherPath(self), self);
}

// The window and the notices show the pictures the desktop shows: one per size of the icon
// theme, each exactly as rendered for the package.
TEST(ApplicationIconTest, CarriesTheShippedPictureAtEveryThemeSize) {
    const QIcon icon = applicationIcon();
    ASSERT_FALSE(icon.isNull());
    QList<int> sizes;
    for (const QSize& size : icon.availableSizes()) {
        EXPECT_EQ(size.width(), size.height());
        sizes << size.width();
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, QList<int>({16, 22, 24, 32, 48, 64, 128, 256}));

    const QString rendered = QString::fromLocal8Bit(qgetenv("CLAVORA_BINARY_DIR")) + "/packaging/icons/%1.png";
    for (int size : sizes) {
        SCOPED_TRACE(size);
        const QImage expected(rendered.arg(size));
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(differingPixels(icon.pixmap(QSize(size, size)).toImage(), expected), 0);
    }
}

// The notification area shows a mark of its own, drawn for the 16 and 22 px panels use: at those sizes it is the
// drawing's picture pixel for pixel (no scaling blur), and not the application icon scaled down.
TEST(TrayIconTest, IsTheMarkDrawnForEachPanelSize) {
    const QIcon icon = trayIcon();
    const QString rendered = QString::fromLocal8Bit(qgetenv("CLAVORA_BINARY_DIR")) + "/packaging/tray/%1.png";
    for (int size : {16, 22}) {
        SCOPED_TRACE(size);
        const QImage expected(rendered.arg(size));
        ASSERT_EQ(expected.size(), QSize(size, size));
        const QImage shown = icon.pixmap(QSize(size, size), 1.0).toImage();
        EXPECT_EQ(differingPixels(shown, expected), 0);
        EXPECT_GT(differingPixels(shown, applicationIcon().pixmap(QSize(size, size), 1.0).toImage()), size * size / 4);
        // Screens that scale by two get the picture rendered at twice the size.
        EXPECT_EQ(icon.pixmap(QSize(size, size), 2.0).size(), QSize(2 * size, 2 * size));
    }
}

// One of several exclusive choices shows a radio mark, an option a check mark, under the program's own style sheet:
// the two rendered menus differ where the mark is drawn, and the radio's is round (its corners stay empty).
TEST(ProgramStyleTest, ExclusiveChoicesInAMenuShowARadioMark) {
    configureApplication(*qApp);
    const auto render = [](bool exclusive) {
        QMenu menu;
        QAction* action = menu.addAction(QStringLiteral("Standard"));
        action->setCheckable(true);
        QActionGroup group(&menu);
        group.setExclusive(exclusive);
        group.addAction(action);
        action->setChecked(true);
        menu.adjustSize();
        return menu.grab().toImage();
    };
    const QImage radio = render(true);
    const QImage check = render(false);
    ASSERT_EQ(radio.size(), check.size());
    // The mark sits left of the text, in the item's first 26 pixels.
    const QImage radioMark = radio.copy(0, 0, 26, radio.height());
    const QImage checkMark = check.copy(0, 0, 26, check.height());
    EXPECT_GT(differingPixels(radioMark, checkMark), 10);
    EXPECT_EQ(differingPixels(radio.copy(26, 0, radio.width() - 26, radio.height()),
                              check.copy(26, 0, check.width() - 26, check.height())),
              0)
        << "only the mark differs";
}

} // namespace
