#pragma once

#include "platform/ProfileFile.h"
#include "platform/ini/ProfileText.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace velantro::platform {

/// A profile file kept as an INI text file at a path of its own. The file is
/// read once, when first needed, and kept until Release or a flush: reads
/// and writes work on that text, so a program that reads or writes several
/// values reads the file once, whatever its size. Writes are kept until
/// Flush, which makes them all in one pass over the text and rewrites the
/// whole file through a temporary file in the same folder that is renamed
/// over the old one (and the folder synced), so the file on disk is always
/// either the old or the new one, never half written; every byte a write
/// does not change is kept. A path that is a symbolic link is written
/// through to the file it names. The folder is created on first write.
/// Anything but a regular file in its place (a folder, a FIFO, a device) is
/// never opened for more than a look, never waited on and never replaced.
class IniProfileFile final : public ProfileFile {
public:
    explicit IniProfileFile(std::filesystem::path path);

    std::string ReadValue(std::string_view section, std::string_view key) override;
    bool WriteValue(std::string_view section, std::string_view key,
                    std::string_view value) override;
    bool Flush() override;
    void Release() override;
    std::string DisplayName() const override;
    std::string FailureReason() const override;

private:
    /// The file's text, read when first asked for; raises when it cannot be.
    const std::string& Text();
    /// The write not flushed yet of this key; null when there is none.
    ProfileEdit* PendingEdit(std::string_view section, std::string_view key);

    std::filesystem::path Path;
    std::optional<std::string> Read;
    std::vector<ProfileEdit> Pending;
    /// Why the last write failed.
    std::string Reason;
};

/// Where a profile file of this name lives for this user:
/// $XDG_CONFIG_HOME/name when that variable holds an absolute path, else
/// $HOME/.config/name.
std::filesystem::path UserProfilePath(const std::string& name);

} // namespace velantro::platform
