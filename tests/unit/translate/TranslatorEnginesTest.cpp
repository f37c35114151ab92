// The translator stand-in's engines: the routes between Apertium's pairs, the
// JSON replies, and the LibreTranslate and APy engines against small fake
// servers.

#include "ApertiumPairs.h"
#include "ApyEngine.h"
#include "HttpServer.h"
#include "JsonText.h"
#include "LibreTranslateEngine.h"
#include "PhraseBook.h"
#include "RawHttpServer.h"
#include "TranslatorService.h"
#include "translate/CurlHttpClient.h"
#include "translate/Translate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <thread>
#include <vector>

namespace velantro::standins {
namespace {

using ::testing::HasSubstr;

std::string ModesOf(const std::vector<ApertiumPair>& route) {
    std::string modes;
    for (const ApertiumPair& pair : route) {
        modes += (modes.empty() ? "" : " ") + std::string(pair.Mode);
    }
    return modes;
}

TEST(TranslatorEngines, ChainsApertiumPairsWhereNoneLeadsStraight) {
    struct Case {
        std::string_view From;
        std::string_view To;
        std::string Modes;
    };
    const Case cases[] = {
        {"eng", "spa", "eng-spa"},
        {"spa", "eng", "spa-eng"},
        {"fra", "eng", "fr-es spa-eng"},
        {"bul", "eng", "bul-mkd mkd-eng"},
        {"eng", "fra", "eng-spa es-fr"},
        {"bul", "fra", "bul-mkd mkd-eng eng-spa es-fr"},
        // Nothing leads to Macedonian, so nothing reaches Bulgarian but Macedonian.
        {"eng", "bul", ""},
        {"spa", "bul", ""},
        {"fra", "bul", ""},
        {"eng", "eng", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModesOf(FindRoute(c.From, c.To, KnownPairs())), c.Modes)
            << c.From << " to " << c.To;
    }
    // Only the installed pairs count.
    const ApertiumPair onlyFrench[] = {{"fra", "spa", "fr-es"}};
    EXPECT_EQ(ModesOf(FindRoute("fra", "eng", onlyFrench)), "");
}

TEST(TranslatorEngines, TranslatesAlongTheRouteOrFallsBackToThePhraseBook) {
    struct Case {
        std::u16string_view Text;
        Language Target;
        std::u16string Expected;
        std::string Calls;
        std::string Note;
    };
    const Case cases[] = {
        {u"le chien est grand", Language::English, u"[spa-eng:[fr-es:le chien est grand]]",
         "fr-es spa-eng", ""},
        {u"\u043a\u0443\u0447\u0435", Language::English,
         u"[mkd-eng:[bul-mkd:\u043a\u0443\u0447\u0435]]", "bul-mkd mkd-eng", ""},
        {u"the dog is big", Language::Spanish, u"[eng-spa:the dog is big]", "eng-spa", ""},
        {u"the dog is big", Language::English, u"the dog is big", "", ""},
        {u"Hello world", Language::Bulgarian, TranslateText(u"Hello world", Language::Bulgarian),
         "", "apertium: no pair leads from eng to bul; the phrase book translates"},
    };
    for (const Case& c : cases) {
        std::string calls;
        std::string notes;
        const auto translatePair = [&calls](const ApertiumPair& pair, std::u16string_view text) {
            calls += (calls.empty() ? "" : " ") + std::string(pair.Mode);
            return u"[" + std::u16string(pair.Mode.begin(), pair.Mode.end()) + u":" +
                   std::u16string(text) + u"]";
        };
        const auto note = [&notes](const std::string& line) {
            notes += line;
        };
        EXPECT_EQ(
            TranslateAlongRoute(c.Text, c.Target, KnownPairs(), translatePair, note, "apertium"),
            c.Expected);
        EXPECT_EQ(calls, c.Calls);
        EXPECT_EQ(notes, c.Note);
    }
}

TEST(TranslatorEngines, DetectsFreelyTypedText) {
    struct Case {
        std::u16string_view Text;
        Language Expected;
    };
    const Case cases[] = {
        {u"I think that it was a good idea to go", Language::English},
        {u"Where are you going tonight?", Language::English},
        {u"I have a dog and two cats", Language::English},
        {u"Can you call me later", Language::English},
        {u"Creo que la idea de ir al cine es buena", Language::Spanish},
        {u"\u00bfD\u00f3nde est\u00e1s?", Language::Spanish},
        {u"Tengo un perro y dos gatos", Language::Spanish},
        {u"Voy a la playa ma\u00f1ana", Language::Spanish},
        {u"\u00bfMe puedes llamar m\u00e1s tarde?", Language::Spanish},
        {u"Je pense que c'est une bonne id\u00e9e", Language::French},
        {u"O\u00f9 vas-tu ce soir ?", Language::French},
        {u"J'ai un chien et deux chats", Language::French},
        {u"Je vais \u00e0 la plage demain", Language::French},
        {u"Tu peux m'appeler plus tard ?", Language::French},
        {u"Il pleut aujourd'hui", Language::French},
        {u"\u041c\u0438\u0441\u043b\u044f, \u0447\u0435 \u0435 \u0434\u043e\u0431\u0440\u0435",
         Language::Bulgarian},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DetectLanguage(c.Text), c.Expected)
            << ::testing::PrintToString(std::u16string(c.Text));
    }
}

TEST(TranslatorEngines, MapsEachServiceCodeToEachEnginesCode) {
    struct Case {
        std::int32_t Service;
        std::string_view Iso639_1;
        std::string_view Iso639_3;
    };
    const Case cases[] = {{1, "en", "eng"}, {5, "es", "spa"}, {6, "fr", "fra"}, {2, "bg", "bul"}};
    for (const Case& c : cases) {
        const std::optional<Language> language = LanguageFromCode(c.Service);
        ASSERT_TRUE(language) << c.Service;
        EXPECT_EQ(CodesOf(*language).Service, c.Service);
        EXPECT_EQ(CodesOf(*language).Iso639_1, c.Iso639_1);
        EXPECT_EQ(CodesOf(*language).Iso639_3, c.Iso639_3);
    }
    for (const std::int32_t unknown : {0, 3, 4, 7, -1}) {
        EXPECT_FALSE(LanguageFromCode(unknown)) << unknown;
    }
}

TEST(TranslatorEngines, ReadsAStringOutOfJson) {
    struct Case {
        std::string_view Json;
        std::initializer_list<std::u16string_view> Path;
        std::optional<std::u16string> Expected;
    };
    const Case cases[] = {
        {R"({"translatedText":"Hola"})", {u"translatedText"}, u"Hola"},
        {R"( {"responseData": {"translatedText": "a\"b\\c\/d\n"}, "responseStatus": 200} )",
         {u"responseData", u"translatedText"},
         u"a\"b\\c/d\n"},
        {R"({"t":"caf\u00e9 \ud83d\ude00 \u0417"})", {u"t"}, u"caf\u00e9 \U0001F600 \u0417"},
        {"{\"t\":\"caf\xC3\xA9\"}", {u"t"}, u"caf\u00e9"},
        // A repeated name: the last member counts, as JavaScript reads it.
        {R"({"x":[1,{"t":"no"}],"t":"once","t":"again"})", {u"t"}, u"again"},
        {R"({"a":{"t":"deep"},"t":"top"})", {u"t"}, u"top"},
        {R"({"t":null})", {u"t"}, std::nullopt},
        {R"({"t":5})", {u"t"}, std::nullopt},
        {R"({"responseData":null})", {u"responseData", u"translatedText"}, std::nullopt},
        {R"({"t":"x"} trailing)", {u"t"}, std::nullopt},
        {R"({"t":"x")", {u"t"}, std::nullopt},
        // A lone half passes as it is; the reply's UTF-8 encoder replaces it.
        {R"({"t":"a\ud83d"})", {u"t"}, std::u16string{u'a', char16_t(0xD83D)}},
        {"<html>Bad Gateway</html>", {u"t"}, std::nullopt},
        {"", {u"t"}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JsonStringAt(c.Json, c.Path), c.Expected) << c.Json;
    }
    EXPECT_EQ(JsonStringAt(std::string(100000, '[') + std::string(100000, ']'), {u"t"}),
              std::nullopt);
}

