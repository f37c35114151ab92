#pragma once

// Finds the local translation program by the title of its main window.

#include "platform/WindowTitles.h"

#include <string_view>

namespace velantro::translate {

/// The local program's window titles begin with this.
inline constexpr std::string_view LocalTranslatorTitlePrefix = "Tolvane Verbatrix 3.";

/// True when a top-level window, visible or not, has a title that begins with
/// LocalTranslatorTitlePrefix (case-sensitive) and holds neither "(" nor ")".
/// Any failure of the window service counts as the program being absent.
bool LocalTranslatorRunning(platform::WindowTitles& windows) noexcept;

} // namespace velantro::translate
