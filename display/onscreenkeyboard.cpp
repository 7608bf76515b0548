// The on-screen keyboard: layout choice, pointers and latches, key injection and painting.
#include "display/onscreenkeyboard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTouchEvent>

#include <algorithm>
#include <cmath>

namespace clavora {

// Debug messages (every placement of the keys) only on request: QT_LOGGING_RULES=clavora.display.keyboard.debug=true.
Q_LOGGING_CATEGORY(lcOnScreenKeyboard, "clavora.display.keyboard", QtInfoMsg)

const QString OnScreenKeyboard::LocaleErrorMessage = QStringLiteral("Error retrieving locale information");

namespace {

using platform::PhysicalKey;

// A burst of keymap, group and property notifications follows one layout switch; one refresh covers it.
constexpr int RefreshDelayMs = 30;
constexpr int MouseId = -1;

const QColor BackgroundTop(0x80, 0x80, 0x80);
const QColor BackgroundBottom(0xC0, 0xC0, 0xC0);
const QColor CaptionColour(0x20, 0x20, 0x20);

struct ShadeColours {
    QColor top;
    QColor bottom;
    QColor outline;
};
const ShadeColours UpColours{QColor(0xFB, 0xFB, 0xFB), QColor(0xD6, 0xD8, 0xDA), QColor(0x5A, 0x5E, 0x62)};
const ShadeColours PressedColours{QColor(0x8E, 0x92, 0x96), QColor(0xB4, 0xB8, 0xBC), QColor(0x3C, 0x40, 0x44)};
const ShadeColours LatchedColours{QColor(0xC4, 0xD8, 0xEE), QColor(0x86, 0xA8, 0xD0), QColor(0x34, 0x52, 0x78)};

bool isLocaleReadable(const QString& name) {
    return !name.isEmpty() && name.compare(QLatin1String("xx"), Qt::CaseInsensitive) != 0;
}

// The Qt key of the keys that type no text, for delivering keys ourselves when the system takes no injected ones.
Qt::Key qtKeyOf(PhysicalKey key) {
    if (key.extended) {
        switch (key.scanCode) {
        case 0x1C:
            return Qt::Key_Enter;
        case 0x1D:
            return Qt::Key_Control;
        case 0x38:
            return Qt::Key_AltGr;
        case 0x48:
            return Qt::Key_Up;
        case 0x4B:
            return Qt::Key_Left;
        case 0x4D:
            return Qt::Key_Right;
        case 0x50:
            return Qt::Key_Down;
        case 0x53:
            return Qt::Key_Delete;
        default:
            return Qt::Key_unknown;
        }
    }
    if (key.scanCode >= platform::scan::F1 && key.scanCode <= platform::scan::F10) {
        return Qt::Key(Qt::Key_F1 + (key.scanCode - platform::scan::F1));
    }
    switch (key.scanCode) {
    case platform::scan::Escape:
        return Qt::Key_Escape;
    case platform::scan::Backspace:
        return Qt::Key_Backspace;
    case platform::scan::Tab:
        return Qt::Key_Tab;
    case platform::scan::Enter:
        return Qt::Key_Return;
    case platform::scan::Control:
        return Qt::Key_Control;
    case platform::scan::LeftShift:
    case platform::scan::RightShift:
        return Qt::Key_Shift;
    case platform::scan::Alt:
        return Qt::Key_Alt;
    case platform::scan::CapsLock:
        return Qt::Key_CapsLock;
    case platform::scan::F11:
        return Qt::Key_F11;
    case platform::scan::F12:
        return Qt::Key_F12;
    default:
        return Qt::Key_unknown;
    }
}

} // namespace

OnScreenKeyboard::OnScreenKeyboard(platform::IKeyboard& keyboard, platform::IKeyCaptions& captions,
                                   platform::IKeyInjector& injector, QWidget* parent)
    : QWidget(parent), m_keyboard(keyboard), m_captions(captions), m_injector(injector) {
    // Clicks must leave the keyboard focus where it is: the keys go to the window that has it.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(RefreshDelayMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &OnScreenKeyboard::refreshCaptions);
    m_captions.setChangeHandler([this] { m_refreshTimer.start(); });

    readLocale();
    useLayout(chooseLayout(builtInLayouts(), layouttype::Standard, m_localeName));
}

OnScreenKeyboard::~OnScreenKeyboard() {
    m_captions.setChangeHandler({});
    // A modifier left latched would stay down in the system after we are gone.
    releaseLatched();
}

// ---------------------------------------------------------------------------------------------------------------
// Layout and captions

void OnScreenKeyboard::readLocale() {
    m_localeName = m_keyboard.keyboardLocaleName();
    const bool wasReadable = m_localeStatus.ok();
    m_localeStatus = isLocaleReadable(m_localeName) ? Status::success() : Status::failure(LocaleErrorMessage);
    // Once per failure, not at every refresh: a layout the system cannot name would otherwise bring the error box
    // back at every Caps Lock.
    if (!m_localeStatus.ok() && (wasReadable || m_layout == nullptr)) {
        qCWarning(lcOnScreenKeyboard) << "The keyboard layout's locale cannot be read:" << m_localeName;
        QMetaObject::invokeMethod(
            this, [this] { emit errorOccurred(LocaleErrorMessage); }, Qt::QueuedConnection);
    }
}

void OnScreenKeyboard::setLayoutType(KeyboardLayoutType type) {
    if (type == m_type) {
        return;
    }
    m_type = type;
    useLayout(chooseLayout(builtInLayouts(),
                           type == KeyboardLayoutType::NumPad ? layouttype::NumPad : layouttype::Standard,
                           m_localeName));
}

void OnScreenKeyboard::refreshCaptions() {
    m_refreshTimer.stop();
    readLocale();
    const KeyboardLayout* chosen =
        chooseLayout(builtInLayouts(), m_type == KeyboardLayoutType::NumPad ? layouttype::NumPad : layouttype::Standard,
                     m_localeName);
    if (chosen != m_layout) {
        useLayout(chosen);
        return;
    }
    m_capsLock = m_keyboard.snapshot().capsLockToggled();
    updateCaptions();
}

void OnScreenKeyboard::useLayout(const KeyboardLayout* layout) {
    // The built-in layouts have both types, so the choice cannot come back empty.
    Q_ASSERT(layout != nullptr);
    // Keys held by a pointer belong to the old layout; they go up without sending anything.
    m_pointers.clear();
    releaseLatched();
    m_fn = false;
    m_layout = layout;
    m_keys.clear();
    invalidatePicture();
    for (const KeyRow& row : layout->rows) {
        for (const KeyDefinition& definition : row.keys) {
            Key key;
            key.definition = &definition;
            key.fontSize = definition.fontSize;
            m_keys.push_back(key);
        }
    }
    m_capsLock = m_keyboard.snapshot().capsLockToggled();
    placeKeys();
    updateCaptions();
    updateGeometry();
    emit layoutChanged(layout->name);
}

void OnScreenKeyboard::placeKeys() {
    const std::vector<KeyPlacement> placements = clavora::placeKeys(*m_layout, size());
    for (size_t i = 0; i < m_keys.size(); ++i) {
        m_keys[i].rect = i < placements.size() ? placements[i].rect : QRect();
    }
    invalidatePicture();
    // Where the keys went, for whoever looks at the window from outside (a screenshot, a pointer of a test).
    qCDebug(lcOnScreenKeyboard) << "Keys placed:" << m_layout->name << "for" << m_localeName << "at"
                                << QRect(mapTo(window(), QPoint(0, 0)), size());
}

platform::KeyLevel OnScreenKeyboard::captionLevel() const {
    return platform::KeyLevel{modifierDown(modifier::Shift), modifierDown(modifier::AltGr), m_capsLock};
}

bool OnScreenKeyboard::modifierDown(const QString& name) const {
    if (name == modifier::Caps) {
        return m_capsLock;
    }
    if (name == modifier::Fn) {
        return m_fn;
    }
    return std::any_of(m_latched.begin(), m_latched.end(), [&](const auto& latched) { return latched.first == name; });
}

const KeyAlternative* OnScreenKeyboard::modifierAlternative(const Key& key) const {
    for (const KeyAlternative& alternative : key.definition->modifiers) {
        if (modifierDown(alternative.modifier) && languageApplies(alternative.language, m_localeName)) {
            return &alternative;
        }
    }
    return nullptr;
}

const KeyAlternative* OnScreenKeyboard::languageAlternative(const Key& key) const {
    for (const KeyAlternative& alternative : key.definition->languages) {
        if (languageApplies(alternative.language, m_localeName)) {
            return &alternative;
        }
    }
    return nullptr;
}

QString OnScreenKeyboard::modifierNameOf(const Key& key) const {
    const KeyAlternative* language = languageAlternative(key);
    if (language != nullptr && !language->modifierName.isEmpty()) {
        return language->modifierName;
    }
    return key.definition->modifierName;
}

std::vector<PhysicalKey> OnScreenKeyboard::keysOf(const Key& key) const {
    if (const KeyAlternative* alternative = modifierAlternative(key); alternative && !alternative->keys.empty()) {
        return alternative->keys;
    }
    if (const KeyAlternative* language = languageAlternative(key); language && !language->keys.empty()) {
        return language->keys;
    }
    if (key.definition->key.isValid()) {
        return {key.definition->key};
    }
    return {};
}

void OnScreenKeyboard::updateCaptions() {
    const platform::KeyLevel level = captionLevel();
    bool changed = false;
    for (Key& key : m_keys) {
        const KeyDefinition& definition = *key.definition;
        QString caption;
        int fontSize = definition.fontSize;
        if (const KeyAlternative* alternative = modifierAlternative(key)) {
            caption = !alternative->caption.isEmpty() || alternative->keys.empty()
                          ? alternative->caption
                          : m_captions.keyText(alternative->keys.front(), level);
            if (alternative->fontSize > 0) {
                fontSize = alternative->fontSize;
            }
        } else if (const KeyAlternative* language = languageAlternative(key);
                   language && !language->caption.isEmpty()) {
            caption = language->caption;
        } else if (!definition.caption.isEmpty() || definition.glyph != KeyGlyph::None) {
            caption = definition.caption;
        } else {
            caption = m_captions.keyText(definition.key, level).trimmed();
        }
        if (caption != key.caption || fontSize != key.fontSize) {
            key.caption = caption;
            key.fontSize = fontSize;
            changed = true;
        }
    }
    // The picture is costly at large sizes; lock changes that leave every caption as it was (Num Lock around a keypad
    // key) must not redraw it. Keys drawn down are painted over it anyway.
    if (changed) {
        invalidatePicture();
    } else {
        update();
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Inspection

OnScreenKeyboard::KeyInfo OnScreenKeyboard::keyInfo(int index) const {
    if (index < 0 || index >= keyCount()) {
        return KeyInfo();
    }
    const Key& key = m_keys[size_t(index)];
    return KeyInfo{key.rect,
                   key.definition->key,
                   key.caption,
                   key.definition->glyph,
                   modifierNameOf(key),
                   shadeOf(key) != Shade::Up};
}

int OnScreenKeyboard::indexOfKey(PhysicalKey key) const {
    for (int i = 0; i < keyCount(); ++i) {
        if (m_keys[size_t(i)].definition->key == key) {
            return i;
        }
    }
    return -1;
}

int OnScreenKeyboard::indexOfModifier(const QString& modifierName) const {
    for (int i = 0; i < keyCount(); ++i) {
        if (modifierNameOf(m_keys[size_t(i)]) == modifierName) {
            return i;
        }
    }
    return -1;
}

bool OnScreenKeyboard::isLatched(const QString& modifierName) const {
    return modifierDown(modifierName);
}

QSize OnScreenKeyboard::sizeHint() const {
    return QSize(m_layout->width, m_layout->height);
}

QSize OnScreenKeyboard::minimumSizeHint() const {
    return QSize(m_layout->minWidth, m_layout->minHeight);
}

// ---------------------------------------------------------------------------------------------------------------
// Pointers

int OnScreenKeyboard::keyAt(const QPointF& position) const {
    const QPoint point = position.toPoint();
    for (int i = 0; i < keyCount(); ++i) {
        if (m_keys[size_t(i)].rect.contains(point)) {
            return i;
        }
    }
    return -1;
}

bool OnScreenKeyboard::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd: {
        auto* touch = static_cast<QTouchEvent*>(event);
        for (const QEventPoint& point : touch->points()) {
            // Touch ids are non-negative; the mouse keeps MouseId to itself.
            const int id = point.id() < 0 ? point.id() - 1 : point.id();
            switch (point.state()) {
            case QEventPoint::Pressed:
                pointerDown(id, point.position());
                break;
            case QEventPoint::Updated:
                pointerMove(id, point.position());
                break;
            case QEventPoint::Released:
                pointerUp(id, point.position(), false);
                break;
            default:
                break;
            }
        }
        event->accept();
        return true;
    }
    case QEvent::TouchCancel:
        for (auto it = m_pointers.begin(); it != m_pointers.end();) {
            if (it->first == MouseId) {
                ++it;
                continue;
            }
            letGoKey(it->second);
            it = m_pointers.erase(it);
        }
        event->accept();
        return true;
    default:
        return QWidget::event(event);
    }
}

void OnScreenKeyboard::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pointerDown(MouseId, event->position());
    }
    event->accept();
}

