// The on-screen keyboard's layouts, the variant choice and the key placement.
#include "display/keyboardlayouts.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace clavora {

namespace {

using platform::PhysicalKey;

// Builds one key definition a property at a time, so the tables below read like the keyboard.
class Key {
public:
    static Key scan(int code) { return Key(PhysicalKey{code, false}); }
    // A key the keyboard sends behind the E0 prefix (arrows, Delete, the right-hand Alt).
    static Key extended(int code) { return Key(PhysicalKey{code, true}); }
    // A key that sends nothing of its own (Fn).
    static Key none() { return Key(PhysicalKey{}); }
    // A key the layout names by virtual-key code; `code` is the scan code the keyboard gives it.
    static Key virtualKey(int vk, PhysicalKey code) {
        Key key(code);
        key.m_key.virtualKey = vk;
        return key;
    }

    Key& width(int value) {
        m_key.width = value;
        return *this;
    }
    Key& height(int value) {
        m_key.height = value;
        return *this;
    }
    Key& caption(const QString& value) {
        m_key.caption = value;
        return *this;
    }
    Key& glyph(KeyGlyph value) {
        m_key.glyph = value;
        return *this;
    }
    Key& stretch() {
        m_key.flags |= KeyFlag::Stretch;
        return *this;
    }
    Key& toggle() {
        m_key.flags |= KeyFlag::Toggle;
        return *this;
    }
    Key& modifier(const QString& name) {
        m_key.modifierName = name;
        return *this;
    }
    Key& whileDown(const QString& modifierName, const QString& caption, std::vector<PhysicalKey> keys, int fontSize) {
        m_key.modifiers.push_back({modifierName, QString(), caption, std::move(keys), QString(), fontSize});
        return *this;
    }
    Key& forLanguage(const QString& language, const QString& caption, std::vector<PhysicalKey> keys = {},
                     const QString& modifierName = QString()) {
        m_key.languages.push_back({QString(), language, caption, std::move(keys), modifierName, 0});
        return *this;
    }

