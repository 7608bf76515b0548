// Where a key binding's sound file is looked for.
#pragma once

#include <QString>

#include <functional>

namespace clavora::audio {

// The file a stored sound path names, or an empty string when it names no regular file. A backslash in the stored
// text is a folder separator ("Sounds\11.mp3"). A relative path is looked for under `currentFolder` first and, when
// no file is there, under `programFolder`, where the default sounds live: a program started from a desktop menu or
// at log-in runs in the home folder and would otherwise never find them. `isFile` says whether a regular file (or a
// link to one) exists at a path.
QString resolveSoundPath(const QString& stored, const QString& currentFolder, const QString& programFolder,
                         const std::function<bool(const QString&)>& isFile);

} // namespace clavora::audio
