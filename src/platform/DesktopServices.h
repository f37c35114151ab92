#pragma once

// The one place that hands out the operating-system services of the build's
// platform; the implementation is chosen by the build.

#include "platform/ProfileFile.h"
#include "platform/WindowMessages.h"
#include "platform/WindowTitles.h"

#include <functional>
#include <memory>
#include <string>

namespace velantro::platform {

/// This process's application window and the desktop's windows around it.
class DesktopWindows : public WindowMessages, public WindowTitles {
public:
    /// True while the application window exists and can be reached.
    virtual bool Connected() const = 0;

    /// Why the application window could not be opened; empty when it was.
    virtual std::string ErrorText() const = 0;

    /// Delivers messages to this process's windows on the calling thread, the
    /// application window's, until QuitMessageLoop() is called; for programs
    /// without an event loop of their own (a Qt program runs Qt's).
    virtual void RunMessageLoop() = 0;

    /// Ends RunMessageLoop() once the message being handled is done. May be
    /// called from any thread.
    virtual void QuitMessageLoop() = 0;
};

/// Opens an application window of this process with the given title: a
/// hidden top-level window on Windows, a window on the D-Bus session bus
/// elsewhere. Off Windows it creates a QCoreApplication when the process has
/// none yet (a Qt program creates its own application object first), owned by
/// the returned object. When the window cannot be opened it is not
/// Connected() and every service call fails softly.
std::unique_ptr<DesktopWindows> OpenDesktopWindows(const std::string& title);

/// The profile file with this bare name: in the Windows directory on
/// Windows, in the user's configuration folder elsewhere.
std::unique_ptr<ProfileFile> OpenProfileFile(const std::string& name);

} // namespace velantro::platform