/// A translation server on a port of its own that records what it is asked.
class FakeServer {
public:
    struct Seen {
        std::string Method;
        std::string Path;
        std::string ContentType;
        std::string Body;
    };
    using Answer = std::function<void(const Seen&, httplib::Response&)>;

    explicit FakeServer(Answer answer) {
        Http.Post("/translate",
                  [this, answer](const httplib::Request& request, httplib::Response& response) {
                      const Seen seen{request.method, request.path,
                                      request.get_header_value("Content-Type"), request.body};
                      {
                          const std::lock_guard guard(Lock);
                          Requests.push_back(seen);
                      }
                      answer(seen, response);
                  });
        Port = Http.bind_to_any_port("127.0.0.1");
        Thread = std::thread([this] { Http.listen_after_bind(); });
    }
    ~FakeServer() {
        Http.stop();
        Thread.join();
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port); }
    std::vector<Seen> Received() const {
        const std::lock_guard guard(Lock);
        return Requests;
    }

private:
    httplib::Server Http;
    int Port = 0;
    mutable std::mutex Lock;
    std::vector<Seen> Requests;
    std::thread Thread;
};

constexpr const char* FormType = "application/x-www-form-urlencoded";

TEST(TranslatorEngines, LibreTranslatePostsTheTextAndReadsTranslatedText) {
    FakeServer server([](const FakeServer::Seen&, httplib::Response& response) {
        response.set_content(R"({"translatedText":"\u00a1Hola, se\u00f1or & amigo!"})",
                             "application/json");
    });
    LibreTranslateEngine engine(server.Url() + "/");
    EXPECT_EQ(engine.Describe(), "libretranslate at " + server.Url() + "/translate");
    EXPECT_EQ(engine.Translate(u"Hello, sir & friend!", Language::Spanish),
              u"\u00a1Hola, se\u00f1or & amigo!");
    EXPECT_EQ(engine.Translate(u"\u0437\u0434\u0440\u0430\u0432\u0435\u0439", Language::French),
              u"\u00a1Hola, se\u00f1or & amigo!");
    const auto seen = server.Received();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Method, "POST");
    EXPECT_EQ(seen[0].Path, "/translate");
    EXPECT_EQ(seen[0].ContentType, FormType);
    EXPECT_EQ(seen[0].Body, "q=Hello%2C+sir+%26+friend%21&source=auto&target=es");
    EXPECT_EQ(seen[1].Body, "q=%D0%B7%D0%B4%D1%80%D0%B0%D0%B2%D0%B5%D0%B9&source=auto&target=fr");
}

