// Event: an eventfd whose counter is the signalled state.
#include "os/Event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace qorcam::os {

// The eventfd counter is non-zero exactly while the event is signalled; one
// read takes the whole counter, so several Sets before a wait still release
// one waiter, and racing readers can't both win the same signal.
Event::Event(ResetMode mode, bool initiallySet)
    : fd_(eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC)), mode_(mode) {}

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

Event::Event(Event&& other) noexcept : fd_(std::exchange(other.fd_, -1)), mode_(other.mode_) {}

Event& Event::operator=(Event&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        mode_ = other.mode_;
    }
    return *this;
}

void Event::Set() {
    if (fd_ < 0) return;
    const std::uint64_t one = 1;
    // EAGAIN only when the counter is near its limit: already signalled.
    ssize_t r;
    do {
        r = write(fd_, &one, sizeof one);
    } while (r < 0 && errno == EINTR);
}

void Event::Reset() {
    if (fd_ < 0) return;
    std::uint64_t value;
    ssize_t r;
    do {
        r = read(fd_, &value, sizeof value);
    } while (r < 0 && errno == EINTR);
}

bool Event::IsSet() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool Event::TryAcquire() {
    if (mode_ == ResetMode::Manual) return IsSet();
    if (fd_ < 0) return false;
    std::uint64_t value;
    ssize_t r;
    do {
        r = read(fd_, &value, sizeof value);
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(sizeof value);
}

} // namespace qorcam::os
