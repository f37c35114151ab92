// What a page shows of handles and of entries.

#include "core/DisplayText.h"

#include "core/ConversationFlows.h"

#include <gtest/gtest.h>

namespace velantro::core {
namespace {

TEST(DisplayTextTest, HandlesShowCharactersThatWouldActAsSymbols) {
    const struct {
        const char* Name;
        std::string Handle;
        std::u16string Shown;
    } cases[] = {
        {"plain", "alice", u"alice"},
        {"Cyrillic stays", "\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD", u"\u0438\u0432\u0430\u043D"},
        {"empty", "", u""},
        {"ESC of a terminal colour", "bob\x1B[31m", u"bob\u241B[31m"},
        {"BEL", "a\x07", u"a\u2407"},
        {"CR LF fake a new entry", "eve\r\nalice: hi", u"eve\u240D\u240Aalice: hi"},
        {"NUL inside", std::string("a\0b", 3), u"a\u2400b"},
        {"TAB and DEL", "a\tb\x7F", u"a\u2409b\u2421"},
        {"C1 NEL", "a\xC2\x85", u"a\uFFFD"},
        {"right-to-left override",
         "x\xE2\x80\xAE"
         "cod.exe",
         u"x\uFFFDcod.exe"},
        {"embeddings and pop", "\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD",
         u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"isolates", "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9",
         u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"marks", "\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", u"\uFFFD\uFFFD\uFFFD"},
        {"line and paragraph separators",
         "a\xE2\x80\xA8"
         "b\xE2\x80\xA9",
         u"a\uFFFDb\uFFFD"},
        {"not UTF-8: one character per byte", "caf\xE9\x1B", u"caf\u00E9\u241B"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HandleText(c.Handle), c.Shown) << c.Name;
    }
}

TEST(DisplayTextTest, EntriesAreCutAtTheLimitWithAMark) {
    const std::u16string limit(MaxShownEntry, u'a');
    EXPECT_EQ(ShownEntry(limit), limit);
    EXPECT_EQ(ShownEntry(u"line one\r\nline two"), u"line one\r\nline two");

    const std::u16string million(1'000'000, u'b');
    EXPECT_EQ(ShownEntry(million), std::u16string(MaxShownEntry, u'b') +
                                       u"\u2026 [cut: 934,464 more characters not shown]");

    // A pair that straddles the limit goes whole, never half.
    std::u16string pairs(MaxShownEntry - 1, u'c');
    pairs += u"\U0001F600\U0001F600";
    const std::u16string shown = ShownEntry(pairs);
    EXPECT_EQ(shown.substr(0, MaxShownEntry), std::u16string(MaxShownEntry - 1, u'c') + u"\u2026");
    EXPECT_NE(shown.find(u"[cut: 4 more"), std::u16string::npos);
}

TEST(DisplayTextTest, IncomingEntriesCarryTheOriginalOnRequest) {
    const struct {
        std::string Handle;
        std::u16string Translation;
        std::u16string Original;
        bool ShowOriginal;
        std::u16string Entry;
    } cases[] = {
        {"alice", u"Hello", u"Hola", false, u"alice: Hello"},
        {"alice", u"Hello", u"Hola", true, u"alice: Hello (Hola)"},
        {"alice", u"Thank you\r\nfriend", u"Merci\r\nami", true,
         u"alice: Thank you\r\nfriend (Merci\r\nami)"},
        {"alice", u"", u"Hola", true, u"alice:  (Hola)"},
        {"alice", u"Hello", u"", true, u"alice: Hello"},
        {"ev\ne", u"Hi\nthere", u"Hola", false, u"ev\u240Ae: Hi\nthere"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IncomingEntry(c.Handle, c.Translation, c.Original, c.ShowOriginal), c.Entry);
    }
}

} // namespace
} // namespace velantro::core
