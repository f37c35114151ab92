#include "platform/DesktopServices.h"
#include "platform/win32/Win32ProfileFile.h"
#include "platform/win32/Win32Windows.h"

namespace velantro::platform {

std::unique_ptr<DesktopWindows> OpenDesktopWindows(const std::string& title) {
    return std::make_unique<Win32Windows>(title);
}

std::unique_ptr<ProfileFile> OpenProfileFile(const std::string& name) {
    return std::make_unique<Win32ProfileFile>(name);
}

} // namespace velantro::platform
