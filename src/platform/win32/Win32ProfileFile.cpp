#include "platform/win32/Win32ProfileFile.h"

#include <array>
#include <utility>
#include <windows.h>

namespace velantro::platform {

Win32ProfileFile::Win32ProfileFile(std::string name)
    : Name(std::move(name)) {}

std::string Win32ProfileFile::ReadValue(std::string_view section, std::string_view key) {
    std::array<char, MaxValueLength + 1> buffer{};
    const DWORD length =
        GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(), "",
                                 buffer.data(), static_cast<DWORD>(buffer.size()), Name.c_str());
    return std::string(buffer.data(), length);
}

bool Win32ProfileFile::WriteValue(std::string_view section, std::string_view key,
                                  std::string_view value) {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), Name.c_str()) != FALSE;
}

bool Win32ProfileFile::Flush() {
    // The profile service's flush: no section, key or value. It reports
    // failure whatever happened, so there is nothing to pass on.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, Name.c_str());
    return true;
}

std::string Win32ProfileFile::DisplayName() const {
    return Name;
}

} // namespace velantro::platform