void OnScreenKeyboard::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void OnScreenKeyboard::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pointerUp(MouseId, event->position(), false);
    }
    event->accept();
}

void OnScreenKeyboard::pointerDown(int id, const QPointF& position) {
    if (m_pointers.count(id) != 0) {
        pointerUp(id, position, true);
    }
    Pointer& pointer = m_pointers[id];
    holdKey(pointer, keyAt(position));
    if (pointer.key >= 0 && modifierNameOf(m_keys[size_t(pointer.key)]).isEmpty()) {
        pointer.repeat = std::make_unique<QTimer>();
        // A coarse timer may fire 5 % early; the repeat must not start before its 300 ms.
        pointer.repeat->setTimerType(Qt::PreciseTimer);
        pointer.repeat->setInterval(RepeatDelayMs);
        connect(pointer.repeat.get(), &QTimer::timeout, this, [this, id] { repeat(id); });
        pointer.repeat->start();
    }
}

void OnScreenKeyboard::pointerMove(int id, const QPointF& position) {
    // A finger that slides onto another key takes the pressed state with it; the repeat starts over there.
    const auto found = m_pointers.find(id);
    if (found == m_pointers.end()) {
        return;
    }
    const int index = keyAt(position);
    if (index == found->second.key) {
        return;
    }
    pointerUp(id, position, true);
    pointerDown(id, position);
}

