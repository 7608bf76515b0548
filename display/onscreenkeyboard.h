// The on-screen keyboard: a picture of a keyboard whose keys, clicked or touched, inject the same key events as the
// physical keys, so they reach the window with the keyboard focus by the ordinary route.
#pragma once

#include "display/keyboardlayouts.h"
#include "platform/keyboard.h"
#include "platform/keycaptions.h"
#include "platform/keyinjector.h"
#include "platform/status.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

namespace clavora {

enum class KeyboardLayoutType { Standard, NumPad };

// Shows one layout of the chosen type, the variant picked from the locale of the system's keyboard layout and picked
// again whenever that layout changes. Clicking never takes the keyboard focus: the window that has it keeps it and
// receives the keys. GUI thread only. The services are borrowed and must outlive the keyboard.
//
// Clicks: an ordinary key is sent (press, then release) when the pointer is released over it, and repeats while held,
// first after RepeatDelayMs and then every RepeatIntervalMs; released elsewhere it sends nothing. Shift, Ctrl, Alt and
// AltGr latch on a click and are released after the next ordinary key, or by a second click. Caps switches the
// system's Caps Lock and shows its state; Fn turns the digit row into F1 to F12. Every touch point is a pointer of its
// own.
class OnScreenKeyboard : public QWidget {
    Q_OBJECT
public:
    static constexpr int RepeatDelayMs = 300;
    static constexpr int RepeatIntervalMs = 50;
    // The user-visible message when the keyboard layout's locale cannot be read.
    static const QString LocaleErrorMessage;

    // What a test or the window may know about one key as it is now.
    struct KeyInfo {
        QRect rect;
        // The key as laid out: what it sends when nothing changes it.
        platform::PhysicalKey key;
        // What it shows now (empty for a glyph key or a key whose layout text is empty).
        QString caption;
        KeyGlyph glyph = KeyGlyph::None;
        // The modifier it acts as under the current language, empty for ordinary keys.
        QString modifierName;
        // Drawn down: held by a pointer, latched or toggled on.
        bool down = false;
    };

    // Starts with the Standard type, its variant chosen from the current layout's locale. A locale that cannot be
    // read is reported through errorOccurred once control returns to the event loop, so the creator can connect first.
    OnScreenKeyboard(platform::IKeyboard& keyboard, platform::IKeyCaptions& captions, platform::IKeyInjector& injector,
                     QWidget* parent = nullptr);
    ~OnScreenKeyboard() override;

    // Switches between the typing block and the numeric pad. Rebuilds every key: latched modifiers are released,
    // Fn goes up and Caps is read back from the system. Setting the type in force does nothing.
    void setLayoutType(KeyboardLayoutType type);
    KeyboardLayoutType layoutType() const { return m_type; }
    // The layout variant in use ("Standard102", "NumPad").
    const KeyboardLayout& layout() const { return *m_layout; }

    // Reads the keyboard layout's locale (choosing the variant again when it calls for another one), the Caps Lock
    // state and every caption. Runs by itself shortly after the system's keyboard layout changes.
    void refreshCaptions();
    // The locale last read ("de-DE") and whether it could be read.
    QString localeName() const { return m_localeName; }
    const Status& localeStatus() const { return m_localeStatus; }

    int keyCount() const { return int(m_keys.size()); }
    KeyInfo keyInfo(int index) const;
    // The first key laid out as `key`, -1 when there is none.
    int indexOfKey(platform::PhysicalKey key) const;
    // The first key acting as `modifierName`, -1 when there is none.
    int indexOfModifier(const QString& modifierName) const;
    bool isLatched(const QString& modifierName) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A failure the user should see in the application's error box; so far only LocaleErrorMessage.
    void errorOccurred(const QString& message);
    // Another layout variant is in force (after setLayoutType or a change of the system's layout).
    void layoutChanged(const QString& name);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Key {
        const KeyDefinition* definition = nullptr;
        QRect rect;
        QString caption;
        int fontSize = 14;
        // Pointers holding the key down.
        int heldBy = 0;
    };
    struct Pointer {
        int key = -1;
        std::unique_ptr<QTimer> repeat;
    };
    enum class Shade { Up, Pressed, Latched };

    void readLocale();
    void useLayout(const KeyboardLayout* layout);
    void placeKeys();
    void updateCaptions();
    platform::KeyLevel captionLevel() const;
    QString modifierNameOf(const Key& key) const;
    const KeyAlternative* modifierAlternative(const Key& key) const;
    const KeyAlternative* languageAlternative(const Key& key) const;
    std::vector<platform::PhysicalKey> keysOf(const Key& key) const;
    bool modifierDown(const QString& name) const;
    int keyAt(const QPointF& position) const;

    void pointerDown(int id, const QPointF& position);
    void pointerMove(int id, const QPointF& position);
    void pointerUp(int id, const QPointF& position, bool cancelled);
    void holdKey(Pointer& pointer, int index);
    void letGoKey(Pointer& pointer);
    void activate(int index);
    void repeat(int id);
    void sendOrdinary(int index, bool releaseModifiers);
    void releaseLatched();
    void send(platform::PhysicalKey key, bool down);
    void postSyntheticKey(platform::PhysicalKey key, bool down);
    void redrawKey(int index);
    void invalidatePicture();

    void rebuildPicture();
    void paintKey(QPainter& painter, const Key& key, Shade shade) const;
    void paintGlyph(QPainter& painter, const QRectF& area, KeyGlyph glyph) const;
    void paintBackground(QPainter& painter, const QRect& area) const;
    Shade shadeOf(const Key& key) const;

    platform::IKeyboard& m_keyboard;
    platform::IKeyCaptions& m_captions;
    platform::IKeyInjector& m_injector;

    KeyboardLayoutType m_type = KeyboardLayoutType::Standard;
    const KeyboardLayout* m_layout = nullptr;
    QString m_localeName;
    Status m_localeStatus = Status::success();
    std::vector<Key> m_keys;
    std::map<int, Pointer> m_pointers;
    // Latched modifiers, in the order they were latched, and the key each holds down in the system.
    std::vector<std::pair<QString, platform::PhysicalKey>> m_latched;
    bool m_capsLock = false;
    bool m_fn = false;

    // Coalesces the bursts of change notifications one layout switch brings.
    QTimer m_refreshTimer;
    // Background and every key drawn up, at the current size and pixel ratio; keys drawn down are painted over it.
    QImage m_picture;
    bool m_pictureValid = false;
};

} // namespace clavora
