#pragma once

// The history file's place on disk: its folders, what is at its path, and
// the lock beside it that keeps a second Velantro away.

#include "common/FileDescriptor.h"

#include <filesystem>
#include <optional>
#include <string>

namespace velantro::history {

/// Makes folder and each missing folder above it, readable by the user alone
/// (0700). False with the reason when one can't be made or is not a folder.
bool MakeFolders(const std::filesystem::path& folder, std::string& why);

struct FileTarget {
    std::filesystem::path Path; ///< file, or the file its symbolic link leads to
    bool Exists = false;
};

/// What file names, looked at without opening it (a FIFO would block, a
/// device could act): a regular file, a symbolic link to one, or nothing yet.
/// Empty, with the reason, for anything else.
std::optional<FileTarget> RegularFileAt(const std::filesystem::path& file, std::string& why);

/// Creates file empty, readable by the user alone (0600), unless it exists.
bool CreatePrivateFile(const std::filesystem::path& file, std::string& why);

struct Lock {
    common::FileDescriptor Held; ///< open while held; closing releases it
    bool Busy = false;           ///< another open description holds it
    std::string Why;
};

/// Takes the exclusive advisory lock (flock) on lockFile, created 0600 when
/// absent, without waiting. The system releases it when the holder ends.
Lock TakeLock(const std::filesystem::path& lockFile);

} // namespace velantro::history
