// Scrambling of stored text.
#include "online/textscramble.h"

#include <QByteArray>

namespace clavora::online {

namespace {

constexpr quint16 Seed = 0x5A3C;
constexpr quint16 Multiplier = 0x6B1D;
constexpr quint16 Increment = 0x2E47;

quint16 nextKey(quint16 key, quint8 scrambledByte) {
    return quint16((key + scrambledByte) * Multiplier + Increment);
}

int hexDigit(QChar c) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
        return c.unicode() - '0';
    }
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F')) {
        return c.unicode() - 'A' + 10;
    }
    return -1;
}

} // namespace

QString scrambleText(const QString& text) {
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    quint16 key = Seed;
    for (const char c : text.toUtf8()) {
        const quint8 scrambled = quint8(quint8(c) ^ (key >> 8));
        out.append(QLatin1Char(hex[scrambled >> 4]));
        out.append(QLatin1Char(hex[scrambled & 0x0F]));
        key = nextKey(key, scrambled);
    }
    return out;
}

QString unscrambleText(const QString& scrambled) {
    const QString digits = scrambled.toUpper();
    QByteArray plain;
    quint16 key = Seed;
    for (qsizetype i = 0; i + 1 < digits.size(); i += 2) {
        const int high = hexDigit(digits[i]);
        const int low = hexDigit(digits[i + 1]);
        if (high < 0 || low < 0) {
            return QString();
        }
        const auto byte = quint8(high * 16 + low);
        plain.append(char(byte ^ (key >> 8)));
        key = nextKey(key, byte);
    }
    return QString::fromUtf8(plain);
}

} // namespace clavora::online
