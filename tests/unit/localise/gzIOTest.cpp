#include "localise/gzIO.h"

#include "unit/localise/MaskedFile.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace velantro::localise {
namespace {

using namespace velantro::testing;

struct ReadResult {
    std::string Bytes;
    int Last = 0; // the result of the read that ended the loop: 0 or negative
    int Close = 0;
};

/// Reads the whole file in requests of chunk bytes.
ReadResult ReadAll(const std::filesystem::path& path, unsigned chunk) {
    ReadResult result;
    auto file = MaskedGzOpen(path.string(), "r");
    if (!file) {
        result.Last = -100;
        return result;
    }
    std::string buffer(chunk, '\0');
    for (;;) {
        const int got = MaskedGzRead(file.get(), buffer.data(), chunk);
        if (got <= 0) {
            result.Last = got;
            break;
        }
        result.Bytes.append(buffer, 0, static_cast<std::size_t>(got));
    }
    result.Close = MaskedGzClose(std::move(file));
    return result;
}

TEST(MaskByte, FollowsTheSignedWrappingProduct) {
    struct Case {
        std::uint64_t Offset;
        std::uint8_t Mask;
    };
    // 3475 is the first offset whose product wraps negative; 2^31 gives
    // INT32_MIN itself.
    const Case cases[] = {{0, 0x00},      {1, 0x9B},           {2, 0x36},
                          {3474, 0xF8},   {3475, 0xD6},        {3476, 0x9C},
                          {100000, 0x7C}, {2147483648u, 0x0C}, {4294967295u, 0x65}};
    for (const Case& c : cases) {
        EXPECT_EQ(int{MaskByte(c.Offset)}, int{c.Mask}) << "offset " << c.Offset;
        unsigned char byte = 0;
        ApplyMask(&byte, 1, c.Offset);
        EXPECT_EQ(int{byte}, int{c.Mask}) << "offset " << c.Offset;
    }
}

TEST(MaskByte, ApplyMaskSteppedMatchesEachOffset) {
    std::string bytes(5000, '\0');
    ApplyMask(bytes.data(), bytes.size(), 1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_EQ(static_cast<std::uint8_t>(bytes[i]), MaskByte(1000 + i)) << "offset " << 1000 + i;
    }
}

class MaskedGzReadTest : public ::testing::Test {
protected:
    std::filesystem::path Write(std::string bytes) {
        const auto path = Folder / "file.dat";
        WriteMasked(path, std::move(bytes));
        return path;
    }
    TempFolder Folder;
};

TEST_F(MaskedGzReadTest, HeaderOptionalPartsAreSkipped) {
    const std::string data = "MainForm.btnSend;1;\"Send\"\r\n";
    struct Case {
        const char* Name;
        GzHeader Header;
    };
    const GzHeader plain;
    const Case cases[] = {
        {"plain", plain},
        {"extra", plain.WithExtra("ab")},
        {"empty extra", plain.WithExtra("")},
        {"name", plain.WithName("vlintf.txt")},
        {"comment", plain.WithComment("c")},
        {"header crc", plain.WithHeaderCrc()},
        // XLEN above 255 needs both length bytes; FTEXT (bit 0) is allowed.
        {"all of them", plain.WithExtra(std::string(300, 'x'))
                            .WithName("vlintf.txt")
                            .WithComment("interface texts")
                            .WithHeaderCrc()
                            .WithFlags(0x01)},
    };
    for (const Case& c : cases) {
        const auto path = Write(Member(data, c.Header));
        for (const unsigned chunk : {1u, 7u, 4096u}) {
            const auto result = ReadAll(path, chunk);
            EXPECT_EQ(result.Bytes, data) << c.Name << ", chunk " << chunk;
            EXPECT_EQ(result.Last, 0) << c.Name;
            EXPECT_EQ(result.Close, 0) << c.Name;
        }
    }
}

TEST_F(MaskedGzReadTest, WhatFollowsAMember) {
    struct Case {
        const char* Name;
        std::string File;
        std::string Payload;
    };
    const Case cases[] = {
        {"two members", Member("first ") + CompressedMember("second"), "first second"},
        {"an empty member between", Member("a") + Member("") + Member("b"), "ab"},
        {"stored bytes after a member", Member("gz") + "tail bytes", "gztail bytes"},
        {"a lone 0x1F after a member", Member("gz") + "\x1F", "gz\x1F"},
        {"0x1F 0x8C after a member", Member("gz") + "\x1F\x8C!", "gz\x1F\x8C!"},
    };
    for (const Case& c : cases) {
        const auto path = Write(c.File);
        for (const unsigned chunk : {1u, 3u, 100u}) {
            const auto result = ReadAll(path, chunk);
            EXPECT_EQ(result.Bytes, c.Payload) << c.Name << ", chunk " << chunk;
            EXPECT_EQ(result.Last, 0) << c.Name;
        }
    }
}

TEST_F(MaskedGzReadTest, StoredFiles) {
    std::string large(40000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 7 + i / 256);
    }
    large[0] = 'L';
    const std::string cases[] = {"",   "A", "\x1F", "\x1F\x8C", std::string("\x05\0\0\0hello", 9),
                                 large};
    for (const std::string& stored : cases) {
        const auto path = Write(stored);
        for (const unsigned chunk : {1u, 1000u, 16384u, 65536u}) {
            const auto result = ReadAll(path, chunk);
            EXPECT_EQ(result.Bytes, stored) << stored.size() << " bytes, chunk " << chunk;
            EXPECT_EQ(result.Last, 0);
            EXPECT_EQ(result.Close, 0);
        }
    }
}

