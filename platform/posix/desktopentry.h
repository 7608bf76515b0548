// Desktop entries (the files of menus and of autostart) as the freedesktop.org Desktop Entry rules have them: every
// value escaped for its type, every Exec argument quoted, and the reading of a group's keys.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace clavora::platform {

// The program's name on the desktop: its menu entry is <id>.desktop and its icon in the icon theme is <id>.
inline constexpr char DesktopApplicationId[] = "com.zemtrak.clavora";

// True when Text can stand in a command line of a desktop entry: no control character (a line break, even escaped,
// ends the command for many a desktop and could start another key) and no character that stands for bytes that could
// not be decoded.
bool fitsDesktopEntryCommand(const QString& text);

// Text escaped as a value of type string: "\\", "\s" for a leading space, "\n", "\t" and "\r".
QString escapeDesktopEntryString(const QString& text);

// One argument of an Exec key, quoted and escaped; nothing when it does not fit a desktop entry.
std::optional<QString> quoteExecArgument(const QString& argument);

// Builds the text of a desktop entry with a single group, the keys in the order they are set.
class DesktopEntryWriter {
public:
    explicit DesktopEntryWriter(QString group = QStringLiteral("Desktop Entry"));

    // A string, a locale string or an icon name. False (and nothing set) for a control character without an escape
    // or for bytes that could not be decoded.
    bool setString(const QString& key, const QString& value);
    void setBoolean(const QString& key, bool value);
    // A command line: each argument quoted. False (and nothing set) when any argument does not fit.
    bool setCommand(const QString& key, const QStringList& arguments);

    QByteArray text() const;

private:
    QString m_group;
    QList<QPair<QString, QString>> m_keys; // values as written
};

// The keys of Group in Text, their values unescaped; comments, other groups and malformed lines are passed over.
// Of a key given twice, the first counts.
QHash<QString, QString> readDesktopEntryGroup(const QByteArray& text,
                                              const QString& group = QStringLiteral("Desktop Entry"));

// A boolean value as the desktop reads it: "true" is true, anything else is Otherwise unless it is "false".
bool desktopEntryBoolean(const QString& value, bool otherwise);

} // namespace clavora::platform
