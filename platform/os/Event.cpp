// Event: an eventfd whose counter is the signalled state.
#include "os/Event.h"

#include "os/Descriptor.h"

#include <cstdint>
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
    // Refused only when the counter is near its limit: already signalled.
    detail::AddCounter(fd_, 1);
}

void Event::Reset() {
    std::uint64_t value;
    detail::ReadCounter(fd_, value);
}

bool Event::IsSet() const {
    return detail::IsReadable(fd_);
}

bool Event::TryAcquire() {
    if (mode_ == ResetMode::Manual) return IsSet();
    std::uint64_t value;
    return detail::ReadCounter(fd_, value);
}

} // namespace qorcam::os
