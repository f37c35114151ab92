#include "translate/WebEncoding.h"

#include "translate/Utf8Encode.h"

#include <gtest/gtest.h>

namespace velantro::translate {
namespace {

TEST(WebEncode, WritesOneDecimalReferencePerCodeUnit) {
    struct Case {
        std::u16string_view Text;
        std::string_view Expected;
    };
    const Case cases[] = {
        {u"", ""},
        {u"H\u00E9", "&#72;&#233;"},
        {u"\u0414\u0430", "&#1044;&#1072;"},
        {u"a\r\nb", "&#97;&#13;&#10;&#98;"},
        {u"\U0001F600", "&#55357;&#56832;"}, // two surrogates, two references
        {u"\uFFFF", "&#65535;"},
        {std::u16string_view(u"\0", 1), "&#0;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WebEncode(c.Text), c.Expected) << testing::PrintToString(std::u16string(c.Text));
    }
}

TEST(FormEncode, KeepsAlphanumericsAndEscapesEveryOtherByte) {
    struct Case {
        std::string_view Value;
        std::string_view Expected;
    };
    const Case cases[] = {
        {"", ""},
        {"&#233;", "%26%23233%3B"},
        {"Az09", "Az09"},
        {"a b", "a+b"},
        {"-_.~*+%", "%2D%5F%2E%7E%2A%2B%25"},
        {"\xD0\x94\xFF", "%D0%94%FF"},
        {std::string_view("\0\n", 2), "%00%0A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormEncode(c.Value), c.Expected) << testing::PrintToString(c.Value);
    }
}

TEST(FormDecode, DecodesEscapesAndDropsMalformedOnes) {
    struct Case {
        std::string_view Text;
        std::string_view Expected;
    };
    const Case cases[] = {
        {"", ""},
        {"a+b%2Bc%41", "a b+cA"},
        {"%00x%4", "x\x04"},    // %00 vanishes; one digit at the end counts
        {"50%", "50"},          // "%" at the very end
        {"%G1z", "z"},          // not hexadecimal: all three characters vanish
        {"%4Gz", "z"},          // one bad digit spoils the pair
        {"%%41", "1"},          // the second "%" is eaten by the first
        {"%+1", ""},            // "+" is a space by the time escapes are read
        {"%d0%B0", "\xD0\xB0"}, // either case of hex digit
        {"%FF%ff", "\xFF\xFF"},
        {"%0", ""}, // value 0 written as one digit vanishes too
        {"x%", "x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormDecode(c.Text), c.Expected) << testing::PrintToString(c.Text);
    }
}

TEST(Utf8Decode, DecodesValidAndLenientSequences) {
    struct Case {
        std::string_view Bytes;
        std::u16string_view Expected;
    };
    const Case cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {"\xD0\x94\xD0\xB0", u"\u0414\u0430"},
        {"caf\xC3\xA9", u"caf\u00E9"},
        {"\xE2\x82\xAC", u"\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        // Two encoded surrogate halves in a row rebuild the pair.
        {"\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},
        // Overlong forms are taken at face value.
        {"\xC0\xAF", u"/"},
        {"\xE0\x80\xAF", u"/"},
        // A half on its own, or out of order, is U+FFFD.
        {"\xED\xA0\xBD", u"\uFFFD"},
        {"a\xED\xB8\x80z", u"a\uFFFDz"},
        {"\xED\xB8\x80\xED\xA0\xBD", u"\uFFFD\uFFFD"},
        {"\xED\xA0\xBD\xF0\x9F\x98\x80", u"\uFFFD\U0001F600"},
        {"\xF0\x9F\x98\x80\xED\xB8\x80", u"\U0001F600\uFFFD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8Decode(c.Bytes), c.Expected) << testing::PrintToString(c.Bytes);
    }
}

TEST(Utf8Decode, MalformedInputGivesTheEmptyText) {
    const std::string_view cases[] = {
        "caf\xE9", // Latin-1 byte followed by nothing
        "A\x80"
        "B",                 // continuation byte as a lead, then no continuation
        "\xD0",              // truncated two-byte sequence
        "ok\xE2\x82",        // truncated three-byte sequence
        "\xF0\x9F\x98",      // truncated four-byte sequence
        "\xF0\x9F\x98\x41",  // bad last continuation
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF7\xBF\xBF\xBF",  // far above U+10FFFF
        "valid\xC3\xA9\xC3", // a valid prefix is not returned either
        "\x80\x80",          // a continuation byte cannot start a sequence
        "\xBF\x80\x80",
        "\xF8\x88\x80\x80\x80", // nor can F8 to FF
        "\xFF\xBF\xBF",
    };
    for (const std::string_view bytes : cases) {
        EXPECT_EQ(Utf8Decode(bytes), u"") << testing::PrintToString(bytes);
    }
}

TEST(Utf8DecodeReplacing, EachIllFormedSequenceBecomesOneReplacementCharacter) {
    struct Case {
        std::string_view Bytes;
        std::u16string_view Expected;
    };
    const Case cases[] = {
        {"", u""},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", u"caf\u00E9 \U0001F600"},
        {"caf\xE9", u"caf\uFFFD"},   // Latin-1
        {"\xF0\x9F\x98", u"\uFFFD"}, // an emoji cut short: one subpart
        {"\xF0\x9F\x98!", u"\uFFFD!"},
        {"\xE2\x82", u"\uFFFD"},
        {"A\x80\x80"
         "B",
         u"A\uFFFD\uFFFDB"},           // lone continuations, one each
        {"\xC0\xAF", u"\uFFFD\uFFFD"}, // overlong: no subpart is a start
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // a surrogate half
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
        {"\xF5\xFF\xFE", u"\uFFFD\uFFFD\uFFFD"},
        // Unicode's own example (table 3-8): 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
        {"a\xF1\x80\x80\xE1\x80\xC2"
         "b\x80"
         "c\x80\xBF"
         "d",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
        {"\xEF\xBF\xBD", u"\uFFFD"}, // a real U+FFFD stays one
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8DecodeReplacing(c.Bytes), c.Expected) << testing::PrintToString(c.Bytes);
        EXPECT_EQ(IsWellFormedUtf8(c.Bytes),
                  c.Expected.find(u'\uFFFD') == std::u16string::npos || c.Bytes == "\xEF\xBF\xBD")
            << testing::PrintToString(c.Bytes);
    }
}

TEST(WebDecode, ResolvesReferences) {
    struct Case {
        std::u16string_view Text;
        std::u16string_view Expected;
    };
    const Case cases[] = {
        {u"", u""},
        {u"plain text", u"plain text"},
        {u"caf&eacute; cr&egrave;me", u"caf\u00E9 cr\u00E8me"},
        {u"&#72;&#105;", u"Hi"},
        {u"&#x41;&#X41;&#$41;&#0x41;&#0X41;", u"AAAAA"},
        {u"&#+65;", u"A"},
        {u"&#65abc;", u"A"}, // digits stop at the first non-digit
        {u"&#55357;&#56832;", u"\U0001F600"},
        {u"&#128512;", u"\U0001F600"},
        {u"&#x10FFFF;", u"\U0010FFFF"},
        {u"&#10063;", u"*"},
        {u"&#x274F;", u"\u274F"}, // only the decimal spelling is replaced
        {u"&#65 x", u"Ax"},       // a space ends a reference and is consumed
        // Named references: the first block is case-sensitive, the second is not.
        {u"&agrave;&Agrave;&AGRAVE;", u"\u00E0aa"},
        {u"&ecirc;&Ecirc;", u"\u00EAe"},
        {u"&acute;&ACUTE;&aelig;&AElig;&pound;&Pound;", u"''AEAEGBPGBP"},
        {u"&szlig;&ccedil;&ntilde;&yuml;", u"\u00DF\u00E7\u00F1\u00FF"},
        // Unknown or malformed references come back with a space for the terminator.
        {u"&#0;", u"&#0 "},
        {u"&amp;", u"&amp "},
        {u"&nbsp;", u"&nbsp "},
        {u"&Uuml;", u"&Uuml "},
        {u"&#x;", u"&#x "},
        {u"&#abc;", u"&#abc "},
        {u"&#-65;", u"&#-65 "},
        {u"&#1114112;", u"&#1114112 "}, // past the last code point
        {u"&#99999999999999999999999;", u"&#99999999999999999999999 "},
        {u"&;", u"& "},
        {u"&x;", u"&x "},
        {u"Tom & Jerry", u"Tom & Jerry"},
        {u"R&B music", u"R&B music"},
        {u"fish&chips are", u"fish&chips are"},
        // A second "&" keeps the reference open with its name so far.
        {u"&&x;", u"&x "},
        {u"a&&b c", u"a&b c"},
        {u"&ea&cute;", u"\u00E9"},
        // A reference still open at the end writes nothing.
        {u"AT&T", u"AT"},
        {u"end&", u"end"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WebDecode(c.Text), c.Expected) << testing::PrintToString(std::u16string(c.Text));
    }
}

TEST(Utf8Encode, EncodesAndRoundTripsThroughTheDecoder) {
    struct Case {
        std::u16string_view Text;
        std::string_view Bytes;
    };
    const Case cases[] = {
        {u"", ""},
        {u"a\u00E9\u0414\u20AC", "a\xC3\xA9\xD0\x94\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8Encode(c.Text), c.Bytes) << testing::PrintToString(std::u16string(c.Text));
        EXPECT_EQ(Utf8Decode(c.Bytes), c.Text) << testing::PrintToString(c.Bytes);
    }
    // Unpaired surrogates have no UTF-8 form.
    EXPECT_EQ(Utf8Encode(u"\xD800x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(Utf8Encode(u"x\xDC00"), "x\xEF\xBF\xBD");
    EXPECT_EQ(Utf8Encode(u"\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
} // namespace velantro::translate