    operator KeyDefinition() const { return m_key; }

private:
    explicit Key(PhysicalKey key) { m_key.key = key; }
    KeyDefinition m_key;
};

KeyRow row(std::vector<KeyDefinition> keys) {
    KeyRow result;
    result.keys = std::move(keys);
    return result;
}

void append(std::vector<KeyDefinition>& keys, std::initializer_list<KeyDefinition> more) {
    keys.insert(keys.end(), more.begin(), more.end());
}

// Plain keys for a run of scan codes.
void appendRange(std::vector<KeyDefinition>& keys, int first, int last) {
    for (int code = first; code <= last; ++code) {
        keys.push_back(Key::scan(code));
    }
}

// The digit row, 1 to = (scan codes 2 to 13), which becomes F1 to F12 while Fn is down.
void appendNumberRow(std::vector<KeyDefinition>& keys) {
    for (int i = 0; i < 12; ++i) {
        const int function = i < 10 ? platform::scan::F1 + i : platform::scan::F11 + (i - 10);
        keys.push_back(
            Key::scan(platform::scan::Digit1 + i)
                .whileDown(modifier::Fn, QStringLiteral("F%1").arg(i + 1), {PhysicalKey{function, false}}, 10));
    }
}

std::vector<LayoutLanguage> languages(std::initializer_list<const char*> tags) {
    std::vector<LayoutLanguage> result;
    for (const char* tag : tags) {
        const QString name = QString::fromLatin1(tag);
        const QLocale locale(name);
        QString display = QLocale::languageToString(locale.language());
        if (name.contains(QLatin1Char('-'))) {
            display += QStringLiteral(" (%1)").arg(QLocale::territoryToString(locale.territory()));
        }
        result.push_back({name, display});
    }
    return result;
}

KeyboardLayout numPad() {
    KeyboardLayout layout;
    layout.name = QStringLiteral("NumPad");
    layout.type = layouttype::NumPad;
    layout.width = 190;
    layout.height = 229;
    layout.minWidth = 180;
    layout.minHeight = 150;
    const auto pad = [](int vk, int scanCode) { return Key::virtualKey(vk, PhysicalKey{scanCode, false}); };
    layout.rows = {
        row({Key::scan(platform::scan::Backspace).glyph(KeyGlyph::Backspace),
             Key::virtualKey(111, PhysicalKey{0x35, true}), pad(106, 0x37), pad(109, 0x4A)}),
        row({pad(103, 0x47), pad(104, 0x48), pad(105, 0x49), pad(107, 0x4E).height(92)}),
        row({pad(100, 0x4B), pad(101, 0x4C), pad(102, 0x4D)}),
        row({pad(97, 0x4F), pad(98, 0x50), pad(99, 0x51),
             Key::virtualKey(13, PhysicalKey{platform::scan::Enter, false}).glyph(KeyGlyph::Enter).height(92)}),
        row({pad(96, 0x52).width(96), pad(110, 0x53)}),
    };
    return layout;
}

// The three typing blocks share their size and most of their keys; `variant` is 101, 102 or 106.
KeyboardLayout standard(int variant) {
    KeyboardLayout layout;
    layout.name = QStringLiteral("Standard%1").arg(variant);
    layout.type = layouttype::Standard;
    layout.width = 848;
    layout.height = 262;
    layout.minWidth = 550;
    layout.minHeight = 180;
    const QString german = QStringLiteral("de");
    const bool iso = variant == 102;
    const bool japanese = variant == 106;

    std::vector<KeyDefinition> first{
        Key::scan(platform::scan::Escape).caption(QStringLiteral("Esc")).width(64).stretch()};
    if (japanese) {
        first.push_back(Key::scan(41).caption(QStringLiteral("漢字")));
    } else {
        first.push_back(Key::scan(41));
    }
    appendNumberRow(first);
    if (japanese) {
        first.push_back(Key::scan(125));
    }
    first.push_back(
        Key::scan(platform::scan::Backspace).glyph(KeyGlyph::Backspace).width(japanese ? 48 : 78).stretch());

    std::vector<KeyDefinition> second{Key::scan(platform::scan::Tab).glyph(KeyGlyph::Tab).width(85).stretch()};
    appendRange(second, 16, 27);
    Key del = Key::extended(0x53).caption(QStringLiteral("Del")).width(57).stretch();
    if (iso) {
        del.forLanguage(german, QStringLiteral("Entf"));
    }
    append(second, {Key::scan(43), del});

    Key caps = Key::scan(platform::scan::CapsLock)
                   .caption(QStringLiteral("Caps"))
                   .width(115)
                   .stretch()
                   .toggle()
                   .modifier(modifier::Caps);
    if (iso) {
        caps.forLanguage(german, QStringLiteral("Feststell"));
    }
    std::vector<KeyDefinition> third{caps};
    appendRange(third, 30, 40);
    third.push_back(Key::scan(platform::scan::Enter).glyph(KeyGlyph::Enter).width(123).stretch());

    const auto shift = [](int width) {
        return Key::scan(platform::scan::LeftShift)
            .glyph(KeyGlyph::Shift)
            .width(width)
            .stretch()
            .modifier(modifier::Shift);
    };
    std::vector<KeyDefinition> fourth{shift(iso ? 71 : japanese ? 109 : 125)};
    if (iso) {
        fourth.push_back(Key::scan(platform::scan::IsoExtra));
    }
    appendRange(fourth, 44, 53);
    if (japanese) {
        fourth.push_back(Key::scan(115));
    }
    append(fourth, {shift(japanese ? 48 : 65), Key::extended(0x48).glyph(KeyGlyph::Up),
                    Key::none().caption(QStringLiteral("Fn")).toggle().modifier(modifier::Fn)});

    const auto ctrl = [&](int width) {
        Key key =
            Key::scan(platform::scan::Control).caption(QStringLiteral("Ctrl")).width(width).modifier(modifier::Ctrl);
        if (iso) {
            key.forLanguage(german, QStringLiteral("Strg"));
        }
        return key;
    };
    const auto alt = [](int width) {
        return Key::scan(platform::scan::Alt).caption(QStringLiteral("Alt")).width(width).modifier(modifier::Alt);
    };
    // On X the third level is the right-hand Alt key itself (ISO_Level3_Shift); Ctrl with Alt does not reach it.
    const PhysicalKey rightAlt{platform::scan::Alt, true};
    std::vector<KeyDefinition> fifth;
    if (japanese) {
        fifth = {ctrl(68),
                 alt(62),
                 Key::scan(123).caption(QStringLiteral("無変換")).width(62),
                 Key::scan(platform::scan::Space).width(160).stretch(),
                 Key::scan(121).caption(QStringLiteral("変換")).width(62),
                 Key::virtualKey(21, PhysicalKey{0x70, false}).caption(QStringLiteral("カナ")).width(62),
                 alt(62),
                 ctrl(68)};
    } else {
        Key rightHandAlt = iso ? Key::extended(platform::scan::Alt)
                                     .caption(QStringLiteral("AltGr"))
                                     .width(82)
                                     .modifier(modifier::AltGr)
                               : alt(82);
        if (!iso) {
            for (const char* language : {"es", "sr", "ka"}) {
                rightHandAlt.forLanguage(QString::fromLatin1(language), QStringLiteral("AltGr"), {rightAlt},
                                         modifier::AltGr);
            }
        }
        fifth = {ctrl(68), alt(82), Key::scan(platform::scan::Space).width(321).stretch(), rightHandAlt, ctrl(69)};
    }
    append(fifth, {Key::extended(0x4B).glyph(KeyGlyph::Left), Key::extended(0x50).glyph(KeyGlyph::Down),
                   Key::extended(0x4D).glyph(KeyGlyph::Right)});

    layout.rows = {row(first), row(second), row(third), row(fourth), row(fifth)};
    if (variant == 101) {
        layout.languages = languages({"az", "be", "en", "es", "hy", "ka", "nl-BE", "ru", "sr", "lt"});
    } else if (iso) {
        layout.languages = languages({"bg", "bs", "cs", "de", "en-GB", "da",    "el",    "es-ES", "es-US", "et",
                                      "fi", "fr", "ga", "hr", "hu",    "is",    "it",    "kl",    "lv",    "nl",
                                      "nb", "nn", "pl", "pt", "sq",    "sr-CS", "sr-BA", "sv",    "tr",    "uk"});
    } else {
        layout.languages = languages({"ja"});
    }
    return layout;
}

QString languageOf(const QString& tag) {
    return tag.section(QLatin1Char('-'), 0, 0);
}

bool listsLanguage(const KeyboardLayout& layout, const QString& tag) {
    return std::any_of(layout.languages.begin(), layout.languages.end(), [&](const LayoutLanguage& language) {
        return language.tag.compare(tag, Qt::CaseInsensitive) == 0;
    });
}

// How many rows a key of `height` design units covers: at least its own.
int rowSpan(const KeyboardLayout& layout, const KeyDefinition& key) {
    if (layout.rowHeight <= 0 || key.height <= layout.rowHeight) {
        return 1;
    }
    return std::max(1, int(std::lround(double(key.height) / layout.rowHeight)));
}

} // namespace

