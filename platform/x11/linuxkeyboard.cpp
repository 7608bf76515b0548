// The keyboard on X11.
//
// Physical keys are identified by their XKB key names (<AE01>, <LCTL>, <KP7>...), which do not depend on the X
// server's keycode set, and mapped onto the codes Windows gives the same keys: letters follow the layout's letter,
// everything else the key's position. The keymap is fetched again only when the server says it changed, and the
// layout group and indicator lights are tracked from XKB notifications, so a poll costs a single XQueryKeymap.
#include "platform/x11/linuxkeyboard.h"

#include <QHash>
#include <QLocale>
#include <QLoggingCategory>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>
#include <xkbcommon/xkbregistry.h>

#include <array>
#include <atomic>
#include <cstring>

Q_LOGGING_CATEGORY(lcKeyboard, "clavora.platform.keyboard")

namespace clavora::platform {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
struct XkbContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct XkbKeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct XkbStateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
struct RegistryUnref {
    void operator()(rxkb_context* context) const { rxkb_context_unref(context); }
};
struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};

// Where Windows puts each physical key. Keypad keys answer differently with Num Lock on and off; the letter block
// holds the US positions, which the layout's own letters override when the table is built.
struct KeyPosition {
    const char* name;
    std::uint8_t numLockOn;
    std::uint8_t numLockOff;
};

constexpr KeyPosition Same(const char* name, int code) {
    return {name, std::uint8_t(code), std::uint8_t(code)};
}

// clang-format off
constexpr KeyPosition KeyPositions[] = {
    Same("ESC", vk::Escape),
    Same("AE01", '1'), Same("AE02", '2'), Same("AE03", '3'), Same("AE04", '4'), Same("AE05", '5'),
    Same("AE06", '6'), Same("AE07", '7'), Same("AE08", '8'), Same("AE09", '9'), Same("AE10", '0'),
    Same("AE11", 189), Same("AE12", 187), Same("BKSP", vk::Back), Same("TAB", vk::Tab),
    Same("AD01", 'Q'), Same("AD02", 'W'), Same("AD03", 'E'), Same("AD04", 'R'), Same("AD05", 'T'),
    Same("AD06", 'Y'), Same("AD07", 'U'), Same("AD08", 'I'), Same("AD09", 'O'), Same("AD10", 'P'),
    Same("AD11", 219), Same("AD12", 221), Same("RTRN", vk::Return), Same("LCTL", vk::LControl),
    Same("AC01", 'A'), Same("AC02", 'S'), Same("AC03", 'D'), Same("AC04", 'F'), Same("AC05", 'G'),
    Same("AC06", 'H'), Same("AC07", 'J'), Same("AC08", 'K'), Same("AC09", 'L'), Same("AC10", 186),
    Same("AC11", 222), Same("TLDE", vk::Oem3), Same("LFSH", vk::LShift), Same("BKSL", 220), Same("AC12", 220),
    Same("AB01", 'Z'), Same("AB02", 'X'), Same("AB03", 'C'), Same("AB04", 'V'), Same("AB05", 'B'),
    Same("AB06", 'N'), Same("AB07", 'M'), Same("AB08", 188), Same("AB09", 190), Same("AB10", 191),
    Same("RTSH", vk::RShift), Same("LALT", vk::LMenu), Same("SPCE", vk::Space), Same("CAPS", vk::Capital),
    Same("LSGT", 226), Same("RCTL", vk::RControl), Same("RALT", vk::RMenu), Same("LWIN", vk::LWin),
    Same("RWIN", vk::RWin), Same("COMP", vk::Apps), Same("MENU", vk::Apps),
    Same("FK01", 112), Same("FK02", 113), Same("FK03", 114), Same("FK04", 115), Same("FK05", 116),
    Same("FK06", 117), Same("FK07", 118), Same("FK08", 119), Same("FK09", 120), Same("FK10", 121),
    Same("FK11", 122), Same("FK12", 123), Same("FK13", 124), Same("FK14", 125), Same("FK15", 126),
    Same("FK16", 127), Same("FK17", 128), Same("FK18", 129), Same("FK19", 130), Same("FK20", 131),
    Same("FK21", 132), Same("FK22", 133), Same("FK23", 134), Same("FK24", 135),
    Same("PRSC", vk::Snapshot), Same("SCLK", vk::Scroll), Same("PAUS", vk::Pause), Same("NMLK", vk::NumLock),
    Same("INS", vk::Insert), Same("HOME", vk::Home), Same("PGUP", vk::Prior), Same("DELE", vk::Delete),
    Same("END", vk::End), Same("PGDN", vk::Next), Same("UP", vk::Up), Same("LEFT", vk::Left),
    Same("DOWN", vk::Down), Same("RGHT", vk::Right), Same("I150", vk::Sleep),
    Same("MUTE", 173), Same("VOL-", 174), Same("VOL+", 175),
    Same("KPDV", vk::Divide), Same("KPMU", vk::Multiply), Same("KPSU", vk::Subtract), Same("KPAD", vk::Add),
    Same("KPEN", vk::Return),
    {"KP7", vk::Numpad0 + 7, vk::Home}, {"KP8", vk::Numpad0 + 8, vk::Up}, {"KP9", vk::Numpad0 + 9, vk::Prior},
    {"KP4", vk::Numpad0 + 4, vk::Left}, {"KP5", vk::Numpad0 + 5, vk::Clear}, {"KP6", vk::Numpad0 + 6, vk::Right},
    {"KP1", vk::Numpad0 + 1, vk::End}, {"KP2", vk::Numpad0 + 2, vk::Down}, {"KP3", vk::Numpad0 + 3, vk::Next},
    {"KP0", vk::Numpad0, vk::Insert}, {"KPDL", vk::Decimal, vk::Delete},
};
// clang-format on

