// The worker thread of the update check and its hand-over to the GUI thread. The worker publishes its result before
// it sets the done flag (release); the GUI thread reads the result only after it has seen the flag (acquire). Leaving
// the program cancels the request through its token and wakes a worker that waits for the user, so the destructor's
// join is short and the worker never outlives what it uses.
#include "online/updatechecker.h"

#include "online/clientidentity.h"
#include "online/widgetnames.h"

#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace clavora::online {

struct UpdateChecker::Shared {
    CancelToken cancel;

    // The message handed to the GUI thread, and whether the user has closed it.
    std::mutex mutex;
    std::condition_variable changed;
    bool abandoned = false;
    QString message;
    bool messageClosed = false;

    CheckResult result;
    std::atomic<bool> done{false};
};

UpdateChecker::UpdateChecker(UpdateCheckContext context, QObject* parent)
    : QObject(parent), m_context(std::move(context)), m_shared(std::make_unique<Shared>()) {
    setObjectName(QLatin1String(widgetnames::updates::Checker));
    m_timer.setObjectName(QLatin1String(widgetnames::updates::CheckTimer));
    m_timer.setInterval(m_context.pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &UpdateChecker::tick);
}

UpdateChecker::~UpdateChecker() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->abandoned = true;
    }
    m_shared->changed.notify_all();
    m_shared->cancel.cancel();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void UpdateChecker::start() {
    if (m_timerStarted) {
        return;
    }
    m_timerStarted = true;
    m_timer.start();
}

const CheckResult& UpdateChecker::result() const {
    return m_shared->result;
}

void UpdateChecker::tick() {
    if (!m_workerStarted) {
        m_workerStarted = true;
        startWorker();
        return;
    }
    if (!m_shared->done.load(std::memory_order_acquire)) {
        return;
    }
    m_timer.stop();
    m_worker.join(); // done is its last step: nothing is left to wait for
    m_finished = true;
    const CheckResult& result = m_shared->result;
    if (result.log.failed()) {
        qCInfo(lcOnline).noquote() << "Update check:"
                                   << QString(result.log.text()).replace(QLatin1Char('\r'), QLatin1Char(' '));
    }
    emit checkFinished(result.showUpdate != 0);
    if (result.noticeDue) {
        emit showNotice(result.serverVersion, result.downloadUrl);
    }
}

void UpdateChecker::startWorker() {
    Shared* shared = m_shared.get();
    m_worker = std::thread([this, shared, context = m_context] {
        IniCheckStore store(*context.files, context.storeFolder);
        const RequestOptions options{context.caFile, &shared->cancel};
        CheckServices services;
        services.store = &store;
        services.post = [&options](const QString& url, const FormFields& fields, int timeoutMs) {
            return postForm(url, fields, timeoutMs, options);
        };
        services.installationId = [&context] { return readInstallationId(*context.systemInfo); };
        services.osDescription = [&context] { return osDescription(*context.systemInfo); };
        services.cancelled = [shared] { return shared->cancel.isCancelled(); };
        services.showImportant = [this, shared](const QString& text) {
            std::unique_lock lock(shared->mutex);
            if (shared->abandoned) {
                return;
            }
            shared->message = text;
            shared->messageClosed = false;
            // Posted while the lock keeps the destructor from getting past its first step: this object is alive.
            QMetaObject::invokeMethod(this, &UpdateChecker::deliverImportantMessage, Qt::QueuedConnection);
            shared->changed.wait(lock, [shared] { return shared->messageClosed || shared->abandoned; });
        };

        CheckResult result = runUpdateCheck(context, services);
        if (shared->cancel.isCancelled()) {
            return;
        }
        shared->result = std::move(result);
        shared->done.store(true, std::memory_order_release);
    });
}

void UpdateChecker::deliverImportantMessage() {
    QString text;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->abandoned) {
            return;
        }
        text = m_shared->message;
    }
    const QPointer<UpdateChecker> alive(this);
    emit importantMessage(text);
    if (!alive) {
        return; // destroyed while the message was open; its destructor has released the worker
    }
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->messageClosed = true;
    }
    m_shared->changed.notify_all();
}

void UpdateChecker::setShowUpdates(bool on) {
    IniCheckStore store(*m_context.files, m_context.storeFolder);
    if (!store.open() || !store.writeInteger(checkstore::ShowUpdate, on ? 1 : 0)) {
        qCWarning(lcOnline) << "Update Notifications could not be stored";
    }
}

QString makerHomePage(const QString& webHost) {
    return QLatin1String("https://") + webHost + QLatin1Char('/');
}

} // namespace clavora::online
