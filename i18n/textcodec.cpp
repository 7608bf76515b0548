// Decoding of the program's text files.
#include "i18n/textcodec.h"

#include "i18n/i18nlogging.h"

#include <QStringDecoder>

#include <memory>
#include <string>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

namespace clavora::text {

namespace {

constexpr int WesternCodePage = 1252;

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// ICU would put U+001A (the code page's own substitute) for some bytes it cannot map; U+FFFD says plainly that
// something was lost and is what every other decoder here yields.
void substituteReplacementCharacter(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                                    UConverterCallbackReason reason, UErrorCode* error) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) {
        return;
    }
    const UChar replacement = 0xFFFD;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

Converter openConverter(const char* name) {
    UErrorCode error = U_ZERO_ERROR;
    Converter converter(ucnv_open(name, &error));
    if (U_FAILURE(error)) {
        return Converter();
    }
    ucnv_setToUCallBack(converter.get(), substituteReplacementCharacter, nullptr, nullptr, nullptr, &error);
    return converter;
}

Converter openCodePage(int codePage) {
    const std::string name = "windows-" + std::to_string(codePage);
    return openConverter(name.c_str());
}

// Bytes through an open converter, to the end of the input.
QString convert(UConverter* converter, QByteArrayView bytes) {
    // Most converters yield at most one UTF-16 unit per byte; the buffer grows for those that do not.
    QString text(bytes.size() + 16, Qt::Uninitialized);
    auto* base = reinterpret_cast<UChar*>(text.data());
    UChar* target = base;
    const char* source = bytes.data();
    const char* const sourceLimit = source + bytes.size();
    for (;;) {
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, base + text.size(), &source, sourceLimit, nullptr, true, &error);
        if (error != U_BUFFER_OVERFLOW_ERROR) {
            break;
        }
        const qsizetype used = target - base;
        text.resize(text.size() * 2);
        base = reinterpret_cast<UChar*>(text.data());
        target = base + used;
    }
    text.truncate(target - base);
    return text;
}

// UTF-8 with every U+FEFF kept: the caller has already taken off the byte-order mark, and a second one is text.
// Each malformed sequence becomes U+FFFD.
QString fromUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// The UTF-16 units of Bytes in order; an odd last byte is left to the caller.
template <class OnUnit> void forEachUtf16Unit(QByteArrayView bytes, bool bigEndian, OnUnit onUnit) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype units = bytes.size() / 2;
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char a = data[2 * i];
        const unsigned char b = data[2 * i + 1];
        onUnit(bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a));
    }
}

