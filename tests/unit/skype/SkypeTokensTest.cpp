#include "skype/SkypeTokens.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>

using namespace velantro::skype;

namespace {

struct TokenCase {
    std::string Text;
    std::string Delimiters;
    std::string Word;
    std::string Rest;
};

std::ostream& operator<<(std::ostream& out, const TokenCase& c) {
    return out << '"' << c.Text << "\" cut at \"" << c.Delimiters << '"';
}

class NextTokenTest : public testing::TestWithParam<TokenCase> {};

TDelimiters DelimitersOf(const std::string& bytes) {
    return bytes.size() == 1 ? TDelimiters(bytes[0]) : TDelimiters(bytes[0], bytes[1]);
}

} // namespace

TEST_P(NextTokenTest, CutsTheFirstWord) {
    const auto& c = GetParam();
    std::string_view view = c.Text;
    EXPECT_EQ(NextToken(view, DelimitersOf(c.Delimiters)), c.Word);
    EXPECT_EQ(view, c.Rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextTokenTest,
    testing::Values(TokenCase{"", " ", "", ""}, TokenCase{"   ", " ", "", ""},
                    TokenCase{"word", " ", "word", ""},
                    TokenCase{"   lead  rest of  it  ", " ", "lead", "rest of  it  "},
                    TokenCase{"a\tb c", " ", "a\tb", "c"}, TokenCase{"x\r\n", " ", "x\r\n", ""},
                    TokenCase{", ,alice, bob", " ,", "alice", "bob"},
                    TokenCase{"alice,,,", " ,", "alice", ""}, TokenCase{" ,, ", " ,", "", ""}));

namespace {

struct IntegerCase {
    std::string Word;
    std::optional<std::int32_t> Value;
};

std::ostream& operator<<(std::ostream& out, const IntegerCase& c) {
    return out << '"' << c.Word << '"';
}

class ReadIntegerTest : public testing::TestWithParam<IntegerCase> {};

} // namespace

TEST_P(ReadIntegerTest, ReadsTheForms) {
    EXPECT_EQ(ReadInteger(GetParam().Word), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReadIntegerTest,
    testing::Values(IntegerCase{"1234", 1234}, IntegerCase{"0", 0}, IntegerCase{"007", 7},
                    IntegerCase{"-5", -5}, IntegerCase{"+7", 7}, IntegerCase{"$1F", 31},
                    IntegerCase{"x1F", 31}, IntegerCase{"X1f", 31}, IntegerCase{"0x1F", 31},
                    IntegerCase{"0X1F", 31}, IntegerCase{"-$10", -16},
                    IntegerCase{"2147483647", 2147483647},
                    IntegerCase{"-2147483648", -2147483647 - 1},
                    IntegerCase{"$7FFFFFFF", 2147483647}, IntegerCase{"999999999", 999999999},
                    IntegerCase{"-999999999", -999999999}, IntegerCase{"0000000001", 1}));

INSTANTIATE_TEST_SUITE_P(
    NotIntegers, ReadIntegerTest,
    testing::Values(IntegerCase{"", std::nullopt}, IntegerCase{"-", std::nullopt},
                    IntegerCase{"+", std::nullopt}, IntegerCase{"$", std::nullopt},
                    IntegerCase{"0x", std::nullopt}, IntegerCase{"abc", std::nullopt},
                    IntegerCase{"12a", std::nullopt}, IntegerCase{"12345678a", std::nullopt},
                    IntegerCase{"1F", std::nullopt}, IntegerCase{" 1", std::nullopt},
                    IntegerCase{"1 ", std::nullopt}, IntegerCase{"--1", std::nullopt},
                    IntegerCase{"2147483648", std::nullopt},
                    IntegerCase{"-2147483649", std::nullopt},
                    IntegerCase{"$80000000", std::nullopt},
                    IntegerCase{"99999999999999999999", std::nullopt}));

namespace {

/// The word cutting rule, written as plainly as possible.
std::string_view ReferenceNextToken(std::string_view& text, std::string_view delimiters) {
    const auto isDelimiter = [&](char c) {
        return delimiters.find(c) != std::string_view::npos;
    };
    std::size_t i = 0;
    while (i < text.size() && isDelimiter(text[i])) {
        ++i;
    }
    const std::size_t start = i;
    while (i < text.size() && !isDelimiter(text[i])) {
        ++i;
    }
    const auto word = text.substr(start, i - start);
    while (i < text.size() && isDelimiter(text[i])) {
        ++i;
    }
    text.remove_prefix(i);
    return word;
}

} // namespace

TEST(NextToken, AgreesWithThePlainRuleAcrossEightByteBlocks) {
    // Words are searched eight bytes at a time: put delimiters at every offset
    // of texts up to 40 bytes, among bytes with the high bit set, NULs and
    // commas, so each block position and the tail are exercised.
    const std::string fillers[] = {"a", "\xff", std::string(1, '\0'), "\x80", ",", "\x7f"};
    for (const std::string delimiters : {" ", " ,"}) {
        for (const auto& filler : fillers) {
            for (std::size_t length = 0; length <= 40; ++length) {
                for (std::size_t blank = 0; blank <= length; ++blank) {
                    std::string text;
                    for (std::size_t i = 0; i < length; ++i) {
                        const bool isBlank = i == blank || i == length - blank / 3;
                        text += isBlank ? std::string(" ") : i % 3 == 1 ? filler : "w";
                    }
                    std::string_view expected = text;
                    std::string_view actual = text;
                    while (!expected.empty() || !actual.empty()) {
                        const auto word = NextToken(actual, DelimitersOf(delimiters));
                        ASSERT_EQ(word, ReferenceNextToken(expected, delimiters))
                            << "length " << length << " blank at " << blank;
                        ASSERT_EQ(actual, expected);
                        if (word.empty()) {
                            break;
                        }
                    }
                }
            }
        }
    }
}
