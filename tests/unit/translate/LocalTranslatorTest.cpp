#include "translate/LocalTranslator.h"

#include "TitleListWindows.h"

#include <gtest/gtest.h>

namespace velantro::translate {
namespace {

using testing::TitleListWindows;

TEST(LocalTranslatorRunning, DecidesByTitle) {
    struct Case {
        std::string Title;
        bool Qualifies;
    };
    const Case cases[] = {
        {"Tolvane Verbatrix 3.", true},
        {"Tolvane Verbatrix 3.5 - English", true},
        {"Tolvane Verbatrix 3.9 - Bulgarian", true},
        {"Tolvane Verbatrix 3.5 (2)", false},
        {"Tolvane Verbatrix 3.5 (", false},
        {"Tolvane Verbatrix 3.5 )", false},
        {"tolvane verbatrix 3.5", false},
        {"Tolvane Verbatrix 4.0", false},
        {" Tolvane Verbatrix 3.5", false},
        {"Tolvane Verbatrix 3", false}, // shorter than the prefix
        {"", false},
        // Only the title up to its first NUL counts.
        {std::string("Tolvane Verbatrix 3.5\0(x)", 25), true},
        {std::string("Tolvane Verb\0atrix 3.5", 22), false},
        // Parentheses beyond the 254 characters read do not count.
        {"Tolvane Verbatrix 3." + std::string(234, 'x') + "(", true},
        {"Tolvane Verbatrix 3." + std::string(233, 'x') + "(", false},
    };
    for (const Case& c : cases) {
        TitleListWindows windows;
        windows.Titles = {"Desktop", c.Title};
        EXPECT_EQ(LocalTranslatorRunning(windows), c.Qualifies)
            << ::testing::PrintToString(c.Title);
    }
}

TEST(LocalTranslatorRunning, StopsAtTheFirstQualifyingWindow) {
    TitleListWindows windows;
    windows.Titles = {"Tolvane Verbatrix 3.5 (1)", "Tolvane Verbatrix 3.9 - English", "Other"};
    EXPECT_TRUE(LocalTranslatorRunning(windows));
    EXPECT_EQ(windows.TitlesRead, 2);
}

TEST(LocalTranslatorRunning, ExaminesTheLastWindowOfAlongList) {
    TitleListWindows windows;
    windows.Titles.assign(6000, "Some window");
    windows.Titles.back() = "Tolvane Verbatrix 3.1";
    EXPECT_TRUE(LocalTranslatorRunning(windows));
}

TEST(LocalTranslatorRunning, FailuresCountAsAbsent) {
    TitleListWindows failing;
    failing.Titles = {"Tolvane Verbatrix 3.9 - English"};
    failing.FailEnumeration = true;
    EXPECT_FALSE(LocalTranslatorRunning(failing));

    TitleListWindows throwing;
    throwing.Titles = {"Tolvane Verbatrix 3.9 - English"};
    throwing.ThrowOnRead = true;
    EXPECT_FALSE(LocalTranslatorRunning(throwing));

    TitleListWindows empty;
    EXPECT_FALSE(LocalTranslatorRunning(empty));
}

TEST(LocalTranslatorRunning, FollowsTheProgramAsItStartsAndStops) {
    TitleListWindows windows;
    windows.Titles = {"Editor"};
    EXPECT_FALSE(LocalTranslatorRunning(windows));
    windows.Titles.push_back("Tolvane Verbatrix 3.9 - English");
    EXPECT_TRUE(LocalTranslatorRunning(windows));
    windows.Titles.pop_back();
    EXPECT_FALSE(LocalTranslatorRunning(windows));
}

} // namespace
} // namespace velantro::translate
