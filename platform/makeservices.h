// The run-time choice of the services: what the session offers is looked at once, and each service comes from the
// implementation that works there, or from platform/dummy when none does. Adding a system or a display server
// (platform/wayland, platform/windows) is a new folder and a few lines here.
#pragma once

#include "platform/instancebus.h"
#include "platform/services.h"

#include <chrono>
#include <memory>

namespace clavora::platform {

// Looks at the session: the X display of $DISPLAY, $WAYLAND_DISPLAY, and the sound server, waiting at most
// SoundServerTimeout for it to answer.
Session detectSession(std::chrono::milliseconds soundServerTimeout);

// The services for Session: the Wayland keyboard's layout and captions when the window is on a compositor that
// answers (nothing there watches or injects keys; the desktop portal's shortcuts when it offers them), else the X11
// keyboard services when its X display is reachable, the sound server's volume
// and microphone when it answers, the dummy ones otherwise; files, folders, the process and the rest from the
// system itself. In a build without the services of a system, all of them are the dummy ones.
std::unique_ptr<Services> makeServices(const Session& session);

// The session's instance door: the session bus on a system that has one (whether it answers is found when it is
// used), none elsewhere. Needs an application object.
std::unique_ptr<IInstanceBus> makeInstanceBus();

} // namespace clavora::platform
