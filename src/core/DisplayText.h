#pragma once

// Text as the window shows it: handles that can't fake lines or reorder the
// page around them, and entries of a bounded length.

#include <cstddef>
#include <string>
#include <string_view>

namespace velantro::core {

/// A handle (bytes in the system's code page, UTF-8 here) as shown text. A
/// handle that is not UTF-8 keeps one character per byte rather than
/// vanishing. Control characters show as their pictures (U+2400 block:
/// ESC as U+241B, DEL as U+2421); C1 controls, bidirectional formatting and
/// marks, and the line and paragraph separators show as U+FFFD. The handle
/// itself, the page's identity, is never changed by this.
std::u16string HandleText(std::string_view handle);

/// The most of one entry a page shows, in UTF-16 code units: far beyond any
/// chat message, and short enough that the page lays it out at once.
inline constexpr std::size_t MaxShownEntry = std::size_t{64} * 1024;

/// entry as a page shows it: unchanged up to MaxShownEntry code units;
/// longer, cut there (never inside a surrogate pair) and followed by a mark
/// that names how much was left out.
std::u16string ShownEntry(std::u16string_view entry);

} // namespace velantro::core
