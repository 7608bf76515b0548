// Shared helpers of the test executables.
#include "tests/support/testsupport.h"

#include <QFile>
#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"';
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            *out << c;
        } else {
            static const char digits[] = "0123456789ABCDEF";
            *out << "\\x" << digits[byte >> 4] << digits[byte & 15];
        }
    }
    *out << '"';
}

namespace clavora::test {

void ScopedEnvironment::set(const char* name, const QByteArray& value) {
    m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    if (value.isNull()) {
        qunsetenv(name);
    } else {
        qputenv(name, value);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->wasSet) {
            qputenv(it->name, it->value);
        } else {
            qunsetenv(it->name);
        }
    }
}

TempFolder::TempFolder() {
    EXPECT_TRUE(m_dir.isValid());
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString programDir() {
    return QString::fromLocal8Bit(qgetenv("CLAVORA_PROGRAM_DIR"));
}

QString sourceDir() {
    return QString::fromLocal8Bit(qgetenv("CLAVORA_SOURCE_DIR"));
}

} // namespace clavora::test