TEST(TranslatorEngines, ApyAsksPairAfterPairAndReadsResponseData) {
    FakeServer server([](const FakeServer::Seen& seen, httplib::Response& response) {
        const bool first = seen.Body.starts_with("langpair=fra%7Cspa&");
        response.set_content(first ? R"({"responseData": {"translatedText": "el perro"},
                                         "responseDetails": null, "responseStatus": 200})"
                                   : R"({"responseData": {"translatedText": "the dog"},
                                         "responseDetails": null, "responseStatus": 200})",
                             "application/json; charset=utf-8");
    });
    std::vector<std::string> notes;
    ApyEngine engine(server.Url(), [&notes](const std::string& line) { notes.push_back(line); });
    EXPECT_EQ(engine.Translate(u"le chien", Language::English), u"the dog");
    const auto seen = server.Received();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Path, "/translate");
    EXPECT_EQ(seen[0].ContentType, FormType);
    EXPECT_EQ(seen[0].Body, "langpair=fra%7Cspa&q=le+chien&markUnknown=no");
    EXPECT_EQ(seen[1].Body, "langpair=spa%7Ceng&q=el+perro&markUnknown=no");
    EXPECT_TRUE(notes.empty());

    // No pair leads to Bulgarian: the phrase book, with a note, and no request.
    EXPECT_EQ(engine.Translate(u"Hello world", Language::Bulgarian),
              TranslateText(u"Hello world", Language::Bulgarian));
    EXPECT_EQ(server.Received().size(), 2u);
    EXPECT_EQ(notes, std::vector<std::string>{
                         "apy: no pair leads from eng to bul; the phrase book translates"});
}

