// Hostile files never stop the program: for each case the real program is started on a program folder where one of
// its files is damaged or strange, and must come up (its main window mapped, no message box), and a key bound to a
// good sound must still be heard from the rig's sound sink, also when the same key's first binding is the strange
// file. Files are made in code; the random ones come from fixed seeds, so a failure can be replayed.
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/soundrecorder.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace clavora::test;

namespace {

const QString Title = QStringLiteral("Zemtrak - Clavora");
// The application's name, the caption of every message box the program shows.
const QString MessageCaption = QStringLiteral("Clavora");
constexpr int ToneRate = 44100;
constexpr double ToneFrequency = 1000.0;
constexpr int ToneFrames = ToneRate * 3 / 10; // 300 ms
constexpr int Nobody = 65534;

// What a case may change before the program starts.
struct CaseFiles {
    QString root;       // a folder every user can reach, holding the files below
    QString programDir; // the program folder, also the data folder
    QString home;       // the run's home: its per-user folders are below it
    QString tone;       // the good sound
    // keys.db in the written form; the good binding is there from the start.
    QStringList keyLines;
    // When not empty, keys.db as these bytes instead.
    QByteArray rawKeys;
    QByteArray settings = "[Settings]\r\nHotkeyMode=OFF\r\n";
    QList<QPair<QString, QString>> environment;
    // A file the program refuses, which its log (debug messages on) must name.
    QString refusedFile;
    // What the log must show before the program is asked to end: the strange file has been met by then.
    QString awaitedOutput;
    // The case needs a file the program cannot read: as root, the program runs as another user.
    bool needsUnreadableFile = false;
};

QByteArray randomBytes(qsizetype size, unsigned seed) {
    std::mt19937 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

// Binds Path to the key of the good sound, ahead of it: every line of a key plays, in file order.
void bindAheadOfTheTone(CaseFiles& files, const QString& path) {
    files.keyLines.prepend(QStringLiteral("q|") + path);
}

// The same for a file that cannot be played.
void bindRefusedSound(CaseFiles& files, const QString& path) {
    bindAheadOfTheTone(files, path);
    files.refusedFile = path;
}

QString badSound(const CaseFiles& files) {
    return files.root + QStringLiteral("/bad.wav");
}

struct HostileCase {
    const char* name;
    void (*prepare)(CaseFiles&);
};

const HostileCase Cases[] = {
    {"RandomKeysDb",
     [](CaseFiles& s) {
         // Not a byte-order mark at the start, so the good line at the end stays readable in the legacy code page.
         s.rawKeys = "x" + randomBytes(64 * 1024, 1) + "\r\nq|" + QFile::encodeName(s.tone) + "\r\n";
     }},
    {"RandomSettingsIni", [](CaseFiles& s) { s.settings = randomBytes(64 * 1024, 2); }},
    {"RandomLanguageFile",
     [](CaseFiles& s) {
         s.refusedFile = s.programDir + "/Languages/German.lang.txt";
         writeBytes(s.refusedFile, randomBytes(16 * 1024, 3));
         s.environment = {{"LANGUAGE", ""}, {"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}};
     }},
    {"RandomBytesAsSound",
     [](CaseFiles& s) {
         writeBytes(badSound(s), randomBytes(256 * 1024, 4));
         bindRefusedSound(s, badSound(s));
     }},
    {"TruncatedSound",
     [](CaseFiles& s) {
         // The tone cut in the middle of its data: what is there plays.
         writeBytes(badSound(s), readBytes(s.tone).left(ToneFrames * 2));
         bindAheadOfTheTone(s, badSound(s));
     }},
    {"TruncatedSoundHeader",
     [](CaseFiles& s) {
         writeBytes(badSound(s), readBytes(s.tone).left(30));
         bindRefusedSound(s, badSound(s));
     }},
    {"EmptySound",
     [](CaseFiles& s) {
         writeBytes(badSound(s), QByteArray());
         bindRefusedSound(s, badSound(s));
     }},
    {"FolderAsSound",
     [](CaseFiles& s) {
         QDir().mkpath(badSound(s));
         bindRefusedSound(s, badSound(s));
     }},
    {"FifoAsSound",
     [](CaseFiles& s) {
         // Nobody ever writes to it: opening it for reading would wait for good.
         ASSERT_EQ(::mkfifo(QFile::encodeName(badSound(s)).constData(), 0666), 0);
         bindRefusedSound(s, badSound(s));
     }},
    {"PlaylistNamingAFifo",
     [](CaseFiles& s) {
         // A playlist by its content, whatever its name: were it followed, the FIFO would hold its reader for good.
         ASSERT_EQ(::mkfifo(QFile::encodeName(s.root + QStringLiteral("/fifo")).constData(), 0666), 0);
         writeBytes(badSound(s), "ffconcat version 1.0\nfile 'fifo'\n");
         bindRefusedSound(s, badSound(s));
     }},
    {"PlaylistNamingItself",
     [](CaseFiles& s) {
         writeBytes(badSound(s), "ffconcat version 1.0\nfile 'bad.wav'\nfile 'bad.wav'\n");
         bindRefusedSound(s, badSound(s));
     }},
    {"FileWhoseReadWaits",
     [](CaseFiles& s) {
         // The kernel's log: a regular file whose read waits for the next message (when it may be read at all).
         if (!QFileInfo::exists(QStringLiteral("/proc/kmsg"))) {
             GTEST_SKIP() << "no /proc/kmsg";
         }
         bindAheadOfTheTone(s, QStringLiteral("/proc/kmsg"));
     }},
    {"UnreadableSound",
     [](CaseFiles& s) {
         QFile::copy(s.tone, badSound(s));
         ::chmod(QFile::encodeName(badSound(s)).constData(), 0);
         s.needsUnreadableFile = true;
         bindRefusedSound(s, badSound(s));
     }},
    {"TwoGigabyteSound",
     [](CaseFiles& s) {
         // Sparse: two gigabytes of zeros that take no room.
         QFile file(badSound(s));
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         ASSERT_TRUE(file.resize(qint64(2) << 30));
         bindRefusedSound(s, badSound(s));
     }},
    // The per-user files outside the data folder: the autostart entry is read as the window comes up, the update
    // check's store a second later on its worker, which the program's exit waits for.
    {"AutostartEntryIsAFifo",
     [](CaseFiles& s) {
         ASSERT_TRUE(QDir().mkpath(s.home + "/.config/autostart"));
         ASSERT_EQ(
             ::mkfifo(QFile::encodeName(s.home + "/.config/autostart/Zemtrak - Clavora.desktop").constData(), 0666), 0);
     }},
    {"AutostartEntryLinksToDevZero",
     [](CaseFiles& s) {
         ASSERT_TRUE(QDir().mkpath(s.home + "/.config/autostart"));
         ASSERT_EQ(::symlink("/dev/zero",
                             QFile::encodeName(s.home + "/.config/autostart/Zemtrak - Clavora.desktop").constData()),
                   0);
     }},
    {"UpdateCheckLockIsAFifo",
     [](CaseFiles& s) {
         s.awaitedOutput = "Update check:"; // its request to the closed local port has failed
         ASSERT_TRUE(QDir().mkpath(s.home + "/.local/state/Zemtrak/Clavora"));
         ASSERT_EQ(
             ::mkfifo(QFile::encodeName(s.home + "/.local/state/Zemtrak/Clavora/updatecheck.ini.lock").constData(),
                      0666),
             0);
     }},
    {"UpdateCheckStoreLinksToDevZero",
     [](CaseFiles& s) {
         s.awaitedOutput = "Update check:"; // its request to the closed local port has failed
         ASSERT_TRUE(QDir().mkpath(s.home + "/.local/state/Zemtrak/Clavora"));
         ASSERT_EQ(::symlink("/dev/zero",
                             QFile::encodeName(s.home + "/.local/state/Zemtrak/Clavora/updatecheck.ini").constData()),
                   0);
     }},
    {"MillionLineKeyMap",
     [](CaseFiles& s) {
         // Without the default bindings, so start-up also rewrites the whole file.
         QByteArray keys = "\xEF\xBB\xBF";
         keys.reserve(40 * 1000 * 1000);
         for (int i = 0; i < 1000000; ++i) {
             keys += "k" + QByteArray::number(i) + "|/nonexistent/sound" + QByteArray::number(i) + ".wav\r\n";
         }
         s.rawKeys = keys + "q|" + QFile::encodeName(s.tone) + "\r\n";
     }},
};

// Readable test names and failure messages.
void PrintTo(const HostileCase& hostileCase, std::ostream* out) {
    *out << hostileCase.name;
}

class HostileFilesE2E : public ProgramTest, public ::testing::WithParamInterface<HostileCase> {
protected:
    void TearDown() override {
        if (m_pulseModule >= 0) {
            runCommand(QStringLiteral("pactl"), {QStringLiteral("unload-module"), QString::number(m_pulseModule)});
        }
    }

    // Runs the program as another user (the test runs as root, who reads any file): everything it needs is handed
    // to that user, and the sound server gets a second socket the user may connect to.
    void runAsNobody(ProgramRun& run, const CaseFiles& files) {
        ::chmod(QFile::encodeName(m_root.path()).constData(), 0755);
        const QString runtime = m_home + QStringLiteral("/runtime");
        ASSERT_TRUE(QDir().mkpath(runtime));
        ::chmod(QFile::encodeName(runtime).constData(), 0700);
        for (const QString& path : {m_home, m_programDir}) {
            runCommand(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("%1:%1").arg(Nobody), path});
        }
        ::chmod(QFile::encodeName(files.tone).constData(), 0644);
        const QString socket = m_root.file(QStringLiteral("pulse-native"));
        bool loaded = false;
        m_pulseModule = runCommand(QStringLiteral("pactl"),
                                   {QStringLiteral("load-module"), QStringLiteral("module-native-protocol-unix"),
                                    QStringLiteral("auth-anonymous=1"), QStringLiteral("socket=") + socket})
                            .trimmed()
                            .toInt(&loaded);
        ASSERT_TRUE(loaded) << "the sound server did not open a second socket";
        ::chmod(QFile::encodeName(socket).constData(), 0777);
        run.environment().insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + socket);
        run.environment().insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        run.runAsUser(Nobody);
    }

    int m_pulseModule = -1;
};

TEST_P(HostileFilesE2E, ProgramComesUpAndStillPlaysTheGoodBinding) {
    if (!soundServerReachable()) {
        GTEST_SKIP() << "needs the PulseAudio server of the test rig (PULSE_SERVER with a null sink named testsink)";
    }
    CaseFiles files;
    files.root = m_root.path();
    files.programDir = m_programDir;
    files.home = m_home;
    files.tone = m_root.file(QStringLiteral("tone.wav"));
    writeWav16(files.tone, ToneRate, 2, sineSamples16(ToneFrequency, ToneRate, ToneFrames, 0.5));
    files.keyLines = {QStringLiteral("q|") + files.tone};
    GetParam().prepare(files);
    ASSERT_FALSE(HasFatalFailure());
    if (IsSkipped()) {
        return;
    }

    if (!files.rawKeys.isEmpty()) {
        writeBytes(m_programDir + QStringLiteral("/keys.db"), files.rawKeys);
    } else {
        QByteArray keys = "\xEF\xBB\xBF";
        for (const QString& line : std::as_const(files.keyLines)) {
            keys += line.toUtf8() + "\r\n";
        }
        writeBytes(m_programDir + QStringLiteral("/keys.db"), keys);
    }
    writeBytes(m_programDir + QStringLiteral("/settings.ini"), files.settings);

    ProgramRun run(m_programDir + QStringLiteral("/clavora"), m_home);
    run.environment().insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    run.environment().insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("clavora.*.debug=true"));
    for (const auto& [name, value] : std::as_const(files.environment)) {
        run.environment().insert(name, value);
    }
    if (files.needsUnreadableFile && ::geteuid() == 0) {
        runAsNobody(run, files);
        ASSERT_FALSE(HasFatalFailure());
    }
    SoundRecorder recorder(m_root.file(QStringLiteral("recording.raw")));
    ASSERT_TRUE(recorder.start());

    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitForWindow(Title, 60000)) << run.output().toStdString();
    EXPECT_FALSE(run.waitForWindow(MessageCaption, 500)) << "a message box came up\n" << run.output().toStdString();
    ASSERT_TRUE(focusWindow(Title, run.pid())) << run.output().toStdString();

