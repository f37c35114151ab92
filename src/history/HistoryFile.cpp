#include "history/HistoryFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace velantro::history {

namespace {

std::string Reason(const std::filesystem::path& path, const char* what, int error) {
    return path.string() + ": " + what + ": " + std::strerror(error);
}

} // namespace

bool MakeFolders(const std::filesystem::path& folder, std::string& why) {
    if (folder.empty()) {
        return true;
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            return true;
        }
        why = folder.string() + ": not a folder";
        return false;
    }
    const std::filesystem::path parent = folder.parent_path();
    if (parent != folder && !MakeFolders(parent, why)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = Reason(folder, "cannot create the folder", errno);
        return false;
    }
    return true;
}

std::optional<FileTarget> RegularFileAt(const std::filesystem::path& file, std::string& why) {
    std::filesystem::path target = file;
    struct stat status {};
    if (::lstat(file.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        std::error_code error;
        target = std::filesystem::canonical(file, error);
        if (error) {
            why = file.string() + ": a symbolic link that leads nowhere usable (" +
                  error.message() + ")";
            return std::nullopt;
        }
    }
    if (::lstat(target.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            return FileTarget{target, false};
        }
        why = Reason(target, "cannot look at it", errno);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        why = target.string() + ": not a regular file";
        return std::nullopt;
    }
    return FileTarget{target, true};
}

bool CreatePrivateFile(const std::filesystem::path& file, std::string& why) {
    common::FileDescriptor fd(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd && errno != EEXIST) {
        why = Reason(file, "cannot create the file", errno);
        return false;
    }
    return true;
}

Lock TakeLock(const std::filesystem::path& lockFile) {
    Lock lock;
    // Non-blocking, not following a link: whatever sits at the lock's path
    // must not hang the start or lead elsewhere.
    common::FileDescriptor fd(
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        lock.Why = Reason(lockFile, "cannot open the lock file", errno);
        return lock;
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        lock.Why = lockFile.string() + ": the lock file is not a regular file";
        return lock;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        lock.Busy = errno == EWOULDBLOCK;
        lock.Why = lock.Busy ? lockFile.string() + ": in use by another Velantro"
                             : Reason(lockFile, "cannot lock", errno);
        return lock;
    }
    lock.Held = std::move(fd);
    return lock;
}

} // namespace velantro::history
