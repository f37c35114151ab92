#include "platform/DesktopServices.h"
#include "platform/bus/BusWindows.h"
#include "platform/ini/IniProfileFile.h"

namespace velantro::platform {

std::unique_ptr<DesktopWindows> OpenDesktopWindows(const std::string& title) {
    return std::make_unique<BusWindows>(title);
}

std::unique_ptr<ProfileFile> OpenProfileFile(const std::string& name) {
    return std::make_unique<IniProfileFile>(UserProfilePath(name));
}

} // namespace velantro::platform