void OnScreenKeyboard::pointerUp(int id, const QPointF& position, bool cancelled) {
    const auto found = m_pointers.find(id);
    if (found == m_pointers.end()) {
        return;
    }
    const int index = found->second.key;
    letGoKey(found->second);
    m_pointers.erase(found);
    if (!cancelled && index >= 0 && keyAt(position) == index) {
        activate(index);
    }
}

void OnScreenKeyboard::holdKey(Pointer& pointer, int index) {
    pointer.key = index;
    if (index >= 0) {
        ++m_keys[size_t(index)].heldBy;
        redrawKey(index);
    }
}

void OnScreenKeyboard::letGoKey(Pointer& pointer) {
    pointer.repeat.reset();
    if (pointer.key >= 0 && pointer.key < keyCount()) {
        Key& key = m_keys[size_t(pointer.key)];
        key.heldBy = std::max(0, key.heldBy - 1);
        redrawKey(pointer.key);
    }
    pointer.key = -1;
}

void OnScreenKeyboard::repeat(int id) {
    const auto found = m_pointers.find(id);
    if (found == m_pointers.end() || found->second.key < 0) {
        return;
    }
    found->second.repeat->setInterval(RepeatIntervalMs);
    sendOrdinary(found->second.key, false);
}

// ---------------------------------------------------------------------------------------------------------------
// Sending

