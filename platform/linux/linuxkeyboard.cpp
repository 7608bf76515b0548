// The keyboard on X11.
//
// Physical keys are identified by their XKB key names (<AE01>, <LCTL>, <KP7>...), which do not depend on the X
// server's keycode set, and mapped onto the codes Windows gives the same keys: letters follow the layout's letter,
// everything else the key's position. The keymap is fetched again only when the server says it changed, and the
// layout group and indicator lights are tracked from XKB notifications, so a poll costs a single XQueryKeymap.
#include "platform/linux/linuxkeyboard.h"

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
#include <cstring>

Q_LOGGING_CATEGORY(lcKeyboard, "clavora.platform.keyboard")

namespace clavora::platform {

namespace {

struct TDisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
struct TXkbContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct TXkbKeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct TXkbStateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
struct TRegistryUnref {
    void operator()(rxkb_context* context) const { rxkb_context_unref(context); }
};
struct TXFree {
    void operator()(void* data) const { XFree(data); }
};

// Where Windows puts each physical key. Keypad keys answer differently with Num Lock on and off; the letter block
// holds the US positions, which the layout's own letters override when the table is built.
struct TPosition {
    const char* name;
    std::uint8_t numLockOn;
    std::uint8_t numLockOff;
};

constexpr TPosition Same(const char* name, int code) {
    return {name, std::uint8_t(code), std::uint8_t(code)};
}

// clang-format off
constexpr TPosition kPositions[] = {
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

struct TRegistryEntry {
    QString language;
    QString country;
    bool languageOwn = false;
};

TRegistryEntry entryOf(rxkb_layout* layout) {
    TRegistryEntry entry;
    for (rxkb_iso639_code* code = rxkb_layout_get_iso639_first(layout); code && entry.language.isEmpty();
         code = rxkb_iso639_code_next(code)) {
        entry.language = shortLanguageCode(rxkb_iso639_code_get_code(code));
    }
    entry.languageOwn = !entry.language.isEmpty();
    if (rxkb_iso3166_code* code = rxkb_layout_get_iso3166_first(layout)) {
        entry.country = QString::fromLatin1(rxkb_iso3166_code_get_code(code)).toUpper();
    }
    return entry;
}

QString composeLocaleName(TRegistryEntry variant, const TRegistryEntry& base) {
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
class TLayoutRegistry {
public:
    static TLayoutRegistry& instance() {
        static TLayoutRegistry registry;
        return registry;
    }

    QString localeName(const QString& layout, const QString& variant) {
        const QString key = layout + QLatin1Char('\n') + variant;
        if (const auto found = FByName.constFind(key); found != FByName.constEnd()) {
            return *found;
        }
        QString result = QStringLiteral("xx");
        if (FContext && !layout.isEmpty()) {
            TRegistryEntry base;
            bool baseFound = false;
            rxkb_layout* variantLayout = nullptr;
            for (rxkb_layout* entry = rxkb_layout_first(FContext.get()); entry; entry = rxkb_layout_next(entry)) {
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
        FByName.insert(key, result);
        return result;
    }

    QString localeNameByDescription(const QString& description) {
        if (!FContext || description.isEmpty()) {
            return QStringLiteral("xx");
        }
        for (rxkb_layout* entry = rxkb_layout_first(FContext.get()); entry; entry = rxkb_layout_next(entry)) {
            if (QString::fromUtf8(rxkb_layout_get_description(entry)) == description) {
                const char* entryVariant = rxkb_layout_get_variant(entry);
                return localeName(QString::fromUtf8(rxkb_layout_get_name(entry)),
                                  entryVariant ? QString::fromUtf8(entryVariant) : QString());
            }
        }
        return QStringLiteral("xx");
    }

private:
    TLayoutRegistry() : FContext(rxkb_context_new(RXKB_CONTEXT_NO_FLAGS)) {
        if (FContext && !rxkb_context_parse_default_ruleset(FContext.get())) {
            qCWarning(lcKeyboard) << "The keyboard layout registry could not be read; layouts have no locale";
            FContext.reset();
        }
    }

    std::unique_ptr<rxkb_context, TRegistryUnref> FContext;
    QHash<QString, QString> FByName;
};

} // namespace

QString LocaleNameForLayout(const QString& layout, const QString& variant) {
    return TLayoutRegistry::instance().localeName(layout, variant);
}

QString LocaleNameForLayoutDescription(const QString& description) {
    return TLayoutRegistry::instance().localeNameByDescription(description);
}

std::pair<QString, QString> LayoutOfGroup(const QString& layouts, const QString& variants, int group) {
    const QStringList layoutList = layouts.split(QLatin1Char(','));
    const QStringList variantList = variants.split(QLatin1Char(','));
    if (layouts.isEmpty() || group < 0) {
        return {};
    }
    const int index = group % int(layoutList.size());
    return {layoutList.at(index).trimmed(), index < variantList.size() ? variantList.at(index).trimmed() : QString()};
}

struct TLinuxKeyboard::TImpl {
    std::unique_ptr<Display, TDisplayCloser> FDisplay;
    std::unique_ptr<xkb_context, TXkbContextUnref> FContext;
    std::unique_ptr<xkb_keymap, TXkbKeymapUnref> FKeymap;
    xcb_connection_t* FConnection = nullptr; // owned by FDisplay
    std::int32_t FDeviceId = -1;
    int FXkbEventType = -1;
    Atom FRulesAtom = 0;
    Atom FCapsLockAtom = 0;
    Atom FNumLockAtom = 0;

    int FGroup = 0;
    unsigned FIndicatorState = 0;
    int FCapsLockIndicator = -1;
    int FNumLockIndicator = -1;

    bool FKeymapStale = true;
    bool FTableStale = true;
    bool FLocaleStale = true;

    // Virtual-key code of every X keycode, with Num Lock on and off.
    std::array<std::uint8_t, 256> FCodeNumLockOn{};
    std::array<std::uint8_t, 256> FCodeNumLockOff{};
    QString FLocaleName = QStringLiteral("xx");

    explicit TImpl(const QByteArray& displayName);
    void drainEvents();
    void refresh();
    void reloadKeymap();
    void rebuildTable();
    QString lookUpLocaleName();
    QByteArray rulesNames();
    bool indicatorOn(int index) const { return index >= 0 && (FIndicatorState >> index) & 1u; }
};

TLinuxKeyboard::TImpl::TImpl(const QByteArray& displayName) {
    int eventBase = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    int reason = 0;
    FDisplay.reset(XkbOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData(), &eventBase, &errorBase,
                                  &major, &minor, &reason));
    if (!FDisplay) {
        qCInfo(lcKeyboard) << "No X display with the keyboard extension (reason" << reason << "); hotkeys see no keys";
        return;
    }
    FXkbEventType = eventBase;
    Display* display = FDisplay.get();
    FConnection = XGetXCBConnection(display);
    FContext.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!FContext ||
        !xkb_x11_setup_xkb_extension(FConnection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        qCWarning(lcKeyboard) << "The X keyboard extension could not be set up; hotkeys see no keys";
        FDisplay.reset();
        FConnection = nullptr;
        return;
    }
    FDeviceId = xkb_x11_get_core_keyboard_device_id(FConnection);

    // Ask before reading anything, so no change can slip between the first read and the first notification.
    const unsigned long events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbNamesNotifyMask | XkbStateNotifyMask |
                                 XkbIndicatorStateNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, events, events);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask, XkbGroupStateMask);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbIndicatorStateNotify, XkbAllIndicatorsMask, XkbAllIndicatorsMask);
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    FRulesAtom = XInternAtom(display, "_XKB_RULES_NAMES", False);
    FCapsLockAtom = XInternAtom(display, "Caps Lock", False);
    FNumLockAtom = XInternAtom(display, "Num Lock", False);
}

void TLinuxKeyboard::TImpl::drainEvents() {
    Display* display = FDisplay.get();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify) {
            if (event.xproperty.atom == FRulesAtom) {
                FLocaleStale = true;
            }
            continue;
        }
        if (event.type != FXkbEventType) {
            continue;
        }
        const XkbEvent& xkb = reinterpret_cast<const XkbEvent&>(event);
        switch (xkb.any.xkb_type) {
        case XkbNewKeyboardNotify:
        case XkbMapNotify:
        case XkbNamesNotify:
            FKeymapStale = true;
            break;
        case XkbStateNotify:
            if (xkb.state.group != FGroup) {
                FGroup = xkb.state.group;
                FTableStale = true;
                FLocaleStale = true;
            }
            break;
        case XkbIndicatorStateNotify:
            FIndicatorState = xkb.indicators.state;
            break;
        default:
            break;
        }
    }
}

