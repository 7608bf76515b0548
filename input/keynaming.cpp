// Key names.
#include "input/keynaming.h"

namespace clavora::input {

namespace vk = platform::vk;

QString ctrlKeyName(const QString& keyboardLocale) {
    return keyboardLocale.startsWith(QLatin1String("de-")) ? QStringLiteral("STRG") : QStringLiteral("CTRL");
}

QString rightAltKeyName(const QString& keyboardLocale) {
    return keyboardLocale == QLatin1String("en-US") ? QStringLiteral("ALT") : QStringLiteral("AltGr");
}

namespace {

// Names of the keys whose name never changes, indexed by virtual-key code.
const char* fixedName(int virtualKey) {
    switch (virtualKey) {
    case vk::Back:
        return "BACKSPACE";
    case vk::Tab:
        return "TAB";
    case vk::Return:
        return "ENTER";
    case vk::Pause:
        return "PAUSE";
    case vk::Capital:
        return "Caps Lock";
    case vk::Escape:
        return "ESC";
    case vk::Space:
        return " ";
    case vk::Prior:
        return "PAGEUP";
    case vk::Next:
        return "PAGEDOWN";
    case vk::End:
        return "END";
    case vk::Home:
        return "HOME";
    case vk::Left:
        return "LEFT";
    case vk::Up:
        return "UP";
    case vk::Right:
        return "RIGHT";
    case vk::Down:
        return "DOWN";
    case vk::Snapshot:
        return "PRINTSCREEN";
    case vk::Insert:
        return "INSERT";
    case vk::Delete:
        return "DELETE";
    case vk::LWin:
    case vk::RWin:
        return "WIN";
    case vk::Apps:
        return "MENU";
    case vk::Sleep:
        return "_";
    case vk::Multiply:
        return "*";
    case vk::Add:
        return "+";
    case vk::Subtract:
        return "-";
    case vk::Divide:
        return "/";
    case vk::NumLock:
        return "Num Lock";
    case vk::Scroll:
        return "Scroll Lock";
    case vk::LShift:
    case vk::RShift:
        return "SHIFT";
    case vk::LMenu:
        return "ALT";
    default:
        return nullptr;
    }
}

} // namespace

QString keyName(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                QChar decimalSeparator) {
    if (const char* name = fixedName(virtualKey)) {
        return QString::fromLatin1(name);
    }
    if (virtualKey >= vk::Digit0 && virtualKey <= vk::Digit0 + 9) {
        return QString(QChar(virtualKey));
    }
    if (virtualKey >= vk::Numpad0 && virtualKey <= vk::Numpad0 + 9) {
        return QString(QChar('0' + (virtualKey - vk::Numpad0)));
    }
    if (virtualKey >= vk::LetterA && virtualKey <= vk::LetterZ) {
        const bool shift = keys.isDown(vk::Shift);
        const bool upper = keys.capsLockToggled() ? !shift : shift;
        return QString(QChar(upper ? virtualKey : virtualKey + ('a' - 'A')));
    }
    if (virtualKey >= vk::F1 && virtualKey <= vk::F12) {
        return QStringLiteral("F") + QString::number(virtualKey - (vk::F1 - 1));
    }
    switch (virtualKey) {
    case vk::Decimal:
        return decimalSeparator.isNull() ? QString() : QString(decimalSeparator);
    case vk::LControl:
    case vk::RControl:
        return ctrlKeyName(keyboardLocale);
    case vk::RMenu:
        return rightAltKeyName(keyboardLocale);
    case vk::Oem3:
        if (keyboardLocale.startsWith(QLatin1String("en-"))) {
            return QStringLiteral("`");
        }
        if (keyboardLocale.startsWith(QLatin1String("tr-"))) {
            return QStringLiteral("\"");
        }
        return QString();
    default:
        return QString();
    }
}

QStringList carriedModifierNames(int virtualKey, const platform::KeyStateSnapshot& keys,
                                 const QString& keyboardLocale) {
    QStringList names;
    if (virtualKey >= vk::LetterA && virtualKey <= vk::LetterZ) {
        if (keys.isDown(vk::Control)) {
            names << ctrlKeyName(keyboardLocale);
        }
        if (keys.isDown(vk::Menu)) {
            names << QStringLiteral("ALT");
        }
        if (keys.isDown(vk::Shift)) {
            names << QStringLiteral("SHIFT");
        }
    }
    return names;
}

QStringList keyNamesOf(int virtualKey, const platform::KeyStateSnapshot& keys, const QString& keyboardLocale,
                       QChar decimalSeparator) {
    QStringList names = carriedModifierNames(virtualKey, keys, keyboardLocale);
    QString name = keyName(virtualKey, keys, keyboardLocale, decimalSeparator);
    if (!name.isEmpty()) {
        names << std::move(name);
    }
    return names;
}

QStringList keyNames(const platform::KeyStateSnapshot& keys, const QString& keyboardLocale, QChar decimalSeparator) {
    QStringList names;
    for (int virtualKey = 8; virtualKey <= 255; ++virtualKey) {
        if (keys.isDown(virtualKey)) {
            names << keyNamesOf(virtualKey, keys, keyboardLocale, decimalSeparator);
        }
    }
    return names;
}

} // namespace clavora::input
