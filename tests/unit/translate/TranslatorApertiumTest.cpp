// The translator stand-in's Apertium engine: with Debian's apertium and its
// pairs where they are installed, and with small scripts that play a broken
// or hanging apertium.

#include "ApertiumEngine.h"
#include "HttpServer.h"
#include "LoopbackClient.h"
#include "PhraseBook.h"
#include "TranslatorService.h"
#include "translate/Translate.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace velantro::standins {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

struct Notes {
    std::vector<std::string> Lines;
    EngineNotes Sink() {
        return [this](const std::string& line) {
            Lines.push_back(line);
        };
    }
};

class InstalledApertium : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            Engine = std::make_unique<ApertiumEngine>(Log.Sink());
        } catch (const EngineError& error) {
            GTEST_SKIP() << error.what();
        }
        if (Engine->Describe() !=
            "apertium (bul-mkd, eng-spa, es-fr, fr-es, mkd-bul, mkd-eng, spa-eng)") {
            GTEST_SKIP() << "not every pair is installed: " << Engine->Describe();
        }
    }

    Notes Log;
    std::unique_ptr<ApertiumEngine> Engine;
};

TEST_F(InstalledApertium, TranslatesDirectlyAndThroughOtherLanguages) {
    struct Case {
        std::u16string_view Text;
        Language Target;
        std::u16string_view Expected;
    };
    const Case cases[] = {
        {u"The dog is big", Language::Spanish, u"El perro es grande"},
        {u"El perro es grande", Language::English, u"The dog is big"},
        // Through Spanish.
        {u"Le chien est grand", Language::English, u"The dog is big"},
        {u"The dog is big", Language::French, u"Le chien est grand"},
        // Through Macedonian.
        {u"\u041a\u0443\u0447\u0435\u0442\u043e \u0435 \u0433\u043e\u043b\u044f\u043c\u043e",
         Language::English, u"The dog is huge"},
        // Unknown words pass unmarked.
        {u"Zorblax is here", Language::Spanish, u"Zorblax Es aqu\u00ed"},
        {u"Hola amigo\n\nline two", Language::English, u"Hello Fellow\n\nline two"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Engine->Translate(c.Text, c.Target), c.Expected)
            << ::testing::PrintToString(std::u16string(c.Text));
    }
    EXPECT_TRUE(Log.Lines.empty());
}

TEST_F(InstalledApertium, FallsBackToThePhraseBookForBulgarianAndSaysSo) {
    EXPECT_EQ(Engine->Translate(u"Hello my friend", Language::Bulgarian),
              TranslateText(u"Hello my friend", Language::Bulgarian));
    EXPECT_EQ(Log.Lines,
              std::vector<std::string>{
                  "apertium: no pair leads from eng to bul; the phrase book translates"});
}

/// A script in a folder of its own that plays apertium: it lists eng-spa and
/// spa-eng, and runs body for a translation.
class FakeApertium {
public:
    explicit FakeApertium(const std::string& body)
        : Folder(std::filesystem::temp_directory_path() /
                 ("fake-apertium-" + std::to_string(::getpid()) + "-" + std::to_string(Count++))) {
        std::filesystem::create_directories(Folder);
        std::ofstream script(Program());
        script
            << "#!/bin/sh\n"
            << "if [ \"$1\" = -l ]; then printf '  eng-spa\\n  spa-eng\\n  xx-yy\\n'; exit 0; fi\n"
            << body << "\n";
        script.close();
        std::filesystem::permissions(Program(), std::filesystem::perms::owner_all);
    }
    ~FakeApertium() { std::filesystem::remove_all(Folder); }

    std::string Program() const { return (Folder / "apertium").string(); }

private:
    static inline int Count = 0;
    std::filesystem::path Folder;
};

