// Settings: how a value's text becomes a number, and the INI file the
// numbers live in on this desktop.

#include "window/Settings.h"

#include "platform/ini/IniProfileFile.h"
#include "support/ScratchFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace velantro::window {
namespace {

namespace fs = std::filesystem;

TEST(ReadSettingsInteger, AcceptsDecimalAndHexFormsAndFallsBackOnAnythingElse) {
    const struct {
        const char* Text;
        std::int32_t Expected;
    } cases[] = {
        {"3", 3},
        {"-1", -1},
        {"+12", 12},
        {"0x3", 3},
        {"0X1f", 31},
        {"$3", 3},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", 99},
        {"$80000000", 99},
        {"0x", 99},
        {"abc", 99},
        {"", 99},
        {"3x", 99},
        {"1 2", 99},
        {"$", 99},
        {"x3", 99},
        {"0xx3", 99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadSettingsInteger(c.Text, 99), c.Expected) << '"' << c.Text << '"';
    }
}

class IniFileTest : public ::testing::Test {
protected:
    static std::string Contents(const fs::path& path) { return testing::FileContents(path); }
    testing::ScratchFolder Scratch{"velantro-ini-"};
    const fs::path Folder = Scratch.Path;
};

TEST_F(IniFileTest, KeysAreRewrittenInPlaceAndEveryOtherLineSurvives) {
    fs::create_directories(Folder);
    const fs::path path = Folder / "velantro.ini";
    std::ofstream(path)
        << "; kept comment\n[Other]\nReceive=9\n\n[general]\n  receive  =  3  \nWidth=1\n";
    platform::IniProfileFile file(path);
    TSettings settings(file);
    EXPECT_EQ(settings.ReadInteger("General", "Receive", 0), 3);
    EXPECT_EQ(settings.ReadInteger("GENERAL", "Missing", 7), 7);
    settings.WriteInteger("General", "Receive", -1);
    settings.WriteInteger("General", "Height", 350);
    settings.Close();

    const std::string text = Contents(path);
    EXPECT_NE(text.find("; kept comment"), std::string::npos) << text;
    EXPECT_NE(text.find("[Other]\nReceive=9"), std::string::npos) << text;
    EXPECT_LT(text.find("-1"), text.find("Width")) << "rewritten where it stood:\n" << text;
    platform::IniProfileFile again(path);
    EXPECT_EQ(TSettings(again).ReadInteger("General", "Receive", 0), -1);
    EXPECT_EQ(TSettings(again).ReadInteger("General", "Height", 0), 350);
}

TEST_F(IniFileTest, TheFolderIsCreatedAndAFailedWriteNamesTheFile) {
    const fs::path path = Folder / "deeper" / "velantro.ini";
    platform::IniProfileFile file(path);
    TSettings settings(file);
    EXPECT_EQ(settings.ReadInteger("General", "Left", 230), 230);
    settings.WriteInteger("General", "Left", 500);
    EXPECT_FALSE(fs::exists(path)) << "written before Close";
    settings.Close();
    EXPECT_EQ(platform::IniProfileFile(path).ReadValue("general", "LEFT"), "500");

    // A folder where the file should be is never replaced.
    fs::remove(path);
    fs::create_directory(path);
    try {
        settings.WriteInteger("General", "Left", 1);
        ADD_FAILURE() << "the write succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Unable to write to " + path.string() + ": Is a directory");
    }
    EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(IniFileTest, LinesThatAreNoSettingsNeitherStopAWriteNorAreLost) {
    fs::create_directories(Folder);
    const fs::path path = Folder / "velantro.ini";
    const std::string cases[] = {
        std::string("[General]\nLeft=5\n\0garbage after a NUL\n", 38),
        "a line that is no setting\n[General]\nLeft=5\n",
        "[General]\nLeft=5\n[broken\n",
        "[General]\nLeft=5\n=5\n",
        "\xEF\xBB\xBF[General]\n  Left = 5\r\n\t\n",
    };
    for (const std::string& before : cases) {
        std::ofstream(path, std::ios::binary) << before;
        platform::IniProfileFile file(path);
        EXPECT_EQ(TSettings(file).ReadInteger("General", "Left", 0), 5) << before;
        EXPECT_TRUE(file.WriteValue("General", "Left", "6")) << before;
        EXPECT_TRUE(file.Flush()) << before;
        EXPECT_EQ(TSettings(file).ReadInteger("General", "Left", 0), 6) << before;
        std::string after = before;
        after[after.find('5')] = '6';
        EXPECT_EQ(Contents(path), after);
    }
}

} // namespace
} // namespace velantro::window
