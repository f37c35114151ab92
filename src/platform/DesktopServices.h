#pragma once

// The one place that hands out the operating-system services of the build's
// platform; the implementation is chosen by the build.

#include "platform/ProfileFile.h"
#include "platform/WindowMessages.h"
#include "platform/WindowTitles.h"

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
};

/// Opens the application window of this process with the given title. Off
/// Windows the window lives on the D-Bus session bus and needs a Qt
/// application object; when the bus cannot be reached the window is not
/// Connected() and every service call fails softly.
std::unique_ptr<DesktopWindows> OpenDesktopWindows(const std::string& title);

/// The profile file with this bare name: in the Windows directory on
/// Windows, in the user's configuration folder elsewhere.
std::unique_ptr<ProfileFile> OpenProfileFile(const std::string& name);

} // namespace velantro::platform