void OnScreenKeyboard::activate(int index) {
    Key& key = m_keys[size_t(index)];
    const QString name = modifierNameOf(key);
    if (name.isEmpty()) {
        sendOrdinary(index, true);
        return;
    }
    if (name == modifier::Fn) {
        m_fn = !m_fn;
    } else if (name == modifier::Caps) {
        m_capsLock = !m_capsLock;
        for (const PhysicalKey& code : keysOf(key)) {
            send(code, true);
            send(code, false);
        }
    } else if (const auto latched = std::find_if(m_latched.begin(), m_latched.end(),
                                                 [&](const auto& entry) { return entry.first == name; });
               latched != m_latched.end()) {
        const PhysicalKey held = latched->second;
        m_latched.erase(latched);
        send(held, false);
    } else {
        const std::vector<PhysicalKey> codes = keysOf(key);
        if (codes.empty()) {
            return;
        }
        m_latched.emplace_back(name, codes.front());
        send(codes.front(), true);
    }
    // A modifier changes captions (Shift, AltGr, Caps) or whole keys (Fn), and its own shading everywhere it shows.
    updateCaptions();
    update();
}

void OnScreenKeyboard::sendOrdinary(int index, bool releaseModifiers) {
    const std::vector<PhysicalKey> codes = keysOf(m_keys[size_t(index)]);
    // Each press goes with its release, repeats included: a key left down would start the system's own repeat.
    for (const PhysicalKey& code : codes) {
        send(code, true);
    }
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        send(*it, false);
    }
    if (releaseModifiers && !m_latched.empty()) {
        releaseLatched();
        updateCaptions();
        update();
    }
}

