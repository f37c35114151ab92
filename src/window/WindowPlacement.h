#pragma once

// Where the window opens and how big it is, from the settings and the
// screens: the settings may hold anything, the window must still fit.

#include <cstdint>
#include <ostream>
#include <vector>

namespace velantro::window {

/// A rectangle in screen pixels: its left and top edges and its size.
struct ScreenRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;

    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
    friend std::ostream& operator<<(std::ostream& out, const ScreenRect& r) {
        return out << '(' << r.Left << ", " << r.Top << ") " << r.Width << " x " << r.Height;
    }
};

/// What the window is placed by besides the settings.
struct PlacementRules {
    /// The screens' available areas (without panels and docks).
    std::vector<ScreenRect> Screens;
    std::int32_t MinimumWidth = 0;
    std::int32_t MinimumHeight = 0;
    /// Where the window goes when the stored place is on no screen, and its
    /// size when there is no screen to measure by.
    ScreenRect Default;
};

/// The window's place (outer left and top) and client size from the stored
/// ones: the size is limited to the area all screens span, never below the
/// minimum; the position is kept, unless the window would lie wholly outside
/// every screen, when it goes to the default position.
ScreenRect PlaceWindow(const ScreenRect& stored, const PlacementRules& rules);

} // namespace velantro::window
