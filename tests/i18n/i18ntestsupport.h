// A program folder of its own for the language tests: the fake file system points the program file into a
// temporary folder, whose "Languages" folder each test fills as it needs.
#pragma once

#include "i18n/translator.h"
#include "tests/support/platformtest.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace clavora::test {

class LanguageFixture : public PlatformTest {
protected:
    LanguageFixture() { m_files.programFile = m_program.file(QStringLiteral("clavora")); }

    QString languages() const { return m_program.file(QStringLiteral("Languages")); }

    void writeLanguageFile(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(languages());
        writeBytes(languages() + QLatin1Char('/') + name, bytes);
    }

    TempFolder m_program;
    Translator m_translator{m_services};
};

} // namespace clavora::test
