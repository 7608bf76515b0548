// The About dialog. Its controls carry the object names of about/widgetnames.h, which the tests look them up by.
#include "about/aboutdialog.h"

#include "about/aboutpictures.h"
#include "about/widgetnames.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <chrono>
#include <cmath>

namespace clavora::about {

namespace {

constexpr QRect PanelGeometry(48, 42, 350, 291);
constexpr QSize EggPanelSize(324, 220);
constexpr QRect LogoGeometry(3, 4, 344, 105);
constexpr QRect BevelGeometry(9, 122, 34, 34);
constexpr QRect IconGeometry(10, 123, 32, 32);
constexpr QRect NameGeometry(49, 122, 290, 40);
constexpr QRect OkGeometry(49, 226, 122, 33);
constexpr QRect InfoGeometry(177, 226, 122, 33);
constexpr int LinkHeight = 16;
constexpr int LinkMargin = 3;
constexpr int PanelBorder = 1;

QFont aboutFont(int pixelSize, bool underline = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setUnderline(underline);
    return font;
}

QLabel* plainLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The dialog's own colours: the program's visual style does not paint its surface or its panel. Every rule names
// the panel it serves, so a message box opened over the dialog keeps the standard look.
const char StyleSheet[] = R"(
clavora--about--AboutDialog, QWidget#eggPanel { background-color: black; }
QFrame#panel { background-color: black; border: 1px solid #4a4a4a; }
QFrame#panel QFrame#bevel { background: transparent; border: 1px solid; border-color: #202020 #8a8a8a #8a8a8a #202020; }
QFrame#panel QLabel, QWidget#eggPanel QLabel { background: transparent; color: white; }
QFrame#panel QLabel#linkLabel { color: lime; }
QFrame#panel QPushButton { color: white; background-color: #262626; border: 1px solid #6a6a6a; border-radius: 3px; padding: 2px 8px; }
QFrame#panel QPushButton:hover { background-color: #383838; }
QFrame#panel QPushButton:focus { border-color: #9ab8d8; }
QFrame#panel QPushButton:pressed { background-color: #4a4a4a; }
)";

} // namespace

QString aboutCaption(const QString& format, const QString& productName) {
    if (format.count(QLatin1String("%s")) == 1) {
        QString caption = format;
        return caption.replace(QLatin1String("%s"), productName);
    }
    return QLatin1String("About ") + productName;
}

QString homePageUrl(const QString& webHost) {
    return QLatin1String("https://") + webHost + QLatin1Char('/');
}

QString creditsPageUrl(const QString& webHost) {
    return QLatin1String("https://") + webHost + QLatin1String("/blog/credits-and-acknowledgements/");
}

QString uninstallPageUrl(const QString& webHost) {
    // The page is only known under plain http.
    return QLatin1String("http://") + webHost + QLatin1String("/blog/how-to-uninstall-zemtrak-software/");
}

int slideIntervalMs(qreal devicePixelRatio) {
    if (devicePixelRatio <= 0) {
        devicePixelRatio = 1;
    }
    // nearbyint rounds half to even in the default rounding mode.
    return std::max(1, int(std::nearbyint(5.0 / devicePixelRatio)));
}

QFont rainFont() {
    QFont font = aboutFont(Rain::CellHeight);
    for (int size = Rain::CellHeight; size > 1; --size) {
        font.setPixelSize(size);
        const QFontMetricsF metrics(font);
        if (metrics.ascent() + metrics.descent() + metrics.leading() <= Rain::CellHeight) {
            break;
        }
    }
    return font;
}

