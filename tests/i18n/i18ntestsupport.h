// A program folder of its own for the language tests: the fake file system points the program file into a
// temporary folder, whose "Languages" folder each test fills as it needs.
#pragma once

#include "i18n/checklanguage.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakefoldersearch.h"
#include "platform/fake/fakelocale.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace clavora::test {

class TLanguageFixture : public ::testing::Test {
protected:
    TLanguageFixture() { FFiles.programFile = FProgram.file(QStringLiteral("clavora")); }

    // The globals outlive a test; leave them as a run without languages would.
    void TearDown() override {
        TempFolder empty;
        FFiles.programFile = empty.file(QStringLiteral("clavora"));
        LoadLanguage(QString());
    }

    QString languages() const { return FProgram.file(QStringLiteral("Languages")); }

    void writeLanguageFile(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(languages());
        writeBytes(languages() + QLatin1Char('/') + name, bytes);
    }

    TempFolder FProgram;
    platform::FakeFileSystem FFiles;
    platform::FakeLocale FLocale;
    platform::FakeFolderSearch FFolders;
    platform::ScopedService<platform::IFileSystem> FFilesInUse{FFiles};
    platform::ScopedService<platform::ILocale> FLocaleInUse{FLocale};
    platform::ScopedService<platform::IFolderSearch> FFoldersInUse{FFolders};
};

} // namespace clavora::test