void TLinuxKeyboard::TImpl::refresh() {
    drainEvents();
    if (FKeymapStale) {
        reloadKeymap();
    }
    if (FTableStale) {
        rebuildTable();
    }
}

void TLinuxKeyboard::TImpl::reloadKeymap() {
    Display* display = FDisplay.get();
    FKeymapStale = false;
    FTableStale = true;
    FLocaleStale = true;

    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        FGroup = state.group;
    }
    FCapsLockIndicator = -1;
    FNumLockIndicator = -1;
    int index = -1;
    if (XkbGetNamedIndicator(display, FCapsLockAtom, &index, nullptr, nullptr, nullptr)) {
        FCapsLockIndicator = index;
    }
    if (XkbGetNamedIndicator(display, FNumLockAtom, &index, nullptr, nullptr, nullptr)) {
        FNumLockIndicator = index;
    }
    unsigned indicators = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &indicators) == Success) {
        FIndicatorState = indicators;
    }

    FKeymap.reset(xkb_x11_keymap_new_from_device(FContext.get(), FConnection, FDeviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!FKeymap) {
        qCWarning(lcKeyboard) << "The keyboard map could not be read; hotkeys see no keys";
    }
}

void TLinuxKeyboard::TImpl::rebuildTable() {
    FTableStale = false;
    FCodeNumLockOn.fill(0);
    FCodeNumLockOff.fill(0);
    xkb_keymap* keymap = FKeymap.get();
    if (!keymap) {
        return;
    }
    for (const TPosition& position : kPositions) {
        const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap, position.name);
        if (keycode != XKB_KEYCODE_INVALID && keycode < 256 && FCodeNumLockOn[keycode] == 0) {
            FCodeNumLockOn[keycode] = position.numLockOn;
            FCodeNumLockOff[keycode] = position.numLockOff;
        }
    }

    // The letters come from the active group's unshifted level; the per-key group comes from a state locked to the
    // active group, so keys with fewer groups wrap as the server wraps them.
    std::unique_ptr<xkb_state, TXkbStateUnref> state(xkb_state_new(keymap));
    if (!state) {
        return;
    }
    xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, xkb_layout_index_t(std::max(FGroup, 0)));
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
        std::uint8_t code = FCodeNumLockOn[keycode];
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
        FCodeNumLockOn[keycode] = code;
        FCodeNumLockOff[keycode] = code;
    }
}