void OnScreenKeyboard::releaseLatched() {
    // Let go in the reverse order of pressing, as fingers would.
    const auto latched = std::move(m_latched);
    m_latched.clear();
    for (auto it = latched.rbegin(); it != latched.rend(); ++it) {
        send(it->second, false);
    }
}

void OnScreenKeyboard::send(PhysicalKey key, bool down) {
    platform::InjectOptions options;
    options.keypadAsDigits = m_layout != nullptr && m_layout->type == layouttype::NumPad;
    if (!m_injector.sendKey(key, down, options)) {
        postSyntheticKey(key, down);
    }
}

void OnScreenKeyboard::postSyntheticKey(PhysicalKey key, bool down) {
    // Without injection the keys are delivered to the focused widget directly; key-state readers do not see them.
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr) {
        target = window();
    }
    Qt::KeyboardModifiers modifiers;
    if (modifierDown(modifier::Shift)) {
        modifiers |= Qt::ShiftModifier;
    }
    if (modifierDown(modifier::Ctrl)) {
        modifiers |= Qt::ControlModifier;
    }
    if (modifierDown(modifier::Alt)) {
        modifiers |= Qt::AltModifier;
    }
    if (m_layout != nullptr && m_layout->type == layouttype::NumPad) {
        modifiers |= Qt::KeypadModifier;
    }
    Qt::Key qtKey = qtKeyOf(key);
    QString text;
    if (qtKey == Qt::Key_unknown) {
        text = m_captions.keyText(key, captionLevel());
        if (text.isEmpty()) {
            return;
        }
        qtKey = Qt::Key(text.at(0).toUpper().unicode());
    } else if (qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter) {
        text = QStringLiteral("\r");
    } else if (qtKey == Qt::Key_Tab) {
        text = QStringLiteral("\t");
    } else if (qtKey == Qt::Key_Backspace) {
        text = QStringLiteral("\b");
    } else if (qtKey == Qt::Key_Escape) {
        text = QString(QChar(0x1B));
    }
    QCoreApplication::postEvent(target,
                                new QKeyEvent(down ? QEvent::KeyPress : QEvent::KeyRelease, qtKey, modifiers, text));
}

// ---------------------------------------------------------------------------------------------------------------
// Painting

void OnScreenKeyboard::resizeEvent(QResizeEvent* event) {
    placeKeys();
    QWidget::resizeEvent(event);
}

