// Desktop entries: writing with escaping and quoting, and reading of one group.
#include "platform/posix/desktopentry.h"

#include <utility>

namespace clavora::platform {

namespace {

bool isControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

bool hasEscape(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

} // namespace

bool fitsDesktopEntryCommand(const QString& text) {
    for (QChar c : text) {
        if (isControl(c) || c == QChar::ReplacementCharacter) {
            return false;
        }
    }
    return true;
}

QString escapeDesktopEntryString(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            escaped += QLatin1String("\\\\");
        } else if (c == QLatin1Char('\n')) {
            escaped += QLatin1String("\\n");
        } else if (c == QLatin1Char('\t')) {
            escaped += QLatin1String("\\t");
        } else if (c == QLatin1Char('\r')) {
            escaped += QLatin1String("\\r");
        } else if (c == QLatin1Char(' ') && i == 0) {
            // Spaces around the "=" are not part of the value; a leading one has to be spelt out.
            escaped += QLatin1String("\\s");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::optional<QString> quoteExecArgument(const QString& argument) {
    if (!fitsDesktopEntryCommand(argument)) {
        return std::nullopt;
    }
    // Inside double quotes a backslash escapes the quote, the backquote, the dollar and itself; the string escaping
    // comes on top of that (so a backslash is written four times), and a literal "%" is "%%" for the field codes.
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        quoted += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    quoted += QLatin1Char('"');
    return escapeDesktopEntryString(quoted);
}

DesktopEntryWriter::DesktopEntryWriter(QString group) : m_group(std::move(group)) {}

bool DesktopEntryWriter::setString(const QString& key, const QString& value) {
    for (QChar c : value) {
        if ((isControl(c) && !hasEscape(c)) || c == QChar::ReplacementCharacter) {
            return false;
        }
    }
    m_keys.append({key, escapeDesktopEntryString(value)});
    return true;
}

void DesktopEntryWriter::setBoolean(const QString& key, bool value) {
    m_keys.append({key, value ? QStringLiteral("true") : QStringLiteral("false")});
}

bool DesktopEntryWriter::setCommand(const QString& key, const QStringList& arguments) {
    QStringList quoted;
    for (const QString& argument : arguments) {
        const std::optional<QString> one = quoteExecArgument(argument);
        if (!one) {
            return false;
        }
        quoted << *one;
    }
    m_keys.append({key, quoted.join(QLatin1Char(' '))});
    return true;
}

QByteArray DesktopEntryWriter::text() const {
    QString text = QLatin1Char('[') + m_group + QLatin1String("]\n");
    for (const auto& [key, value] : m_keys) {
        text += key + QLatin1Char('=') + value + QLatin1Char('\n');
    }
    return text.toUtf8();
}

namespace {

QString unescapeString(const QString& value) {
    QString text;
    text.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            text += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            text += QLatin1Char(' ');
            break;
        case 'n':
            text += QLatin1Char('\n');
            break;
        case 't':
            text += QLatin1Char('\t');
            break;
        case 'r':
            text += QLatin1Char('\r');
            break;
        case '\\':
            text += QLatin1Char('\\');
            break;
        default:
            // Not an escape of the string type (the Exec quoting has its own): kept as it stands.
            text += c;
            text += next;
        }
    }
    return text;
}

} // namespace

QHash<QString, QString> readDesktopEntryGroup(const QByteArray& text, const QString& group) {
    QHash<QString, QString> keys;
    bool inGroup = false;
    for (const QString& raw : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inGroup = line.mid(1, line.size() - 2) == group;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals <= 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key)) {
            keys.insert(key, unescapeString(line.mid(equals + 1).trimmed()));
        }
    }
    return keys;
}

bool desktopEntryBoolean(const QString& value, bool otherwise) {
    if (value == QLatin1String("true")) {
        return true;
    }
    if (value == QLatin1String("false")) {
        return false;
    }
    return otherwise;
}

} // namespace clavora::platform