// The United Kingdom layout puts the punctuation keys under other codes than the US one: the key left of 1 (` ¬)
// is VK_OEM_8, the ' @ key VK_OEM_3, the # ~ key VK_OEM_7 and the \ | key beside the left Shift VK_OEM_5.
constexpr KeyPosition UnitedKingdomPositions[] = {
    Same("TLDE", 223),
    Same("AC11", vk::Oem3),
    Same("BKSL", 222),
    Same("LSGT", 220),
};

// Keys whose code follows the character they type rather than their position: the typing block outside the digit
// row, where layouts move letters around (AZERTY, QWERTZ).
bool followsLayoutLetter(const char* name) {
    if (!name) {
        return false;
    }
    if (std::strcmp(name, "TLDE") == 0 || std::strcmp(name, "BKSL") == 0 || std::strcmp(name, "LSGT") == 0) {
        return true;
    }
    return std::strlen(name) == 4 && name[0] == 'A' && (name[1] == 'D' || name[1] == 'C' || name[1] == 'B');
}

bool isUsLetterPosition(std::uint8_t code) {
    return code >= vk::LetterA && code <= vk::LetterZ;
}

// ISO 639 code of any length to the short form Windows locale names use ("deu", "ger" -> "de").
QString shortLanguageCode(const char* iso639) {
    if (!iso639 || !*iso639) {
        return QString();
    }
    const QLocale::Language language = QLocale::codeToLanguage(QString::fromLatin1(iso639));
    if (language == QLocale::AnyLanguage || language == QLocale::C) {
        return QString();
    }
    return QLocale::languageToCode(language);
}

struct RegistryEntry {
    QString language;
    QString country;
    bool languageOwn = false;
};

// The language of a registry entry that lists several (Belgian: German, Dutch and French; Swiss German: German and
// Swiss German): the one its own name, variant or short name stands for ("ch" and "de" -> German), else the language
// most spoken in its country (Belgium -> Dutch), else the first listed.
QString chooseLanguage(const QStringList& languages, rxkb_layout* layout, const QString& country) {
    if (languages.size() <= 1) {
        return languages.value(0);
    }
    for (const char* name :
         {rxkb_layout_get_variant(layout), rxkb_layout_get_brief(layout), rxkb_layout_get_name(layout)}) {
        const QString language = shortLanguageCode(name);
        if (!language.isEmpty() && languages.contains(language)) {
            return language;
        }
    }
    const QLocale::Territory territory = QLocale::codeToTerritory(country);
    if (territory != QLocale::AnyTerritory) {
        const QString spoken = QLocale::languageToCode(QLocale(QLocale::AnyLanguage, territory).language());
        if (languages.contains(spoken)) {
            return spoken;
        }
    }
    return languages.first();
}

