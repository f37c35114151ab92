#pragma once

#include "platform/WindowMessages.h"

#include <functional>

namespace velantro::platform {

/// Enumeration of the desktop's top-level windows and their titles.
class WindowTitles {
public:
    virtual ~WindowTitles() = default;

    /// Calls visit for every top-level window, visible or not, until it
    /// returns false. Gives false when the enumeration itself failed.
    virtual bool EnumerateWindows(const std::function<bool(WindowHandle)>& visit) = 0;

    /// Copies the window's title into buffer (at most maxCount - 1 bytes and a
    /// NUL) and gives the number of bytes copied; 0 when the window has no
    /// title or no longer exists.
    virtual int ReadWindowTitle(WindowHandle window, char* buffer, int maxCount) = 0;
};

} // namespace velantro::platform
