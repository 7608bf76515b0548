// What the update check remembers between runs: a small per-user store apart from settings.ini, one section
// "Settings". Values are written through at once; a read that fails for any reason gives the caller's default.
#pragma once

#include "platform/filesystem.h"

#include <QByteArray>
#include <QString>

namespace clavora::online {

// Value names; fixed, older stores use them.
namespace checkstore {
inline constexpr char LastUpdateCheck[] = "LastUpdateCheck";           // text: date of the last check
inline constexpr char LastUpdateCheckCount[] = "LastUpdateCheckCount"; // integer: checks made on that date
inline constexpr char InstalledVersion[] = "InstalledVersion";         // text: version of the run that last checked
inline constexpr char HowMany[] = "HowMany";                           // integer: starts of that version
inline constexpr char ShowUpdate[] = "ShowUpdate";                     // integer: 1 check and announce, 0 no check
inline constexpr char CurrentVersion[] = "CurrentVersion";             // text: version of the last evaluated reply
inline constexpr char CurrentUrl[] = "CurrentURL";                     // text: its download address, scrambled
} // namespace checkstore

class ICheckStore {
public:
    virtual ~ICheckStore() = default;

    // Makes the store ready. False when it cannot be used; reads then give their defaults and writes fail.
    virtual bool open() = 0;

    virtual QString readString(const char* name, const QString& defaultValue) = 0;
    // A stored text that is not a decimal integer gives the default too.
    virtual int readInteger(const char* name, int defaultValue) = 0;

    // True once the value is on disk.
    virtual bool writeString(const char* name, const QString& value) = 0;
    virtual bool writeInteger(const char* name, int value) = 0;
};

// The store as an INI file, Folder + "/updatecheck.ini". The folder is created when the store is opened; a store
// whose file is there but cannot be read (not a regular file, unreadable, too large) does not open. One object per
// thread; two objects on the same file (the worker's and the menu command's) keep each other's values, since each
// write rereads the file and changes only its own value's line.
class IniCheckStore : public ICheckStore {
public:
    // Files: any thread may use it (the worker's store and the menu command's share one).
    IniCheckStore(platform::IFileSystem& files, QString folder);
    ~IniCheckStore() override;

    bool open() override;
    QString readString(const char* name, const QString& defaultValue) override;
    int readInteger(const char* name, int defaultValue) override;
    bool writeString(const char* name, const QString& value) override;
    bool writeInteger(const char* name, int value) override;

    const QString& fileName() const { return m_fileName; }

private:
    // The file's bytes, none when there is no file yet; false (logged) when it cannot be read.
    bool load(QByteArray& bytes) const;
    bool write(const char* name, const QString& value);

    platform::IFileSystem& m_files;
    QString m_folder;
    QString m_fileName;
    bool m_open = false;
};

// The store's folder for this user: $XDG_STATE_HOME (default ~/.local/state) + "/Zemtrak/Clavora"; Company and
// Product name the last two levels. Empty when the user has no state folder.
QString checkStoreFolder(platform::IFileSystem& files, const QString& company, const QString& product);

} // namespace clavora::online
