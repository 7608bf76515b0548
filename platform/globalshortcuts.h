// Shortcuts bound by the desktop on the program's behalf: where a program may not watch the keyboard (a Wayland
// compositor), the desktop itself tells it when a shortcut it asked for is pressed and released.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace clavora::platform {

class IGlobalShortcuts {
public:
    // Name: the shortcut's id, one of the names bound. Down: pressed, or released.
    using Handler = std::function<void(const QString& name, bool down)>;

    virtual ~IGlobalShortcuts() = default;

    // Asks the desktop for one shortcut per name (its description "Play <name>"), in place of those asked for
    // before, and calls Handler on the GUI thread as they are pressed and released. The desktop answers in its own
    // time (it may ask the user which keys to use). False, having asked nothing, when the desktop binds no shortcuts.
    virtual bool bind(const QStringList& names, Handler handler) = 0;
    // Gives the shortcuts back; nothing is called after this returns.
    virtual void unbind() = 0;
};

} // namespace clavora::platform