void OnScreenKeyboard::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange) {
        invalidatePicture();
    }
    QWidget::changeEvent(event);
}

void OnScreenKeyboard::invalidatePicture() {
    m_pictureValid = false;
    update();
}

void OnScreenKeyboard::redrawKey(int index) {
    if (index >= 0 && index < keyCount()) {
        update(m_keys[size_t(index)].rect);
    }
}

OnScreenKeyboard::Shade OnScreenKeyboard::shadeOf(const Key& key) const {
    if (key.heldBy > 0) {
        return Shade::Pressed;
    }
    const QString name = modifierNameOf(key);
    return !name.isEmpty() && modifierDown(name) ? Shade::Latched : Shade::Up;
}

void OnScreenKeyboard::paintBackground(QPainter& painter, const QRect& area) const {
    QLinearGradient gradient(0, 0, 0, std::max(1, height()));
    gradient.setColorAt(0, BackgroundTop);
    gradient.setColorAt(1, BackgroundBottom);
    painter.fillRect(area, gradient);
}

void OnScreenKeyboard::rebuildPicture() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (m_picture.size() != pixels) {
        m_picture = pixels.isEmpty() ? QImage() : QImage(pixels, QImage::Format_RGB32);
    }
    m_pictureValid = true;
    if (m_picture.isNull()) {
        return;
    }
    m_picture.setDevicePixelRatio(ratio);
    QPainter painter(&m_picture);
    paintBackground(painter, rect());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const Key& key : m_keys) {
        paintKey(painter, key, Shade::Up);
    }
}

void OnScreenKeyboard::paintEvent(QPaintEvent* event) {
    if (!m_pictureValid || !qFuzzyCompare(m_picture.devicePixelRatio(), devicePixelRatioF())) {
        rebuildPicture();
    }
    QPainter painter(this);
    const QRect area = event->rect();
    if (m_picture.isNull()) {
        paintBackground(painter, area);
        return;
    }
    painter.drawImage(area, m_picture,
                      QRectF(QPointF(area.topLeft()) * m_picture.devicePixelRatio(),
                             QSizeF(area.size()) * m_picture.devicePixelRatio()));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const Key& key : m_keys) {
        const Shade shade = shadeOf(key);
        if (shade == Shade::Up || !key.rect.intersects(area)) {
            continue;
        }
        // The background first, so the key's soft edge blends with it as in the picture, not with the up key.
        paintBackground(painter, key.rect);
        paintKey(painter, key, shade);
    }
}

