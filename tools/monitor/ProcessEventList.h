// ProcessEventList: CProcessEventList, one named USB event per process listed in the process-id table.
#pragma once

#include "os/NamedEvent.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qorcam::monitor {

/// The per-process events the monitor sets when the device set changes.
///
/// Guarantees: after Reconcile the list holds exactly one event per process
/// id of the table (in table order for new ones), a process that stays keeps
/// its event, and the events of processes that left are closed. At most 256
/// table entries are read whatever count the table claims. Safe between the
/// watch thread (Reconcile) and the device thread (SetAll).
class CProcessEventList {
public:
    /// ids: the table's first count entries, count as read from the table.
    void Reconcile(const std::uint32_t* ids, std::uint32_t count);
    /// Sets every event, in list order.
    void SetAll();
    void Clear();

    std::vector<std::uint32_t> ProcessIds() const;

private:
    struct Record {
        std::unique_ptr<os::NamedEvent> event; // invalid when it could not be made: setting it does nothing
        std::uint32_t processId;
    };
    mutable std::mutex lock_;
    std::vector<Record> records_;
};

} // namespace qorcam::monitor
