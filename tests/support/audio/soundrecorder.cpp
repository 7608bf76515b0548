// A recorder of a sound server's source.
#include "tests/support/audio/soundrecorder.h"

#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/prctl.h>

namespace clavora::test {

SoundRecorder::SoundRecorder(QString file, QString server) : m_file(std::move(file)), m_server(std::move(server)) {}

SoundRecorder::~SoundRecorder() {
    stop();
}

bool SoundRecorder::start(const QString& source) {
    stop();
    m_process.setStandardOutputFile(m_file);
    // A recorder must not outlive a test process that crashed or was killed.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QStringList arguments;
    if (!m_server.isEmpty()) {
        arguments << QStringLiteral("--server=") + m_server;
    }
    arguments << QStringLiteral("-d") << source << QStringLiteral("--format=s16le")
              << QStringLiteral("--rate=%1").arg(Rate) << QStringLiteral("--channels=1")
              << QStringLiteral("--latency-msec=10") << QStringLiteral("--raw");
    m_process.start(QStringLiteral("parec"), arguments);
    return m_process.waitForStarted(5000) && waitFor([&] { return bytes() >= Rate / 5; }, 20000);
}

void SoundRecorder::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

qint64 SoundRecorder::bytes() const {
    return QFileInfo(m_file).size();
}

bool SoundRecorder::recordMore(int ms) {
    const qint64 target = bytes() + qint64(Rate) * 2 * ms / 1000;
    return waitFor([&] { return bytes() >= target; }, ms + 10000);
}

std::vector<float> SoundRecorder::samples() const {
    // Quietly empty before the recorder has made its file.
    QFile file(m_file);
    return floatsOf16(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
}

bool SoundRecorder::waitForSound(float threshold, int timeoutMs) const {
    return waitFor([&] { return endsInSilence(samples(), threshold, Rate / 2); }, timeoutMs);
}

} // namespace clavora::test
