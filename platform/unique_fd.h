// The one owner of a file descriptor: closes it when destroyed, moves but never copies.
#pragma once

#include <unistd.h>

#include <utility>

namespace ys {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and takes `fd`; returns close()'s result.
    int Reset(int fd = -1) {
        int rc = 0;
        if (fd_ >= 0) rc = ::close(fd_);
        fd_ = fd;
        return rc;
    }

private:
    int fd_ = -1;
};

}  // namespace ys
