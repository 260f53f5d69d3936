// Semaphore: an in-process counting semaphore with a maximum count.
#pragma once

#include "os/Waitable.h"

#include <atomic>
#include <cstdint>

namespace qorcam::os {

/// A counting semaphore private to this process.
///
/// Guarantees: the count never exceeds the maximum (a Release that would
/// pass it fails and changes nothing); each successful wait takes exactly one
/// unit. Safe from any thread; usable in WaitAny.
class Semaphore : public Waitable {
public:
    Semaphore(std::uint32_t initialCount, std::uint32_t maximumCount);
    ~Semaphore() override;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    bool IsValid() const { return fd_ >= 0; }

    /// Adds count units. False (and no change) when the count would exceed
    /// the maximum or count is 0.
    bool Release(std::uint32_t count = 1);

    int PollFd() const override { return fd_; }
    bool TryAcquire() override;

private:
    int fd_ = -1;
    std::uint32_t maximum_;
    std::atomic<std::uint32_t> count_;
};

} // namespace qorcam::os
