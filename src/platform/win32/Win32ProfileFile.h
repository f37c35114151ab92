#pragma once

#include "platform/ProfileFile.h"

#include <string>

namespace velantro::platform {

/// A profile file through the Windows profile API (kernel32). A bare name
/// places the file in the Windows directory.
class Win32ProfileFile final : public ProfileFile {
public:
    explicit Win32ProfileFile(std::string name);

    std::string ReadValue(std::string_view section, std::string_view key) override;
    bool WriteValue(std::string_view section, std::string_view key,
                    std::string_view value) override;
    bool Flush() override;
    std::string DisplayName() const override;

private:
    std::string Name;
};

} // namespace velantro::platform
