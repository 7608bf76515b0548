// The key map file: decoding, the written form, completion of the default bindings and the start-up load.
#include "keymap/keymapfile.h"

#include "platform/filesystem.h"
#include "platform/locale.h"

#include <memory>
#include <string>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

namespace clavora {

Q_LOGGING_CATEGORY(lcKeyMap, "clavora.keymap")

QStringList KeyList;

const QStringList DefaultBindings = {
    QStringLiteral("F1|Sounds\\11.mp3"),  QStringLiteral("F2|Sounds\\12.mp3"),  QStringLiteral("F3|Sounds\\13.mp3"),
    QStringLiteral("F4|Sounds\\14.mp3"),  QStringLiteral("F5|Sounds\\15.mp3"),  QStringLiteral("F6|Sounds\\16.mp3"),
    QStringLiteral("F7|Sounds\\17.mp3"),  QStringLiteral("F8|Sounds\\18.mp3"),  QStringLiteral("F9|Sounds\\19.mp3"),
    QStringLiteral("F10|Sounds\\20.mp3"), QStringLiteral("F11|Sounds\\21.mp3"), QStringLiteral("F12|Sounds\\22.mp3"),
};

namespace {

const char KeysDbName[] = "keys.db";
const char Utf8Bom[] = "\xEF\xBB\xBF";

struct TConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using TConverter = std::unique_ptr<UConverter, TConverterCloser>;

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

TConverter openCodePage(int codePage) {
    UErrorCode error = U_ZERO_ERROR;
    const std::string name = "windows-" + std::to_string(codePage);
    TConverter converter(ucnv_open(name.c_str(), &error));
    if (U_FAILURE(error)) {
        return TConverter();
    }
    ucnv_setToUCallBack(converter.get(), substituteReplacementCharacter, nullptr, nullptr, nullptr, &error);
    return converter;
}

// Lone surrogates would not survive the next write as UTF-8, so they become U+FFFD here, as does an odd last byte.
QString decodeUtf16(const QByteArray& bytes, qsizetype start, bool bigEndian) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype units = (bytes.size() - start) / 2;
    auto unitAt = [&](qsizetype index) -> char16_t {
        const unsigned char a = data[start + 2 * index];
        const unsigned char b = data[start + 2 * index + 1];
        return bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a);
    };
    QString text;
    text.reserve(units + 1);
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t unit = unitAt(i);
        if (QChar::isHighSurrogate(unit) && i + 1 < units && QChar::isLowSurrogate(unitAt(i + 1))) {
            text.append(QChar(unit));
            text.append(QChar(unitAt(++i)));
        } else if (QChar::isSurrogate(unit)) {
            text.append(QChar(QChar::ReplacementCharacter));
        } else {
            text.append(QChar(unit));
        }
    }
    if ((bytes.size() - start) % 2 != 0) {
        text.append(QChar(QChar::ReplacementCharacter));
    }
    return text;
}

QString withTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

bool SplitBindingLine(const QString& line, QString& key, QString& path) {
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return false;
    }
    key = line.left(bar);
    path = line.mid(bar + 1);
    return true;
}

