// Shared helpers of the test executables.
#pragma once

#include <QAction>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

// Readable values in GoogleTest's failure messages.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QByteArray& bytes, std::ostream* out);

namespace clavora::test {

// A fresh temporary folder, removed at the end of the test.
class TempFolder {
public:
    TempFolder();
    QString path() const { return m_dir.path(); }
    // Path of a file or folder inside it.
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// Sets environment variables for one test (a null value removes one) and puts the old values back at its end.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const char* name, const QByteArray& value) { set(name, value); }
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const char* name, const QByteArray& value);

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    std::vector<Saved> m_saved;
};

QByteArray readBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& bytes);

// A control or menu item of Form, found by its component name; the test fails when there is none.
template <class T> T* namedChild(QObject& form, const char* name) {
    T* child = form.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}
inline QAction* namedAction(QObject& form, const char* name) {
    return namedChild<QAction>(form, name);
}

// Folder of the program laid out by the build (the executable beside its data).
QString programDir();
// The source tree, for committed fixtures under tests/data.
QString sourceDir();

// The one way a test waits for something the program does: polls Condition until it holds or TimeoutMs have passed,
// letting Qt events run in between, so timers, sockets and child processes make progress. Returns the last value
// of Condition. Never wait a fixed time for the program instead: too short fails on a busy machine, too long
// slows every run.
template <class F> bool waitFor(F condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

} // namespace clavora::test
