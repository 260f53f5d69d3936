// Event: an in-process event with manual or automatic reset.
#pragma once

#include "os/Waitable.h"

namespace qorcam::os {

/// How an event returns to the non-signalled state.
enum class ResetMode {
    Auto,   ///< a successful wait consumes the signal: one waiter per Set
    Manual, ///< stays signalled, releasing every waiter, until Reset
};

/// An event private to this process.
///
/// Guarantees: Set on an already signalled event changes nothing (signals do
/// not add up); an auto-reset event releases exactly one waiter per signal;
/// a manual-reset event releases every waiter until Reset. All methods are
/// safe from any thread. Move-only; an invalid (moved-from or failed) event
/// fails every wait.
class Event : public Waitable {
public:
    explicit Event(ResetMode mode = ResetMode::Auto, bool initiallySet = false);
    ~Event() override;
    Event(Event&& other) noexcept;
    Event& operator=(Event&& other) noexcept;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool IsValid() const { return fd_ >= 0; }
    ResetMode Mode() const { return mode_; }

    void Set();
    void Reset();
    /// True while signalled, without consuming the signal.
    bool IsSet() const;

    int PollFd() const override { return fd_; }
    bool TryAcquire() override;

private:
    int fd_ = -1;
    ResetMode mode_;
};

} // namespace qorcam::os
