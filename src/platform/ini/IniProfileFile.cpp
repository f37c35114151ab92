#include "platform/ini/IniProfileFile.h"

#include "common/AsciiText.h"
#include "common/FileDescriptor.h"
#include "platform/ini/ProfileText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velantro::platform {

namespace {

namespace fs = std::filesystem;

/// How many symbolic links in a row are followed, as the system does.
constexpr int MaxLinks = 40;

using common::FileDescriptor;

/// A step's failure, as the user is told it: the system's words for an
/// error number, or a reason of the program's own.
struct Failure {
    std::string Reason;
};

[[noreturn]] void Fail(int error = errno) {
    throw Failure{std::strerror(error)};
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

/// Fails unless the file is a regular one; a folder with the system's words.
void RequireRegular(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        Fail(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        throw Failure{"it is not a regular file"};
    }
}

/// The file's whole text, read in one go into a string of its size; empty
/// when there is no file. A file that exists but cannot be read, or is no
/// regular file, fails: it is never replaced by one that would lose its
/// contents. Opening never waits: a FIFO (or a device) in the file's place
/// would otherwise hold the program until something wrote to it.
std::string ReadWhole(const fs::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.Get() < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return {};
        }
        // A socket cannot be opened at all; say what it is rather than ENXIO.
        if (::stat(path.c_str(), &info) == 0) {
            RequireRegular(info);
        }
        Fail(error);
    }
    if (::fstat(fd.Get(), &info) != 0) {
        Fail();
    }
    RequireRegular(info);
    if (::fcntl(fd.Get(), F_SETFL, 0) != 0) {
        Fail();
    }
    std::string text;
    // One more byte than the size, so that the read that finds the end needs no growth.
    text.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t length = 0;
    for (;;) {
        if (length == text.size()) {
            text.resize(text.size() * 2); // the file grew while it was read
        }
        const ssize_t n = ::read(fd.Get(), text.data() + length, text.size() - length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            Fail();
        }
        if (n == 0) {
            text.resize(length);
            return text;
        }
        length += static_cast<std::size_t>(n);
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

/// Writes the edited text to a new file of a unique name beside path, makes
/// it reach the disk and renames it over path. On any failure the temporary
/// file goes and path is untouched.
void ReplaceFile(const fs::path& path, std::string_view text, std::span<const ProfileEdit> edits) {
    std::string temporary = path.string() + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.Get() < 0) {
        Fail();
    }
    try {
        WriteEditedProfile(text, edits,
                           [&fd](std::string_view piece) { WriteAll(fd.Get(), piece); });
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

const std::string& IniProfileFile::Text() {
    if (!Read) {
        Read = ReadWhole(Path);
    }
    return *Read;
}

ProfileEdit* IniProfileFile::PendingEdit(std::string_view section, std::string_view key) {
    for (ProfileEdit& edit : Pending) {
        if (common::EqualsNoCaseAscii(edit.Section, section) &&
            common::EqualsNoCaseAscii(edit.Key, key)) {
            return &edit;
        }
    }
    return nullptr;
}

std::string IniProfileFile::ReadValue(std::string_view section, std::string_view key) {
    if (const ProfileEdit* edit = PendingEdit(section, key)) {
        return edit->Value.substr(0, MaxValueLength);
    }
    std::optional<std::string_view> value;
    try {
        value = FindProfileValue(Text(), section, key);
    } catch (const Failure&) {
        return {};
    }
    return value ? std::string(value->substr(0, MaxValueLength)) : std::string();
}

bool IniProfileFile::WriteValue(std::string_view section, std::string_view key,
                                std::string_view value) {
    try {
        // Read now, so that a file that cannot be replaced is refused at once.
        Text();
    } catch (const Failure& failure) {
        Reason = failure.Reason;
        return false;
    }
    if (ProfileEdit* edit = PendingEdit(section, key)) {
        edit->Value = value;
    } else {
        Pending.push_back({std::string(section), std::string(key), std::string(value)});
    }
    Reason.clear();
    return true;
}

bool IniProfileFile::Flush() {
    if (Pending.empty()) {
        return true;
    }
    try {
        const fs::path target = FollowLinks(Path);
        if (Text().empty()) {
            std::error_code ignored; // a missing folder shows as the write's failure
            fs::create_directories(target.parent_path(), ignored);
        }
        ReplaceFile(target, Text(), Pending);
    } catch (const Failure& failure) {
        Reason = failure.Reason;
        return false;
    }
    // The next reading takes the file as written.
    Release();
    Reason.clear();
    return true;
}

void IniProfileFile::Release() {
    Read.reset();
    Pending.clear();
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
