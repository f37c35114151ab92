// The program started where there is no display to show its window on: one
// line saying what is wrong and what to do, status 1, no abort.

#include "support/RunProgram.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using velantro::testing::RunProgram;

namespace {

const std::string Velantro = "./velantro";
const std::string Advice =
    "run it in a desktop session, or with QT_QPA_PLATFORM=offscreen for a window nobody sees\n";

/// Sets (or, with nullopt, unsets) an environment variable for the
/// programs this test starts, and restores it afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<std::string> value)
        : Name(name) {
        if (const char* old = std::getenv(name)) {
            Old = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedVariable() { Old ? ::setenv(Name, Old->c_str(), 1) : ::unsetenv(Name); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* Name;
    std::optional<std::string> Old;
};

TEST(VelantroNoDisplay, SaysWhatIsWrongAndEndsWithStatusOne) {
    const struct {
        std::optional<std::string> Display;
        std::optional<std::string> Wayland;
        std::optional<std::string> Platform;
        std::string Line;
    } cases[] = {
        {std::nullopt, std::nullopt, std::nullopt,
         "velantro: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is "
         "set); " +
             Advice},
        {"", "", "xcb",
         "velantro: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is "
         "set); " +
             Advice},
        // A display nobody serves.
        {":4711", std::nullopt, "xcb",
         "velantro: cannot open the display \":4711\" to show the window on; " + Advice},
    };
    for (const auto& c : cases) {
        const ScopedVariable display("DISPLAY", c.Display);
        const ScopedVariable wayland("WAYLAND_DISPLAY", c.Wayland);
        const ScopedVariable platform("QT_QPA_PLATFORM", c.Platform);
        const auto result = RunProgram(Velantro, {});
        EXPECT_EQ(result.ExitCode, 1) << c.Line;
        EXPECT_EQ(result.Err, c.Line);
        EXPECT_EQ(result.Out, "");
    }
}

TEST(VelantroNoDisplay, HelpAndVersionNeedNoDisplay) {
    const ScopedVariable display("DISPLAY", std::nullopt);
    const ScopedVariable wayland("WAYLAND_DISPLAY", std::nullopt);
    const ScopedVariable platform("QT_QPA_PLATFORM", std::nullopt);
    const auto help = RunProgram(Velantro, {"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(help.Out.starts_with("Usage: velantro")) << help.Out;
    const auto version = RunProgram(Velantro, {"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_TRUE(version.Out.starts_with("velantro ")) << version.Out;
    EXPECT_EQ(help.Err + version.Err, "");
}

} // namespace
