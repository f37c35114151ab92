#include "platform/DesktopServices.h"
#include "platform/bus/BusWindows.h"
#include "platform/ini/IniProfileFile.h"

#include <QCoreApplication>

namespace velantro::platform {

namespace {

/// The QCoreApplication the bus windows need, made only when the process has
/// none. A base of its own so that it is made before the window and goes
/// after it.
class OwnedApplication {
protected:
    OwnedApplication()
        : Application(QCoreApplication::instance() == nullptr
                          ? std::make_unique<QCoreApplication>(ArgumentCount, Arguments)
                          : nullptr) {}

private:
    // Qt keeps references to the arguments for the application's lifetime.
    int ArgumentCount = 1;
    char Name[9] = "velantro";
    char* Arguments[2] = {Name, nullptr};
    std::unique_ptr<QCoreApplication> Application;
};

class ApplicationBusWindows final : private OwnedApplication, public BusWindows {
public:
    explicit ApplicationBusWindows(const std::string& title)
        : BusWindows(title) {}
};

} // namespace

std::unique_ptr<DesktopWindows> OpenDesktopWindows(const std::string& title) {
    return std::make_unique<ApplicationBusWindows>(title);
}

std::unique_ptr<ProfileFile> OpenProfileFile(const std::string& name) {
    return std::make_unique<IniProfileFile>(UserProfilePath(name));
}

} // namespace velantro::platform