const std::vector<KeyboardLayout>& builtInLayouts() {
    static const std::vector<KeyboardLayout> layouts{numPad(), standard(101), standard(102), standard(106)};
    return layouts;
}

const KeyboardLayout* chooseLayout(const std::vector<KeyboardLayout>& layouts, const QString& type,
                                   const QString& localeTag) {
    const auto search = [&](const QString& tag) -> const KeyboardLayout* {
        if (tag.isEmpty()) {
            return nullptr;
        }
        for (auto it = layouts.rbegin(); it != layouts.rend(); ++it) {
            if (it->type == type && listsLanguage(*it, tag)) {
                return &*it;
            }
        }
        return nullptr;
    };
    if (const KeyboardLayout* exact = search(localeTag)) {
        return exact;
    }
    if (localeTag.contains(QLatin1Char('-'))) {
        if (const KeyboardLayout* byLanguage = search(languageOf(localeTag))) {
            return byLanguage;
        }
    }
    const auto first =
        std::find_if(layouts.begin(), layouts.end(), [&](const KeyboardLayout& layout) { return layout.type == type; });
    return first == layouts.end() ? nullptr : &*first;
}

bool languageApplies(const QString& language, const QString& localeTag) {
    if (language.isEmpty()) {
        return true;
    }
    return language.compare(localeTag, Qt::CaseInsensitive) == 0 ||
           language.compare(languageOf(localeTag), Qt::CaseInsensitive) == 0;
}

