// NamedEvent: an event shared between processes, waitable with local ones.
#pragma once

#include "os/Event.h"

#include <string>
#include <string_view>

namespace qorcam::os {

/// A named event that every process under the same runtime root can set,
/// reset and wait on; it can be waited on together with local Events in one
/// WaitAny.
///
/// The signal is a byte in a named pipe `<run>/user/<uid>/<name>.event.fifo`, beside
/// a small header file `<name>.event` that records the reset mode and carries
/// the last-user lifetime of SharedMemory.
///
/// Guarantees: the reset mode is the creator's (an opener's wish is ignored,
/// as it is when opening an existing event by name); an auto-reset event set
/// once releases one waiter in whichever process; signals do not add up; the
/// initial state applies only when the event is created.
class NamedEvent : public Waitable {
public:
    NamedEvent() = default;
    /// Creates the event or opens the existing one of that name.
    NamedEvent(std::string_view name, ResetMode mode, bool initiallySet = false);
    ~NamedEvent() override;
    NamedEvent(NamedEvent&& other) noexcept;
    NamedEvent& operator=(NamedEvent&& other) noexcept;
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    bool IsValid() const { return fifo_ >= 0; }
    bool AlreadyExisted() const { return existed_; }
    int Error() const { return error_; }
    ResetMode Mode() const { return mode_; }

    void Set();
    void Reset();
    bool IsSet() const;

    int PollFd() const override { return fifo_; }
    bool TryAcquire() override;

    void Close();

private:
    int fifo_ = -1;
    int header_ = -1;
    ResetMode mode_ = ResetMode::Auto;
    bool existed_ = false;
    int error_ = 0;
    std::string path_;
};

} // namespace qorcam::os