RegistryEntry entryOf(rxkb_layout* layout) {
    RegistryEntry entry;
    if (rxkb_iso3166_code* code = rxkb_layout_get_iso3166_first(layout)) {
        entry.country = QString::fromLatin1(rxkb_iso3166_code_get_code(code)).toUpper();
    }
    QStringList languages;
    for (rxkb_iso639_code* code = rxkb_layout_get_iso639_first(layout); code; code = rxkb_iso639_code_next(code)) {
        const QString language = shortLanguageCode(rxkb_iso639_code_get_code(code));
        if (!language.isEmpty() && !languages.contains(language)) {
            languages << language;
        }
    }
    entry.language = chooseLanguage(languages, layout, entry.country);
    entry.languageOwn = !entry.language.isEmpty();
    return entry;
}

QString composeLocaleName(RegistryEntry variant, const RegistryEntry& base) {
    if (variant.language.isEmpty()) {
        variant.language = base.language;
    }
    if (variant.language.isEmpty()) {
        return QStringLiteral("xx");
    }
    if (variant.country.isEmpty()) {
        // A variant for another language (us "rus") belongs to that language's home, not the base layout's.
        if (variant.languageOwn && variant.language != base.language) {
            const QLocale locale(variant.language);
            if (locale.territory() != QLocale::AnyTerritory) {
                variant.country = QLocale::territoryToCode(locale.territory());
            }
        } else {
            variant.country = base.country;
        }
    }
    if (variant.country.isEmpty()) {
        const QLocale locale(variant.language);
        if (locale.territory() != QLocale::AnyTerritory) {
            variant.country = QLocale::territoryToCode(locale.territory());
        }
    }
    return variant.country.isEmpty() ? variant.language : variant.language + QLatin1Char('-') + variant.country;
}

// The layout registry, read once: it is a few hundred kilobytes of XML and never changes while we run.
class LayoutRegistry {
public:
    static LayoutRegistry& instance() {
        static LayoutRegistry registry;
        return registry;
    }

    QString localeName(const QString& layout, const QString& variant) {
        const QString key = layout + QLatin1Char('\n') + variant;
        if (const auto found = m_byName.constFind(key); found != m_byName.constEnd()) {
            return *found;
        }
        QString result = QStringLiteral("xx");
        if (m_context && !layout.isEmpty()) {
            RegistryEntry base;
            bool baseFound = false;
            rxkb_layout* variantLayout = nullptr;
            for (rxkb_layout* entry = rxkb_layout_first(m_context.get()); entry; entry = rxkb_layout_next(entry)) {
                if (QString::fromUtf8(rxkb_layout_get_name(entry)) != layout) {
                    continue;
                }
                const char* entryVariant = rxkb_layout_get_variant(entry);
                if (!entryVariant || !*entryVariant) {
                    base = entryOf(entry);
                    baseFound = true;
                } else if (!variant.isEmpty() && QString::fromUtf8(entryVariant) == variant) {
                    variantLayout = entry;
                }
            }
            if (baseFound) {
                result =
                    variantLayout ? composeLocaleName(entryOf(variantLayout), base) : composeLocaleName(base, base);
            }
        }
        m_byName.insert(key, result);
        return result;
    }

    QString localeNameByDescription(const QString& description) {
        if (!m_context || description.isEmpty()) {
            return QStringLiteral("xx");
        }
        for (rxkb_layout* entry = rxkb_layout_first(m_context.get()); entry; entry = rxkb_layout_next(entry)) {
            if (QString::fromUtf8(rxkb_layout_get_description(entry)) == description) {
                const char* entryVariant = rxkb_layout_get_variant(entry);
                return localeName(QString::fromUtf8(rxkb_layout_get_name(entry)),
                                  entryVariant ? QString::fromUtf8(entryVariant) : QString());
            }
        }
        return QStringLiteral("xx");
    }

private:
    LayoutRegistry() : m_context(rxkb_context_new(RXKB_CONTEXT_NO_FLAGS)) {
        if (m_context && !rxkb_context_parse_default_ruleset(m_context.get())) {
            qCWarning(lcKeyboard) << "The keyboard layout registry could not be read; layouts have no locale";
            m_context.reset();
        }
    }

    std::unique_ptr<rxkb_context, RegistryUnref> m_context;
    QHash<QString, QString> m_byName;
};

} // namespace

QString localeNameForLayout(const QString& layout, const QString& variant) {
    return LayoutRegistry::instance().localeName(layout, variant);
}

QString localeNameForLayoutDescription(const QString& description) {
    return LayoutRegistry::instance().localeNameByDescription(description);
}

std::pair<QString, QString> layoutOfGroup(const QString& layouts, const QString& variants, int group) {
    const QStringList layoutList = layouts.split(QLatin1Char(','));
    const QStringList variantList = variants.split(QLatin1Char(','));
    if (layouts.isEmpty() || group < 0) {
        return {};
    }
    const int index = group % int(layoutList.size());
    return {layoutList.at(index).trimmed(), index < variantList.size() ? variantList.at(index).trimmed() : QString()};
}

