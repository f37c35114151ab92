#include "window/WindowPlacement.h"

#include <algorithm>

namespace velantro::window {

namespace {

// 64 bits: the stored values may be anywhere in 32 bits, and their sums too.
struct Span {
    std::int64_t Begin;
    std::int64_t End;
};

bool Overlap(Span a, Span b) {
    return a.Begin < b.End && b.Begin < a.End;
}

std::int32_t Limit(std::int32_t value, std::int64_t most, std::int32_t least) {
    return static_cast<std::int32_t>(
        std::max<std::int64_t>(std::min<std::int64_t>(value, most), least));
}

} // namespace

ScreenRect PlaceWindow(const ScreenRect& stored, const PlacementRules& rules) {
    std::int64_t mostWidth = rules.Default.Width;
    std::int64_t mostHeight = rules.Default.Height;
    if (!rules.Screens.empty()) {
        Span across{INT64_MAX, INT64_MIN};
        Span down{INT64_MAX, INT64_MIN};
        for (const ScreenRect& screen : rules.Screens) {
            across = {std::min<std::int64_t>(across.Begin, screen.Left),
                      std::max<std::int64_t>(across.End, std::int64_t{screen.Left} + screen.Width)};
            down = {std::min<std::int64_t>(down.Begin, screen.Top),
                    std::max<std::int64_t>(down.End, std::int64_t{screen.Top} + screen.Height)};
        }
        mostWidth = across.End - across.Begin;
        mostHeight = down.End - down.Begin;
    }
    ScreenRect placed{stored.Left, stored.Top, Limit(stored.Width, mostWidth, rules.MinimumWidth),
                      Limit(stored.Height, mostHeight, rules.MinimumHeight)};
    const Span across{placed.Left, std::int64_t{placed.Left} + placed.Width};
    const Span down{placed.Top, std::int64_t{placed.Top} + placed.Height};
    const bool onAScreen =
        std::any_of(rules.Screens.begin(), rules.Screens.end(), [&](const ScreenRect& screen) {
            return Overlap(across, {screen.Left, std::int64_t{screen.Left} + screen.Width}) &&
                   Overlap(down, {screen.Top, std::int64_t{screen.Top} + screen.Height});
        });
    if (!onAScreen && !rules.Screens.empty()) {
        placed.Left = rules.Default.Left;
        placed.Top = rules.Default.Top;
    }
    return placed;
}

} // namespace velantro::window
