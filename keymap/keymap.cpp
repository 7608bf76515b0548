// The key map in memory.
#include "keymap/keymap.h"

#include <algorithm>

namespace clavora {

QString soundPathForDisplay(const QString& stored) {
    QString shown = stored;
    shown.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return shown;
}

std::optional<Binding> Binding::fromLine(const QString& line) {
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return std::nullopt;
    }
    return Binding{line.left(bar), line.mid(bar + 1)};
}

KeyMap KeyMap::fromLines(const QStringList& lines) {
    KeyMap map;
    map.m_rows.reserve(lines.size());
    for (const QString& line : lines) {
        if (std::optional<Binding> binding = Binding::fromLine(line)) {
            map.m_rows.append(std::move(*binding));
        } else {
            map.m_unbound.append(UnboundLine{map.m_rows.size(), line});
        }
    }
    return map;
}

QStringList KeyMap::lines() const {
    QStringList lines;
    lines.reserve(m_rows.size() + m_unbound.size());
    auto unbound = m_unbound.cbegin();
    for (qsizetype row = 0; row <= m_rows.size(); ++row) {
        for (; unbound != m_unbound.cend() && unbound->beforeRow == row; ++unbound) {
            lines.append(unbound->text);
        }
        if (row < m_rows.size()) {
            lines.append(m_rows.at(row).line());
        }
    }
    return lines;
}

QStringList KeyMap::pathsFor(QStringView name) const {
    QStringList paths;
    for (const Binding& binding : m_rows) {
        if (binding.key == name) {
            paths.append(binding.path);
        }
    }
    return paths;
}

QList<Binding> KeyMap::bindingsFor(QStringView name) const {
    QList<Binding> bindings;
    for (const Binding& binding : m_rows) {
        if (binding.key == name) {
            bindings.append(binding);
        }
    }
    return bindings;
}

void KeyMap::appendRow(const Binding& binding) {
    m_rows.append(binding);
}

void KeyMap::replacePath(qsizetype index, const QString& path) {
    m_rows[index].path = path;
}

void KeyMap::setGain(qsizetype index, float gain) {
    m_rows[index].gain = gain;
}

void KeyMap::removeRows(qsizetype first, qsizetype count) {
    if (first < 0 || count <= 0 || first >= m_rows.size()) {
        return;
    }
    count = std::min(count, m_rows.size() - first);
    m_rows.remove(first, count);
    // A line that stood between removed rows now stands where they were.
    for (UnboundLine& line : m_unbound) {
        if (line.beforeRow > first + count) {
            line.beforeRow -= count;
        } else if (line.beforeRow > first) {
            line.beforeRow = first;
        }
    }
}

} // namespace clavora