bool IsStrictUtf8(const QByteArray& bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
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

QString DecodeAnsiCodePage(const QByteArray& bytes, int codePage) {
    TConverter converter = openCodePage(codePage);
    if (!converter) {
        qCWarning(lcKeyMap) << "No converter for code page" << codePage << "- reading as 1252";
        converter = openCodePage(1252);
    }
    if (!converter) {
        return QString::fromLatin1(bytes);
    }
    // A Windows code page yields at most one UTF-16 unit per byte; the loop only guards against a surprise.
    QString text(bytes.size() + 16, Qt::Uninitialized);
    auto* base = reinterpret_cast<UChar*>(text.data());
    UChar* target = base;
    const char* source = bytes.constData();
    const char* const sourceLimit = source + bytes.size();
    for (;;) {
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter.get(), &target, base + text.size(), &source, sourceLimit, nullptr, true, &error);
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

QString DecodeKeyMapText(const QByteArray& bytes, int ansiCodePage) {
    const bool utf8Bom = bytes.startsWith(Utf8Bom);
    if (IsStrictUtf8(bytes)) {
        return QString::fromUtf8(utf8Bom ? bytes.sliced(3) : bytes);
    }
    if (utf8Bom) {
        return QString::fromUtf8(bytes.sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        return decodeUtf16(bytes, 2, false);
    }
    if (bytes.startsWith("\xFE\xFF")) {
        return decodeUtf16(bytes, 2, true);
    }
    return DecodeAnsiCodePage(bytes, ansiCodePage);
}

QStringList SplitTextLines(const QString& text) {
    QStringList lines;
    const QChar* data = text.constData();
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = data[i].unicode();
        if (c != u'\r' && c != u'\n') {
            continue;
        }
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && data[i + 1] == u'\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < n) {
        lines.append(text.mid(start));
    }
    return lines;
}

QByteArray EncodeKeyMapText(const QStringList& lines) {
    QByteArray bytes(Utf8Bom);
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

Status ReadKeyMapFile(const QString& fileName, QStringList& lines) {
    QByteArray bytes;
    Status status = platform::fileSystem().readFile(fileName, bytes);
    if (!status) {
        return status;
    }
    lines = SplitTextLines(DecodeKeyMapText(bytes, platform::locale().ansiCodePage()));
    return Status::success();
}

Status WriteKeyMapFile(const QString& fileName, const QStringList& lines) {
    // The file has no escaping: a line break inside a binding (a file name may hold one) would come back as two
    // broken lines, so such a map is refused whole and the old file stays.
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
            return Status::failure(QStringLiteral("Cannot create file \"%1\". The binding \"%2\" holds a line break.")
                                       .arg(fileName, line.simplified()));
        }
    }
    return platform::fileSystem().writeFileReplacing(fileName, EncodeKeyMapText(lines));
}

QStringList MissingDefaultBindings(const QStringList& lines) {
    QStringList missing;
    for (int n = 1; n <= DefaultBindings.size(); ++n) {
        const QString prefix = QLatin1Char('F') + QString::number(n) + QLatin1Char('|');
        bool present = false;
        for (const QString& line : lines) {
            if (line.startsWith(prefix, Qt::CaseInsensitive)) {
                present = true;
                break;
            }
        }
        if (!present) {
            missing.append(DefaultBindings.at(n - 1));
        }
    }
    return missing;
}

Status CompleteDefaultBindings(const QString& fileName) {
    QStringList lines;
    if (platform::fileSystem().fileExists(fileName)) {
        // Writing after a failed read would put the defaults in place of the user's bindings.
        Status status = ReadKeyMapFile(fileName, lines);
        if (!status) {
            return status;
        }
    }
    const QStringList missing = MissingDefaultBindings(lines);
    if (missing.isEmpty()) {
        return Status::success();
    }
    lines += missing;
    return WriteKeyMapFile(fileName, lines);
}

Status LoadKeyMap(const QString& dataFolder, const QString& programFolder) {
    platform::IFileSystem& fileSystem = platform::fileSystem();
    KeyList.clear();
    const QString target = withTrailingSlash(dataFolder) + QLatin1String(KeysDbName);
    Status outcome = Status::success();
    auto note = [&outcome](const Status& status) {
        if (!status) {
            qCWarning(lcKeyMap).noquote() << status.message();
            if (outcome) {
                outcome = status;
            }
        }
    };

    if (fileSystem.fileExists(target)) {
        // A file that cannot be rewritten is still loaded as it is; the defaults come back at a later start.
        note(CompleteDefaultBindings(target));
    } else {
        const QString seed = withTrailingSlash(programFolder) + QLatin1String(KeysDbName);
        if (fileSystem.fileExists(seed)) {
            if (!fileSystem.copyFileNoOverwrite(seed, target)) {
                // The bindings installed with the program still work for this run.
                note(Status::failure(
                    QStringLiteral("Cannot copy \"%1\" to \"%2\"; using the bindings of \"%1\".").arg(seed, target)));
                QStringList lines;
                note(ReadKeyMapFile(seed, lines));
                KeyList = lines;
                return outcome;
            }
        } else {
            Status created = CompleteDefaultBindings(target);
            if (!created) {
                note(created);
                KeyList = DefaultBindings;
                return outcome;
            }
        }
    }

    QStringList lines;
    note(ReadKeyMapFile(target, lines));
    KeyList = lines;
    return outcome;
}

Status SaveKeyMap(const QString& fileName) {
    return WriteKeyMapFile(fileName, KeyList);
}

} // namespace clavora