AboutDialog::AboutDialog(AboutContext context, platform::IFileSystem& files, platform::IShell& shell, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_context(std::move(context)), m_files(files), m_shell(shell), m_generator(QRandomGenerator::securelySeeded()),
      m_rain([this](int low, int high) { return int(m_generator.bounded(low, high + 1)); }) {
    setObjectName(QLatin1String(widgetnames::about::Dialog));
    setFont(aboutFont(11));
    setFixedSize(ClientWidth, ClientHeight);
    setStyleSheet(QLatin1String(StyleSheet));
    setWindowTitle(aboutCaption(translate("About %s"), m_context.productName));

    m_eggPanel = new QWidget(this);
    m_eggPanel->setObjectName(QLatin1String(widgetnames::about::EggPanel));
    m_eggPanel->setGeometry(QRect(
        QPoint((ClientWidth - EggPanelSize.width()) / 2, (ClientHeight - EggPanelSize.height()) / 2), EggPanelSize));
    m_eggPanel->hide();
    m_eggPicture = new QLabel(m_eggPanel);
    m_eggPicture->setObjectName(QLatin1String(widgetnames::about::EggPicture));
    m_eggPicture->setGeometry(2, 3, EggPanelSize.width() - 4, EggPanelSize.height() - 6);
    m_eggPicture->setScaledContents(true);

    auto* panel = new QFrame(this);
    m_panel = panel;
    panel->setObjectName(QLatin1String(widgetnames::about::Panel));
    panel->setGeometry(PanelGeometry);

    m_logo = new QLabel(panel);
    m_logo->setObjectName(QLatin1String(widgetnames::about::Logo));
    m_logo->setGeometry(LogoGeometry);
    m_logo->setScaledContents(true);

    auto* bevel = new QFrame(panel);
    bevel->setObjectName(QLatin1String(widgetnames::about::Bevel));
    bevel->setGeometry(BevelGeometry);
    bevel->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_icon = new QLabel(panel);
    m_icon->setObjectName(QLatin1String(widgetnames::about::ProgramIcon));
    m_icon->setGeometry(IconGeometry);
    m_icon->setScaledContents(true);

    QLabel* name = plainLabel(panel, widgetnames::about::NameLabel);
    name->setGeometry(NameGeometry);
    name->setWordWrap(true);
    name->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    name->setFont(aboutFont(16));
    name->setText(m_context.productName + QLatin1Char(' ') + m_context.version);

    auto* ok = new QPushButton(translate("OK"), panel);
    ok->setObjectName(QLatin1String(widgetnames::about::OkButton));
    ok->setGeometry(OkGeometry);
    ok->setFont(aboutFont(16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    m_infoButton = new QPushButton(translate("Info"), panel);
    m_infoButton->setObjectName(QLatin1String(widgetnames::about::InfoButton));
    m_infoButton->setGeometry(InfoGeometry);
    m_infoButton->setFont(aboutFont(16));
    m_infoButton->setAutoDefault(false);
    m_infoButton->setLayoutDirection(Qt::RightToLeft); // the arrow right of the caption
    connect(m_infoButton, &QPushButton::clicked, this, &AboutDialog::showInfoMenu);

    m_infoMenu = new QMenu(this);
    m_infoMenu->setObjectName(QLatin1String(widgetnames::about::InfoMenu));
    QAction* credits = m_infoMenu->addAction(translate("Acknowledgements..."));
    credits->setObjectName(QLatin1String(widgetnames::about::CreditsAction));
    connect(credits, &QAction::triggered, this, [this] { m_shell.openWebAddress(creditsPageUrl(m_context.webHost)); });
    QAction* uninstall = m_infoMenu->addAction(translate("How to uninstall..."));
    uninstall->setObjectName(QLatin1String(widgetnames::about::UninstallAction));
    connect(uninstall, &QAction::triggered, this,
            [this] { m_shell.openWebAddress(uninstallPageUrl(m_context.webHost)); });
    QAction* license = m_infoMenu->addAction(translate("License..."));
    license->setObjectName(QLatin1String(widgetnames::about::LicenseAction));
    connect(license, &QAction::triggered, this, &AboutDialog::openLicense);

    m_link = plainLabel(panel, widgetnames::about::LinkLabel);
    m_link->setGeometry(PanelBorder + LinkMargin, PanelGeometry.height() - PanelBorder - LinkMargin - LinkHeight,
                        PanelGeometry.width() - 2 * (PanelBorder + LinkMargin), LinkHeight);
    m_link->setAlignment(Qt::AlignCenter);
    m_link->setFont(aboutFont(13, true));
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setText(m_context.webHost);
    m_link->setToolTip(homePageUrl(m_context.webHost));
    m_link->installEventFilter(this);

    setTabOrder(ok, m_infoButton);
    ok->setFocus();

    // The window is dragged by its own surface, the panel, the name and the pictures; the buttons and the link
    // keep their clicks.
    for (QObject* source : {static_cast<QObject*>(this), static_cast<QObject*>(panel), static_cast<QObject*>(name),
                            static_cast<QObject*>(m_logo), static_cast<QObject*>(m_icon),
                            static_cast<QObject*>(m_eggPicture), static_cast<QObject*>(m_eggPanel)}) {
        source->installEventFilter(this);
    }

    m_rainTimer = new QTimer(this);
    m_rainTimer->setObjectName(QLatin1String(widgetnames::about::RainTimer));
    connect(m_rainTimer, &QTimer::timeout, this, &AboutDialog::rainTick);
    m_slideTimer = new QTimer(this);
    m_slideTimer->setObjectName(QLatin1String(widgetnames::about::SlideTimer));
    connect(m_slideTimer, &QTimer::timeout, this, &AboutDialog::slideStep);

    renderPictures();
    startRain();
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::translate(const char* text) const {
    const QString source = QString::fromLatin1(text);
    return m_context.translate ? m_context.translate(source) : source;
}

void AboutDialog::setRandom(Rain::Random random) {
    m_rain = Rain(std::move(random));
    startRain();
}

void AboutDialog::renderPictures() {
    const qreal dpr = devicePixelRatioF();
    m_logo->setPixmap(logoPicture(LogoGeometry.size(), dpr));
    m_eggPicture->setPixmap(catPicture(m_eggPicture->size(), dpr));
    const QIcon icon = m_context.appIcon.isNull() ? QApplication::windowIcon() : m_context.appIcon;
    m_icon->setPixmap(icon.pixmap(IconGeometry.size(), dpr));
    m_infoButton->setIcon(QIcon(arrowPicture(16, dpr)));
    m_infoButton->setIconSize(QSize(16, 16));
}

void AboutDialog::startRain() {
    m_rain.start(frameGeometry().size());
    resetRain();
    m_rainTimer->start(Rain::TickMs);
}

void AboutDialog::resetRain() {
    const QSize outer = frameGeometry().size();
    m_rain.reset(outer);
    const qreal dpr = devicePixelRatioF();
    m_surface = QImage(outer * dpr, QImage::Format_RGB32);
    m_surface.setDevicePixelRatio(dpr);
    m_surface.fill(Qt::black);
    update();
}

void AboutDialog::rainTick() {
    const QList<RainCell> cells = m_rain.tick();
    if (cells.isEmpty()) {
        return;
    }
    QPainter painter(&m_surface);
    static const QFont font = rainFont();
    painter.setFont(font);
    // Each character replaces its whole cell: black behind it.
    for (const RainCell& cell : cells) {
        const QRect box(cell.x, cell.y, Rain::CellWidth, Rain::CellHeight);
        painter.fillRect(box, Qt::black);
        if (!cell.ch.isNull()) {
            painter.setPen(QColor::fromRgb(cell.colour));
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, QString(cell.ch));
        }
    }
    painter.end();
    update();
}

void AboutDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(QPoint(0, 0), m_surface);
}

void AboutDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    resetRain();
}

void AboutDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The frame is known once shown: the grid takes the outer size. A move to a screen of another resolution
    // redraws the pictures and starts the rain again.
    resetRain();
    if (!m_screenWatched && windowHandle()) {
        m_screenWatched = true;
        connect(windowHandle(), &QWindow::screenChanged, this, &AboutDialog::resolutionChanged);
    }
}

