// Shared helpers of the test executables.
#pragma once

#include <QByteArray>
#include <QString>
#include <QAction>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

// Readable values in GoogleTest's failure messages.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QByteArray& bytes, std::ostream* out);

namespace clavora::test {

// A fresh temporary folder, removed at the end of the test.
class TTempFolder {
public:
    TTempFolder();
    QString path() const { return FDir.path(); }
    // Path of a file or folder inside it.
    QString file(const QString& name) const { return FDir.filePath(name); }

private:
    QTemporaryDir FDir;
};

QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);

// A control or menu item of Form, found by its component name; the test fails when there is none.
template <class T> T* Child(QObject& form, const char* name) {
    T* child = form.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}
inline QAction* Item(QObject& form, const char* name) { return Child<QAction>(form, name); }

// Folder of the program laid out by the build (the executable beside its data).
QString ProgramDir();
// The source tree, for committed fixtures under tests/data.
QString SourceDir();

} // namespace clavora::test
