// The volume slider: its step arithmetic, the timer's round, the wheel and the focus over the slider, and what it
// controls when there is no sound server (the engine's gain, heard in the samples and kept across runs) or no
// audio output at all.
#include "app/volumecontrol.h"
#include "app/volumetarget.h"
#include "app/widgetnames.h"
#include "audio/soundplayer.h"
#include "platform/dummy/dummyservices.h"
#include "platform/fake/fakeprogramvolume.h"
#include "tests/support/audio/audiotestsupport.h"
#include "tests/support/audio/systemservices.h"
#include "tests/support/manualclock.h"
#include "tests/support/platformtest.h"
#include "tests/support/programrun.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace clavora;
using platform::ChannelVolume;

void PrintTo(const ChannelVolume& volume, std::ostream* out) {
    *out << "{" << volume.left << ", " << volume.right << "}";
}

namespace {

TEST(VolumeStepsTest, PositionsAndVolumesFollowTheStepOf8191) {
    EXPECT_EQ(VolumeStep, 8191);
    const struct {
        int position;
        quint16 volume;
    } positions[] = {{0, 0}, {1, 8191}, {2, 16382}, {4, 32764}, {7, 57337}, {8, 65528}};
    for (const auto& c : positions) {
        EXPECT_EQ(volumeForSliderPosition(c.position), c.volume) << "position " << c.position;
        EXPECT_EQ(sliderPositionForVolume(c.volume), c.position) << "volume " << c.volume;
    }
    // Volumes between steps round down.
    const struct {
        quint16 volume;
        int position;
    } volumes[] = {{65535, 8}, {65527, 7}, {40000, 4}, {32763, 3}, {16381, 1}, {8190, 0}, {1, 0}};
    for (const auto& c : volumes) {
        EXPECT_EQ(sliderPositionForVolume(c.volume), c.position) << "volume " << c.volume;
    }
}

// The voice output's gain for a volume at the sound server: the server's scale is cubic, so half way up is an eighth.
TEST(VolumeStepsTest, ServerVolumeAsGainFollowsTheServersCubicScale) {
    const struct {
        quint16 volume;
        quint16 gain;
    } cases[] = {{0, 0}, {65535, 65535}, {32768, 8192}, {16384, 1024}, {1, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(serverVolumeAsGain(c.volume), c.gain) << "volume " << c.volume;
    }
}

TEST(VolumeStepsTest, DisplayTextIsSilentOnlyAtPositionZero) {
    EXPECT_EQ(statusTextForPosition(0), "Silent");
    for (int position = 1; position <= VolumeSteps; ++position) {
        EXPECT_EQ(statusTextForPosition(position), "Press any key") << position;
    }
}

TEST(VolumeWheelTest, ShiftCtrlAndAltKeepTheWheelOffTheSlider) {
    EXPECT_TRUE(wheelMovesVolume(Qt::NoModifier));
    EXPECT_TRUE(wheelMovesVolume(Qt::KeypadModifier));
    EXPECT_TRUE(wheelMovesVolume(Qt::MetaModifier));
    EXPECT_FALSE(wheelMovesVolume(Qt::ShiftModifier));
    EXPECT_FALSE(wheelMovesVolume(Qt::ControlModifier));
    EXPECT_FALSE(wheelMovesVolume(Qt::AltModifier));
    EXPECT_FALSE(wheelMovesVolume(Qt::ControlModifier | Qt::MetaModifier));
}

TEST(VolumeWheelTest, NotchesAreCountedFromWholeTurnsAndPartsAddUp) {
    const struct {
        std::vector<int> deltas;
        std::vector<int> notches;
        int left;
    } cases[] = {
        {{120}, {1}, 0},
        {{-120}, {-1}, 0},
        {{360}, {3}, 0},
        {{60, 60}, {0, 1}, 0}, // a high-resolution wheel: two halves make a notch
        {{-40, -40, -40, -40}, {0, 0, -1, 0}, -40},
        {{100, -100}, {0, 0}, 0}, // back and forth within a notch moves nothing
        {{130}, {1}, 10},
    };
    for (const auto& c : cases) {
        int pending = 0;
        for (size_t i = 0; i < c.deltas.size(); ++i) {
            EXPECT_EQ(takeWheelNotches(pending, c.deltas[i]), c.notches[i]) << "turn " << i;
        }
        EXPECT_EQ(pending, c.left);
    }
}

// The services say whether their program volume follows an output's stream: the fakes' does for the drivers of a
// desktop's sound server, as the PulseAudio services do; the dummy services' follows none.
TEST(VolumeTargetTest, TheSoundServerOnlyWhenTheOutputPlaysThroughOne) {
    platform::FakeServices server;
    const std::unique_ptr<platform::Services> none = platform::makeDummyServices();
    const struct {
        const char* what;
        const platform::Services& services;
        bool running;
        const char* driver;
        VolumeTarget target;
    } cases[] = {
        {"server, pulseaudio", server, true, "pulseaudio", VolumeTarget::SoundServer},
        {"server, pipewire", server, true, "pipewire", VolumeTarget::SoundServer},
        {"server, alsa", server, true, "alsa", VolumeTarget::EngineGain},
        {"server, disk", server, true, "disk", VolumeTarget::EngineGain},
        {"server, dummy", server, true, "dummy", VolumeTarget::EngineGain},
        {"server, stopped", server, false, "pulseaudio", VolumeTarget::None},
        {"server, no driver", server, false, "", VolumeTarget::None},
        {"no server, pulseaudio", *none, true, "pulseaudio", VolumeTarget::EngineGain},
        {"no server, pipewire", *none, true, "pipewire", VolumeTarget::EngineGain},
        {"no server, stopped", *none, false, "pulseaudio", VolumeTarget::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseVolumeTarget(c.services, c.running, QString::fromLatin1(c.driver)), c.target) << c.what;
    }
}

// A window like the main one: the slider between the display strip and the keyboard area, and the window itself
// holding the keyboard focus and counting the keys that reach it.
class VolumeWindow : public QWidget {
public:
    VolumeWindow() {
        setFocusPolicy(Qt::StrongFocus);
        auto* layout = new QVBoxLayout(this);
        slider = new QSlider(Qt::Horizontal, this);
        slider->setFocusPolicy(Qt::ClickFocus);
        layout->addWidget(slider);
        keyboard = new QWidget(this);
        keyboard->setMinimumHeight(100);
        layout->addWidget(keyboard);
        resize(300, 200);
    }
    QSlider* slider;
    QWidget* keyboard;
    int keysReceived = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++keysReceived;
        QWidget::keyPressEvent(event);
    }
};

class VolumeControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_control = std::make_unique<VolumeControl>(m_window.slider, &m_window, m_volume,
                                                    StatusTextSink{[this] { return m_text; },
                                                                   [this](const QString& text) {
                                                                       m_text = text;
                                                                       m_shown << text;
                                                                   }});
        // The rounds are driven by the tests; the timer has a test of its own.
        m_control->timer()->stop();
    }

    QSlider* slider() { return m_window.slider; }

    // A key typed the way the system delivers it: to the widget with the keyboard focus.
    static void typeKey(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }

    void wheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

    VolumeWindow m_window;
    platform::FakeProgramVolume m_volume;
    QString m_text = QStringLiteral("Press any key");
    QStringList m_shown;
    std::unique_ptr<VolumeControl> m_control;
};

