// Key captions for tests: a US layout by default, any key's text replaceable, and changes announced when the test
// says so.
#pragma once

#include "platform/keycaptions.h"

#include <QHash>

#include <iterator>
#include <map>
#include <tuple>

namespace clavora::platform {

class FakeKeyCaptions : public IKeyCaptions {
public:
    QString keyText(PhysicalKey key, KeyLevel level) override {
        ++m_queries;
        const auto found = m_texts.find(std::make_tuple(key.scanCode, key.extended, level.shift, level.altGr));
        if (found != m_texts.end()) {
            return applyCaps(found->second, level);
        }
        if (level.altGr) {
            return QString();
        }
        if (key.extended) {
            return key.scanCode == 0x35 ? QStringLiteral("/") : QString();
        }
        if (key.scanCode >= 71 && key.scanCode <= 83) {
            // The keypad, as with Num Lock on.
            return QString(QLatin1Char("789-456+1230."[key.scanCode - 71]));
        }
        if (key.scanCode < 0 || key.scanCode >= int(std::size(UsPlain))) {
            return QString();
        }
        const char c = level.shift ? UsShifted[key.scanCode] : UsPlain[key.scanCode];
        return c == '\0' ? QString() : applyCaps(QString(QLatin1Char(c)), level);
    }

    void setChangeHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

    // Replaces the text of a key at one Shift and AltGr level (Caps Lock upper-cases letters on top, as layouts do).
    void setText(PhysicalKey key, bool shift, bool altGr, const QString& text) {
        m_texts[std::make_tuple(key.scanCode, key.extended, shift, altGr)] = text;
    }
    // What the system does after a layout switch: tell the handler.
    void announceChange() {
        if (m_handler) {
            m_handler();
        }
    }
    bool hasHandler() const { return bool(m_handler); }
    int queries() const { return m_queries; }

private:
    static QString applyCaps(const QString& text, KeyLevel level) {
        // Caps Lock affects letters only, and Shift undoes it, as on the usual layouts.
        if (level.capsLock && text.size() == 1 && text.at(0).isLetter()) {
            return level.shift ? text.toLower() : text.toUpper();
        }
        return text;
    }

    // The US layout by set-1 scan code, unshifted and shifted; '\0' where the key types nothing.
    static constexpr char UsPlain[] = "\0\0"
                                      "1234567890-=\0\0"
                                      "qwertyuiop[]\0\0"
                                      "asdfghjkl;'`\0\\"
                                      "zxcvbnm,./\0*\0 ";
    static constexpr char UsShifted[] = "\0\0"
                                        "!@#$%^&*()_+\0\0"
                                        "QWERTYUIOP{}\0\0"
                                        "ASDFGHJKL:\"~\0|"
                                        "ZXCVBNM<>?\0*\0 ";

    std::map<std::tuple<int, bool, bool, bool>, QString> m_texts;
    std::function<void()> m_handler;
    int m_queries = 0;
};

} // namespace clavora::platform
