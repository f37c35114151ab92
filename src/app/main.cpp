// Velantro: the program's entry.

#include "app/CommandLine.h"
#include "app/StopSignals.h"
#include "core/PartnerMemory.h"
#include "history/HistoryStore.h"
#include "localise/TranslateInterface.h"
#include "platform/DesktopServices.h"
#include "translate/CurlHttpClient.h"
#include "translate/Endpoints.h"
#include "translate/LangCodes.h"
#include "version/ProgramInfo.h"
#include "window/Settings.h"
#include "window/TMainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QSessionManager>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string_view>

using namespace velantro;

namespace {

/// The web endpoint from the command line or the environment; exits with
/// status 2 when it is not a usable URL.
std::optional<std::string> ChosenWebEndpoint(const app::CommandLine& commandLine) {
    try {
        return translate::ChooseWebEndpoint(commandLine.WebEndpoint);
    } catch (const std::invalid_argument& error) {
        std::cerr << "velantro: " << error.what() << "\n";
        return std::nullopt;
    }
}

constexpr std::string_view WhatToDo =
    "run it in a desktop session, or with QT_QPA_PLATFORM=offscreen for a window nobody sees";

std::string_view Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

/// Whether the window would need a display server (X11 or Wayland, Qt's
/// choice when none is named) while the environment names none.
bool NoDisplayNamed(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "-platform") {
            return false; // Qt's own option names the platform
        }
    }
    const std::string_view platform = Environment("QT_QPA_PLATFORM");
    const bool needsDisplay =
        platform.empty() || platform.starts_with("xcb") || platform.starts_with("wayland");
    return needsDisplay && Environment("DISPLAY").empty() && Environment("WAYLAND_DISPLAY").empty();
}

/// Messages while Qt opens the display. Qt ends with an abort (and a core
/// dump) when no platform plugin starts, after several lines about plugins
/// that would not help the user: say instead, in one line, what is wrong.
void OnStartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        const std::string_view display = !Environment("DISPLAY").empty()
                                             ? Environment("DISPLAY")
                                             : Environment("WAYLAND_DISPLAY");
        std::cerr << "velantro: cannot open the display \"" << display
                  << "\" to show the window on; " << WhatToDo << "\n";
        std::_Exit(1);
    }
    if (context.category != nullptr && std::string_view(context.category).starts_with("qt.qpa")) {
        return; // the platform plugin's account of the same failure
    }
    std::cerr << qFormatLogMessage(type, context, message).toLocal8Bit().constData() << "\n";
}

/// The session's end (the session manager's "die") reaches the program as a
/// quit request, on which Qt would first ask the window to close; a window
/// whose settings cannot be written refuses that, and the logout would wait
/// on the program. The request ends the run instead.
class QuitRequests final : public QObject {
public:
    explicit QuitRequests(std::function<void()> onQuit)
        : OnQuit(std::move(onQuit)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (target != QCoreApplication::instance() || event->type() != QEvent::Quit) {
            return false;
        }
        OnQuit();
        return true;
    }

private:
    std::function<void()> OnQuit;
};

/// Where the conversations are kept: $XDG_DATA_HOME/velantro/history.sqlite,
/// else under ~/.local/share; empty with neither (no home to keep them in).
std::filesystem::path HistoryFile() {
    const std::filesystem::path data(Environment("XDG_DATA_HOME"));
    // A relative XDG_DATA_HOME is to be ignored.
    if (data.is_absolute()) {
        return data / "velantro" / "history.sqlite";
    }
    const std::filesystem::path home(Environment("HOME"));
    if (!home.is_absolute()) {
        return {};
    }
    return home / ".local" / "share" / "velantro" / "history.sqlite";
}

/// The history as the command line and the file allow: the store, or why there is none.
struct OpenedHistory {
    std::unique_ptr<history::HistoryStore> Store;
    core::StatusLine::History State = core::StatusLine::History::Off;
    std::string Problem;
};

