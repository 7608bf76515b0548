// The one place where the program's text files become text: byte-order marks, strict UTF-8, UTF-16 in both byte
// orders and the Windows code pages of old files, plus the line rule every text file shares. The key map, the
// language files and the language code table all read through here, so the same bytes always give the same text.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace clavora::text {

enum class Encoding { Utf8, Utf16LE, Utf16BE };

// The UTF-8 byte-order mark, which the program writes at the start of its own UTF-8 files.
inline constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

// A byte-order mark: the encoding it announces and how many bytes it takes.
struct ByteOrderMark {
    Encoding encoding;
    qsizetype size;
};

// The byte-order mark Bytes start with (UTF-8, UTF-16 LE or UTF-16 BE), if any.
std::optional<ByteOrderMark> byteOrderMark(QByteArrayView bytes);

// True when Bytes are well-formed UTF-8: no overlong forms, no encoded surrogates, nothing past U+10FFFF, no
// sequence cut short.
bool isStrictUtf8(QByteArrayView bytes);

// Bytes in Encoding, or nullopt when they hold anything malformed: bad UTF-8, an odd number of UTF-16 bytes, an
// unpaired surrogate. A byte-order mark must already be taken off; one left in is text (U+FEFF).
std::optional<QString> decodeStrict(QByteArrayView bytes, Encoding encoding);

// Bytes in Encoding; never fails. Every malformed piece becomes U+FFFD, so what was lost stays visible and the text
// can always be written back as UTF-8: an unpaired surrogate, and a last odd UTF-16 byte, each give one U+FFFD.
QString decodeLenient(QByteArrayView bytes, Encoding encoding);

// Bytes in a Windows code page (1252, 1251, 932...). A page the system has no converter for is read as 1252, the
// code page of the Western languages. A byte the page leaves unassigned becomes U+FFFD.
QString decodeCodePage(QByteArrayView bytes, int codePage);

// Bytes in the character set of that name, as a MIME charset or an IANA name gives it ("iso-8859-1", "UTF-8",
// "windows-1251", "Shift_JIS"), letter case ignored; nullopt when no converter knows the name. A byte the set cannot
// map becomes U+FFFD.
std::optional<QString> decodeCharset(QByteArrayView bytes, const QByteArray& charset);

// Text files that may be older than Unicode (the key map, the language code table): a byte-order mark selects
// UTF-8, UTF-16 LE or UTF-16 BE (read leniently, the mark taken off); without one, well-formed UTF-8 is read as such
// and anything else in the Windows code page AnsiCodePage. Never fails.
QString decodeWithFallback(QByteArrayView bytes, int ansiCodePage);

// Text files that must be Unicode (the language files): a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE,
// UTF-8 without one; nullopt when the bytes are malformed in that encoding.
std::optional<QString> decodeUnicode(QByteArrayView bytes);

// Splits text into lines at CR LF, LF or CR. A last line without a line end is kept; a line end at the very end adds
// no empty line, so empty text gives no lines.
QStringList splitLines(QStringView text);

// Text without its leading and trailing blanks and control characters (every character of code 32 or below, line
// breaks included). The view is a part of the text it was given.
QString trimBlanksAndControls(const QString& text);
QStringView trimBlanksAndControls(QStringView text);

} // namespace clavora::text
