// The volume slider of the main window.
#include "app/volumecontrol.h"

#include "app/textdisplay.h"
#include "app/widgetnames.h"

#include <QEvent>
#include <QKeyEvent>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>

namespace clavora {

namespace {

constexpr int WheelNotch = 120;

} // namespace

int sliderPositionForVolume(quint16 channel) {
    return channel / VolumeStep;
}

quint16 volumeForSliderPosition(int position) {
    return static_cast<quint16>(position * VolumeStep);
}

const QString& statusTextForPosition(int position) {
    static const QString silent = QStringLiteral("Silent");
    return position == 0 ? silent : PressAnyKey;
}

QString volumeToolTip(int position) {
    return position <= 0 ? QStringLiteral("Silent") : QStringLiteral("Volume %1 of %2").arg(position).arg(VolumeSteps);
}

bool wheelMovesVolume(Qt::KeyboardModifiers modifiers) {
    return !(modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
}

int takeWheelNotches(int& pending, int delta) {
    pending += delta;
    const int notches = pending / WheelNotch; // rounds toward zero, so the rest keeps the sign of the turn
    pending -= notches * WheelNotch;
    return notches;
}

VolumeControl::VolumeControl(QSlider* slider, QWidget* focusHome, platform::IProgramVolume& volume, StatusTextSink text,
                             QObject* parent)
    : QObject(parent), m_slider(slider), m_focusHome(focusHome), m_volume(volume), m_text(std::move(text)) {
    m_slider->setRange(0, VolumeSteps);
    m_slider->setSingleStep(1);
    // A click in the groove and PageUp/PageDown move one position too: a page of Qt's default ten would go
    // straight to silence or full volume on a range of eight.
    m_slider->setPageStep(1);
    connect(m_slider, &QSlider::valueChanged, this, &VolumeControl::sliderMoved);
    m_slider->setToolTip(volumeToolTip(m_slider->value()));
    m_slider->installEventFilter(this);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QLatin1String(widgetnames::VolumeTimer));
    m_timer->setInterval(VolumePollInterval);
    connect(m_timer, &QTimer::timeout, this, &VolumeControl::tick);
    m_timer->start();
}

VolumeControl::~VolumeControl() = default;

void VolumeControl::tick() {
    platform::ChannelVolume volume;
    if (!m_slider || !m_volume.read(volume)) {
        return;
    }
    // Moving the slider writes the position's volume back, so a volume set elsewhere ends up on a step and equal
    // on both channels, but only when it lands on another position.
    m_slider->setValue(sliderPositionForVolume(volume.right));
    const QString& wanted = statusTextForPosition(m_slider->value());
    if (m_text.current() != wanted) {
        m_text.show(wanted);
    }
}

void VolumeControl::sliderMoved(int position) {
    m_slider->setToolTip(volumeToolTip(position));
    const quint16 channel = volumeForSliderPosition(position);
    // A volume that cannot be set is not reported: the slider just stays where it was put.
    m_volume.write(platform::ChannelVolume{channel, channel});
}

bool VolumeControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_slider) {
        return false;
    }
    switch (event->type()) {
    case QEvent::Enter:
        m_slider->setFocus(Qt::MouseFocusReason);
        return false;
    case QEvent::Leave:
        if (m_focusHome) {
            m_focusHome->setFocus(Qt::MouseFocusReason);
        }
        return false;
    case QEvent::Wheel: {
        // The slider's own wheel handling is replaced, not added to: it moves several steps a notch, and pages
        // with Ctrl or Shift.
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheelMovesVolume(wheel->modifiers())) {
            const int notches = takeWheelNotches(m_pendingWheel, wheel->angleDelta().y());
            if (notches != 0) {
                m_slider->setValue(m_slider->value() + notches);
            }
        }
        return true;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // The slider has its keys, and the ones it does not use go no further: they would reach the window's own
        // key handling and play sounds while the user adjusts the volume.
        static_cast<QObject*>(m_slider.data())->event(event);
        event->accept();
        return true;
    default:
        return false;
    }
}

} // namespace clavora