TEST(TranslatorApertium, AFailingOrHangingPipelineEndsWithinItsLimit) {
    struct Case {
        std::string Name;
        std::string Script;
        std::string Expected;
    };
    const Case cases[] = {
        {"fails", "echo 'Error: mode file unreadable' >&2; exit 3",
         "apertium: eng-spa failed: Error: mode file unreadable"},
        {"dies silently", "kill -9 $$", "apertium: eng-spa failed: exit status 137"},
        // The sleeping part of the pipeline keeps the output open after the
        // shell is gone: the whole group must go.
        {"hangs", "sleep 30 | cat", "apertium: eng-spa did not finish within 300 ms"},
        {"hangs after closing its output", "exec >&- 2>&-; sleep 30",
         "apertium: eng-spa did not finish within 300 ms"},
        {"writes something other than UTF-8", "printf 'caf\\351'",
         "apertium: eng-spa wrote something other than UTF-8"},
        {"works", "echo \"$1 $2\"; cat", ""},
    };
    for (const Case& c : cases) {
        const FakeApertium fake(c.Script);
        Notes log;
        ApertiumEngine engine(log.Sink(), fake.Program(), 300ms);
        EXPECT_EQ(engine.Describe(), "apertium (eng-spa, spa-eng)");
        const Clock::time_point start = Clock::now();
        try {
            const std::u16string translation = engine.Translate(u"the dog", Language::Spanish);
            EXPECT_EQ(c.Expected, "") << c.Name << ": no error";
            EXPECT_EQ(translation, u"-u eng-spa\nthe dog") << c.Name;
        } catch (const EngineError& error) {
            EXPECT_EQ(error.what(), c.Expected) << c.Name;
        }
        EXPECT_LT(Clock::now() - start, 3s) << c.Name;
    }
}

TEST(TranslatorApertium, RunsNoMorePipelinesAtOnceThanItMay) {
    // Each run holds a folder for a while; a second run at once cannot make it.
    const FakeApertium fake("d=$(dirname \"$0\")/running\n"
                            "mkdir \"$d\" 2>/dev/null || { echo 'two at once' >&2; exit 1; }\n"
                            "sleep 0.1; rmdir \"$d\"; cat");
    ApertiumEngine engine({}, fake.Program(), 20s, 1);
    std::vector<std::string> outcomes(4);
    std::vector<std::thread> requests;
    for (std::string& outcome : outcomes) {
        requests.emplace_back([&engine, &outcome] {
            try {
                outcome = engine.Translate(u"the dog", Language::Spanish) == u"the dog"
                              ? "translated"
                              : "mistranslated";
            } catch (const EngineError& error) {
                outcome = error.what();
            }
        });
    }
    for (std::thread& request : requests) {
        request.join();
    }
    EXPECT_EQ(outcomes, std::vector<std::string>(4, "translated"));
}

TEST(TranslatorApertium, ThePipelinesReasonIsTheStatusLine) {
    const FakeApertium fake("sleep 30 | cat");
    ApertiumEngine engine({}, fake.Program(), 300ms);
    HttpServer server("127.0.0.1", 0, [&engine](const HttpRequest& request) {
        return AnswerRequest(request, "/", engine);
    });
    testing::LoopbackClient client(server.Port());
    client.Send(testing::PostRequest("/", translate::BuildRequestBody(u"the dog", 5)));
    EXPECT_EQ(client.StatusLine(5s), "HTTP/1.1 500 apertium: eng-spa did not finish within 300 ms");
}

TEST(TranslatorApertium, RefusesAProgramWithoutKnownModes) {
    struct Case {
        std::string Program;
        std::string Expected;
    };
    const Case cases[] = {
        {"/nonexistent/apertium", "apertium: cannot start /nonexistent/apertium"},
        {"false", "apertium: cannot list its modes: exit status 1"},
        {"true", "apertium: none of the modes eng-spa, fr-es, mkd-eng, mkd-bul is installed"},
    };
    for (const Case& c : cases) {
        try {
            ApertiumEngine engine({}, c.Program, 1s);
            ADD_FAILURE() << c.Program << ": " << engine.Describe();
        } catch (const EngineError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.Expected)) << c.Program;
        }
    }
}

} // namespace
} // namespace velantro::standins
