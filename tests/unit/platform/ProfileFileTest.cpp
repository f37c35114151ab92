// The settings file on this desktop: a write changes one value where it
// stands and keeps every other byte; reading takes the same occurrence a
// write changes.

#include "platform/ini/IniProfileFile.h"
#include "platform/ini/ProfileText.h"
#include "support/ScratchFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace velantro::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace std::chrono_literals;

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
        {"old Mac line ends (a CR alone), in place", "[General]\rLeft=5\rTop=1\r", "Left",
         "[General]\rLeft=7\rTop=1\r"},
        {"old Mac line ends, a missing key", "[General]\rTop=1\r", "Left",
         "[General]\rTop=1\rLeft=7\r"},
        {"old Mac line ends, a missing section after a last line without its end",
         "; mine\r[Other]\rx=1", "Left", "; mine\r[Other]\rx=1\r[General]\rLeft=7\r"},
        {"a CR alone inside LF lines ends a line too", "[General]\nTop=1\rLeft=5\n", "Left",
         "[General]\nTop=1\rLeft=7\n"},
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

TEST(ProfileText, SeveralEditsInOnePassAreTheEditsOneAfterTheOther) {
    const std::string texts[] = {
        "",
        Bom,
        "[General]\nLeft=1\n",
        "[General]\r\nTop=1",
        "; mine\r[Other]\rx=1",
        "[general]\nTOP=2\n[Other]\nLeft=9\n[GENERAL]\nLeft=3\n",
        "[Other]\nx=1\n[General]\nWidth=\n",
        "[General]\n[Other]\n[General]\nLeft=4",
    };
    // A key written twice, keys of a section that may be missing, and of one
    // that is missing everywhere.
    const ProfileEdit edits[] = {
        {"General", "Left", "7"}, {"Other", "Top", "8"},    {"GENERAL", "Width", "500"},
        {"New", "A", "1"},        {"general", "LEFT", "9"}, {"General", "Top", "6"},
    };
    for (const std::string& text : texts) {
        std::string oneByOne = text;
        for (const ProfileEdit& edit : edits) {
            oneByOne = WithProfileValue(oneByOne, edit.Section, edit.Key, edit.Value);
        }
        EXPECT_EQ(WithProfileValues(text, edits), oneByOne) << ::testing::PrintToString(text);
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
    ASSERT_TRUE(file.Flush());
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(Folder / "velantro.ini")));
    EXPECT_EQ(Contents(Folder / "kept" / "real.ini"), "; mine\r\n[General]\r\nLeft=5\r\n");
    EXPECT_EQ(file.ReadValue("General", "Left"), "5");
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder / "kept"), fs::directory_iterator()), 1)
        << "no temporary file is left behind";

    // A link to a file not written yet creates it where the link points.
    fs::create_symlink(Folder / "kept" / "new.ini", Folder / "dangling.ini");
    IniProfileFile dangling(Folder / "dangling.ini");
    ASSERT_TRUE(dangling.WriteValue("General", "Top", "6"));
    ASSERT_TRUE(dangling.Flush());
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
         "it is not a regular file"},
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
        EXPECT_TRUE(file.WriteValue("General", "Left", "1"));
        EXPECT_FALSE(file.Flush());
        EXPECT_EQ(file.FailureReason(), "Permission denied");
        EXPECT_EQ(Contents(path), "[General]\nLeft=5\n");
    }
}

/// Whether call returns within 5 s, run on a thread of its own. A call
/// that waits on a FIFO at path is then released by opening the FIFO for
/// writing, so that the test fails instead of hanging.
bool ReturnsAtOnce(const fs::path& path, const std::function<void()>& call) {
    std::future<void> done = std::async(std::launch::async, call);
    if (done.wait_for(5s) == std::future_status::ready) {
        done.get();
        return true;
    }
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    done.wait();
    ::close(writer);
    return false;
}

void MakeSocket(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof address.sun_path);
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(socket);
}

TEST_F(IniProfileFileTest, ASpecialFileIsNeverWaitedOnNorReplaced) {
    const struct {
        const char* Name;
        std::function<void(const fs::path&)> Make;
        fs::file_type Type;
    } cases[] = {
        {"fifo.ini", [](const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
         fs::file_type::fifo},
        {"socket.ini", MakeSocket, fs::file_type::socket},
        {"device.ini", [](const fs::path& path) { fs::create_symlink("/dev/zero", path); },
         fs::file_type::character},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path path = Folder / c.Name;
        c.Make(path);
        IniProfileFile file(path);
        std::string value = "unset";
        EXPECT_TRUE(ReturnsAtOnce(path, [&] { value = file.ReadValue("General", "Left"); }));
        EXPECT_EQ(value, "");
        bool written = true;
        EXPECT_TRUE(
            ReturnsAtOnce(path, [&] { written = file.WriteValue("General", "Left", "1"); }));
        EXPECT_FALSE(written);
        EXPECT_EQ(file.FailureReason(), "it is not a regular file");
        EXPECT_TRUE(file.Flush()) << "nothing to write";
        EXPECT_EQ(fs::status(path).type(), c.Type);
    }
}

/// The bytes this process has read and written so far, from /proc/self/io.
std::pair<long long, long long> BytesReadAndWritten() {
    std::ifstream io("/proc/self/io");
    std::pair<long long, long long> bytes{-1, -1};
    for (std::string name; io >> name;) {
        if (name == "rchar:") {
            io >> bytes.first;
        } else if (name == "wchar:") {
            io >> bytes.second;
        }
    }
    return bytes;
}

TEST_F(IniProfileFileTest, SeveralValuesCostOneReadingAndOneWritingWhateverTheSize) {
    std::string text = "; mine\n[General]\nLeft=1\n[Other]\nx=1\n";
    const std::string padding = "; " + std::string(61, 'x') + "\n";
    text.reserve(std::size_t{8} << 20);
    while (text.size() < (std::size_t{8} << 20)) {
        text += padding;
    }
    const auto size = static_cast<long long>(text.size());
    const fs::path path = Folder / "velantro.ini";
    std::ofstream(path, std::ios::binary) << text;
    const std::string keys[] = {"Receive", "Send", "Left", "Top", "Width", "Height"};

    IniProfileFile file(path);
    auto [read, written] = BytesReadAndWritten();
    for (const std::string& key : keys) {
        EXPECT_EQ(file.ReadValue("General", key), key == "Left" ? "1" : "");
    }
    file.Release();
    auto [readNow, writtenNow] = BytesReadAndWritten();
    EXPECT_GE(readNow - read, size);
    EXPECT_LT(readNow - read, 2 * size) << "the file was read more than once";

    std::vector<ProfileEdit> edits;
    for (const std::string& key : keys) {
        edits.push_back({"General", key, std::to_string(key.size())});
        ASSERT_TRUE(file.WriteValue("General", key, edits.back().Value));
    }
    EXPECT_EQ(Contents(path), text) << "written before the flush";
    std::tie(read, written) = BytesReadAndWritten();
    ASSERT_TRUE(file.Flush());
    std::tie(readNow, writtenNow) = BytesReadAndWritten();
    EXPECT_GE(writtenNow - written, size);
    EXPECT_LT(writtenNow - written, 2 * size) << "the file was written more than once";
    EXPECT_LT(readNow - read, 2 * size) << "the file was read more than once";
    EXPECT_EQ(Contents(path), WithProfileValues(text, edits));
}

} // namespace
} // namespace velantro::platform
