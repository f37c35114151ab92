// Drafts and handles as profile-file text: what is written reads back as
// itself, within the value's limit.

#include "core/PartnerMemory.h"

#include <gtest/gtest.h>

namespace velantro::core {
namespace {

TEST(PartnerMemory, DraftsReadBackAsWrittenWithinTheLimit) {
    struct Case {
        const char* Name;
        std::u16string Draft;
        std::size_t Limit;
        std::string Value;
        std::u16string ReadBack;
    };
    const std::vector<Case> cases = {
        {"empty", u"", 100, "\"\"", u""},
        {"blanks at the ends stay", u"  hi ", 100, "\"  hi \"", u"  hi "},
        {"line breaks and backslashes", u"a\r\nb\\n", 100, "\"a\\nb\\\\n\"", u"a\r\nb\\n"},
        {"a lone LF is a line break", u"a\nb", 100, "\"a\\nb\"", u"a\r\nb"},
        {"Cyrillic in UTF-8", u"\u0411\u0433", 100, "\"\xD0\x91\xD0\xB3\"", u"\u0411\u0433"},
        {"cut at a whole character", u"ab\u0411c", 5, "\"ab\"", u"ab"},
        {"an escape is never cut", u"a\r\nb", 4, "\"a\"", u"a"},
        {"a surrogate pair is never cut", u"a\U0001F600", 6, "\"a\"", u"a"},
        {"a surrogate pair fits whole", u"a\U0001F600", 7, "\"a\xF0\x9F\x98\x80\"", u"a\U0001F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string value = DraftValue(c.Draft, c.Limit);
        EXPECT_EQ(value, c.Value);
        EXPECT_LE(value.size(), c.Limit);
        EXPECT_EQ(DraftFromValue(value), c.ReadBack);
    }
    EXPECT_EQ(DraftFromValue("unquoted \\n"), u"unquoted \\n");
}

TEST(PartnerMemory, OnlyHandlesThatReadBackAsThemselvesAreKeys) {
    struct Case {
        const char* Handle;
        bool Fits;
    };
    const std::vector<Case> cases = {
        {"alice", true},   {"live:bob.k", true}, {"a,b-c_d", true}, {"", false},
        {" alice", false}, {"alice ", false},    {"a=b", false},    {"[x]", false},
        {"a;b", false},    {"a\nb", false},      {"a\x7F", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FitsProfileKey(c.Handle), c.Fits) << c.Handle;
    }
}

} // namespace
} // namespace velantro::core