TEST_F(VolumeControlTest, TheFirstRoundMovesTheSliderAndWritesTheStepBackOnce) {
    EXPECT_EQ(slider()->minimum(), 0);
    EXPECT_EQ(slider()->maximum(), VolumeSteps);
    EXPECT_EQ(slider()->value(), 0);
    m_volume.volume = {65535, 65535};

    m_control->tick();
    EXPECT_EQ(slider()->value(), 8);
    ASSERT_EQ(m_volume.writes.size(), 1u);
    EXPECT_EQ(m_volume.writes[0], (ChannelVolume{65528, 65528}));
    EXPECT_TRUE(m_shown.isEmpty()) << "the display already showed the right text";

    m_control->tick();
    EXPECT_EQ(m_volume.writes.size(), 1u) << "a position that does not change writes nothing";
}

TEST_F(VolumeControlTest, TheRightChannelSetsThePositionAndBothChannelsGetItsStep) {
    m_volume.volume = {65535, 16382};
    m_control->tick();
    EXPECT_EQ(slider()->value(), 2);
    ASSERT_FALSE(m_volume.writes.empty());
    EXPECT_EQ(m_volume.writes.back(), (ChannelVolume{16382, 16382}));

    m_volume.volume = {0, 40000};
    m_control->tick();
    EXPECT_EQ(slider()->value(), 4);
    EXPECT_EQ(m_volume.writes.back(), (ChannelVolume{32764, 32764}));
}

