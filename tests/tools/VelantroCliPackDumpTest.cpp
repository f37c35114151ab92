#include "support/RunProgram.h"
#include "unit/localise/MaskedFile.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using velantro::testing::RunProgram;
using velantro::testing::TempFolder;

namespace {

const std::string Cli = "./velantro-cli";

// Latin-1 letters below U+00C0, quotes, blanks and ";" inside quotes, and
// Bulgarian in Cyrillic.
const std::string Source = "MainForm.l_Translate_To;1;\"Receive in:\"\n"
                           "MainForm.btnSend;2;\"Изпрати\"\r\n"
                           "MainForm.l_in;5;\"say \"\"¡hola!\"\"; ok\"\n"
                           "MainForm.l_Send_To;6;\"Pour\"";

const std::string Listing = "MainForm.l_Translate_To\t1\tReceive in:\n"
                            "MainForm.btnSend\t2\tИзпрати\n"
                            "MainForm.l_in\t5\tsay \"¡hola!\"; ok\n"
                            "MainForm.l_Send_To\t6\tPour\n";

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(VelantroCliPackDump, RoundTripInEveryFileForm) {
    TempFolder folder;
    WriteFile(folder / "source.txt", Source);
    const std::vector<std::vector<std::string>> forms = {
        {}, {"--stored"}, {"--members", "3"}, {"--members", "200"}};
    for (const auto& options : forms) {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back((folder / "source.txt").string());
        args.push_back((folder / "out.dat").string());
        const auto packed = RunProgram(Cli, args);
        ASSERT_EQ(packed.ExitCode, 0) << packed.Err;
        EXPECT_NE(packed.Out.find("packed 4 entries"), std::string::npos) << packed.Out;

        const auto dumped = RunProgram(Cli, {"dump", (folder / "out.dat").string()});
        EXPECT_EQ(dumped.ExitCode, 0) << dumped.Err;
        EXPECT_EQ(dumped.Out, Listing) << ::testing::PrintToString(options);
        EXPECT_EQ(dumped.Err, "");
    }
}

TEST(VelantroCliPackDump, FileFormsDiffer) {
    TempFolder folder;
    WriteFile(folder / "source.txt", Source);
    const auto pack = [&](std::vector<std::string> options) {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back((folder / "source.txt").string());
        args.push_back((folder / "out.dat").string());
        EXPECT_EQ(RunProgram(Cli, args).ExitCode, 0);
        std::ifstream in(folder / "out.dat", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string compressed = pack({});
    const std::string stored = pack({"--stored"});
    const std::string members = pack({"--members", "2"});
    // The first byte is never masked: a gzip member starts with 0x1F, a
    // stored file with the low byte of Count.
    ASSERT_FALSE(compressed.empty());
    EXPECT_EQ(compressed[0], '\x1F');
    EXPECT_EQ(members[0], '\x1F');
    EXPECT_NE(stored[0], '\x1F');
    EXPECT_NE(compressed, members);
    // Packing is deterministic.
    EXPECT_EQ(pack({}), compressed);
}

TEST(VelantroCliPackDump, PackRefusesBadSources) {
    TempFolder folder;
    struct Case {
        std::string Source;
        std::string Error;
    };
    const Case cases[] = {
        {"A;1;a\nB;6;\"À\"\n", ":2: character U+00C0 has no form in the interface file"},
        {"A;1;a\nA;1;a\nB;2;\"Ёж\"", ":3: character U+0401 has no form"},
        {"A;1;\xC3\n", ":1: not valid UTF-8"},
        {"A;1;a\n\nB;2;b\n", ":2: List index out of bounds (0)"},
        {"A;1;a\nB;en;b", ":2: 'en' is not a valid integer value"},
        {std::string("A;1;a\nB;2;\0b", 12), ":2: a zero byte would end the text there"},
    };
    for (const Case& c : cases) {
        WriteFile(folder / "bad.txt", c.Source);
        const auto result =
            RunProgram(Cli, {"pack", (folder / "bad.txt").string(), (folder / "bad.dat").string()});
        EXPECT_EQ(result.ExitCode, 1) << c.Error;
        EXPECT_NE(result.Err.find("bad.txt" + c.Error), std::string::npos) << result.Err;
        EXPECT_FALSE(std::filesystem::exists(folder / "bad.dat")) << c.Error;
    }
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(VelantroCliPackDump, PackRefusesWhatItMustNotReplace) {
    namespace fs = std::filesystem;
    TempFolder folder;
    WriteFile(folder / "source.txt", Source);
    std::string tooMany;
    for (int i = 0; i <= 65536; ++i) {
        tooMany += "A;1;a\n";
    }
    WriteFile(folder / "big.txt", tooMany);
    WriteFile(folder / "old.dat", "old");
    fs::create_directory(folder / "folder");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const std::set<std::string> before = Names(folder.Path);
    struct Case {
        std::string Source;
        std::string Output;
        std::string Error;
    };
    const Case cases[] = {
        {"source.txt", "folder", "folder exists and is not a regular file"},
        {"source.txt", "fifo", "fifo exists and is not a regular file"},
        {"folder", "new.dat", "folder: it is a folder"},
        // The check that the file loads back comes before it replaces OUTPUT.
        {"big.txt", "old.dat", "over the limit of 65536 entries"},
    };
    for (const Case& c : cases) {
        const auto result =
            RunProgram(Cli, {"pack", (folder / c.Source).string(), (folder / c.Output).string()});
        EXPECT_EQ(result.ExitCode, 1) << c.Error;
        EXPECT_NE(result.Err.find(c.Error), std::string::npos) << result.Err;
    }
    EXPECT_EQ(Names(folder.Path), before);
    EXPECT_EQ(ReadFile(folder / "old.dat"), "old");
    EXPECT_TRUE(fs::is_directory(folder / "folder"));
    EXPECT_TRUE(fs::is_fifo(folder / "fifo"));
}

TEST(VelantroCliPackDump, PackReplacesTheLinkedFileAndLeavesOthersAlone) {
    namespace fs = std::filesystem;
    TempFolder folder;
    WriteFile(folder / "source.txt", Source);
    WriteFile(folder / "out.dat", "old");
    fs::permissions(folder / "out.dat",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("out.dat", folder / "link.dat");
    // Names an older packer used for its temporary file.
    WriteFile(folder / "out.dat.tmp", "mine");
    fs::create_directory(folder / "link.dat.tmp");
    const std::set<std::string> before = Names(folder.Path);

    const auto result =
        RunProgram(Cli, {"pack", (folder / "source.txt").string(), (folder / "link.dat").string()});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(RunProgram(Cli, {"dump", (folder / "out.dat").string()}).Out, Listing);
    EXPECT_TRUE(fs::is_symlink(folder / "link.dat"));
    EXPECT_EQ(fs::status(folder / "out.dat").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ReadFile(folder / "out.dat.tmp"), "mine");
    EXPECT_EQ(Names(folder.Path), before);
}

TEST(VelantroCliPackDump, PackUsageErrors) {
    TempFolder folder;
    const std::vector<std::vector<std::string>> cases = {
        {"pack"},
        {"pack", "only-one"},
        {"pack", "--members", "0", "a", "b"},
        {"pack", "--members", "x", "a", "b"},
    };
    for (const auto& args : cases) {
        EXPECT_EQ(RunProgram(Cli, args).ExitCode, 2) << ::testing::PrintToString(args);
    }
    const auto missing =
        RunProgram(Cli, {"pack", (folder / "none.txt").string(), (folder / "x.dat").string()});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find("cannot read"), std::string::npos);
}

TEST(VelantroCliPackDump, DumpPrintsThePartialTableOfABadFile) {
    TempFolder folder;
    // Made by hand: the packer refuses such a text.
    velantro::testing::WriteMasked(folder / "bad.dat",
                                   velantro::testing::Payload("A;1;\xC0\xFF\nK;en;x\nB;2;b"));
    const auto result = RunProgram(Cli, {"dump", (folder / "bad.dat").string()});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Out, "A\t1\tАя\nK\t0\t\n\t0\t\n");
    EXPECT_EQ(result.Err, "LoadTranslations:'en' is not a valid integer value\n");
}

TEST(VelantroCliPackDump, DumpRefusesWhatItCannotRead) {
    TempFolder folder;
    struct Case {
        std::string Path;
        std::string Error;
    };
    const Case cases[] = {
        {"no-such-file.dat", "cannot open no-such-file.dat"},
        {folder.Path.string(), folder.Path.string() + ": it is a folder"},
    };
    for (const Case& c : cases) {
        const auto result = RunProgram(Cli, {"dump", c.Path});
        EXPECT_EQ(result.ExitCode, 1) << c.Path;
        EXPECT_EQ(result.Out, "") << c.Path;
        EXPECT_NE(result.Err.find(c.Error), std::string::npos) << result.Err;
    }
}

TEST(VelantroCliPackDump, DumpOfTheShippedFile) {
    const auto result = RunProgram(Cli, {"dump", "vlintf.dat"});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_NE(result.Out.find("MainForm.btnSend\t2\tИзпрати\n"), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("MainForm.l_Translate_To\t1\tReceive in:\n"), std::string::npos);
}

} // namespace
