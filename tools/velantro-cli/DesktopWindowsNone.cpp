#include "DesktopWindows.h"

namespace velantro::tools {

namespace {

// For a platform without a window service in this build: an enumeration
// that fails, which the detection reads as "no local program", so every
// translation goes to the web endpoint.
class NoDesktopWindows final : public platform::WindowTitles {
public:
    bool EnumerateWindows(const std::function<bool(platform::WindowHandle)>&) override {
        return false;
    }
    int ReadWindowTitle(platform::WindowHandle, char*, int) override { return 0; }
};

} // namespace

std::unique_ptr<platform::WindowTitles> OpenDesktopWindows() {
    return std::make_unique<NoDesktopWindows>();
}

} // namespace velantro::tools
