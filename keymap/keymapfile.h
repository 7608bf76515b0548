// The keys.db file behind the key map: its written form, the completion of the default bindings of the function
// keys, and the start-up step that loads the map.
#pragma once

#include "keymap/keymap.h"
#include "platform/services.h"
#include "platform/status.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace clavora {

Q_DECLARE_LOGGING_CATEGORY(lcKeyMap)

// The file beside keys.db that keeps the bindings' volumes.
inline constexpr char VolumesFileName[] = "bindings.ini";

// A binding's volume in percent, as the Add/Edit Key window sets it and bindings.ini stores it, and its gain.
inline constexpr int MaxBindingVolume = 200;
int volumePercentOf(float gain);
float gainOfVolume(int percent);

// The file beside FileName (keys.db) that keeps its bindings' volumes.
QString volumesFileFor(const QString& fileName);

// The twelve binding lines of F1 to F12 that start-up puts back when keys.db lacks them, F1 first.
extern const QStringList DefaultBindings;

// The written form of a key map: UTF-8 with a byte-order mark, CR LF after every line, the last one included.
QByteArray encodeKeyMapText(const QStringList& lines);

// The key map files as the program reads and writes them, through the file system and the user's code page it is
// handed.
class KeyMapFile {
public:
    KeyMapFile(platform::IFileSystem& files, platform::ILocale& locale) : m_files(&files), m_locale(&locale) {}
    explicit KeyMapFile(const platform::Services& services) : KeyMapFile(services.fileSystem(), services.locale()) {}

    // Reads a key map file into Lines: strict UTF-8 first, else by byte-order mark, else in the user's code page (see
    // text::decodeWithFallback). Fails only when the file cannot be read; the message names the path.
    Status read(const QString& fileName, QStringList& lines) const;

    // Writes Lines in the written form, replacing the file only once the new bytes are safely on disk, so a failure
    // leaves the old file as it was. The failure message names the path and then the system's reason. Lines holding a
    // line break cannot be stored and fail the write.
    Status write(const QString& fileName, const QStringList& lines) const;

    // Appends the missing default bindings to the file and rewrites it in the written form; a file that lacks none is
    // left untouched, bytes and encoding. A missing file is created with all twelve. A file that exists but cannot be
    // read is never written.
    Status completeDefaultBindings(const QString& fileName) const;

    // The start-up step: fills KeyMap from DataFolder's keys.db. An existing file is completed first; otherwise the
    // copy beside the program (in ProgramFolder) is copied over without completion; with neither, keys.db is created
    // with the twelve defaults. Never leaves start-up stranded: whatever fails is logged under clavora.keymap and
    // KeyMap gets what could be loaded (the file as it is when it cannot be rewritten, the seed copy when it cannot be
    // copied, the defaults when keys.db cannot be created). The status is the first failure, already logged, for the
    // caller's information.
    Status load(const QString& dataFolder, const QString& programFolder, KeyMap& keyMap) const;

    // Writes KeyMap's lines to FileName in the written form. On failure the file keeps its old bytes; the message names
    // the path and the system's reason, for the caller to show. The bindings' volumes go first to bindings.ini in the
    // same folder (see saveVolumes()); when that fails, keys.db is not written either.
    Status save(const QString& fileName, const KeyMap& keyMap) const;

    // The volumes of the bindings, kept beside keys.db in VolumesFileName, as keys.db holds the key and the path
    // alone: one section per binding whose volume is not 100%, found again by its key and path. A binding without a
    // section plays at 100%; a section whose binding has gone binds nothing and is dropped at the next save.
    //
    // Gives every row of KeyMap the volume VolumesFile stores for its key and path. A missing file is no failure;
    // the message of one that cannot be read names it, and KeyMap is left at 100% then.
    Status loadVolumes(const QString& volumesFile, KeyMap& keyMap) const;
    // Writes the volumes of KeyMap's rows to VolumesFile, replacing it safely. Nothing is written while no row has a
    // volume of its own and there is no such file.
    Status saveVolumes(const QString& volumesFile, const KeyMap& keyMap) const;

private:
    platform::IFileSystem* m_files;
    platform::ILocale* m_locale;
};

// The entries of DefaultBindings whose prefix ("F7|") begins no line of Lines, compared without regard to case,
// in the order F1 to F12.
QStringList missingDefaultBindings(const QStringList& lines);

} // namespace clavora
