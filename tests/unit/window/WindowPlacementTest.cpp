// The window's place and size from whatever the settings hold.

#include "window/WindowPlacement.h"

#include <gtest/gtest.h>

namespace velantro::window {
namespace {

TEST(PlaceWindow, SizeFitsTheScreensAndAWindowOnNoScreenGoesToTheDefault) {
    const ScreenRect one{0, 0, 1024, 740}; // a 1024 x 768 screen less a panel
    const ScreenRect left{-1280, 0, 1280, 1024};
    const ScreenRect defaults{230, 160, 370, 338};
    constexpr std::int32_t Most = INT32_MAX;
    const struct {
        const char* What;
        std::vector<ScreenRect> Screens;
        ScreenRect Stored;
        ScreenRect Placed;
    } cases[] = {
        {"as stored", {one}, {500, 300, 400, 350}, {500, 300, 400, 350}},
        {"largest size", {one}, {10, 20, Most, Most}, {10, 20, 1024, 740}},
        {"below the minimum", {one}, {10, 20, 0, -5}, {10, 20, 380, 338}},
        {"smallest size", {one}, {10, 20, INT32_MIN, INT32_MIN}, {10, 20, 380, 338}},
        {"a screen smaller than the minimum",
         {{0, 0, 320, 240}},
         {0, 0, 500, 500},
         {0, 0, 380, 338}},
        {"partly off the screen is kept", {one}, {-300, 700, 400, 350}, {-300, 700, 400, 350}},
        {"wholly right of the screen", {one}, {1024, 0, 400, 350}, {230, 160, 400, 350}},
        {"wholly above the screen", {one}, {0, -350, 400, 350}, {230, 160, 400, 350}},
        {"position at the ends of 32 bits",
         {one},
         {Most, INT32_MIN, Most, Most},
         {230, 160, 1024, 740}},
        {"two screens side by side span both",
         {left, one},
         {-1200, 10, 2000, Most},
         {-1200, 10, 2000, 1024}},
        {"on the second screen", {left, one}, {-900, 500, 400, 350}, {-900, 500, 400, 350}},
        {"in the corner neither screen covers",
         {left, one},
         {100, 800, 400, 200},
         {230, 160, 400, 338}},
        {"no screen to measure by", {}, {5000, 6000, Most, 1}, {5000, 6000, 380, 338}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlaceWindow(c.Stored, {c.Screens, 380, 338, defaults}), c.Placed) << c.What;
    }
}

} // namespace
} // namespace velantro::window
