// The key map in memory: the bindings between key names and sound files, in file order, and the one lookup every
// key path plays through.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace clavora {

// One binding: a key name exactly as written (no trimming, letter case kept) and the path of its sound file exactly
// as stored. The key may be empty and the path may hold further bars.
struct Binding {
    QString key;
    QString path;
    // How the sound plays: its volume, 1 for the file's own level. keys.db holds the key and the path alone; the
    // volume comes from the file beside it (see KeyMapFile::loadVolumes()).
    float gain = 1.0f;

    // The line of a binding: the key, a bar, the path.
    QString line() const { return key + QLatin1Char('|') + path; }
    // A line cut at its first bar: the key before it, the path after it. Nullopt for a line without a bar, which
    // binds nothing.
    static std::optional<Binding> fromLine(const QString& line);

    bool operator==(const Binding&) const = default;
};

// A stored sound path as the user reads it on this system: the backslash, which stands for a folder separator
// ("Sounds\\11.mp3"), written as "/". The stored text itself is left as it is.
QString soundPathForDisplay(const QString& stored);

// The bindings of keys.db in file order, duplicates allowed. Lines without a bar bind nothing but are kept where
// they stood, so writing the map back loses nothing. The rows are the bindings alone, numbered from 0 in file order:
// the row editing below is what the Redefine Keys dialog works with. GUI thread only; a worker gets a copy.
class KeyMap {
public:
    KeyMap() = default;

    // The map of these lines (as read from keys.db), each cut at its first bar.
    static KeyMap fromLines(const QStringList& lines);
    // The lines to write back, in order: one "key|path" per binding, the lines without a bar where they stood.
    QStringList lines() const;

    // The paths of the bindings whose key name equals Name exactly (whole name, letter case included), in file
    // order. The one lookup of every key path: the focused window's keys and the hotkey poll both play through it.
    QStringList pathsFor(QStringView name) const;
    // The same bindings whole, to be played.
    QList<Binding> bindingsFor(QStringView name) const;

    // Rows.
    qsizetype rowCount() const { return m_rows.size(); }
    const QList<Binding>& rows() const { return m_rows; }
    const Binding& row(qsizetype index) const { return m_rows.at(index); }
    // Adds a binding after the last line.
    void appendRow(const Binding& binding);
    // Gives row Index another sound file; its key and its place stay.
    void replacePath(qsizetype index, const QString& path);
    // Gives row Index another gain (see Binding::gain).
    void setGain(qsizetype index, float gain);
    // Removes Count rows from row First on; the lines without a bar stay.
    void removeRows(qsizetype first, qsizetype count = 1);
    // Drops the lines without a bar, so that the map holds its rows alone.
    void removeLinesWithoutBinding() { m_unbound.clear(); }

    bool operator==(const KeyMap&) const = default;

private:
    // A line without a bar and the row it stands before (rowCount() when it comes after the last binding).
    struct UnboundLine {
        qsizetype beforeRow;
        QString text;
        bool operator==(const UnboundLine&) const = default;
    };

    QList<Binding> m_rows;
    QList<UnboundLine> m_unbound;
};

} // namespace clavora
