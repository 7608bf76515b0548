// File and folder services on Linux (XDG base directories, POSIX file calls).
#pragma once

#include "platform/filesystem.h"

namespace clavora::platform {

class TLinuxFileSystem : public IFileSystem {
public:
    QString programFilePath() override;
    QString programFolder() override;
    QString userConfigFolder() override;
    QString userStateFolder() override;
    bool createAndRemoveExclusive(const QString& path) override;
    bool createFolder(const QString& path) override;
    bool fileExists(const QString& path) override;
    bool copyFileNoOverwrite(const QString& source, const QString& target) override;
    TStatus readFile(const QString& path, QByteArray& contents) override;
    TStatus writeFileReplacing(const QString& path, const QByteArray& contents) override;
    bool removeFile(const QString& path) override;
};

} // namespace clavora::platform
