// Shared helpers of the test executables.
#pragma once

#include <QAction>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
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

// A control or menu item of Form, found by its object name; the test fails when there is none.
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

// Messages of the audio module, for the tests that check what was logged.
class AudioLog {
public:
    AudioLog() {
        s_current = this;
        m_previous = qInstallMessageHandler(&AudioLog::handle);
    }
    ~AudioLog() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    AudioLog(const AudioLog&) = delete;
    AudioLog& operator=(const AudioLog&) = delete;

    bool contains(const QString& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(), [&](const QString& line) { return line.contains(text); });
    }
    // The files the sound player refused to play as no sound, in the order it met them.
    QStringList refusedSounds() {
        static const QString prefix = QStringLiteral("Not a sound to play: ");
        std::lock_guard<std::mutex> lock(m_mutex);
        QStringList files;
        for (const QString& line : std::as_const(m_lines)) {
            if (line.startsWith(prefix)) {
                files << line.mid(prefix.size());
            }
        }
        return files;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (s_current != nullptr && qstrcmp(context.category, "clavora.audio") == 0) {
            std::lock_guard<std::mutex> lock(s_current->m_mutex);
            s_current->m_lines << message;
        }
        if (s_current != nullptr && s_current->m_previous != nullptr) {
            s_current->m_previous(type, context, message);
        }
    }
    static inline AudioLog* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex;
    QStringList m_lines;
};

} // namespace clavora::test
