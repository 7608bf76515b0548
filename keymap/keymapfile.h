// The key map: the in-memory list of bindings, the keys.db file behind it, and the start-up step that fills the
// list and restores the default bindings of the function keys.
#pragma once

#include "platform/status.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace clavora {

Q_DECLARE_LOGGING_CATEGORY(lcKeyMap)

// The bindings, one line KEY + "|" + path each, in file order; duplicates and lines without a bar are kept.
// GUI thread only. Filled by LoadKeyMap; rewritten by the key dialogs, which then call SaveKeyMap.
extern QStringList KeyList;

// The twelve bindings of F1 to F12 that start-up puts back when keys.db lacks them, F1 first.
extern const QStringList DefaultBindings;

// Splits a binding line at its first bar: Key gets what is before it, Path everything after it (bars included).
// False, leaving Key and Path alone, for a line without a bar; readers skip such lines.
bool SplitBindingLine(const QString& line, QString& key, QString& path);

// Decodes the bytes of a key map file: strict UTF-8 first (a leading byte-order mark skipped, any malformed
// sequence rejects the whole attempt); otherwise by byte-order mark UTF-8, UTF-16 LE or UTF-16 BE, and without one
// the Windows code page AnsiCodePage. Never fails: what cannot be decoded becomes U+FFFD.
QString DecodeKeyMapText(const QByteArray& bytes, int ansiCodePage);

// Decodes bytes in a Windows code page (1252, 1251, 932...); an unknown page is taken as 1252.
QString DecodeAnsiCodePage(const QByteArray& bytes, int codePage);

// True when Bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsStrictUtf8(const QByteArray& bytes);

// Splits text into lines at CR LF, LF or CR. A last line without a line end is kept; a line end at the very end
// adds no empty line, so empty text gives no lines.
QStringList SplitTextLines(const QString& text);

// The written form of a key map: UTF-8 with a byte-order mark, CR LF after every line, the last one included.
QByteArray EncodeKeyMapText(const QStringList& lines);

// Reads a key map file into Lines. Fails only when the file cannot be read; the message names the path.
Status ReadKeyMapFile(const QString& fileName, QStringList& lines);

// Writes Lines in the written form, replacing the file only once the new bytes are safely on disk, so a failure
// leaves the old file as it was. The failure message names the path and then the system's reason. Lines holding a
// line break cannot be stored and fail the write.
Status WriteKeyMapFile(const QString& fileName, const QStringList& lines);

// The entries of DefaultBindings whose prefix ("F7|") begins no line of Lines, compared without regard to case,
// in the order F1 to F12.
QStringList MissingDefaultBindings(const QStringList& lines);

// Appends the missing default bindings to the file and rewrites it in the written form; a file that lacks none is
// left untouched, bytes and encoding. A missing file is created with all twelve. A file that exists but cannot be
// read is never written.
Status CompleteDefaultBindings(const QString& fileName);

// The start-up step: fills KeyList from DataFolder's keys.db. An existing file is completed first; otherwise the
// copy beside the program (in ProgramFolder) is copied over without completion; with neither, keys.db is created
// with the twelve defaults. Both folders end in "/". Never leaves start-up stranded: whatever fails is logged under
// clavora.keymap and KeyList keeps what could be loaded (the file as it is when it cannot be rewritten, the seed
// copy when it cannot be copied, the defaults when keys.db cannot be created). The status is the first failure,
// already logged, for the caller's information.
Status LoadKeyMap(const QString& dataFolder, const QString& programFolder);

// Writes KeyList to FileName in the written form. On failure the file keeps its old bytes and KeyList is unchanged;
// the message names the path and the system's reason, for the caller to show.
Status SaveKeyMap(const QString& fileName);

} // namespace clavora
