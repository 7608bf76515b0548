// The update check as the main window runs it: a one-second timer whose first tick starts the worker thread (once
// per run) and whose later ticks look whether it is done. Lives on the GUI thread; every signal is emitted there.
#pragma once

#include "online/updatecheck.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <thread>

namespace clavora::online {

class UpdateChecker : public QObject {
    Q_OBJECT
public:
    // Context is copied; the worker reads only that copy.
    explicit UpdateChecker(UpdateCheckContext context, QObject* parent = nullptr);
    // A check still running is abandoned: its request is stopped at once, a message waiting for the user is
    // released, and the worker is gone when this returns. Its results are lost.
    ~UpdateChecker() override;

    // Starts the timer (call when the main window is created); the worker starts on its first tick. Later calls
    // do nothing.
    void start();

    // True once the worker has finished and the timer has seen it (checkFinished has been emitted).
    bool isFinished() const { return m_finished; }
    // True while the timer runs: from start() until the check has finished.
    bool isTicking() const { return m_timer.isActive(); }
    // What the finished check found, its error log included; meaningful once finished.
    const CheckResult& result() const;

public slots:
    // The "Update Notifications" command: stores ShowUpdate 1 (On) or 0; it takes effect at the next start.
    void setShowUpdates(bool on);

signals:
    // The check is done: the "Update Notifications" command becomes usable, checked only when ShowUpdates.
    void checkFinished(bool showUpdates);
    // After checkFinished, when a newer version is to be announced. Both texts come from the server: plain text.
    void showNotice(const QString& version, const QString& downloadUrl);
    // The server has a message for the user (plain text, never markup). A receiver shows it modally and returns once
    // the user has closed it; the worker waits until then, so the message is always closed before showNotice.
    void importantMessage(const QString& text);

private:
    struct Shared;

    void tick();
    void startWorker();
    void deliverImportantMessage();

    const UpdateCheckContext m_context;
    std::unique_ptr<Shared> m_shared;
    std::thread m_worker;
    QTimer m_timer;
    bool m_timerStarted = false;
    bool m_workerStarted = false;
    bool m_finished = false;
};

// The maker's home page on Host.
QString makerHomePage(const QString& webHost);

} // namespace clavora::online
