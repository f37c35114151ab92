// The translator stand-in's answers, read back the way the product reads them.

#include "PhraseBook.h"
#include "TranslatorService.h"
#include "translate/Translate.h"

#include <gtest/gtest.h>

namespace velantro::standins {
namespace {

/// Sends text through the stand-in's answer and the product's reply decoding.
std::u16string RoundTrip(std::u16string_view text, std::int32_t code) {
    PhraseBookEngine book;
    const std::string reply = AnswerRequestBody(translate::BuildRequestBody(text, code), book);
    return translate::DecodeTranslation(translate::CutTranslation(reply));
}

TEST(TranslatorStandin, TranslatesBetweenTheFourLanguages) {
    struct Case {
        std::u16string_view Text;
        std::int32_t Code;
        std::u16string_view Expected;
    };
    const Case cases[] = {
        {u"Hello world", 5, u"Hola mundo"},
        {u"Hello world", 6, u"Bonjour monde"},
        {u"Hello world", 2, u"\u0417\u0434\u0440\u0430\u0432\u0435\u0439 \u0441\u0432\u044f\u0442"},
        {u"Hello world", 1, u"Hello world"},
        {u"Hola amigo", 1, u"Hello friend"},
        {u"Bonjour mon ami", 5, u"Hola mi amigo"},
        {u"\u0417\u0434\u0440\u0430\u0432\u0435\u0439, \u043f\u0440\u0438\u044f\u0442\u0435\u043b",
         6, u"Bonjour, ami"},
        {u"HELLO Friend", 5, u"HOLA Amigo"},
        {u"the cat", 2, u"\u043a\u043e\u0442\u043a\u0430"}, // no article in Bulgarian
        {u"Hello Zorblax 42!", 5, u"Hola Zorblax 42!"},     // unknown words pass through
        {u"R&D and AT&T", 6, u"R&D et AT&T"},               // "&" survives the trip
        {u"caf\u00E9 \U0001F600", 1, u"coffee \U0001F600"},
        {u"", 5, u""},
        {u"Hello", 3, u"Hello"}, // no language has code 3
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RoundTrip(c.Text, c.Code), c.Expected)
            << ::testing::PrintToString(std::u16string(c.Text)) << " to " << c.Code;
    }
}

TEST(TranslatorStandin, DetectsTheSourceLanguage) {
    struct Case {
        std::u16string_view Text;
        Language Expected;
    };
    const Case cases[] = {
        {u"the dog is here", Language::English}, {u"el perro es bueno", Language::Spanish},
        {u"le chien est bon", Language::French}, {u"\u0434\u0430", Language::Bulgarian},
        {u"Zorblax", Language::English},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DetectLanguage(c.Text), c.Expected)
            << ::testing::PrintToString(std::u16string(c.Text));
    }
}

TEST(TranslatorStandin, RepliesInTheServiceFormat) {
    PhraseBookEngine book;
    EXPECT_EQ(AnswerRequestBody("l1=%26%2372%3B%26%23105%3B&TargetLang=1&", book), "l1=Hi&");
    EXPECT_EQ(AnswerRequestBody("l1=%26%2395%3B&TargetLang=5&", book), "l1=%5F&");
    EXPECT_EQ(AnswerRequestBody("nonsense", book), "l1=&");
}

} // namespace
} // namespace velantro::standins
