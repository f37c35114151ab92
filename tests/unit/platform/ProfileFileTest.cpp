// The settings file on this desktop: a write changes one value where it
// stands and keeps every other byte; reading takes the same occurrence a
// write changes.

#include "platform/ini/IniProfileFile.h"
#include "platform/ini/ProfileText.h"
#include "support/ScratchFolder.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velantro::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string Bom = "\xEF\xBB\xBF";

TEST(ProfileText, AWriteChangesOneValueAndKeepsEveryOtherByte) {
    const struct {
        const char* What;
        std::string Before;
        const char* Key;
        std::string After;
    } cases[] = {
        {"no file", "", "Left", "[General]\nLeft=7\n"},
        {"in place, blanks and spelling kept", "[general]\n  LEFT  =  3  \nTop=1\n", "Left",
         "[general]\n  LEFT  =  7  \nTop=1\n"},
        {"empty value", "[General]\nLeft=\nTop=1\n", "Left", "[General]\nLeft=7\nTop=1\n"},
        {"first of two, in a second [General] too",
         "[General]\nTop=1\n[Other]\nLeft=9\n[General]\nLeft=1\nLeft=2\n", "Left",
         "[General]\nTop=1\n[Other]\nLeft=9\n[General]\nLeft=7\nLeft=2\n"},
        {"comments, stray lines, other sections, CRLF",
         "; mine\r\n[Other]\r\nx=1\r\n\r\n[General]\r\nnot a setting\r\nTop=1\r\n# end\r\n", "Top",
         "; mine\r\n[Other]\r\nx=1\r\n\r\n[General]\r\nnot a setting\r\nTop=7\r\n# end\r\n"},
        {"missing key after the section's last key, before the next section",
         "[General]\nTop=1\n; about Other\n\n[Other]\nLeft=9\n", "Left",
         "[General]\nTop=1\nLeft=7\n; about Other\n\n[Other]\nLeft=9\n"},
        {"missing key in an empty section", "[General]\n[Other]\n", "Left",
         "[General]\nLeft=7\n[Other]\n"},
        {"missing key, last line without its line ending", "[General]\r\nTop=1", "Left",
         "[General]\r\nTop=1\r\nLeft=7\r\n"},
        {"missing section goes at the end", "; only a comment\r\n[Other]\r\nx=1", "Left",
         "; only a comment\r\n[Other]\r\nx=1\r\n[General]\r\nLeft=7\r\n"},
        {"byte order mark", Bom + "[General]\nLeft=5\n", "Left", Bom + "[General]\nLeft=7\n"},
        {"only a byte order mark", Bom, "Left", Bom + "[General]\nLeft=7\n"},
        {"a NUL byte and a broken header are just bytes", "[General]\nx\0y\n[broken\n=5\nLeft=5\n"s,
         "Left", "[General]\nx\0y\n[broken\n=5\nLeft=7\n"s},
        {"a value with a ';' is the whole value", "[General]\nLeft=5 ; mine\n", "Left",
         "[General]\nLeft=7\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithProfileValue(c.Before, "General", c.Key, "7"), c.After) << c.What;
        EXPECT_EQ(FindProfileValue(c.After, "general", c.Key), "7") << c.What;
    }
}

TEST(ProfileText, ReadsTheFirstOccurrenceOfItsOwnSection) {
    const struct {
        const char* Text;
        std::optional<std::string_view> Left;
    } cases[] = {
        {"Left=1\n[General]\nLeft = 2 \nLeft=3\n", "2"},
        {"[Other]\nLeft=1\n", std::nullopt},
        {"[General]\n;Left=1\n Left\n=4\n", std::nullopt},
        {"[ General ]\r\nleft=\t-5\r\n", "-5"},
        {"[General]\nLeft=\n", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindProfileValue(c.Text, "General", "Left"), c.Left) << c.Text;
    }
}

class IniProfileFileTest : public ::testing::Test {
protected:
    IniProfileFileTest() { fs::create_directories(Folder); }
    static std::string Contents(const fs::path& path) { return testing::FileContents(path); }
    testing::ScratchFolder Scratch{"velantro-profile-"};
    const fs::path Folder = Scratch.Path;
};

TEST_F(IniProfileFileTest, ALinkIsWrittenThroughAndStaysALink) {
    fs::create_directories(Folder / "kept");
    std::ofstream(Folder / "kept" / "real.ini", std::ios::binary) << "; mine\r\n[General]\r\n";
    fs::create_symlink("kept/real.ini", Folder / "velantro.ini");
    IniProfileFile file(Folder / "velantro.ini");
    ASSERT_TRUE(file.WriteValue("General", "Left", "5"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(Folder / "velantro.ini")));
    EXPECT_EQ(Contents(Folder / "kept" / "real.ini"), "; mine\r\n[General]\r\nLeft=5\r\n");
    EXPECT_EQ(file.ReadValue("General", "Left"), "5");
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder / "kept"), fs::directory_iterator()), 1)
        << "no temporary file is left behind";

    // A link to a file not written yet creates it where the link points.
    fs::create_symlink(Folder / "kept" / "new.ini", Folder / "dangling.ini");
    ASSERT_TRUE(IniProfileFile(Folder / "dangling.ini").WriteValue("General", "Top", "6"));
    EXPECT_EQ(Contents(Folder / "kept" / "new.ini"), "[General]\nTop=6\n");
}

TEST_F(IniProfileFileTest, AFailedWriteSaysWhyAndLeavesTheFile) {
    const struct {
        const char* What;
        std::function<fs::path(const fs::path&)> Prepare;
        std::string Reason;
    } cases[] = {
        {"a folder where the file should be",
         [](const fs::path& folder) {
             fs::create_directory(folder / "velantro.ini");
             return folder / "velantro.ini";
         },
         "Is a directory"},
        // Opened without blocking: with nobody writing, a blocking open would
        // never return.
        {"a FIFO where the file should be",
         [](const fs::path& folder) {
             ::mkfifo((folder / "fifo.ini").c_str(), 0600);
             return folder / "fifo.ini";
         },
         "Invalid argument"},
        {"a link that loops",
         [](const fs::path& folder) {
             fs::create_symlink("loop.ini", folder / "loop.ini");
             return folder / "loop.ini";
         },
         "Too many levels of symbolic links"},
    };
    for (const auto& c : cases) {
        const fs::path path = c.Prepare(Folder);
        IniProfileFile file(path);
        EXPECT_FALSE(file.WriteValue("General", "Left", "1")) << c.What;
        EXPECT_EQ(file.FailureReason(), c.Reason) << c.What;
        EXPECT_EQ(file.ReadValue("General", "Left"), "") << c.What;
    }
    if (::geteuid() != 0) { // root writes anywhere
        const fs::path path = Folder / "velantro.ini";
        fs::remove(path);
        std::ofstream(path) << "[General]\nLeft=5\n";
        fs::permissions(Folder, fs::perms::owner_read | fs::perms::owner_exec);
        IniProfileFile file(path);
        EXPECT_FALSE(file.WriteValue("General", "Left", "1"));
        EXPECT_EQ(file.FailureReason(), "Permission denied");
        EXPECT_EQ(Contents(path), "[General]\nLeft=5\n");
    }
}

} // namespace
} // namespace velantro::platform