struct LinuxKeyboard::Impl {
    std::unique_ptr<Display, DisplayCloser> m_display;
    std::unique_ptr<xkb_context, XkbContextUnref> m_context;
    std::unique_ptr<xkb_keymap, XkbKeymapUnref> m_keymap;
    xcb_connection_t* m_connection = nullptr; // owned by m_display
    std::int32_t m_deviceId = -1;
    int m_xkbEventType = -1;
    Atom m_rulesAtom = 0;
    Atom m_capsLockAtom = 0;
    Atom m_numLockAtom = 0;

    int m_group = 0;
    unsigned m_indicatorState = 0;
    int m_capsLockIndicator = -1;
    int m_numLockIndicator = -1;

    bool m_keymapStale = true;
    bool m_tableStale = true;
    bool m_localeStale = true;

    // Virtual-key code of every X keycode, with Num Lock on and off.
    std::array<std::uint8_t, 256> m_codeNumLockOn{};
    std::array<std::uint8_t, 256> m_codeNumLockOff{};
    QString m_localeName = QStringLiteral("xx");

    explicit Impl(const QByteArray& displayName);
    void drainEvents();
    void refresh();
    void reloadKeymap();
    void rebuildTable();
    QString lookUpLocaleName();
    std::pair<QString, QString> activeLayout();
    QByteArray rulesNames();
    bool indicatorOn(int index) const { return index >= 0 && (m_indicatorState >> index) & 1u; }
};

LinuxKeyboard::Impl::Impl(const QByteArray& displayName) {
    int eventBase = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    int reason = 0;
    m_display.reset(XkbOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData(), &eventBase, &errorBase,
                                   &major, &minor, &reason));
    if (!m_display) {
        qCInfo(lcKeyboard) << "No X display with the keyboard extension (reason" << reason << "); hotkeys see no keys";
        return;
    }
    m_xkbEventType = eventBase;
    Display* display = m_display.get();
    m_connection = XGetXCBConnection(display);
    m_context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!m_context ||
        !xkb_x11_setup_xkb_extension(m_connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        qCWarning(lcKeyboard) << "The X keyboard extension could not be set up; hotkeys see no keys";
        m_display.reset();
        m_connection = nullptr;
        return;
    }
    m_deviceId = xkb_x11_get_core_keyboard_device_id(m_connection);

    // Ask before reading anything, so no change can slip between the first read and the first notification.
    const unsigned long events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbNamesNotifyMask | XkbStateNotifyMask |
                                 XkbIndicatorStateNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, events, events);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask, XkbGroupStateMask);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbIndicatorStateNotify, XkbAllIndicatorsMask, XkbAllIndicatorsMask);
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    m_rulesAtom = XInternAtom(display, "_XKB_RULES_NAMES", False);
    m_capsLockAtom = XInternAtom(display, "Caps Lock", False);
    m_numLockAtom = XInternAtom(display, "Num Lock", False);
}

void LinuxKeyboard::Impl::drainEvents() {
    Display* display = m_display.get();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify) {
            if (event.xproperty.atom == m_rulesAtom) {
                m_localeStale = true;
                m_tableStale = true; // the codes of some keys depend on the layout's name
            }
            continue;
        }
        if (event.type != m_xkbEventType) {
            continue;
        }
        const XkbEvent& xkb = reinterpret_cast<const XkbEvent&>(event);
        switch (xkb.any.xkb_type) {
        case XkbNewKeyboardNotify:
        case XkbMapNotify:
        case XkbNamesNotify:
            m_keymapStale = true;
            break;
        case XkbStateNotify:
            if (xkb.state.group != m_group) {
                m_group = xkb.state.group;
                m_tableStale = true;
                m_localeStale = true;
            }
            break;
        case XkbIndicatorStateNotify:
            m_indicatorState = xkb.indicators.state;
            break;
        default:
            break;
        }
    }
}

void LinuxKeyboard::Impl::refresh() {
    drainEvents();
    if (m_keymapStale) {
        reloadKeymap();
    }
    if (m_tableStale) {
        rebuildTable();
    }
}

