// Handing things to the desktop: web pages and files to open, programs to start.
#pragma once

#include <QString>
#include <QStringList>

namespace clavora::platform {

class IShell {
public:
    virtual ~IShell() = default;

    // Opens an address in the user's browser, or a local file with its usual program. Returns at once; false
    // when nothing could be started. Addresses that come from outside the program are opened only when they are
    // http or https: see openWebAddress.
    virtual bool openUrl(const QString& url) = 0;

    // Starts Program with Arguments as a process of its own that outlives this one, its standard streams on the null
    // device. False when it cannot start.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;

    // Opens Url only when it is an http or https address; false otherwise or when it cannot be opened.
    bool openWebAddress(const QString& url);
};

} // namespace clavora::platform