// The tooltip follows the slider whoever moves it: the volume read from the system, a key, the wheel.
TEST_F(VolumeControlTest, TheTooltipNamesTheStepTheSliderStandsAt) {
    EXPECT_EQ(slider()->toolTip(), "Silent");
    m_volume.volume = {49146, 49146};
    m_control->tick();
    EXPECT_EQ(slider()->toolTip(), "Volume 6 of 8");
    slider()->setValue(8);
    EXPECT_EQ(slider()->toolTip(), "Volume 8 of 8");
    slider()->setValue(0);
    EXPECT_EQ(slider()->toolTip(), "Silent");
    slider()->setValue(1);
    EXPECT_EQ(slider()->toolTip(), "Volume 1 of 8");
}

TEST_F(VolumeControlTest, SilentIsShownOnceAndShownAgainAfterTheDisplayWasReset) {
    m_volume.volume = {65535, 0};
    m_control->tick();
    EXPECT_EQ(slider()->value(), 0);
    EXPECT_EQ(m_shown, QStringList{"Silent"});
    m_control->tick();
    m_control->tick();
    EXPECT_EQ(m_shown, QStringList{"Silent"}) << "reloading the same text would restart its scrolling";

    // A resize of the window puts "Press any key" back; the next round switches to "Silent" again.
    m_text = QStringLiteral("Press any key");
    m_control->tick();
    EXPECT_EQ(m_shown, (QStringList{"Silent", "Silent"}));

    m_volume.volume = {8191, 8191};
    m_control->tick();
    EXPECT_EQ(slider()->value(), 1);
    EXPECT_EQ(m_shown.last(), "Press any key");
}

TEST_F(VolumeControlTest, AFailedReadLeavesTheSliderAndTheDisplayAlone) {
    slider()->setValue(3);
    m_volume.writes.clear();
    m_volume.available = false;
    m_volume.volume = {0, 0};
    m_control->tick();
    EXPECT_EQ(slider()->value(), 3);
    EXPECT_TRUE(m_shown.isEmpty());
    EXPECT_EQ(m_text, "Press any key");
}

TEST_F(VolumeControlTest, EveryMoveOfTheSliderWritesItsStepToBothChannels) {
    slider()->setValue(5);
    slider()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    slider()->setValue(99); // held at the top
    const std::vector<ChannelVolume> expected{{40955, 40955}, {32764, 32764}, {65528, 65528}};
    EXPECT_EQ(m_volume.writes, expected);
}

TEST_F(VolumeControlTest, PageKeysAndAClickInTheGrooveMoveOnePosition) {
    m_window.show();
    m_window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    slider()->setValue(4);
    slider()->setFocus();
    m_volume.writes.clear();

    typeKey(Qt::Key_PageUp);
    EXPECT_EQ(slider()->value(), 5);
    typeKey(Qt::Key_PageDown);
    typeKey(Qt::Key_PageDown);
    EXPECT_EQ(slider()->value(), 3);
    // A click near the right end of the groove pages towards it, one position.
    QTest::mouseClick(slider(), Qt::LeftButton, Qt::NoModifier, QPoint(slider()->width() - 3, slider()->height() / 2));
    EXPECT_EQ(slider()->value(), 4);
    const std::vector<ChannelVolume> expected{{40955, 40955}, {32764, 32764}, {24573, 24573}, {32764, 32764}};
    EXPECT_EQ(m_volume.writes, expected);
}

TEST_F(VolumeControlTest, EachWheelNotchMovesOnePositionAndTheEndsHold) {
    m_volume.volume = {65535, 65535};
    m_control->tick();
    m_volume.writes.clear();

    wheel(slider(), 120); // up at the top: nothing to do
    EXPECT_EQ(slider()->value(), 8);
    EXPECT_TRUE(m_volume.writes.empty());

    for (int notch = 0; notch < 4; ++notch) {
        wheel(slider(), -120);
    }
    EXPECT_EQ(slider()->value(), 4);
    ASSERT_EQ(m_volume.writes.size(), 4u);
    EXPECT_EQ(m_volume.writes.back(), (ChannelVolume{32764, 32764}));

    wheel(slider(), -120 * 6);
    EXPECT_EQ(slider()->value(), 0);
}

TEST_F(VolumeControlTest, TheWheelWithShiftCtrlOrAltOrOverTheKeyboardMovesNothing) {
    slider()->setValue(4);
    m_volume.writes.clear();
    for (const Qt::KeyboardModifiers modifiers :
         {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier),
          Qt::KeyboardModifiers(Qt::AltModifier)}) {
        wheel(slider(), 120, modifiers);
        wheel(slider(), -120, modifiers);
    }
    wheel(m_window.keyboard, 120);
    EXPECT_EQ(slider()->value(), 4);
    EXPECT_TRUE(m_volume.writes.empty());
}