void LinuxKeyboard::Impl::reloadKeymap() {
    Display* display = m_display.get();
    m_keymapStale = false;
    m_tableStale = true;
    m_localeStale = true;

    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        m_group = state.group;
    }
    m_capsLockIndicator = -1;
    m_numLockIndicator = -1;
    int index = -1;
    if (XkbGetNamedIndicator(display, m_capsLockAtom, &index, nullptr, nullptr, nullptr)) {
        m_capsLockIndicator = index;
    }
    if (XkbGetNamedIndicator(display, m_numLockAtom, &index, nullptr, nullptr, nullptr)) {
        m_numLockIndicator = index;
    }
    unsigned indicators = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &indicators) == Success) {
        m_indicatorState = indicators;
    }

    m_keymap.reset(
        xkb_x11_keymap_new_from_device(m_context.get(), m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!m_keymap) {
        qCWarning(lcKeyboard) << "The keyboard map could not be read; hotkeys see no keys";
    }
}

void LinuxKeyboard::Impl::rebuildTable() {
    m_tableStale = false;
    m_codeNumLockOn.fill(0);
    m_codeNumLockOff.fill(0);
    xkb_keymap* keymap = m_keymap.get();
    if (!keymap) {
        return;
    }
    for (const KeyPosition& position : KeyPositions) {
        const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap, position.name);
        if (keycode != XKB_KEYCODE_INVALID && keycode < 256 && m_codeNumLockOn[keycode] == 0) {
            m_codeNumLockOn[keycode] = position.numLockOn;
            m_codeNumLockOff[keycode] = position.numLockOff;
        }
    }
    // The United Kingdom layout and its variants share its punctuation codes.
    if (lookUpLocaleName().endsWith(QLatin1String("-GB"))) {
        for (const KeyPosition& position : UnitedKingdomPositions) {
            const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap, position.name);
            if (keycode != XKB_KEYCODE_INVALID && keycode < 256) {
                m_codeNumLockOn[keycode] = position.numLockOn;
                m_codeNumLockOff[keycode] = position.numLockOff;
            }
        }
    }

    // The letters come from the active group's unshifted level; the per-key group comes from a state locked to the
    // active group, so keys with fewer groups wrap as the server wraps them.
    std::unique_ptr<xkb_state, XkbStateUnref> state(xkb_state_new(keymap));
    if (!state) {
        return;
    }
    xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, xkb_layout_index_t(std::max(m_group, 0)));
    const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    for (xkb_keycode_t keycode = xkb_keymap_min_keycode(keymap); keycode <= last; ++keycode) {
        if (!followsLayoutLetter(xkb_keymap_key_get_name(keymap, keycode))) {
            continue;
        }
        const xkb_layout_index_t layout = xkb_state_key_get_layout(state.get(), keycode);
        const xkb_keysym_t* symbols = nullptr;
        if (layout == XKB_LAYOUT_INVALID ||
            xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, 0, &symbols) < 1) {
            continue;
        }
        const xkb_keysym_t symbol = symbols[0];
        std::uint8_t code = m_codeNumLockOn[keycode];
        if (symbol >= XKB_KEY_a && symbol <= XKB_KEY_z) {
            code = std::uint8_t(vk::LetterA + (symbol - XKB_KEY_a));
        } else if (symbol >= XKB_KEY_A && symbol <= XKB_KEY_Z) {
            code = std::uint8_t(vk::LetterA + (symbol - XKB_KEY_A));
        } else if (isUsLetterPosition(code)) {
            // A letter of another script keeps its position (Cyrillic, Greek, the Turkish dotless i); punctuation that
            // a layout put on a letter position (the AZERTY comma) is no letter at all.
            const char32_t character = xkb_keysym_to_utf32(symbol);
            if (!QChar::isLetter(character)) {
                code = 0;
            }
        }
        m_codeNumLockOn[keycode] = code;
        m_codeNumLockOff[keycode] = code;
    }
}

QByteArray LinuxKeyboard::Impl::rulesNames() {
    Display* display = m_display.get();
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, remaining = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), m_rulesAtom, 0, 4096, False, XA_STRING, &type, &format,
                           &items, &remaining, &raw) != Success) {
        return QByteArray();
    }
    std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
    if (!data || type != XA_STRING || format != 8) {
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(data.get()), int(items));
}

std::pair<QString, QString> LinuxKeyboard::Impl::activeLayout() {
    // rules, model, layouts, variants, options: NUL-separated strings
    const QList<QByteArray> names = rulesNames().split('\0');
    if (names.size() >= 3 && !names.at(2).isEmpty()) {
        return layoutOfGroup(QString::fromUtf8(names.at(2)),
                             names.size() >= 4 ? QString::fromUtf8(names.at(3)) : QString(), m_group);
    }
    return {};
}

