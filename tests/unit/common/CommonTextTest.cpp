#include "common/AsciiText.h"
#include "common/IntegerText.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace velantro::common;

namespace {

TEST(HexDigitValue, ReadsBothCasesOfEveryCharacterWidthAndNothingElse) {
    for (char32_t c = 0; c < 0x200; ++c) {
        const int expected = c >= '0' && c <= '9'   ? static_cast<int>(c - '0')
                             : c >= 'a' && c <= 'f' ? static_cast<int>(c - 'a' + 10)
                             : c >= 'A' && c <= 'F' ? static_cast<int>(c - 'A' + 10)
                                                    : -1;
        EXPECT_EQ(HexDigitValue(c), expected) << static_cast<unsigned>(c);
        EXPECT_EQ(HexDigitValue(static_cast<char16_t>(c)), expected);
        // A signed byte wraps; 0x130 & 0xFF is '0' but 0xB0 must stay no digit.
        EXPECT_EQ(HexDigitValue(static_cast<char>(c)),
                  c < 0x100 ? expected : HexDigitValue(c & 0xFF));
    }
}

struct CaseCase {
    std::string Text;
    std::string Lower;
    std::string Upper;
};

TEST(AsciiCase, ChangesOnlyAsciiLetters) {
    const std::vector<CaseCase> cases = {
        {"", "", ""},
        {"Host: Example.COM", "host: example.com", "HOST: EXAMPLE.COM"},
        {"@[`{", "@[`{", "@[`{"}, // the neighbours of A-Z and a-z
        {"\xC3\x89t\xC3\xA9", "\xC3\x89t\xC3\xA9", "\xC3\x89T\xC3\xA9"}, // UTF-8 bytes stay
    };
    for (const CaseCase& c : cases) {
        EXPECT_EQ(LowerAscii(c.Text), c.Lower) << c.Text;
        EXPECT_EQ(UpperAscii(c.Text), c.Upper) << c.Text;
        EXPECT_TRUE(EqualsNoCaseAscii(c.Lower, c.Upper)) << c.Text;
    }
    EXPECT_EQ(UpperAscii(std::u16string_view(u"amp\u00E9z")), u"AMP\u00E9Z");
    EXPECT_FALSE(EqualsNoCaseAscii("path", "pat"));
    EXPECT_FALSE(EqualsNoCaseAscii("\xC3\xA9", "\xC3\x89"));
    EXPECT_TRUE(StartsWithNoCaseAscii("LOCATION: /", "location:"));
    EXPECT_FALSE(StartsWithNoCaseAscii("Loc", "location:"));
}

TEST(TrimBlanks, RemovesSpacesAndTabsAtTheEndsOnly) {
    const std::vector<std::pair<std::string_view, std::string_view>> cases = {
        {"", ""},
        {" \t ", ""},
        {"a", "a"},
        {" \ta b\t ", "a b"},
        {"\r\na\n", "\r\na\n"}, // line breaks are not blanks
    };
    for (const auto& [text, trimmed] : cases) {
        EXPECT_EQ(TrimBlanks(text), trimmed) << '"' << text << '"';
    }
    EXPECT_EQ(TrimLeadingBlanks("\t x "), "x ");
}

struct IntegerCase {
    std::string Word;
    std::optional<std::int32_t> Integer; // ReadInteger
    std::optional<std::int32_t> Decimal; // ReadDecimal
};

TEST(IntegerText, ReadsWholeWordsThatFit) {
    const std::vector<IntegerCase> cases = {
        {"0", 0, 0},
        {"-17", -17, -17},
        {"+17", 17, std::nullopt},
        {"$1f", 31, std::nullopt},
        {"x1F", 31, std::nullopt},
        {"-0X10", -16, std::nullopt},
        {"2147483647", 2147483647, 2147483647},
        {"-2147483648", INT32_MIN, INT32_MIN},
        {"2147483648", std::nullopt, std::nullopt},
        {"-0x80000000", INT32_MIN, std::nullopt},
        {"0x80000000", std::nullopt, std::nullopt},
        {"99999999999999999999", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {"0x", std::nullopt, std::nullopt},
        {" 5", std::nullopt, std::nullopt},
        {"5 ", std::nullopt, std::nullopt},
        {"0x-5", std::nullopt, std::nullopt},
        {"12g", std::nullopt, std::nullopt},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(ReadInteger(c.Word), c.Integer) << '"' << c.Word << '"';
        EXPECT_EQ(ReadDecimal(c.Word), c.Decimal) << '"' << c.Word << '"';
    }
}

TEST(IntegerText, ReadsPortsFromOneTo65535) {
    const std::vector<std::pair<std::string_view, std::optional<std::uint16_t>>> cases = {
        {"1", 1},
        {"4357", 4357},
        {"65535", 65535},
        {"0", std::nullopt},
        {"-0", std::nullopt},
        {"65536", std::nullopt},
        {"+80", std::nullopt},
        {"80 ", std::nullopt},
        {"", std::nullopt},
        {"4294967376", std::nullopt},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(ReadPort(text), port) << '"' << text << '"';
    }
}

} // namespace
