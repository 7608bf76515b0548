// The on-screen keyboard's layouts as data (the numeric pad and the 101-, 102- and 106-key typing blocks), the choice
// of a variant for the keyboard layout's language, and the placement of the keys in a given size. No painting and no
// system access here, so all of it is checked directly.
#pragma once

#include "platform/physicalkey.h"

#include <QFlags>
#include <QRect>
#include <QString>

#include <vector>

namespace clavora {

// A drawn symbol in place of a caption.
enum class KeyGlyph { None, Tab, Shift, Enter, Backspace, Left, Up, Right, Down };

enum class KeyFlag {
    // The key takes a share of the width its row has to spare, in proportion to its design width.
    Stretch = 1,
    // Each click switches the key between up and down.
    Toggle = 2,
};
Q_DECLARE_FLAGS(KeyFlags, KeyFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(KeyFlags)

// Modifier names a key can carry.
namespace modifier {
inline const QString Shift = QStringLiteral("shift");
inline const QString Ctrl = QStringLiteral("ctrl");
inline const QString Alt = QStringLiteral("alt");
inline const QString AltGr = QStringLiteral("altgr");
inline const QString Caps = QStringLiteral("caps");
inline const QString Fn = QStringLiteral("fn");
} // namespace modifier

// What a key becomes while a modifier is down, or for one language.
struct KeyAlternative {
    // The modifier that brings the alternative in; empty for a language alternative.
    QString modifier;
    // Language tag ("de", "en-GB") the alternative is meant for; empty: every language.
    QString language;
    // Caption shown instead of the key's; empty: the key's own, or the layout's text for `keys`.
    QString caption;
    // Keys sent instead of the key's own, pressed in order and released in reverse; empty: the key's own.
    std::vector<platform::PhysicalKey> keys;
    // A language alternative may turn the key into another modifier (the right Alt into AltGr).
    QString modifierName;
    // Caption size in design units; 0: the key's.
    int fontSize = 0;
};

struct KeyDefinition {
    // Windows virtual-key code where the layout names one (the numeric pad), -1 otherwise.
    int virtualKey = -1;
    // The key sent; invalid for keys that send nothing of their own (Fn).
    platform::PhysicalKey key;
    // Fixed caption; empty: the text the system's layout gives the key.
    QString caption;
    KeyGlyph glyph = KeyGlyph::None;
    int width = 48;
    // Taller than the layout's row height: the key covers the rows below as well.
    int height = 48;
    // Gaps before and after the key, in pixels.
    int leftMargin = 1;
    int rightMargin = 1;
    KeyFlags flags;
    // "shift", "ctrl", "alt", "altgr", "caps" or "fn" for modifier keys; empty for ordinary keys.
    QString modifierName;
    std::vector<KeyAlternative> modifiers;
    std::vector<KeyAlternative> languages;
    int fontSize = 14;
};

struct KeyRow {
    // Gaps above and below the row's keys, in pixels.
    int topMargin = 1;
    int bottomMargin = 1;
    std::vector<KeyDefinition> keys;
};

struct LayoutLanguage {
    QString tag;
    QString displayName;
};

struct KeyboardLayout {
    QString name;
    // What the program selects by: "Standard" or "NumPad".
    QString type;
    int width = 0;
    int height = 0;
    int minWidth = 0;
    int minHeight = 0;
    int rowHeight = 48;
    std::vector<LayoutLanguage> languages;
    std::vector<KeyRow> rows;
};

namespace layouttype {
inline const QString Standard = QStringLiteral("Standard");
inline const QString NumPad = QStringLiteral("NumPad");
} // namespace layouttype

// Every layout, in load order: NumPad, Standard101, Standard102, Standard106. Built once; immutable.
const std::vector<KeyboardLayout>& builtInLayouts();

// The layout of `type` meant for `localeTag` ("de-DE"): among the layouts of that type, searched from the last loaded
// to the first, the first listing the tag exactly; otherwise the first listing its language ("de"); otherwise the first
// of the type in load order. Null only when no layout has that type. Tags compare without regard to case.
const KeyboardLayout* chooseLayout(const std::vector<KeyboardLayout>& layouts, const QString& type,
                                   const QString& localeTag);

// Whether an alternative meant for `language` ("es", "en-GB", empty for all) applies under `localeTag`: the tag
// itself or its language part.
bool languageApplies(const QString& language, const QString& localeTag);

// Where one key sits: its row, its index in the row and its rectangle in the control.
struct KeyPlacement {
    int row = 0;
    int index = 0;
    QRect rect;
};

// Places every key of `layout` in a control of `size`. Rows share the height evenly, the pixels left over going one
// each to the top rows; a key taller than the row height spans as many rows as it covers. Across the width every key
// is its design width times the scale (the control's width over the layout's design width, smaller when a row with
// its gaps would not fit otherwise), positions rounded from the running design width so columns line up from row to
// row; the stretch keys of a row then share what is left of it in proportion to their design widths. Keys in row
// order, left to right.
std::vector<KeyPlacement> placeKeys(const KeyboardLayout& layout, QSize size);

} // namespace clavora