    pressKey(QStringLiteral("q"));
    recorder.waitForSound();
    recorder.stop();
    const std::vector<float> recorded = recorder.samples();
    EXPECT_TRUE(run.isRunning());
    QString output = run.output();
    if (!files.awaitedOutput.isEmpty()) {
        EXPECT_TRUE(waitFor(
            [&] {
                output += run.output();
                return output.contains(files.awaitedOutput);
            },
            20000))
            << "no \"" << files.awaitedOutput.toStdString() << "\" in the log\n"
            << output.toStdString();
    }
    EXPECT_GT(peak(recorded), 0.2f) << "the good binding was not heard\n" << output.toStdString();
    EXPECT_NEAR(estimateFrequency(recorded, SoundRecorder::Rate), ToneFrequency, 5.0);
    // All of it, not only the first half that the truncated copy holds.
    EXPECT_GT(audibleFrames(recorded, 0.05f), SoundRecorder::Rate / 5) << output.toStdString();
    // And it ends when asked to, its worker included.
    EXPECT_TRUE(run.endsOnRequest(20000)) << "the program did not end on SIGTERM\n" << run.output().toStdString();
    // The strange file was met, not passed by.
    if (!files.refusedFile.isEmpty()) {
        EXPECT_TRUE(output.contains(files.refusedFile))
            << "nothing said about " << files.refusedFile.toStdString() << "\n"
            << output.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileFilesE2E, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<HostileCase>& tested) {
                             return std::string(tested.param.name);
                         });

} // namespace
