#pragma once

#include "platform/ProfileFile.h"

#include <filesystem>

namespace velantro::platform {

/// A profile file kept as an INI text file at a path of its own. A write
/// changes the one value and keeps every other byte of the file; it rewrites
/// the whole file through a temporary file in the same folder that is renamed
/// over the old one (and the folder synced), so the file on disk is always
/// either the old or the new one, never half written. A path that is a
/// symbolic link is written through to the file it names. The folder is
/// created on first write.
class IniProfileFile final : public ProfileFile {
public:
    explicit IniProfileFile(std::filesystem::path path);

    std::string ReadValue(std::string_view section, std::string_view key) override;
    bool WriteValue(std::string_view section, std::string_view key,
                    std::string_view value) override;
    bool Flush() override;
    std::string DisplayName() const override;
    std::string FailureReason() const override;

private:
    std::filesystem::path Path;
    /// Why the last write failed, as the system says it.
    std::string Reason;
};

/// Where a profile file of this name lives for this user:
/// $XDG_CONFIG_HOME/name when that variable holds an absolute path, else
/// $HOME/.config/name.
std::filesystem::path UserProfilePath(const std::string& name);

} // namespace velantro::platform