void AboutDialog::resolutionChanged() {
    renderPictures();
    startRain();
}

void AboutDialog::startSlide() {
    if (m_slideTimer->isActive()) {
        return;
    }
    m_eggPanel->show();
    m_eggPanel->lower(); // below the information panel, which slides off it
    m_slideTimer->start(slideIntervalMs(devicePixelRatioF()));
}

void AboutDialog::slideStep() {
    m_panel->move(m_panel->x() + SlideStep, m_panel->y());
    if (width() < m_panel->x()) {
        m_slideTimer->stop();
    }
}

void AboutDialog::coverPicture() {
    if (m_slideTimer->isActive()) {
        return;
    }
    m_eggPanel->hide();
    m_panel->move((width() - m_panel->width()) / 2, m_panel->y());
}

void AboutDialog::showInfoMenu() {
    if (!m_reopenGuard.mayOpen(m_infoButton, m_infoMenu, m_clock->tickMs())) {
        return;
    }
    m_infoMenu->exec(m_infoButton->mapToGlobal(QPoint(0, m_infoButton->height())));
    m_reopenGuard.closed(m_infoButton, m_infoMenu, m_clock->tickMs());
}

void AboutDialog::openLicense() {
    QString folder = m_context.programFolder;
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    const QString path = folder + QLatin1String("license.txt");
    if (m_files.fileExists(path)) {
        m_shell.openUrl(QUrl::fromLocalFile(path).toString());
        return;
    }
    QMessageBox box(QMessageBox::Critical, translate("License"), QString(), QMessageBox::Ok, this);
    box.setObjectName(QLatin1String(widgetnames::about::FileNotFoundBox));
    box.setTextFormat(Qt::PlainText);
    box.setText(translate("File not found!"));
    box.exec();
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_link) {
        return linkMouseEvent(event);
    }
    if (type == QEvent::MouseButtonDblClick && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_icon) {
            startSlide();
            return true;
        }
        if (watched == m_eggPicture) {
            coverPicture();
            return true;
        }
    }
    if (dragEvent(watched, event)) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// The link is no drag source: its mouse events stay with it, so the panel under it never sees them. A click opens
// the home page when its button is let go over the link, as a button would.
bool AboutDialog::linkMouseEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_linkPressed = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        return true;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) {
            return true;
        }
        const bool click = m_linkPressed && m_link->rect().contains(mouse->position().toPoint());
        m_linkPressed = false;
        if (click) {
            m_shell.openWebAddress(homePageUrl(m_context.webHost));
        }
        return true;
    }
    case QEvent::MouseButtonDblClick: // the second press of a double-click opens nothing more
        m_linkPressed = false;
        return true;
    case QEvent::MouseMove:
        return true;
    default:
        return false;
    }
}

bool AboutDialog::dragEvent(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            return false;
        }
        m_dragging = true;
        m_dragFrom = mouse->globalPosition().toPoint();
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_dragging) {
            return false;
        }
        const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        move(pos() + at - m_dragFrom);
        m_dragFrom = at;
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragging) {
            return false;
        }
        m_dragging = false;
        return true;
    default:
        return false;
    }
}

} // namespace clavora::about
