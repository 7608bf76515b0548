// The update check's store as an INI file of one section. The file is read through the file system service, so that
// whatever stands in its place (a pipe, a device, a huge file) is refused at once instead of stopping the worker,
// and replaced whole through it: no lock file is involved. Every read and write goes to the file, which is a few
// lines long, so two stores on it keep each other's values.
#include "online/checkstore.h"

#include "online/serverrequest.h"
#include "platform/filesystem.h"

#include <QByteArrayList>
#include <QDir>

#include <optional>

namespace clavora::online {

namespace {

const QByteArray Section = QByteArrayLiteral("[Settings]");

// A store of a few short values; anything far larger is not one.
constexpr qint64 MaxStoreBytes = 64 * 1024;

bool isPlainValueCharacter(QChar c) {
    return c.isLetterOrNumber() || QStringView(u"./:-_+%").contains(c);
}

// A value as the line holds it: as it is when it is plain, else quoted with backslash escapes (the way Qt's INI
// files write such values, so that stores written by either read back alike).
QByteArray escapedValue(const QString& value) {
    bool plain = true;
    QString out = value.startsWith(QLatin1Char('@')) ? QStringLiteral("@") : QString();
    for (const QChar c : value) {
        plain = plain && isPlainValueCharacter(c);
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
                out += QStringLiteral("\\x%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            } else {
                out += c;
            }
        }
    }
    return plain ? out.toUtf8() : '"' + out.toUtf8() + '"';
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') {
        return u - '0';
    }
    if (u >= 'a' && u <= 'f') {
        return u - 'a' + 10;
    }
    if (u >= 'A' && u <= 'F') {
        return u - 'A' + 10;
    }
    return -1;
}

// The value of a line's right-hand side: quotes taken off, backslash escapes undone.
QString unescapedValue(const QString& raw) {
    const QString text = raw.trimmed();
    QString value;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            continue;
        }
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            value += c;
            continue;
        }
        const QChar escaped = text[++i];
        switch (escaped.unicode()) {
        case 'n':
            value += QLatin1Char('\n');
            break;
        case 'r':
            value += QLatin1Char('\r');
            break;
        case 't':
            value += QLatin1Char('\t');
            break;
        case 'x': {
            char16_t code = 0;
            int digits = 0;
            while (digits < 4 && i + 1 < text.size() && hexDigit(text[i + 1]) >= 0) {
                code = char16_t(code * 16 + hexDigit(text[++i]));
                ++digits;
            }
            value += QChar(code);
            break;
        }
        default:
            value += escaped;
        }
    }
    if (value.startsWith(QLatin1String("@@"))) {
        value.remove(0, 1); // a leading "@" is doubled, as Qt's INI files mark their typed values with one
    }
    return value;
}

QByteArray withoutCarriageReturn(const QByteArray& line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

bool isSectionLine(const QByteArray& line) {
    const QByteArray trimmed = line.trimmed();
    return trimmed.startsWith('[') && trimmed.endsWith(']');
}

// The key of a value line ("Name=value"), empty for any other line.
QByteArray keyOf(const QByteArray& line) {
    const qsizetype equals = line.indexOf('=');
    return equals > 0 ? line.left(equals).trimmed() : QByteArray();
}

// Where the store's lines are, in the file's lines: the section's header and, when the value is there, its line.
struct Place {
    std::optional<qsizetype> header;
    std::optional<qsizetype> value;
    qsizetype sectionEnd = 0; // one past the section's last non-empty line
};

Place find(const QByteArrayList& lines, const QByteArray& name) {
    Place place;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = withoutCarriageReturn(lines[i]);
        if (isSectionLine(line)) {
            inSection = !place.header && line.trimmed() == Section;
            if (inSection) {
                place.header = i;
                place.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection || line.trimmed().isEmpty()) {
            continue;
        }
        place.sectionEnd = i + 1;
        if (!place.value && keyOf(line) == name) {
            place.value = i;
        }
    }
    return place;
}

} // namespace

IniCheckStore::IniCheckStore(platform::IFileSystem& files, QString folder)
    : m_files(files), m_folder(std::move(folder)), m_fileName(m_folder + QStringLiteral("/updatecheck.ini")) {}

IniCheckStore::~IniCheckStore() = default;

bool IniCheckStore::open() {
    m_open = false;
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        qCWarning(lcOnline) << "Cannot create the update-check folder" << m_folder;
        return false;
    }
    QByteArray ignored;
    if (!load(ignored)) {
        return false;
    }
    m_open = true;
    return true;
}

bool IniCheckStore::load(QByteArray& bytes) const {
    // Nothing there yet (or a link to a file not made yet) is an empty store; the first write creates it.
    const platform::FileKind kind = m_files.fileKind(m_fileName);
    if (kind == platform::FileKind::Missing || kind == platform::FileKind::DanglingLink) {
        bytes.clear();
        return true;
    }
    if (const Status read = m_files.readFile(m_fileName, bytes, MaxStoreBytes); !read) {
        qCWarning(lcOnline).noquote() << "Cannot read the update-check store:" << read.message();
        return false;
    }
    return true;
}

QString IniCheckStore::readString(const char* name, const QString& defaultValue) {
    QByteArray bytes;
    if (!m_open || !load(bytes)) {
        return defaultValue;
    }
    const QByteArrayList lines = bytes.split('\n');
    const Place place = find(lines, QByteArray(name));
    if (!place.value) {
        return defaultValue;
    }
    const QByteArray line = withoutCarriageReturn(lines[*place.value]);
    return unescapedValue(QString::fromUtf8(line.mid(line.indexOf('=') + 1)));
}

int IniCheckStore::readInteger(const char* name, int defaultValue) {
    bool ok = false;
    const int value = readString(name, QString()).trimmed().toInt(&ok);
    return ok ? value : defaultValue;
}

bool IniCheckStore::writeString(const char* name, const QString& value) {
    return write(name, value);
}

bool IniCheckStore::writeInteger(const char* name, int value) {
    return write(name, QString::number(value));
}

bool IniCheckStore::write(const char* name, const QString& value) {
    QByteArray bytes;
    if (!m_open || !load(bytes)) {
        return false;
    }
    // The file's other lines stay as they are; only this value's line is replaced or added.
    QByteArrayList lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    const QByteArray line = QByteArray(name) + '=' + escapedValue(value);
    const Place place = find(lines, QByteArray(name));
    if (place.value) {
        lines[*place.value] = line;
    } else if (place.header) {
        lines.insert(place.sectionEnd, line);
    } else {
        if (!lines.isEmpty()) {
            lines.append(QByteArray());
        }
        lines.append(Section);
        lines.append(line);
    }
    if (const Status written = m_files.writeFileReplacing(m_fileName, lines.join('\n') + '\n'); !written) {
        qCWarning(lcOnline).noquote() << "Cannot write" << name << ":" << written.message();
        return false;
    }
    return true;
}

QString checkStoreFolder(platform::IFileSystem& files, const QString& company, const QString& product) {
    const QString state = files.userStateFolder();
    if (state.isEmpty()) {
        return QString();
    }
    return state + QLatin1Char('/') + company + QLatin1Char('/') + product;
}

} // namespace clavora::online