TEST(TranslatorEngines, ServerFailuresBecomeEngineErrors) {
    struct Case {
        std::string Name;
        int Status;
        std::string Body;
        std::string Expected;
    };
    const Case cases[] = {
        {"an error status", 500, R"({"error":"boom"})", "500"},
        {"no translation", 200, R"({"error":"Unsupported language"})",
         "the reply holds no translatedText"},
        {"no JSON", 200, "<html>", "the reply holds no translatedText"},
    };
    for (const Case& c : cases) {
        FakeServer server([&c](const FakeServer::Seen&, httplib::Response& response) {
            response.status = c.Status;
            response.set_content(c.Body, "application/json");
        });
        LibreTranslateEngine engine(server.Url());
        try {
            engine.Translate(u"Hello", Language::Spanish);
            ADD_FAILURE() << c.Name << ": no error";
        } catch (const EngineError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.Expected)) << c.Name;
            EXPECT_THAT(error.what(), ::testing::StartsWith("libretranslate: ")) << c.Name;
        }
    }
    EXPECT_THROW(LibreTranslateEngine("ftp://127.0.0.1"), std::invalid_argument);
    EXPECT_THROW(ApyEngine("not a url", {}), std::invalid_argument);
}

/// Posts velantro's request for text to the stand-in with the product's
/// HTTP client and decodes the reply as the product does.
std::u16string AskStandin(Engine& engine, std::u16string_view text, std::int32_t code) {
    HttpServer standin("127.0.0.1", 0, [&engine](const HttpRequest& request) {
        return AnswerRequest(request, "/vl.asp", engine);
    });
    translate::CurlHttpClient http;
    const std::string reply =
        http.PostForm("http://127.0.0.1:" + std::to_string(standin.Port()) + "/vl.asp",
                      translate::BuildRequestBody(text, code));
    return translate::DecodeTranslation(translate::CutTranslation(reply));
}

TEST(TranslatorEngines, TheStandinPassesServerTranslationsAndFailuresOn) {
    FakeServer libre([](const FakeServer::Seen&, httplib::Response& response) {
        response.set_content(R"({"translatedText":"R&D \u00e9t\u00e9 \ud83d\ude00"})",
                             "application/json");
    });
    LibreTranslateEngine working(libre.Url());
    EXPECT_EQ(AskStandin(working, u"R&D summer \U0001F600", 6), u"R&D \u00e9t\u00e9 \U0001F600");
    EXPECT_EQ(libre.Received().at(0).Body, "q=R%26D+summer+%F0%9F%98%80&source=auto&target=fr");

    // The server is down: velantro's client sees a 500 that says why.
    const std::string down =
        "http://127.0.0.1:" + std::to_string(translate::testing::RawHttpServer::ClosedPort());
    LibreTranslateEngine libreDown(down);
    ApyEngine apyDown(down, {});
    for (Engine* engine : {static_cast<Engine*>(&libreDown), static_cast<Engine*>(&apyDown)}) {
        try {
            AskStandin(*engine, u"Hello", 5);
            ADD_FAILURE() << engine->Describe() << ": no error";
        } catch (const translate::HttpError& error) {
            const std::string name = engine->Describe().substr(0, engine->Describe().find(' '));
            EXPECT_THAT(error.what(), HasSubstr("HTTP/1.1 500 " + name + ": "));
        }
    }
}

} // namespace
} // namespace velantro::standins
