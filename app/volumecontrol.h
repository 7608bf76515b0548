// The volume slider of the main window: nine positions, 0 (silent) to 8 (full), kept in step with the program's
// output volume, the display strip's "Silent" while it is at 0, and the mouse wheel and keyboard focus over it.
#pragma once

#include "platform/programvolume.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QSlider;
class QTimer;
class QWidget;

namespace clavora {

// The slider runs from 0 to VolumeSteps in steps of one.
inline constexpr int VolumeSteps = 8;
// The volume of one slider step, per channel. 8 steps make 65528, not quite 65535: the top position writes that.
inline constexpr quint16 VolumeStep = 65535 / VolumeSteps;
// How often the slider is brought in step with the volume, in ms.
inline constexpr int VolumePollInterval = 100;

// The slider position a channel volume stands for: rounded down to a step (65535 gives 8, 8190 gives 0).
int sliderPositionForVolume(quint16 channel);
// The volume of a slider position, per channel (position 8 gives 65528, 4 gives 32764).
quint16 volumeForSliderPosition(int position);
// The display's text for a slider position: "Silent" at 0, "Press any key" otherwise.
const QString& statusTextForPosition(int position);
// The slider's tooltip for a position: "Silent" at 0, "Volume 6 of 8" and so on otherwise.
QString volumeToolTip(int position);
// Whether a wheel turn with these keys held moves the slider: only without Shift, Ctrl and Alt.
bool wheelMovesVolume(Qt::KeyboardModifiers modifiers);
// Adds a wheel turn of Delta (in eighths of a degree, 120 a notch) to the part of a notch left over from earlier
// turns, and returns the whole notches now complete, positive away from the user; Pending keeps the rest.
int takeWheelNotches(int& pending, int delta);

// The display strip as the slider sees it: the text it shows, and a way to show another from the start.
struct StatusTextSink {
    std::function<QString()> current;
    // Clears the display and loads Text at its start.
    std::function<void(const QString& text)> show;
};

// Drives one slider. Everything happens on the GUI thread: the 100 ms timer it owns, the slider's change signal
// and the events of the slider, which it watches.
//
// - Each tick reads the volume; when that fails, nothing changes. Otherwise the slider moves to the right
//   channel's position, and the display is switched to "Silent" or "Press any key" only when it shows the other
//   text, so its scrolling is not restarted.
// - Any change of the slider's position, whoever made it, writes the position's volume to both channels and sets the
//   slider's tooltip to the step it stands at.
// - A wheel notch over the slider moves it by one position, unless Shift, Ctrl or Alt is held.
// - While the pointer is over the slider the slider has the keyboard focus and keeps the keys to itself (the
//   arrows move it); when the pointer leaves, the focus goes back to FocusHome.
class VolumeControl : public QObject {
    Q_OBJECT
public:
    // Slider and FocusHome belong to the window; Volume must outlive this object. Sets the slider's range and
    // starts the timer.
    VolumeControl(QSlider* slider, QWidget* focusHome, platform::IProgramVolume& volume, StatusTextSink text,
                  QObject* parent = nullptr);
    ~VolumeControl() override;

    // One round of the timer.
    void tick();

    QTimer* timer() const { return m_timer; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sliderMoved(int position);

    QPointer<QSlider> m_slider;
    QPointer<QWidget> m_focusHome;
    platform::IProgramVolume& m_volume;
    StatusTextSink m_text;
    QTimer* m_timer = nullptr;
    int m_pendingWheel = 0;
};

} // namespace clavora
