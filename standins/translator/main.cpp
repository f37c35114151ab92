// translator: plays the translation service for the demo and the tests,
// either as the local translation program (127.0.0.1:4357, target "/", with
// a desktop window titled like that program's) or as the web endpoint
// (target "/vl.asp"). Translations come from the engine chosen with
// --engine: the built-in phrase book, Apertium, or a LibreTranslate or APy
// server. Started on demand by a service manager, it serves on the listening
// socket handed over (socket activation) instead of opening one.

#include "ActivatedSocket.h"
#include "ApertiumEngine.h"
#include "ApyEngine.h"
#include "HttpServer.h"
#include "LibreTranslateEngine.h"
#include "StandinWindow.h"
#include "TranslatorService.h"
#include "common/IntegerText.h"
#include "version/ProgramInfo.h"

#include <charconv>
#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace velantro::standins;

constexpr int LocalPort = 4357;
constexpr int WebPort = 8357;
constexpr const char* LoopbackAddress = "127.0.0.1";
constexpr const char* DefaultLocalTitle = "Tolvane Verbatrix 3.9 - English";

enum class EngineKind { PhraseBook, Apertium, LibreTranslate, Apy };

struct Options {
    bool Web = false;
    std::optional<int> Port;
    std::optional<std::string> Title;
    std::optional<std::string> LogPath;
    EngineKind Engine = EngineKind::PhraseBook;
    std::string EngineUrl;
    bool Help = false;
};

void PrintUsage(std::ostream& out) {
    out << "Usage: translator [--local | --web] [--port N] [--title TEXT] [--log FILE]\n"
        << "                  [--engine phrasebook | apertium | libretranslate URL | apy URL]\n"
        << "  --local       be the local program: port " << LocalPort
        << ", target \"/\", a window titled \"" << DefaultLocalTitle << "\" (default)\n"
        << "  --web         be the web endpoint: port " << WebPort
        << ", target \"/vl.asp\", no window\n"
        << "  --port N      listen on port N of " << LoopbackAddress << " instead\n"
        << "                (a listening socket handed over by systemd is used instead of both)\n"
        << "  --title TEXT  the local program's window title\n"
        << "  --log FILE    append the raw bytes of every request to FILE\n"
        << "  --engine      what translates: the phrase book (default), Apertium's\n"
        << "                program, or the LibreTranslate or APy server at URL\n"
        << "  --help        print this and end\n"
        << "  --version     print the release and end\n";
}

int Usage(std::string_view problem) {
    std::cerr << "translator: " << problem << "\n";
    PrintUsage(std::cerr);
    return 2;
}

std::optional<Options> ReadOptions(int argc, char** argv, std::string& problem) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (velantro::IsHelpRequest(arg)) {
            options.Help = true;
        } else if (arg == "--local") {
            options.Web = false;
        } else if (arg == "--web") {
            options.Web = true;
        } else if (arg == "--port" && hasValue) {
            options.Port = velantro::common::ReadPort(argv[++i]);
            if (!options.Port) {
                problem = "--port takes a number from 1 to 65535";
                return std::nullopt;
            }
        } else if (arg == "--title" && hasValue) {
            options.Title = argv[++i];
        } else if (arg == "--log" && hasValue) {
            options.LogPath = argv[++i];
        } else if (arg == "--engine" && hasValue) {
            const std::string_view name = argv[++i];
            const bool needsUrl = name == "libretranslate" || name == "apy";
            if (needsUrl && i + 1 >= argc) {
                problem = "--engine " + std::string(name) + " takes the server's URL";
                return std::nullopt;
            }
            if (name == "phrasebook") {
                options.Engine = EngineKind::PhraseBook;
            } else if (name == "apertium") {
                options.Engine = EngineKind::Apertium;
            } else if (needsUrl) {
                options.Engine = name == "apy" ? EngineKind::Apy : EngineKind::LibreTranslate;
                options.EngineUrl = argv[++i];
            } else {
                problem = "unknown engine \"" + std::string(name) + "\"";
                return std::nullopt;
            }
        } else {
            problem = "unexpected argument \"" + std::string(arg) + "\"";
            return std::nullopt;
        }
    }
    return options;
}

/// The chosen engine; the phrase book when Apertium cannot run. Raises
/// std::invalid_argument for a server URL it cannot use.
std::unique_ptr<Engine> MakeEngine(const Options& options, const EngineNotes& notes) {
    switch (options.Engine) {
    case EngineKind::Apertium:
        try {
            return std::make_unique<ApertiumEngine>(notes);
        } catch (const EngineError& error) {
            notes(std::string(error.what()) + "; the phrase book translates instead");
        }
        break;
    case EngineKind::LibreTranslate:
        return std::make_unique<LibreTranslateEngine>(options.EngineUrl);
    case EngineKind::Apy:
        return std::make_unique<ApyEngine>(options.EngineUrl, notes);
    case EngineKind::PhraseBook:
        break;
    }
    return std::make_unique<PhraseBookEngine>();
}

/// The server on the socket a service manager handed over, else on port of
/// the loopback address.
std::unique_ptr<HttpServer> OpenServer(int port, HttpHandler answer,
                                       const std::optional<std::string>& logPath) {
    velantro::common::FileDescriptor handed = TakeActivatedListener();
    if (handed) {
        return std::make_unique<HttpServer>(std::move(handed), std::move(answer), logPath);
    }
    return std::make_unique<HttpServer>(LoopbackAddress, port, std::move(answer), logPath);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && velantro::IsVersionRequest(argv[1])) {
        std::cout << velantro::VersionText("translator");
        return 0;
    }
    std::string problem;
    const auto options = ReadOptions(argc, argv, problem);
    if (!options) {
        return Usage(problem);
    }
    if (options->Help) {
        PrintUsage(std::cout);
        return 0;
    }
    const int port = options->Port.value_or(options->Web ? WebPort : LocalPort);
    const std::string target = options->Web ? "/vl.asp" : "/";

    // Every thread inherits this mask; the window loop alone takes the signals.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Lines from several threads, each written whole.
    std::mutex logLock;
    const EngineNotes notes = [&logLock](const std::string& line) {
        const std::lock_guard guard(logLock);
        std::cerr << "translator: " + line + "\n" << std::flush;
    };
    std::unique_ptr<Engine> engine;
    try {
        engine = MakeEngine(*options, notes);
    } catch (const std::invalid_argument& error) {
        return Usage(error.what());
    }
    notes("engine " + engine->Describe());

    const auto answer = [&target, &engine](const HttpRequest& request) {
        return AnswerRequest(request, target, *engine);
    };
    std::unique_ptr<HttpServer> server;
    try {
        server = OpenServer(port, answer, options->LogPath);
    } catch (const std::exception& error) {
        notes(error.what());
        return 1;
    }
    notes(std::string("serving ") +
          (options->Web ? "as the web endpoint" : "as the local program") + " on http://" +
          server->Address() + target);

    std::optional<std::string> title;
    if (!options->Web) {
        title = options->Title.value_or(DefaultLocalTitle);
    }
    const int status = ShowWindowUntilStopped(title, argc, argv);
    server->Stop();
    return status;
}
