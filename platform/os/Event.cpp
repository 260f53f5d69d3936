// Event: an eventfd whose counter is the signalled state.
#include "os/Event.h"

#include "os/Descriptor.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace qorcam::os {
namespace {

// The thread sanitizer sees the eventfd's write and read as a hand-over, but
// not a wait that only polls it (a manual-reset event is never read): what a
// thread wrote before Set is told to it as seen by whoever finds the event set.
void MarkSet([[maybe_unused]] const void* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(event));
#endif
}

bool MarkSeen(bool set, [[maybe_unused]] const void* event) {
#if defined(__SANITIZE_THREAD__)
    if (set) __tsan_acquire(const_cast<void*>(event));
#endif
    return set;
}

} // namespace

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
    MarkSet(this);
    // Refused only when the counter is near its limit: already signalled.
    detail::AddCounter(fd_, 1);
}

void Event::Reset() {
    std::uint64_t value;
    detail::ReadCounter(fd_, value);
}

bool Event::IsSet() const {
    return MarkSeen(detail::IsReadable(fd_), this);
}

bool Event::TryAcquire() {
    if (mode_ == ResetMode::Manual) return IsSet();
    std::uint64_t value;
    return detail::ReadCounter(fd_, value);
}

} // namespace qorcam::os
