// The About dialog: name and version on a black information panel with the maker's logo and the program's icon, an
// "Info" menu, the home-page link, and falling characters on the dialog's own surface. A double-click on the icon
// slides the panel away from a hidden picture; the whole window is dragged by its panel, labels and pictures.
#pragma once

#include "about/popupguard.h"
#include "about/rain.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/shell.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QRandomGenerator>

#include <functional>

class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace clavora::about {

using TranslateFunction = std::function<QString(const QString&)>;

// What the dialog is handed by the window that opens it.
struct AboutContext {
    QString productName;   // "Clavora"
    QString version;       // "major.minor"
    QString webHost;       // the maker's host (may carry ":port"): home, acknowledgements and uninstall pages
    QString programFolder; // where license.txt is installed
    QIcon appIcon;
    TranslateFunction translate; // the loaded language; unchanged text when empty
};

// The caption from the translated format of "About %s": its one "%s" replaced by the product name. A format with no
// "%s" or several would give a broken caption, so "About " + the product name is used then.
QString aboutCaption(const QString& format, const QString& productName);

QString homePageUrl(const QString& webHost);
QString creditsPageUrl(const QString& webHost);
QString uninstallPageUrl(const QString& webHost);

// The slide timer's interval at a device pixel ratio: 5 ms at the system's resolution, shorter on denser screens
// (rounded half to even), never below 1 ms.
int slideIntervalMs(qreal devicePixelRatio);

// The font of the falling characters: the dialog's, at the largest pixel size whose whole line (ascent, descent and
// leading) fits the height of a rain cell, so a character stays inside its cell.
QFont rainFont();

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 446;
    static constexpr int ClientHeight = 374;
    static constexpr int SlideStep = 5;

    // Files tells whether the license is installed; Shell opens it and the web pages.
    AboutDialog(AboutContext context, platform::IFileSystem& files, platform::IShell& shell, QWidget* parent = nullptr);
    ~AboutDialog() override;

    // Tests replace the rain's random numbers and the clock of the menu's reopen guard.
    void setRandom(Rain::Random random);
    void setClock(const platform::Clock& clock) { m_clock = &clock; }

    const Rain& rain() const { return m_rain; }
    // The rain's surface as painted so far: window-sized, black where nothing fell.
    const QImage& rainSurface() const { return m_surface; }
    // One tick of the rain, as its timer runs it.
    void rainTick();

    // The "Info" button's command: opens the menu below the button and returns when it closes.
    void showInfoMenu();
    // "License...": the licence text beside the program, or "File not found!".
    void openLicense();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QString translate(const char* text) const;
    void startRain();
    void resetRain();
    void renderPictures();
    void startSlide();
    void slideStep();
    void coverPicture();
    void resolutionChanged();
    bool dragEvent(QObject* watched, QEvent* event);
    bool linkMouseEvent(QEvent* event);

    AboutContext m_context;
    platform::IFileSystem& m_files;
    platform::IShell& m_shell;
    QRandomGenerator m_generator;
    Rain m_rain;
    QImage m_surface;
    PopupReopenGuard m_reopenGuard;
    const platform::Clock* m_clock = &platform::steadyClock();

    QWidget* m_panel = nullptr;
    QWidget* m_eggPanel = nullptr;
    QLabel* m_eggPicture = nullptr;
    QLabel* m_logo = nullptr;
    QLabel* m_icon = nullptr;
    QLabel* m_link = nullptr;
    QPushButton* m_infoButton = nullptr;
    QMenu* m_infoMenu = nullptr;
    QTimer* m_rainTimer = nullptr;
    QTimer* m_slideTimer = nullptr;
    bool m_screenWatched = false;

    bool m_linkPressed = false;
    bool m_dragging = false;
    QPoint m_dragFrom;
};

} // namespace clavora::about
