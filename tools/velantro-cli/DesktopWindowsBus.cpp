#include "DesktopWindows.h"
#include "platform/bus/BusWindows.h"

#include <QCoreApplication>

namespace velantro::tools {

namespace {

// The session-bus window service, with the QCoreApplication it needs. The
// tool's own window on the bus is titled "velantro-cli".
class DesktopBusWindows final : public platform::WindowTitles {
public:
    DesktopBusWindows()
        : Application(QCoreApplication::instance() == nullptr
                          ? std::make_unique<QCoreApplication>(ArgumentCount, Arguments)
                          : nullptr)
        , Windows("velantro-cli") {}

    bool EnumerateWindows(const std::function<bool(platform::WindowHandle)>& visit) override {
        return Windows.EnumerateWindows(visit);
    }
    int ReadWindowTitle(platform::WindowHandle window, char* buffer, int maxCount) override {
        return Windows.ReadWindowTitle(window, buffer, maxCount);
    }

private:
    static inline int ArgumentCount = 1;
    static inline char Name[] = "velantro-cli";
    static inline char* Arguments[] = {Name, nullptr};

    std::unique_ptr<QCoreApplication> Application;
    platform::BusWindows Windows;
};

} // namespace

std::unique_ptr<platform::WindowTitles> OpenDesktopWindows() {
    return std::make_unique<DesktopBusWindows>();
}

} // namespace velantro::tools