QByteArray TLinuxKeyboard::TImpl::rulesNames() {
    Display* display = FDisplay.get();
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, remaining = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), FRulesAtom, 0, 4096, False, XA_STRING, &type, &format,
                           &items, &remaining, &raw) != Success) {
        return QByteArray();
    }
    std::unique_ptr<unsigned char, TXFree> data(raw);
    if (!data || type != XA_STRING || format != 8) {
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(data.get()), int(items));
}

QString TLinuxKeyboard::TImpl::lookUpLocaleName() {
    // rules, model, layouts, variants, options: NUL-separated strings
    const QList<QByteArray> names = rulesNames().split('\0');
    if (names.size() >= 3 && !names.at(2).isEmpty()) {
        const auto [layout, variant] = LayoutOfGroup(
            QString::fromUtf8(names.at(2)), names.size() >= 4 ? QString::fromUtf8(names.at(3)) : QString(), FGroup);
        return LocaleNameForLayout(layout, variant);
    }
    if (FKeymap) {
        const xkb_layout_index_t count = xkb_keymap_num_layouts(FKeymap.get());
        if (count > 0) {
            const char* description =
                xkb_keymap_layout_get_name(FKeymap.get(), xkb_layout_index_t(std::max(FGroup, 0)) % count);
            return LocaleNameForLayoutDescription(description ? QString::fromUtf8(description) : QString());
        }
    }
    return QStringLiteral("xx");
}

TLinuxKeyboard::TLinuxKeyboard(const QByteArray& displayName) : F(std::make_unique<TImpl>(displayName)) {}

TLinuxKeyboard::~TLinuxKeyboard() = default;

bool TLinuxKeyboard::connected() const {
    return F->FDisplay != nullptr;
}

TKeyStateSnapshot TLinuxKeyboard::snapshot() {
    TKeyStateSnapshot result;
    if (!F->FDisplay) {
        return result;
    }
    F->refresh();
    char keys[32] = {};
    XQueryKeymap(F->FDisplay.get(), keys);
    const auto& codes = F->indicatorOn(F->FNumLockIndicator) ? F->FCodeNumLockOn : F->FCodeNumLockOff;
    for (int keycode = 8; keycode < 256; ++keycode) {
        if (keys[keycode >> 3] & (1 << (keycode & 7))) {
            if (const int code = codes[std::size_t(keycode)]) {
                result.setDown(code);
            }
        }
    }
    result.setDown(vk::Shift, result.isDown(vk::LShift) || result.isDown(vk::RShift));
    result.setDown(vk::Control, result.isDown(vk::LControl) || result.isDown(vk::RControl));
    result.setDown(vk::Menu, result.isDown(vk::LMenu) || result.isDown(vk::RMenu));
    result.setCapsLockToggled(F->indicatorOn(F->FCapsLockIndicator));
    return result;
}

QString TLinuxKeyboard::keyboardLocaleName() {
    if (!F->FDisplay) {
        return QStringLiteral("xx");
    }
    F->refresh();
    if (F->FLocaleStale) {
        F->FLocaleStale = false;
        F->FLocaleName = F->lookUpLocaleName();
    }
    return F->FLocaleName;
}

template <> IKeyboard& DefaultService<IKeyboard>() {
    static TLinuxKeyboard service;
    return service;
}

} // namespace clavora::platform
