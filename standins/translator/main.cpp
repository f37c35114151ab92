// translator: plays the translation service for the demo and the tests,
// either as the local translation program (127.0.0.1:4357, target "/", with
// a desktop window titled like that program's) or as the web endpoint
// (target "/vl.asp"). Translations come from a built-in phrase book.

#include "RecordingRelay.h"
#include "StandinWindow.h"
#include "TranslatorService.h"

#include <charconv>
#include <csignal>
#include <httplib.h>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace {

using namespace velantro::standins;

constexpr int LocalPort = 4357;
constexpr int WebPort = 8357;
constexpr const char* LoopbackAddress = "127.0.0.1";
constexpr const char* DefaultLocalTitle = "Tolvane Verbatrix 3.9 - English";

struct Options {
    bool Web = false;
    std::optional<int> Port;
    std::optional<std::string> Title;
    std::optional<std::string> LogPath;
};

int Usage(std::string_view problem) {
    std::cerr << "translator: " << problem << "\n"
              << "usage: translator [--local | --web] [--port N] [--title TEXT] [--log FILE]\n"
              << "  --local       be the local program: port " << LocalPort
              << ", target \"/\", a window titled \"" << DefaultLocalTitle << "\" (default)\n"
              << "  --web         be the web endpoint: port " << WebPort
              << ", target \"/vl.asp\", no window\n"
              << "  --port N      listen on port N of " << LoopbackAddress << " instead\n"
              << "  --title TEXT  the local program's window title\n"
              << "  --log FILE    append the raw bytes of every request to FILE\n";
    return 2;
}

std::optional<int> ReadPort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port <= 0 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

std::optional<Options> ReadOptions(int argc, char** argv, std::string& problem) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--local") {
            options.Web = false;
        } else if (arg == "--web") {
            options.Web = true;
        } else if (arg == "--port" && hasValue) {
            options.Port = ReadPort(argv[++i]);
            if (!options.Port) {
                problem = "--port takes a number from 1 to 65535";
                return std::nullopt;
            }
        } else if (arg == "--title" && hasValue) {
            options.Title = argv[++i];
        } else if (arg == "--log" && hasValue) {
            options.LogPath = argv[++i];
        } else {
            problem = "unexpected argument \"" + std::string(arg) + "\"";
            return std::nullopt;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto options = ReadOptions(argc, argv, problem);
    if (!options) {
        return Usage(problem);
    }
    const int port = options->Port.value_or(options->Web ? WebPort : LocalPort);
    const std::string target = options->Web ? "/vl.asp" : "/";

    // Every thread inherits this mask; the window loop alone takes the signals.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    // Restarting at once must not fail on the last run's connections in TIME_WAIT.
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.Post(target, [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(AnswerRequestBody(request.body), "text/html");
    });

    // With a log, a relay takes the port and the server listens behind it on
    // a port of its own, since the server does not show raw request bytes.
    std::unique_ptr<RecordingRelay> relay;
    bool bound = false;
    if (options->LogPath) {
        const int serverPort = server.bind_to_any_port(LoopbackAddress);
        bound = serverPort > 0;
        if (bound) {
            try {
                relay = std::make_unique<RecordingRelay>(LoopbackAddress, port, serverPort,
                                                         *options->LogPath);
            } catch (const std::exception& error) {
                std::cerr << "translator: " << error.what() << "\n";
                return 1;
            }
        }
    } else {
        bound = server.bind_to_port(LoopbackAddress, port);
    }
    if (!bound) {
        std::cerr << "translator: cannot listen on " << LoopbackAddress << ":" << port << "\n";
        return 1;
    }
    std::thread serving([&server] { server.listen_after_bind(); });
    std::cerr << "translator: serving "
              << (options->Web ? "as the web endpoint" : "as the local program") << " on http://"
              << LoopbackAddress << ":" << port << target << "\n";

    std::optional<std::string> title;
    if (!options->Web) {
        title = options->Title.value_or(DefaultLocalTitle);
    }
    const int status = ShowWindowUntilStopped(title, argc, argv);

    if (relay) {
        relay->Stop();
    }
    server.stop();
    serving.join();
    return status;
}
