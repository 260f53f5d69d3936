// Semaphore: an eventfd in semaphore mode, with the count mirrored to enforce the maximum.
#include "os/Semaphore.h"

#include "os/Descriptor.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qorcam::os {

Semaphore::Semaphore(std::uint32_t initialCount, std::uint32_t maximumCount)
    : maximum_(maximumCount), count_(initialCount) {
    if (maximumCount == 0 || initialCount > maximumCount) return;
    fd_ = eventfd(initialCount, EFD_NONBLOCK | EFD_CLOEXEC | EFD_SEMAPHORE);
}

Semaphore::~Semaphore() {
    if (fd_ >= 0) close(fd_);
}

bool Semaphore::Release(std::uint32_t count) {
    if (fd_ < 0 || count == 0) return false;
    // Reserve the units in the mirror first, so that racing releases can't
    // pass the maximum together.
    std::uint32_t current = count_.load();
    do {
        if (count > maximum_ - current) return false;
    } while (!count_.compare_exchange_weak(current, current + count));
    if (!detail::AddCounter(fd_, count)) {
        count_.fetch_sub(count);
        return false;
    }
    return true;
}

bool Semaphore::TryAcquire() {
    std::uint64_t value;
    if (!detail::ReadCounter(fd_, value)) return false;
    count_.fetch_sub(1);
    return true;
}

} // namespace qorcam::os