OpenedHistory OpenHistory(const app::CommandLine& commandLine) {
    OpenedHistory opened;
    if (commandLine.NoHistory) {
        return opened;
    }
    const std::filesystem::path file = HistoryFile();
    if (file.empty()) {
        opened.State = core::StatusLine::History::NotKept;
        opened.Problem = "neither XDG_DATA_HOME nor HOME names a folder to keep it in";
        return opened;
    }
    history::OpenResult result = history::HistoryStore::Open(file);
    if (result.Store == nullptr) {
        opened.State = core::StatusLine::History::NotKept;
        opened.Problem = result.Detail;
        std::cerr << "velantro: the conversation history is not kept: " << result.Detail << "\n";
        return opened;
    }
    opened.Store = std::move(result.Store);
    opened.State = core::StatusLine::History::Kept;
    return opened;
}

} // namespace

int main(int argc, char** argv) {
    app::BlockStopSignals();
    const app::CommandLine commandLine =
        app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (commandLine.What) {
    case app::CommandLine::Action::Help:
        std::cout << app::UsageText();
        return 0;
    case app::CommandLine::Action::Version:
        std::cout << VersionText("velantro");
        return 0;
    case app::CommandLine::Action::Refuse:
        std::cerr << "velantro: " << commandLine.Problem << " (see velantro --help)\n";
        return 2;
    case app::CommandLine::Action::Run:
        break;
    }
    const std::optional<std::string> web = ChosenWebEndpoint(commandLine);
    if (!web) {
        return 2;
    }

    if (NoDisplayNamed(argc, argv)) {
        std::cerr << "velantro: no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set); "
                  << WhatToDo << "\n";
        return 1;
    }

    const QtMessageHandler previousHandler = qInstallMessageHandler(OnStartUpMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);
    // The desktop entry and the icon the install puts in the icon theme.
    QGuiApplication::setDesktopFileName(QStringLiteral("velantro"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("velantro")));
    const std::unique_ptr<platform::DesktopWindows> windows =
        platform::OpenDesktopWindows("velantro");
    if (!windows->Connected()) {
        std::cerr << "velantro: not attaching to the chat client: " << windows->ErrorText() << "\n";
    }
    const std::unique_ptr<platform::ProfileFile> profile =
        platform::OpenProfileFile(std::string(window::SettingsFileName));
    const std::unique_ptr<platform::ProfileFile> drafts =
        platform::OpenProfileFile(std::string(core::DraftsFileName));
    // Installed under another prefix than the configured one, the data folder
    // is found beside the program's own folder.
    const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path besideProgram = programDir.parent_path() / "share" / "velantro";
    const std::string interfaceFile = localise::LocateInterfaceFile(
        programDir, std::filesystem::exists(besideProgram / "vlintf.dat")
                        ? besideProgram
                        : localise::InstalledDataFolder());

    // Opened before the window, closed after it: the window writes to it to the end.
    const OpenedHistory history = OpenHistory(commandLine);
    app::StopSignals stop;
    auto http = std::make_unique<translate::CurlHttpClient>();
    window::TMainForm form({*windows,
                            *windows,
                            *profile,
                            *drafts,
                            std::move(http),
                            translate::Endpoints{std::string(translate::LocalEndpointUrl), *web},
                            interfaceFile,
                            {},
                            // A translation under way gives up as soon as the run is to end.
                            [&stop] { return stop.Requested(); },
                            history.Store.get(),
                            history.State,
                            history.Problem});
    // Once more now that every window exists.
    form.TranslateToChange();
    // A stop signal or the session's end ends the run within moments, after
    // one try to write the settings, whatever the window is doing: no box
    // waits for a click, no close is refused.
    bool told = false;
    const auto tryWriteSettings = [&form, &told] {
        const std::optional<std::string> error = form.WriteSettingsOnce();
        if (error && !told) {
            told = true;
            std::cerr << "velantro: " << *error << "\n";
        }
        return error ? 1 : 0;
    };
    const auto endRun = [&form, &tryWriteSettings] {
        form.StopErrorBoxes();
        QCoreApplication::exit(tryWriteSettings());
    };
    stop.SetOnStop(endRun);
    const QuitRequests quitRequests(endRun);
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &form,
                     [&tryWriteSettings](QSessionManager&) { tryWriteSettings(); });
    form.show();
    return application.exec();
}