QString LinuxKeyboard::Impl::lookUpLocaleName() {
    if (const auto [layout, variant] = activeLayout(); !layout.isEmpty()) {
        return localeNameForLayout(layout, variant);
    }
    if (m_keymap) {
        const xkb_layout_index_t count = xkb_keymap_num_layouts(m_keymap.get());
        if (count > 0) {
            const char* description =
                xkb_keymap_layout_get_name(m_keymap.get(), xkb_layout_index_t(std::max(m_group, 0)) % count);
            return localeNameForLayoutDescription(description ? QString::fromUtf8(description) : QString());
        }
    }
    return QStringLiteral("xx");
}

LinuxKeyboard::LinuxKeyboard(const QByteArray& displayName) : m_impl(std::make_unique<Impl>(displayName)) {}

LinuxKeyboard::~LinuxKeyboard() = default;

bool LinuxKeyboard::connected() const {
    return m_impl->m_display != nullptr;
}

namespace {

// Per X keycode: 0, or pressed by the injector as a keypad digit (1), or released by it since (2).
enum : int { NotInjected = 0, InjectedHeld = 1, InjectedReleased = 2 };
std::array<std::atomic<int>, 256> injectedKeypadDigits{};

bool injectedAsKeypadDigit(int keycode) {
    return keycode >= 0 && keycode < 256 &&
           injectedKeypadDigits[std::size_t(keycode)].load(std::memory_order_relaxed) != NotInjected;
}

} // namespace

void setInjectedAsKeypadDigit(int keycode, bool held) {
    if (keycode >= 0 && keycode < 256) {
        std::atomic<int>& state = injectedKeypadDigits[std::size_t(keycode)];
        if (held) {
            state.store(InjectedHeld, std::memory_order_relaxed);
        } else {
            int expected = InjectedHeld;
            state.compare_exchange_strong(expected, InjectedReleased, std::memory_order_relaxed);
        }
    }
}

void injectedKeyReleaseSeen(int keycode) {
    if (keycode >= 0 && keycode < 256) {
        int expected = InjectedReleased;
        injectedKeypadDigits[std::size_t(keycode)].compare_exchange_strong(expected, NotInjected,
                                                                           std::memory_order_relaxed);
    }
}

KeyStateSnapshot LinuxKeyboard::snapshot() {
    KeyStateSnapshot result;
    if (!m_impl->m_display) {
        return result;
    }
    m_impl->refresh();
    char keys[32] = {};
    XQueryKeymap(m_impl->m_display.get(), keys);
    const auto& codes =
        m_impl->indicatorOn(m_impl->m_numLockIndicator) ? m_impl->m_codeNumLockOn : m_impl->m_codeNumLockOff;
    for (int keycode = 8; keycode < 256; ++keycode) {
        if (keys[keycode >> 3] & (1 << (keycode & 7))) {
            const auto& table = injectedAsKeypadDigit(keycode) ? m_impl->m_codeNumLockOn : codes;
            if (const int code = table[std::size_t(keycode)]) {
                result.setDown(code);
            }
        }
    }
    result.setDown(vk::Shift, result.isDown(vk::LShift) || result.isDown(vk::RShift));
    result.setDown(vk::Control, result.isDown(vk::LControl) || result.isDown(vk::RControl));
    result.setDown(vk::Menu, result.isDown(vk::LMenu) || result.isDown(vk::RMenu));
    result.setCapsLockToggled(m_impl->indicatorOn(m_impl->m_capsLockIndicator));
    return result;
}

int LinuxKeyboard::virtualKeyOf(int keycode) {
    if (!m_impl->m_display || keycode < 8 || keycode > 255) {
        return 0;
    }
    m_impl->refresh();
    const auto& codes = injectedAsKeypadDigit(keycode) || m_impl->indicatorOn(m_impl->m_numLockIndicator)
                            ? m_impl->m_codeNumLockOn
                            : m_impl->m_codeNumLockOff;
    return codes[std::size_t(keycode)];
}

QString LinuxKeyboard::keyboardLocaleName() {
    if (!m_impl->m_display) {
        return QStringLiteral("xx");
    }
    m_impl->refresh();
    if (m_impl->m_localeStale) {
        m_impl->m_localeStale = false;
        m_impl->m_localeName = m_impl->lookUpLocaleName();
    }
    return m_impl->m_localeName;
}

} // namespace clavora::platform
