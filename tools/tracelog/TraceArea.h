// TraceArea: the log tool's view of the library's shared trace area, its mutex and its event.
#pragma once

#include "QorCamShared.h"
#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::tracelog {

/// The reader's side of the trace area that every library instance writes.
///
/// Guarantees: the mutex and the event are created (or opened) with the
/// object, the area by Map; whoever comes first, the library or the tool,
/// creates them. Take never hands out more than 32 lines, whatever the count
/// word says (any process can write it), and never reads past a slot: a line
/// without its NUL ends with its slot.
class CTraceArea {
public:
    CTraceArea();

    /// Creates or opens the 32776-byte area; false when it can't be mapped.
    bool Map();
    void Unmap();
    bool IsMapped() const { return area_.IsValid(); }

    /// The level word every traced function of the library reads.
    void SetLevel(std::uint32_t level);
    std::uint32_t Level() const;

    /// Under the area's mutex: copies the waiting lines out in slot order and
    /// sets the count to 0. Empty when the mutex can't be taken. dropped gets
    /// how many lines writers dropped after these because the area was full.
    std::vector<std::string> Take(std::uint32_t* dropped = nullptr);

    /// Set by the library after each line (auto reset).
    os::NamedEvent& LogEvent() { return event_; }

private:
    shared::LogShareMemory* Memory() const { return static_cast<shared::LogShareMemory*>(area_.Data()); }

    os::NamedMutex mutex_;
    os::NamedEvent event_;
    os::SharedMemory area_;
};

} // namespace qorcam::tracelog