// Members sized so that the next member's magic, header or the first
// member's trailer straddle the end of the 16,384-byte input buffer.
TEST_F(MaskedGzReadTest, HeadersAndTrailersAcrossBufferRefills) {
    // A member of n data bytes in one stored block takes 10 + 5 + n + 8 bytes.
    for (const std::size_t ends : {16380u, 16383u, 16384u, 16385u, 16378u}) {
        const std::string first(ends - 23, 'f');
        const std::string second = "second member";
        const auto path = Write(Member(first) + Member(second, GzHeader{}.WithName("name")));
        for (const unsigned chunk : {1u, 5000u, 70000u}) {
            const auto result = ReadAll(path, chunk);
            EXPECT_EQ(result.Bytes, first + second)
                << "first ends at " << ends << ", chunk " << chunk;
            EXPECT_EQ(result.Last, 0);
        }
    }
}

TEST_F(MaskedGzReadTest, LargeCompressedMembers) {
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) {
        text += "Form" + std::to_string(i % 97) + ".Label" + std::to_string(i * 31 % 1009) + ";" +
                std::to_string(i % 7) + ";\"text " + std::to_string(i * i) + "\"\r\n";
    }
    const std::string_view view = text;
    const auto path =
        Write(CompressedMember(view.substr(0, 100000)) + CompressedMember(view.substr(100000)));
    for (const unsigned chunk : {999u, 16384u, 1000000u}) {
        EXPECT_EQ(ReadAll(path, chunk).Bytes, text) << "chunk " << chunk;
    }
}

TEST_F(MaskedGzReadTest, DataErrors) {
    const std::string data = "payload";
    std::string badCrc = Member(data);
    badCrc[badCrc.size() - 8] ^= 1;
    std::string badSize = Member(data);
    badSize[badSize.size() - 4] ^= 1;
    const std::string member = Member(data);
    const std::string named = GzHeader{}.WithName("name").Bytes();
    const std::string unterminatedName = named.substr(0, named.size() - 1);
    struct Case {
        const char* Name;
        std::string File;
        std::string Delivered;
    };
    const Case cases[] = {
        {"CM 7", Member(data, GzHeader{}.WithMethod(7)), ""},
        {"FLG bit 5", Member(data, GzHeader{}.WithFlags(0x20)), ""},
        {"FLG bit 6", Member(data, GzHeader{}.WithFlags(0x40)), ""},
        {"FLG bit 7", Member(data, GzHeader{}.WithFlags(0x80)), ""},
        {"second member with a bad CM", member + Member(data, GzHeader{}.WithMethod(0)), data},
        {"CRC mismatch", badCrc, data},
        {"ISIZE mismatch", badSize, data},
        {"file ends after FLG", "\x1F\x8B\x08\x00", ""},
        {"file ends inside the name", unterminatedName, ""},
        {"file ends inside the data", member.substr(0, 10 + 5 + 3), "pay"},
        {"file ends inside the trailer", member.substr(0, member.size() - 2), data},
        {"bad deflate block type", GzHeader{}.Bytes() + "\x07\x00\x00", ""},
    };
    for (const Case& c : cases) {
        const auto path = Write(c.File);
        for (const unsigned chunk : {1u, 4096u}) {
            auto file = MaskedGzOpen(path.string(), "r");
            ASSERT_TRUE(file) << c.Name;
            std::string delivered;
            std::string buffer(chunk, '\0');
            int got = 0;
            while ((got = MaskedGzRead(file.get(), buffer.data(), chunk)) > 0) {
                delivered.append(buffer, 0, static_cast<std::size_t>(got));
            }
            EXPECT_EQ(got, -1) << c.Name << ", chunk " << chunk;
            EXPECT_EQ(delivered, c.Delivered) << c.Name << ", chunk " << chunk;
            EXPECT_EQ(MaskedGzRead(file.get(), buffer.data(), chunk), -1) << c.Name;
            EXPECT_EQ(MaskedGzClose(std::move(file)), Z_DATA_ERROR) << c.Name;
        }
    }
}

TEST_F(MaskedGzReadTest, OpenRefusals) {
    const auto path = Write(Member("x"));
    const std::string existing = path.string();
    struct Case {
        std::string Path;
        std::string Mode;
    };
    const Case cases[] = {
        {"", "r"},
        {existing, ""},
        {existing, "w"},
        {existing, "a"},
        {existing, "rw"},
        {existing, "b"},
        {(Folder / "missing.dat").string(), "r"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(MaskedGzOpen(c.Path, c.Mode)) << "\"" << c.Path << "\" \"" << c.Mode << "\"";
    }
    EXPECT_TRUE(MaskedGzOpen(existing, "rb"));
    // Refusing "w" must not have truncated the file.
    EXPECT_EQ(ReadAll(path, 10).Bytes, "x");
}

TEST_F(MaskedGzReadTest, NoHandle) {
    char buffer[4];
    EXPECT_EQ(MaskedGzRead(nullptr, buffer, sizeof buffer), -2);
    EXPECT_EQ(MaskedGzClose(nullptr), -2);
}

TEST_F(MaskedGzReadTest, ReadErrorOnAFolder) {
    // A folder opens on POSIX systems but every read of it fails.
    auto file = MaskedGzOpen(Folder.Path.string(), "r");
    if (!file) {
        GTEST_SKIP() << "this system does not open folders as files";
    }
    char buffer[4];
    EXPECT_EQ(MaskedGzRead(file.get(), buffer, sizeof buffer), -1);
    EXPECT_EQ(MaskedGzClose(std::move(file)), Z_ERRNO);
}

} // namespace
} // namespace velantro::localise
