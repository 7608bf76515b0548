// Shared helpers of the end-to-end tests.
#include "tests/e2e/e2esupport.h"

#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace clavora::test {

SinkRecorder::SinkRecorder(QString file) : m_file(std::move(file)) {}

SinkRecorder::~SinkRecorder() {
    stop();
}

bool SinkRecorder::start() {
    m_process.setStandardOutputFile(m_file);
    m_process.start(QStringLiteral("parec"),
                    {"-d", "testsink.monitor", "--format=s16le", QStringLiteral("--rate=%1").arg(Rate), "--channels=1",
                     "--latency-msec=10", "--raw"});
    if (!m_process.waitForStarted(5000)) {
        return false;
    }
    return waitFor([&] { return QFileInfo(m_file).size() >= Rate / 5; }, 10000);
}

void SinkRecorder::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

std::vector<float> SinkRecorder::samples() const {
    QFile file(m_file);
    const QByteArray raw = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    std::vector<float> recorded;
    recorded.reserve(static_cast<size_t>(raw.size() / 2));
    const auto* samples = reinterpret_cast<const qint16*>(raw.constData());
    for (qsizetype i = 0; i < raw.size() / 2; ++i) {
        recorded.push_back(samples[i] / 32768.0f);
    }
    return recorded;
}

bool SinkRecorder::waitForSound(float threshold, int timeoutMs) const {
    return waitFor([&] { return endsInSilence(samples(), threshold, Rate / 2); }, timeoutMs);
}

bool endsInSilence(const std::vector<float>& samples, float threshold, size_t silence) {
    for (size_t i = samples.size(); i > 0; --i) {
        if (std::fabs(samples[i - 1]) > threshold) {
            return samples.size() - i >= silence;
        }
    }
    return false;
}

bool focusWindow(const QString& title, qint64 pid) {
    const QString window = windowOf(pid, title);
    return !window.isEmpty() && focusWindowId(window, 5000);
}

void pressKey(const QString& key) {
    runCommand(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
}

} // namespace clavora::test