void OnScreenKeyboard::paintKey(QPainter& painter, const Key& key, Shade shade) const {
    const QRectF box = QRectF(key.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    if (box.width() < 2 || box.height() < 2) {
        return;
    }
    const ShadeColours& colours = shade == Shade::Pressed   ? PressedColours
                                  : shade == Shade::Latched ? LatchedColours
                                                            : UpColours;
    const qreal radius = std::min(box.width(), box.height()) * 0.14;
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, colours.top);
    fill.setColorAt(1, colours.bottom);
    painter.setPen(QPen(colours.outline, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(box, radius, radius);

    // Everything inside the key stays inside it, whatever the caption.
    painter.save();
    painter.setClipRect(key.rect);
    const qreal pad = std::max<qreal>(2, radius * 0.6);
    const QRectF inner = box.adjusted(pad, pad, -pad, -pad);
    if (key.definition->glyph != KeyGlyph::None && key.caption.isEmpty()) {
        paintGlyph(painter, inner, key.definition->glyph);
    } else if (!key.caption.isEmpty() && inner.width() > 1 && inner.height() > 1) {
        // Captions grow with the keys: design size over the design row height, then shrunk to fit the key.
        const int rowPixels = m_layout->rowHeight > 0 ? height() / std::max<int>(1, int(m_layout->rows.size())) : 48;
        qreal pixelSize = key.fontSize * qreal(rowPixels) / std::max(1, m_layout->rowHeight);
        pixelSize = std::min<qreal>(pixelSize, inner.height() * 0.8);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(std::max(1, int(pixelSize)));
        const qreal textWidth = QFontMetricsF(font).horizontalAdvance(key.caption);
        if (textWidth > inner.width()) {
            font.setPixelSize(std::max(1, int(pixelSize * inner.width() / textWidth)));
        }
        painter.setFont(font);
        painter.setPen(CaptionColour);
        const QString shown = QFontMetrics(font).elidedText(key.caption, Qt::ElideRight, int(inner.width()));
        painter.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, shown);
    }
    painter.restore();
}

void OnScreenKeyboard::paintGlyph(QPainter& painter, const QRectF& area, KeyGlyph glyph) const {
    // Glyphs are drawn in a square centred in the key, their strokes growing with it.
    const qreal side = std::min(area.width(), area.height() * 0.9);
    if (side < 4) {
        return;
    }
    const QPointF c = area.center();
    const qreal h = side / 2;
    QPen pen(CaptionColour, std::max<qreal>(1.2, side / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    switch (glyph) {
    case KeyGlyph::Backspace: {
        path.moveTo(c.x() + h * 0.8, c.y());
        path.lineTo(c.x() - h * 0.8, c.y());
        path.moveTo(c.x() - h * 0.4, c.y() - h * 0.35);
        path.lineTo(c.x() - h * 0.8, c.y());
        path.lineTo(c.x() - h * 0.4, c.y() + h * 0.35);
        break;
    }
    case KeyGlyph::Tab: {
        path.moveTo(c.x() - h * 0.8, c.y());
        path.lineTo(c.x() + h * 0.6, c.y());
        path.moveTo(c.x() + h * 0.25, c.y() - h * 0.35);
        path.lineTo(c.x() + h * 0.6, c.y());
        path.lineTo(c.x() + h * 0.25, c.y() + h * 0.35);
        path.moveTo(c.x() + h * 0.8, c.y() - h * 0.4);
        path.lineTo(c.x() + h * 0.8, c.y() + h * 0.4);
        break;
    }
    case KeyGlyph::Shift: {
        // The hollow upward arrow.
        path.moveTo(c.x(), c.y() - h * 0.7);
        path.lineTo(c.x() + h * 0.6, c.y());
        path.lineTo(c.x() + h * 0.28, c.y());
        path.lineTo(c.x() + h * 0.28, c.y() + h * 0.6);
        path.lineTo(c.x() - h * 0.28, c.y() + h * 0.6);
        path.lineTo(c.x() - h * 0.28, c.y());
        path.lineTo(c.x() - h * 0.6, c.y());
        path.closeSubpath();
        break;
    }
    case KeyGlyph::Enter: {
        path.moveTo(c.x() + h * 0.7, c.y() - h * 0.6);
        path.lineTo(c.x() + h * 0.7, c.y() + h * 0.2);
        path.lineTo(c.x() - h * 0.7, c.y() + h * 0.2);
        path.moveTo(c.x() - h * 0.35, c.y() - h * 0.15);
        path.lineTo(c.x() - h * 0.7, c.y() + h * 0.2);
        path.lineTo(c.x() - h * 0.35, c.y() + h * 0.55);
        break;
    }
    case KeyGlyph::Left:
    case KeyGlyph::Up:
    case KeyGlyph::Right:
    case KeyGlyph::Down: {
        // A solid triangle pointing the arrow's way.
        const qreal angle = glyph == KeyGlyph::Right  ? 0
                            : glyph == KeyGlyph::Down ? 90
                            : glyph == KeyGlyph::Left ? 180
                                                      : 270;
        QTransform turn;
        turn.translate(c.x(), c.y());
        turn.rotate(angle);
        QPolygonF triangle{QPointF(h * 0.45, 0), QPointF(-h * 0.3, -h * 0.42), QPointF(-h * 0.3, h * 0.42)};
        painter.setBrush(CaptionColour);
        painter.drawPolygon(turn.map(triangle));
        return;
    }
    case KeyGlyph::None:
        return;
    }
    painter.drawPath(path);
}

} // namespace clavora
