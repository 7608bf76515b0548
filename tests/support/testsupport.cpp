// Shared helpers of the test executables.
#include "tests/support/testsupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace clavora::test {

TTempFolder::TTempFolder() { EXPECT_TRUE(FDir.isValid()); }

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString ProgramDir() { return QString::fromLocal8Bit(qgetenv("CLAVORA_PROGRAM_DIR")); }

QString SourceDir() { return QString::fromLocal8Bit(qgetenv("CLAVORA_SOURCE_DIR")); }

} // namespace clavora::test
