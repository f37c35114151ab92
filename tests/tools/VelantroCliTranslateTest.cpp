#include "support/RunProgram.h"

#include <gtest/gtest.h>

using velantro::testing::RunProgram;

namespace {

// Refused before any endpoint is asked, so no service needs to run.
TEST(VelantroCliTranslate, RefusesCodesAndTextsItCannotSend) {
    struct Case {
        std::string Code;
        std::string Text;
        std::string Error;
    };
    const std::string badCode =
        "CODE must be 1 (English), 2 (Bulgarian), 5 (Spanish) or 6 (French)";
    const Case cases[] = {
        {"3", "Hello", badCode + ", not \"3\""},
        {"5", "Latin-1 caf\xE9", "TEXT is not valid UTF-8"},
        // Forms the exchange's lenient decoder would let through.
        {"5", "\xC0\xA0overlong", "TEXT is not valid UTF-8"},
        {"5", "half \xED\xA0\x80 a pair", "TEXT is not valid UTF-8"},
        {"5", "\xFF\x80\x80", "TEXT is not valid UTF-8"},
        {"5", "stray \x80\x80", "TEXT is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        const auto result = RunProgram("./velantro-cli", {"translate", c.Code, c.Text});
        EXPECT_EQ(result.ExitCode, 2) << c.Error;
        EXPECT_NE(result.Err.find("velantro-cli translate: " + c.Error), std::string::npos)
            << result.Err;
        EXPECT_EQ(result.Out, "");
    }
}

} // namespace
