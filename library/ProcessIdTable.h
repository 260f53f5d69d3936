// ProcessIdTable: CProcessIdTable, the machine-wide list of processes that use the library.
#pragma once

#include "QorCamShared.h"
#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"

#include <cstdint>

namespace qorcam::library {

/// Lists this process in the shared table at attach and removes it at detach,
/// setting the table event after each so the device monitor re-reads it.
///
/// Guarantees: changes are made only under the table mutex, also when its
/// previous owner died; at most 256 processes are listed (a full table is
/// left as it is, but the event is still set); removal keeps the order of
/// the other entries; a count above 256 found in the table is read as 256.
/// Without all of mutex, area and event the process is simply not listed.
class CProcessIdTable {
public:
    void Open();
    void Add(std::uint32_t processId);
    void Remove(std::uint32_t processId);
    void Close();

    bool IsOpen() const { return table_ != nullptr; }

private:
    os::NamedMutex mutex_;
    os::SharedMemory area_;
    os::NamedEvent event_;
    shared::ProcessIdTable* table_ = nullptr;
};

} // namespace qorcam::library