// Decodes UTF-16; Strict makes the first malformed piece fail the whole text, otherwise it becomes U+FFFD.
std::optional<QString> decodeUtf16(QByteArrayView bytes, bool bigEndian, bool strict) {
    if (strict && bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    QString text;
    text.reserve(bytes.size() / 2 + 1);
    bool malformed = false;
    char16_t pendingHigh = 0;
    forEachUtf16Unit(bytes, bigEndian, [&](char16_t unit) {
        if (pendingHigh != 0) {
            if (QChar::isLowSurrogate(unit)) {
                text.append(QChar(pendingHigh));
                text.append(QChar(unit));
                pendingHigh = 0;
                return;
            }
            malformed = true;
            text.append(QChar(QChar::ReplacementCharacter));
            pendingHigh = 0;
        }
        if (QChar::isHighSurrogate(unit)) {
            pendingHigh = unit;
        } else if (QChar::isLowSurrogate(unit)) {
            malformed = true;
            text.append(QChar(QChar::ReplacementCharacter));
        } else {
            text.append(QChar(unit));
        }
    });
    if (pendingHigh != 0) {
        malformed = true;
        text.append(QChar(QChar::ReplacementCharacter));
    }
    if (bytes.size() % 2 != 0) {
        text.append(QChar(QChar::ReplacementCharacter));
    }
    if (strict && malformed) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<ByteOrderMark> byteOrderMark(QByteArrayView bytes) {
    if (bytes.startsWith(QByteArrayView(Utf8Bom))) {
        return ByteOrderMark{Encoding::Utf8, 3};
    }
    if (bytes.startsWith(QByteArrayView("\xFF\xFE"))) {
        return ByteOrderMark{Encoding::Utf16LE, 2};
    }
    if (bytes.startsWith(QByteArrayView("\xFE\xFF"))) {
        return ByteOrderMark{Encoding::Utf16BE, 2};
    }
    return std::nullopt;
}

bool isStrictUtf8(QByteArrayView bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Ranges of the second byte per lead byte, as Unicode's table of well-formed sequences gives them.
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c == 0xE0) {
            length = 3;
            low = 0xA0;
        } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
            length = 3;
        } else if (c == 0xED) {
            length = 3;
            high = 0x9F;
        } else if (c == 0xF0) {
            length = 4;
            low = 0x90;
        } else if (c >= 0xF1 && c <= 0xF3) {
            length = 4;
        } else if (c == 0xF4) {
            length = 4;
            high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length || s[i + 1] < low || s[i + 1] > high) {
            return false;
        }
        for (int k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::optional<QString> decodeStrict(QByteArrayView bytes, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8:
        if (!isStrictUtf8(bytes)) {
            return std::nullopt;
        }
        return fromUtf8(bytes);
    case Encoding::Utf16LE:
        return decodeUtf16(bytes, false, true);
    case Encoding::Utf16BE:
        return decodeUtf16(bytes, true, true);
    }
    return std::nullopt;
}

QString decodeLenient(QByteArrayView bytes, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8:
        return fromUtf8(bytes);
    case Encoding::Utf16LE:
        return *decodeUtf16(bytes, false, false);
    case Encoding::Utf16BE:
        return *decodeUtf16(bytes, true, false);
    }
    return QString();
}

QString decodeCodePage(QByteArrayView bytes, int codePage) {
    Converter converter = openCodePage(codePage);
    if (!converter) {
        qCWarning(lcI18n) << "No converter for code page" << codePage << "- reading as" << WesternCodePage;
        converter = openCodePage(WesternCodePage);
    }
    if (!converter) {
        qCWarning(lcI18n) << "No converter for code page" << WesternCodePage << "- reading as Latin-1";
        return QString::fromLatin1(bytes);
    }
    return convert(converter.get(), bytes);
}

std::optional<QString> decodeCharset(QByteArrayView bytes, const QByteArray& charset) {
    if (charset.isEmpty()) {
        return std::nullopt;
    }
    const Converter converter = openConverter(charset.constData());
    if (!converter) {
        return std::nullopt;
    }
    return convert(converter.get(), bytes);
}

QString decodeWithFallback(QByteArrayView bytes, int ansiCodePage) {
    if (const std::optional<ByteOrderMark> mark = byteOrderMark(bytes)) {
        return decodeLenient(bytes.sliced(mark->size), mark->encoding);
    }
    if (isStrictUtf8(bytes)) {
        return fromUtf8(bytes);
    }
    return decodeCodePage(bytes, ansiCodePage);
}

std::optional<QString> decodeUnicode(QByteArrayView bytes) {
    const std::optional<ByteOrderMark> mark = byteOrderMark(bytes);
    if (!mark) {
        return decodeStrict(bytes, Encoding::Utf8);
    }
    return decodeStrict(bytes.sliced(mark->size), mark->encoding);
}

QStringList splitLines(QStringView text) {
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c != u'\r' && c != u'\n') {
            continue;
        }
        lines.append(text.mid(start, i - start).toString());
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < n) {
        lines.append(text.mid(start).toString());
    }
    return lines;
}

QString trimBlanksAndControls(const QString& text) {
    return trimBlanksAndControls(QStringView(text)).toString();
}

QStringView trimBlanksAndControls(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32) {
        ++begin;
    }
    while (end > begin && text.at(end - 1).unicode() <= 32) {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace clavora::text
