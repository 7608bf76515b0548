// The options store: an INI file held whole in memory, read when opened and written whole on request.
#pragma once

#include "platform/filesystem.h"
#include "platform/status.h"

#include <QHash>
#include <QList>
#include <QString>

namespace clavora {

// INI text in UTF-8: "[Section]" lines, then "key=value" lines. Section and key names are matched without regard
// to letter case; values are kept and compared exactly. Reading is forgiving: a leading byte-order mark is skipped,
// malformed UTF-8 becomes U+FFFD, blank lines, ";" comments, lines before the first section and lines without "="
// are skipped, names and values lose surrounding blanks, and of a key that occurs twice in a section the first
// wins. The store is written back whole: each section, its entries, then an empty line; LF line ends, no
// byte-order mark. Nothing reaches the disk except through updateFile. GUI thread only.
class SettingsStore {
public:
    // An empty store bound to FileName; touches no file.
    // Files reads and writes FileName.
    explicit SettingsStore(platform::IFileSystem& files, QString fileName = QString());

    // Replaces the content with the file's. A missing file, or a link to a missing file, gives an empty store and
    // succeeds. Fails, leaving the
    // store empty, only when something exists at the path but cannot be read (no read permission, a folder, an
    // I/O error); the message names the path and the system's reason. Never writes.
    Status load();

    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;

    // Sets the value, adding the section and key at the end when new. Line breaks in Value would split the entry
    // in the file, so each becomes a space.
    void writeString(const QString& section, const QString& key, const QString& value);

    // Removes the key; nothing happens when it is absent. The section stays, even when empty.
    void deleteKey(const QString& section, const QString& key);

    // Writes the whole store to the file, replacing it only once the new bytes are on disk. The failure message
    // names the path and the system's reason; the old file then keeps its bytes.
    Status updateFile() const;

    const QString& fileName() const { return m_fileName; }

    // The text updateFile writes.
    QByteArray toBytes() const;

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
        QHash<QString, qsizetype> index; // folded key -> position in entries
    };

    void parse(const QString& text);
    Section* findSection(const QString& name);
    const Section* findSection(const QString& name) const;
    Section& addSection(const QString& name);

    platform::IFileSystem* m_files;
    QString m_fileName;
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex; // folded name -> position in m_sections
};

// Opens DataFolder's settings.ini (DataFolder ends in "/"). When it cannot be read it is deleted and opened again;
// when that fails too, the result is an empty store bound to the same path, the failure logged under clavora.app,
// so the program runs with every option at its default. Never rewrites the file.
SettingsStore openSettingsStore(platform::IFileSystem& files, const QString& dataFolder);

} // namespace clavora
