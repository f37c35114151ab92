// Every program answers --help, -h and help with its usage and --version
// with the project's release, each with exit status 0, so that help2man, a
// package's users and scripts can rely on them.

#include "support/RunProgram.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>

using velantro::testing::RunProgram;

namespace {

const char* const Programs[] = {"velantro", "velantro-cli", "skype-peer", "translator"};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return text;
}

} // namespace

TEST(ProgramOptions, HelpPrintsTheUsageAndSucceeds) {
    for (const std::string program : Programs) {
        for (const std::string request : {"--help", "-h", "help"}) {
            SCOPED_TRACE(program + " " + request);
            const auto result = RunProgram("./" + program, {request});
            EXPECT_EQ(result.ExitCode, 0) << result.Err;
            EXPECT_TRUE(Lowered(result.Out).starts_with("usage: " + program)) << result.Out;
            EXPECT_EQ(result.Err, "");
        }
    }
}

TEST(ProgramOptions, VersionNamesTheReleaseAndTheCaption) {
    for (const std::string program : Programs) {
        SCOPED_TRACE(program);
        const auto result = RunProgram("./" + program, {"--version"});
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(FirstLine(result.Out), program + " " + VELANTRO_VERSION);
        // A line relating the release to the window's fixed caption, then
        // the copyright and the licence.
        std::istringstream lines(result.Out.substr(result.Out.find('\n') + 1));
        std::string caption, copyright, warranty, extra;
        std::getline(lines, caption);
        std::getline(lines, copyright);
        std::getline(lines, warranty);
        EXPECT_NE(caption.find("\"Velantro 1.0:01\""), std::string::npos) << result.Out;
        EXPECT_NE(copyright.find("License GPL-3.0-or-later"), std::string::npos) << result.Out;
        EXPECT_NE(warranty.find("NO WARRANTY"), std::string::npos) << result.Out;
        EXPECT_FALSE(std::getline(lines, extra)) << result.Out;
    }
}

TEST(ProgramOptions, UnknownCommandIsStillRefused) {
    const auto result = RunProgram("./velantro-cli", {"helpme"});
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Err.find("unknown command \"helpme\""), std::string::npos) << result.Err;
}
