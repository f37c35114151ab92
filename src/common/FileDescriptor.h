#pragma once

// Owns a POSIX file descriptor and closes it.

#include <unistd.h>
#include <utility>

namespace velantro::common {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : Fd(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept
        : Fd(std::exchange(other.Fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            Fd = std::exchange(other.Fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return Fd; }
    explicit operator bool() const { return Fd >= 0; }

    /// Closes it now, for a caller that must know whether closing worked
    /// (written data can fail to reach the file only then).
    bool Close() { return ::close(std::exchange(Fd, -1)) == 0; }

    void Reset() {
        if (Fd >= 0) {
            ::close(Fd);
        }
        Fd = -1;
    }

private:
    int Fd = -1;
};

} // namespace velantro::common