TEST_F(VolumeControlTest, ThePointerOverTheSliderGivesItTheKeysAndLeavingGivesThemBack) {
    m_window.show();
    m_window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    m_window.setFocus();
    slider()->setValue(4);

    QEnterEvent enter(QPointF(5, 5), slider()->mapTo(&m_window, QPointF(5, 5)), slider()->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(slider(), &enter);
    EXPECT_TRUE(slider()->hasFocus());

    // The arrows move the slider; no key gets through to the window's own key handling.
    typeKey(Qt::Key_Right);
    EXPECT_EQ(slider()->value(), 5);
    typeKey(Qt::Key_A);
    typeKey(Qt::Key_F5);
    EXPECT_EQ(m_window.keysReceived, 0);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(slider(), &leave);
    EXPECT_TRUE(m_window.hasFocus());
    typeKey(Qt::Key_A);
    EXPECT_EQ(m_window.keysReceived, 1);
    EXPECT_EQ(slider()->value(), 5);
}

TEST_F(VolumeControlTest, TheTimerTakesAVolumeChangeWithinItsRound) {
    EXPECT_EQ(m_control->timer()->objectName(), widgetnames::VolumeTimer);
    EXPECT_EQ(m_control->timer()->interval(), 100);
    m_control->timer()->start();
    m_volume.volume = {0, 0};
    EXPECT_TRUE(test::waitFor([this] { return m_text == "Silent"; }, 5000));
    EXPECT_EQ(slider()->value(), 0);
}

// The engine's gain as the volume: kept in the state store across runs. Files go through the fake file system,
// onto the test's own folder.
class EngineGainTest : public test::PlatformTest {
protected:
    QString stateFile() const { return stateStoreFile(m_root.path()); }
};

TEST_F(EngineGainTest, AChangedGainIsKeptForTheNextRunBesideTheStoresOtherValues) {
    QDir().mkpath(QFileInfo(stateFile()).absolutePath());
    test::writeBytes(stateFile(), "[Settings]\nLastUpdateCheck=45000\n");
    {
        audio::SoundPlayer sound{audioServices()};
        EngineGainVolume volume(sound, m_files, stateFile());
        ChannelVolume read;
        ASSERT_TRUE(volume.read(read));
        EXPECT_EQ(read, (ChannelVolume{65535, 65535})) << "nothing stored yet: the engine's own full gain";
        ASSERT_TRUE(volume.write({32764, 16382}));
        EXPECT_EQ(sound.masterGain().left, 32764);
        EXPECT_EQ(sound.masterGain().right, 16382);
    }
    const QByteArray stored = test::readBytes(stateFile());
    EXPECT_TRUE(stored.contains("LastUpdateCheck=45000")) << stored.toStdString();

    audio::SoundPlayer next{audioServices()};
    EngineGainVolume volume(next, m_files, stateFile());
    EXPECT_EQ(next.masterGain().left, 32764);
    EXPECT_EQ(next.masterGain().right, 16382);
}

TEST_F(EngineGainTest, AStoreThatCannotBeReadLeavesTheFullGain) {
    QDir().mkpath(QFileInfo(stateFile()).absolutePath());
    for (const QByteArray& text :
         {QByteArray("[Volume]\nLeft=70000\nRight=1\n"), QByteArray("[Volume]\nLeft=-1\nRight=5\n"),
          QByteArray("[Volume]\nLeft=abc\nRight=5\n"), QByteArray("[Volume]\nRight=5\n")}) {
        test::writeBytes(stateFile(), text);
        audio::SoundPlayer sound{audioServices()};
        EngineGainVolume volume(sound, m_files, stateFile());
        EXPECT_EQ(sound.masterGain().left, 65535) << text.toStdString();
        EXPECT_EQ(sound.masterGain().right, 65535) << text.toStdString();
    }
}

// The store is written a second after the last change, on the clock of the test: a drag of the slider writes the
// file once, with the step it ended on.
TEST_F(EngineGainTest, AKeptVolumeIsWrittenASecondAfterItsLastChange) {
    test::ManualClock clock;
    KeptVolume kept(m_files, stateFile(), QStringLiteral("Volume"), clock);
    const auto storedLeft = [&]() -> QByteArray {
        if (!QFileInfo::exists(stateFile())) {
            return "none";
        }
        const QByteArray text = test::readBytes(stateFile());
        const qsizetype at = text.indexOf("Left=");
        return at < 0 ? "none" : text.mid(at + 5, text.indexOf('\n', at) - at - 5);
    };

    kept.keep({8191, 8191});
    clock.advance(KeptVolume::SaveDelayMs - 1);
    EXPECT_EQ(storedLeft(), "none") << "written before the second was up";
    kept.keep({16382, 16382}); // the drag goes on: the second counts again from here
    clock.advance(KeptVolume::SaveDelayMs - 1);
    EXPECT_EQ(storedLeft(), "none") << "the second change did not put the write off";
    clock.advance(1);
    EXPECT_EQ(storedLeft(), "16382");
    EXPECT_EQ(clock.activeTimers(), 0);

    // Saving now, as the object does when it goes, takes a change whose second is not up yet.
    kept.keep({24573, 24573});
    clock.advance(10);
    kept.save();
    EXPECT_EQ(storedLeft(), "24573");
    EXPECT_EQ(clock.activeTimers(), 0) << "a change written already is not written again";
}

TEST(VolumeWithoutOutputTest, ReadsFailAndTheSliderAndDisplayAreLeftAlone) {
    audio::SoundPlayer sound{clavora::test::systemAudioServices()}; // never started
    platform::FakeServices fakes;
    platform::FakeProgramVolume& server = fakes.programVolume;
    std::unique_ptr<platform::IProgramVolume> volume = makeProgramVolume(sound, fakes, QString());
    ChannelVolume read{1, 2};
    EXPECT_FALSE(volume->read(read));
    EXPECT_EQ(read, (ChannelVolume{1, 2}));
    EXPECT_FALSE(volume->write({0, 0}));
    EXPECT_TRUE(server.followed.isEmpty()) << "no output, no stream to look for";

    QSlider slider;
    QWidget home;
    QString text = QStringLiteral("Press any key");
    int shown = 0;
    VolumeControl control(&slider, &home, *volume,
                          StatusTextSink{[&] { return text; }, [&](const QString&) { ++shown; }});
    control.tick();
    EXPECT_EQ(slider.value(), 0);
    EXPECT_EQ(shown, 0);
}

// Under SDL's disk driver there is no sound server: the slider sets the engine's gain, and the samples that reach
// the device carry it exactly.
using VolumeOnDiskDeviceTest = test::PlatformTest;

TEST_F(VolumeOnDiskDeviceTest, TheSliderSetsTheGainHeardInTheSamples) {
    test::TempFolder& folder = m_root;
    const QString disk = folder.file(QStringLiteral("device.raw"));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(disk));
    const QString tone = folder.file(QStringLiteral("tone.wav"));
    constexpr int Rate = 44100;
    const std::vector<qint16> samples = test::sineSamples16(441, Rate, Rate / 5, 0.6);
    test::writeWav16(tone, Rate, 2, samples);

    audio::SoundPlayer sound{audioServices()};
    ASSERT_TRUE(sound.start());
    platform::FakeProgramVolume& server = m_programVolume;
    std::unique_ptr<platform::IProgramVolume> volume = makeProgramVolume(sound, m_services, folder.path());
    EXPECT_TRUE(server.followed.isEmpty());
    QSlider slider;
    QWidget home;
    QString text = QStringLiteral("Press any key");
    VolumeControl control(&slider, &home, *volume,
                          StatusTextSink{[&] { return text; }, [&](const QString& shown) { text = shown; }});
    control.tick(); // full gain: position 8
    EXPECT_EQ(slider.value(), 8);
    slider.setValue(4);
    EXPECT_EQ(sound.masterGain().left, 32764);
    EXPECT_EQ(sound.masterGain().right, 32764);

    sound.playSoundFile(tone, false);
    ASSERT_NE(sound.newestStream(), 0u);
    ASSERT_TRUE(test::waitFor([&] { return sound.engine().heldStreams() == 0; }, 10000)) << "the tone never ended";
    sound.stop();
    qputenv("SDL_AUDIODRIVER", "dummy");

    const QByteArray raw = test::readBytes(disk);
    const auto* written = reinterpret_cast<const float*>(raw.constData());
    const size_t count = static_cast<size_t>(raw.size()) / sizeof(float);
    size_t first = 0;
    while (first < count && written[first] == 0.0f) {
        ++first;
    }
    ASSERT_LT(first, count) << "nothing was heard";
    // The tone begins with a zero sample: it starts one frame before the first sound.
    ASSERT_GE(first, 2u);
    first = (first / 2 - 1) * 2;
    ASSERT_GE(count - first, samples.size());
    const float gain = 32764.0f / 65535.0f;
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(written[first + i], (samples[i] / 32768.0f) * gain) << "sample " << i;
    }
}

} // namespace
