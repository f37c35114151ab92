#pragma once

// The desktop's window-titles service for the tool, so that `translate`
// finds the local translation program the way the program does.

#include "platform/WindowTitles.h"

#include <memory>

namespace velantro::tools {

std::unique_ptr<platform::WindowTitles> OpenDesktopWindows();

} // namespace velantro::tools
