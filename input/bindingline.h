// One line of the key list split into its key name and sound path.
#pragma once

#include <QString>
#include <QStringView>

namespace clavora::input {

// A binding line cut at its first "|": the key name before it, the path after it (which may hold further "|").
struct TBindingLine {
    QStringView key;
    QStringView path;
};

// False for a line without "|", which binds nothing.
inline bool SplitBindingLine(const QString& line, TBindingLine& parts) {
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return false;
    }
    parts.key = QStringView(line).left(bar);
    parts.path = QStringView(line).mid(bar + 1);
    return true;
}

} // namespace clavora::input