std::vector<KeyPlacement> placeKeys(const KeyboardLayout& layout, QSize size) {
    std::vector<KeyPlacement> placements;
    const int rowCount = int(layout.rows.size());
    if (rowCount == 0 || size.width() <= 0 || size.height() <= 0 || layout.width <= 0) {
        return placements;
    }

    // Row tops: an even share each, the remainder one pixel apiece to the top rows.
    std::vector<int> rowTop(size_t(rowCount) + 1, 0);
    const int share = size.height() / rowCount;
    const int extra = size.height() % rowCount;
    for (int r = 0; r < rowCount; ++r) {
        rowTop[size_t(r) + 1] = rowTop[size_t(r)] + share + (r < extra ? 1 : 0);
    }

    // One scale for every row keeps the columns aligned; it shrinks when the widest row would overflow.
    double scale = double(size.width()) / layout.width;
    for (const KeyRow& keyRow : layout.rows) {
        int design = 0;
        int margins = 0;
        for (const KeyDefinition& key : keyRow.keys) {
            design += key.width;
            margins += key.leftMargin + key.rightMargin;
        }
        if (design > 0 && margins < size.width()) {
            scale = std::min(scale, double(size.width() - margins) / design);
        }
    }

    for (int r = 0; r < rowCount; ++r) {
        const KeyRow& keyRow = layout.rows[size_t(r)];
        const int keyCount = int(keyRow.keys.size());

        // Widths from rounding the running design width, so rounding errors never add up along a row.
        std::vector<int> widths(size_t(keyCount), 0);
        int used = 0;
        int designSoFar = 0;
        int stretchDesign = 0;
        for (int k = 0; k < keyCount; ++k) {
            const KeyDefinition& key = keyRow.keys[size_t(k)];
            const int before = int(std::lround(designSoFar * scale));
            designSoFar += key.width;
            widths[size_t(k)] = int(std::lround(designSoFar * scale)) - before;
            used += widths[size_t(k)] + key.leftMargin + key.rightMargin;
            if (key.flags.testFlag(KeyFlag::Stretch)) {
                stretchDesign += key.width;
            }
        }
        const int spare = std::max(0, size.width() - used);
        if (stretchDesign > 0 && spare > 0) {
            int stretchSoFar = 0;
            for (int k = 0; k < keyCount; ++k) {
                const KeyDefinition& key = keyRow.keys[size_t(k)];
                if (!key.flags.testFlag(KeyFlag::Stretch)) {
                    continue;
                }
                const int before = int(std::lround(double(spare) * stretchSoFar / stretchDesign));
                stretchSoFar += key.width;
                widths[size_t(k)] += int(std::lround(double(spare) * stretchSoFar / stretchDesign)) - before;
            }
        }

        int x = 0;
        for (int k = 0; k < keyCount; ++k) {
            const KeyDefinition& key = keyRow.keys[size_t(k)];
            const int lastRow = std::min(rowCount, r + rowSpan(layout, key)) - 1;
            const int top = rowTop[size_t(r)] + keyRow.topMargin;
            const int bottom = rowTop[size_t(lastRow) + 1] - layout.rows[size_t(lastRow)].bottomMargin;
            x += key.leftMargin;
            placements.push_back({r, k, QRect(x, top, std::max(0, widths[size_t(k)]), std::max(0, bottom - top))});
            x += widths[size_t(k)] + key.rightMargin;
        }
    }
    return placements;
}

} // namespace clavora
