// A program folder of its own for the language tests: the fake file system points the program file into a
// temporary folder, whose "Languages" folder each test fills as it needs.
#pragma once

#include "i18n/translator.h"
#include "platform/fake/fakefilesystem.h"
#include "platform/fake/fakefoldersearch.h"
#include "platform/fake/fakelocale.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace clavora::test {

class LanguageFixture : public ::testing::Test {
protected:
    LanguageFixture() { m_files.FProgramFile = m_program.file(QStringLiteral("clavora")); }

    QString languages() const { return m_program.file(QStringLiteral("Languages")); }

    void writeLanguageFile(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(languages());
        WriteBytes(languages() + QLatin1Char('/') + name, bytes);
    }

    TTempFolder m_program;
    platform::TFakeFileSystem m_files;
    platform::TFakeLocale m_locale;
    platform::TFakeFolderSearch m_folders;
    platform::TScopedService<platform::IFileSystem> m_filesInUse{m_files};
    platform::TScopedService<platform::ILocale> m_localeInUse{m_locale};
    platform::TScopedService<platform::IFolderSearch> m_foldersInUse{m_folders};
    Translator m_translator;
};

} // namespace clavora::test
