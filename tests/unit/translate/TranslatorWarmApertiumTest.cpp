// The Apertium engine's warm pipelines: the stream format and the mode files
// they run, with a small script in null-flush mode playing the tools, and
// with Debian's apertium where it is installed.

#include "ApertiumEngine.h"
#include "ApertiumMode.h"
#include "ApertiumText.h"
#include "HttpServer.h"
#include "LoopbackClient.h"
#include "TimedProcess.h"
#include "TranslatorService.h"
#include "translate/Translate.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <thread>

namespace velantro::standins {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(ApertiumText, StreamsAsApertiumsOwnTextFormatDoes) {
    struct Case {
        std::string_view Text;
        std::string_view Stream;
    };
    // As apertium-destxt writes them.
    const Case cases[] = {
        {"I am fine", "I am fine.[]"},
        {"I am fine.", "I am fine..[]"},
        {"", ".[]"},
        {"a  b\tc", "a[  ]b[\t]c.[]"},
        {"trail ", "trail.[] "},
        {"two\n\nlines\n", "two.[][\n\n]lines.[][\n]"},
        {"one\nline", "one[\n]line.[]"},
        {"[x] ^a$ b/c <d> @e \\f {g} *h #i",
         "\\[x\\] \\^a\\$ b\\/c \\<d\\> \\@e \\\\f \\{g\\} *h #i.[]"},
        {"caf\xC3\xA9", "caf\xC3\xA9.[]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToApertiumStream(c.Text), c.Stream) << ::testing::PrintToString(c.Text);
        EXPECT_EQ(FromApertiumStream(c.Stream), c.Text) << ::testing::PrintToString(c.Stream);
    }
    // A NUL would end the text for every tool of a warm pipeline.
    EXPECT_EQ(ToApertiumStream(std::string_view("a\0b\0", 4)), "ab.[]");
    // What the tools add or leave: dots they did not get a "[]" with stay.
    EXPECT_EQ(FromApertiumStream("Hola.[] \\[fino\\] [[t:x]]y"), "Hola [fino] [t:x]y");
}

TEST(ApertiumMode, RunsEveryToolOfTheModeInNullFlushMode) {
    using Commands = std::vector<Command>;
    struct Case {
        std::string_view Mode;
        std::optional<Commands> Expected;
    };
    const Case cases[] = {
        {"lt-proc '/a b/x.bin' | apertium-tagger -g $2 'b.prob' | lt-proc $1 'c.bin' |lt-proc -p "
         "d\n",
         Commands{{"lt-proc", "-z", "/a b/x.bin"},
                  {"apertium-tagger", "-z", "-g", "b.prob"},
                  {"lt-proc", "-z", "-n", "c.bin"},
                  {"lt-proc", "-z", "-p", "d"}}},
        // These flush on a NUL by themselves and refuse the option.
        {"vislcg3 -g x.rlx | hfst-tokenise y",
         Commands{{"vislcg3", "-g", "x.rlx"}, {"hfst-tokenise", "y"}}},
        {"", std::nullopt},
        {"lt-proc a | | lt-proc b", std::nullopt},
        {"lt-proc a |", std::nullopt},
        {"lt-proc 'a", std::nullopt},
        {"lt-proc a; rm -rf x", std::nullopt},
        {"lt-proc a > out", std::nullopt},
        {"lt-proc $(cat x)", std::nullopt},
        {"lt-proc $3", std::nullopt},
        {"lt-proc \"a\"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NullFlushCommands(c.Mode), c.Expected) << c.Mode;
    }
}

/// A folder laid out as an installation: bin/apertium lists eng-spa and
/// spa-eng and translates per text by replacing "dog"; share/apertium/modes
/// holds their mode files, whose one tool (a script) does the same in
/// null-flush mode and writes its process id to pids. Texts that contain
/// "hang", "die", "junk" or "latin1" make the tool misbehave.
class FakeInstallation {
public:
    FakeInstallation()
        : Folder(std::filesystem::temp_directory_path() /
                 ("warm-apertium-" + std::to_string(::getpid()) + "-" + std::to_string(Count++))) {
        std::filesystem::create_directories(Folder / "bin");
        std::filesystem::create_directories(Folder / "share/apertium/modes");
        Write(Folder / "bin/apertium",
              "#!/bin/sh\n"
              "if [ \"$1\" = -l ]; then printf '  eng-spa\\n  spa-eng\\n'; exit 0; fi\n"
              "sed 's/dog/perro/g'\n");
        Write(Folder / "tool", "#!/bin/bash\n"
                               "[ \"$1\" = -z ] || { echo 'not in null-flush mode' >&2; exit 2; }\n"
                               "echo $$ >> \"$(dirname \"$0\")/pids\"\n"
                               "while IFS= read -r -d '' text; do\n"
                               "  case \"$text\" in\n"
                               "    *hang*) sleep 30 ;;\n"
                               "    *die*) echo 'Error: the tool died' >&2; exit 1 ;;\n"
                               "    *junk*) printf 'junk\\0'; continue ;;\n"
                               "    *latin1*) printf '%s\\351\\0' \"$text\"; continue ;;\n"
                               "  esac\n"
                               "  printf '%s\\0' \"${text//dog/perro}\"\n"
                               "done\n");
        for (const char* mode : {"eng-spa", "spa-eng"}) {
            std::ofstream(Folder / "share/apertium/modes" / (std::string(mode) + ".mode"))
                << "'" << (Folder / "tool").string() << "' $1\n";
        }
    }
    ~FakeInstallation() { std::filesystem::remove_all(Folder); }

    std::string Program() const { return (Folder / "bin/apertium").string(); }

    /// The process ids of the tools started so far, oldest first.
    std::vector<pid_t> Tools() const {
        std::ifstream file(Folder / "pids");
        std::vector<pid_t> pids;
        for (pid_t pid = 0; file >> pid;) {
            pids.push_back(pid);
        }
        return pids;
    }

private:
    static void Write(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path) << text;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }

    static inline int Count = 0;
    std::filesystem::path Folder;
};

/// True once the process has ended: gone, or a zombie that its new parent
/// has not collected yet.
bool Gone(pid_t pid) {
    for (const Clock::time_point end = Clock::now() + 5s; Clock::now() < end;) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z") {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(WarmApertium, StartsOnFirstUseAndServesTheTextsAfterIt) {
    const FakeInstallation fake;
    ApertiumEngine engine({}, fake.Program(), 5s);
    EXPECT_TRUE(fake.Tools().empty());
    EXPECT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro");
    EXPECT_EQ(engine.Translate(u"a dog [x] and\n\na dog", Language::Spanish),
              u"a perro [x] and\n\na perro");
    EXPECT_EQ(fake.Tools().size(), 1u) << "one pipeline, kept warm";
}

TEST(WarmApertium, APipelineKilledBetweenTextsIsRestartedAndTheNextTextAnswers) {
    const FakeInstallation fake;
    ApertiumEngine engine({}, fake.Program(), 5s);
    ASSERT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro");
    const pid_t first = fake.Tools().at(0);
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_TRUE(Gone(first));
    EXPECT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro");
    ASSERT_EQ(fake.Tools().size(), 2u);
    EXPECT_NE(fake.Tools().at(1), first);
}

TEST(WarmApertium, AFailedTextIsAnErrorAndTheNextTextAnswers) {
    struct Case {
        std::u16string_view Text;
        std::string Error;
    };
    const Case cases[] = {
        {u"the dog hangs", "apertium: eng-spa did not finish within 1 s"},
        {u"the dog dies", "apertium: eng-spa failed: Error: the tool died"},
        {u"the dog junk", "apertium: eng-spa answered out of turn"},
        {u"the dog latin1", "apertium: eng-spa wrote something other than UTF-8"},
    };
    for (const Case& c : cases) {
        const FakeInstallation fake;
        ApertiumEngine engine({}, fake.Program(), 1s);
        ASSERT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro");
        const Clock::time_point start = Clock::now();
        try {
            engine.Translate(c.Text, Language::Spanish);
            ADD_FAILURE() << c.Error << ": no error";
        } catch (const EngineError& error) {
            EXPECT_EQ(error.what(), c.Error);
        }
        EXPECT_LT(Clock::now() - start, 3s) << c.Error;
        EXPECT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro") << c.Error;
        const std::vector<pid_t> tools = fake.Tools();
        ASSERT_EQ(tools.size(), 2u) << c.Error;
        EXPECT_TRUE(Gone(tools[0])) << c.Error << ": the failed pipeline is killed";
    }
}

TEST(WarmApertium, AHungPipelineIsA500WithinTheLimitAndTheNextRequestAnswers) {
    const FakeInstallation fake;
    ApertiumEngine engine({}, fake.Program(), 1s);
    HttpServer server("127.0.0.1", 0, [&engine](const HttpRequest& request) {
        return AnswerRequest(request, "/", engine);
    });
    const auto post = [&](std::u16string_view text) {
        testing::LoopbackClient client(server.Port());
        client.Send(testing::PostRequest("/", translate::BuildRequestBody(text, 5)));
        return client.ReadAll(5s);
    };
    const Clock::time_point start = Clock::now();
    const std::string hung = post(u"the dog hangs");
    EXPECT_EQ(hung.substr(0, hung.find("\r\n")),
              "HTTP/1.1 500 apertium: eng-spa did not finish within 1 s");
    EXPECT_LT(Clock::now() - start, 3s);
    const std::string next = post(u"the dog");
    EXPECT_EQ(next.substr(0, next.find("\r\n")), "HTTP/1.1 200 OK");
    EXPECT_NE(next.find("l1=the+perro&"), std::string::npos) << next;
}

TEST(WarmApertium, TextsSentAtOnceEachGetTheirOwnTranslation) {
    const FakeInstallation fake;
    ApertiumEngine engine({}, fake.Program(), 20s);
    std::vector<std::u16string> translations(8);
    std::vector<std::thread> requests;
    for (std::size_t i = 0; i < translations.size(); ++i) {
        requests.emplace_back([&engine, &translations, i] {
            const std::u16string number = translate::Utf8Decode(std::to_string(i));
            try {
                translations[i] = engine.Translate(u"the dog " + number, Language::Spanish);
            } catch (const EngineError& error) {
                translations[i] = translate::Utf8Decode(error.what());
            }
        });
    }
    for (std::thread& request : requests) {
        request.join();
    }
    for (std::size_t i = 0; i < translations.size(); ++i) {
        EXPECT_EQ(translations[i], u"the perro " + translate::Utf8Decode(std::to_string(i)));
    }
    EXPECT_EQ(fake.Tools().size(), 1u);
}

TEST(WarmApertium, AnIdlePipelineStopsAndStartsAgainWhenNeeded) {
    const FakeInstallation fake;
    ApertiumEngine engine({}, fake.Program(), 5s, 1, 100ms);
    ASSERT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro");
    EXPECT_TRUE(Gone(fake.Tools().at(0)));
    EXPECT_EQ(engine.Translate(u"the dog", Language::Spanish), u"the perro");
    EXPECT_EQ(fake.Tools().size(), 2u);
}

TEST(WarmApertium, AnswersAsApertiumItselfDoes) {
    std::optional<ApertiumEngine> engine;
    try {
        engine.emplace(EngineNotes{});
    } catch (const EngineError& error) {
        GTEST_SKIP() << error.what();
    }
    if (engine->Describe().find("eng-spa") == std::string::npos) {
        GTEST_SKIP() << "eng-spa is not installed";
    }
    const std::string texts[] = {
        "I would like a coffee",
        "Hello there, how are you?",
        "I am [fine] a/b <c> $5 @home",
        "Two  spaces\tand a tab",
        "First line\nsecond line\n\nA paragraph.",
        "  ",
    };
    for (const std::string& text : texts) {
        const ProcessOutcome direct =
            RunUntil({"apertium", "-u", "eng-spa"}, text, Clock::now() + 30s);
        ASSERT_EQ(direct.Status, 0) << direct.Errors;
        EXPECT_EQ(translate::Utf8Encode(
                      engine->Translate(translate::Utf8Decode(text), Language::Spanish)),
                  direct.Output)
            << text;
    }
}

} // namespace
} // namespace velantro::standins
