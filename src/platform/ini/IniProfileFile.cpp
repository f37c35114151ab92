#include "platform/ini/IniProfileFile.h"

#include "common/FileDescriptor.h"
#include "platform/ini/ProfileText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velantro::platform {

namespace {

namespace fs = std::filesystem;

/// How many symbolic links in a row are followed, as the system does.
constexpr int MaxLinks = 40;

using common::FileDescriptor;

/// A step's failure: the system's reason, as strerror words it.
struct Failure {
    int Error;
};

[[noreturn]] void Fail(int error = errno) {
    throw Failure{error};
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail(n < 0 ? errno : EIO);
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

/// The file's whole text; empty when there is no file. A file that exists
/// but cannot be read, or is no regular file, fails: it is never replaced
/// by one that would lose its contents.
std::string ReadWhole(const fs::path& path) {
    // Non-blocking: a FIFO or a device in its place must not hold the window.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) {
        if (errno == ENOENT) {
            return {};
        }
        Fail();
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        Fail();
    }
    if (!S_ISREG(info.st_mode)) {
        Fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            Fail();
        }
        if (n == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

/// The file a path names once its symbolic links are followed: a settings
/// file that is a link to a file kept elsewhere is written there, and the
/// link stays a link.
fs::path FollowLinks(fs::path path) {
    for (int links = 0; links < MaxLinks; ++links) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) {
            return path;
        }
        const fs::path target = fs::read_symlink(path, error);
        if (error) {
            Fail(error.value());
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    Fail(ELOOP);
}

/// The permissions of the file being replaced; owner read and write for a new one.
mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0600;
}

/// Makes the folder's entries (a rename into it) reach the disk. A file
/// system that cannot sync a folder says so with EINVAL; that is no failure.
void SyncFolder(const fs::path& folder) {
    FileDescriptor fd(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0 || (::fsync(fd.Get()) != 0 && errno != EINVAL)) {
        Fail();
    }
}

/// Writes text to a new file of a unique name beside path, makes it reach the
/// disk and renames it over path. On any failure the temporary file goes and
/// path is untouched.
void ReplaceFile(const fs::path& path, std::string_view text) {
    std::string temporary = path.string() + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.Get() < 0) {
        Fail();
    }
    try {
        WriteAll(fd.Get(), text);
        if (::fchmod(fd.Get(), ModeOf(path)) != 0 || ::fsync(fd.Get()) != 0 || !fd.Close() ||
            ::rename(temporary.c_str(), path.c_str()) != 0) {
            Fail();
        }
    } catch (const Failure&) {
        ::unlink(temporary.c_str());
        throw;
    }
    SyncFolder(path.parent_path());
}

} // namespace

IniProfileFile::IniProfileFile(fs::path path)
    : Path(std::move(path)) {}

std::string IniProfileFile::ReadValue(std::string_view section, std::string_view key) {
    std::string text;
    try {
        text = ReadWhole(Path);
    } catch (const Failure&) {
        return {};
    }
    const std::optional<std::string_view> value = FindProfileValue(text, section, key);
    return value ? std::string(value->substr(0, MaxValueLength)) : std::string();
}

bool IniProfileFile::WriteValue(std::string_view section, std::string_view key,
                                std::string_view value) {
    try {
        const fs::path target = FollowLinks(Path);
        const std::string text = ReadWhole(target);
        if (text.empty()) {
            std::error_code ignored; // a missing folder shows as the write's failure
            fs::create_directories(target.parent_path(), ignored);
        }
        ReplaceFile(target, WithProfileValue(text, section, key, value));
        Reason.clear();
        return true;
    } catch (const Failure& failure) {
        Reason = std::strerror(failure.Error);
        return false;
    }
}

bool IniProfileFile::Flush() {
    // Every write has already reached the disk.
    return true;
}

std::string IniProfileFile::DisplayName() const {
    return Path.string();
}

std::string IniProfileFile::FailureReason() const {
    return Reason;
}

fs::path UserProfilePath(const std::string& name) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && fs::path(config).is_absolute()) {
        return fs::path(config) / name;
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : ".") / ".config" / name;
}

} // namespace velantro::platform
