// Velantro: the program's entry.

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "app/StopSignals.h"
#include "app/TMainForm.h"
#include "localise/TranslateInterface.h"
#include "platform/DesktopServices.h"
#include "translate/CurlHttpClient.h"
#include "translate/Endpoints.h"
#include "translate/LangCodes.h"
#include "version/ProgramInfo.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <filesystem>
#include <iostream>
#include <stdexcept>

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

    QApplication application(argc, argv);
    // The desktop entry and the icon the install puts in the icon theme.
    QGuiApplication::setDesktopFileName(QStringLiteral("velantro"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("velantro")));
    const std::unique_ptr<platform::DesktopWindows> windows =
        platform::OpenDesktopWindows("velantro");
    if (!windows->Connected()) {
        std::cerr << "velantro: not attaching to the chat client: " << windows->ErrorText() << "\n";
    }
    const std::unique_ptr<platform::ProfileFile> profile =
        platform::OpenProfileFile(std::string(app::SettingsFileName));
    // Installed under another prefix than the configured one, the data folder
    // is found beside the program's own folder.
    const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path besideProgram = programDir.parent_path() / "share" / "velantro";
    const std::string interfaceFile = localise::LocateInterfaceFile(
        programDir, std::filesystem::exists(besideProgram / "vlintf.dat")
                        ? besideProgram
                        : localise::InstalledDataFolder());

    app::TMainForm form({*windows,
                         *windows,
                         *profile,
                         std::make_unique<translate::CurlHttpClient>(),
                         translate::Endpoints{std::string(translate::LocalEndpointUrl), *web},
                         interfaceFile,
                         {}});
    // Once more now that every window exists.
    form.TranslateToChange();
    app::StopSignals stop([&form] { form.close(); });
    form.show();
    return application.exec();
}
