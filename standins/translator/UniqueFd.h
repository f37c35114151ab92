#pragma once

// Owns a file descriptor and closes it.

#include <unistd.h>
#include <utility>

namespace velantro::standins {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : Fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : Fd(std::exchange(other.Fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            Fd = std::exchange(other.Fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return Fd; }
    explicit operator bool() const { return Fd >= 0; }
    void Reset() {
        if (Fd >= 0) {
            ::close(Fd);
        }
        Fd = -1;
    }

private:
    int Fd = -1;
};

} // namespace velantro::standins
