// ProcessIdTable: CProcessIdTable, the machine-wide list of processes that use the library.
#include "ProcessIdTable.h"

namespace qorcam::library {

void CProcessIdTable::Open() {
    mutex_ = os::NamedMutex(shared::kProcessIdMutexName);
    area_ = os::SharedMemory(shared::kProcessIdTableName, sizeof(shared::ProcessIdTable));
    event_ = os::NamedEvent(shared::kProcessIdEventName, os::ResetMode::Auto, false);
    if (mutex_.IsValid() && area_.IsValid() && event_.IsValid()) {
        table_ = static_cast<shared::ProcessIdTable*>(area_.Data());
    }
}

void CProcessIdTable::Add(std::uint32_t processId) {
    if (table_ == nullptr) return;
    {
        os::NamedMutexLock lock(mutex_);
        if (!lock.owns()) return;
        const std::uint32_t count = shared::ClampedProcessCount(table_->count);
        if (count < shared::kProcessIdCapacity) {
            table_->id[count] = processId;
            table_->count = count + 1;
        }
    }
    event_.Set();
}

void CProcessIdTable::Remove(std::uint32_t processId) {
    if (table_ == nullptr) return;
    {
        os::NamedMutexLock lock(mutex_);
        if (!lock.owns()) return;
        const std::uint32_t count = shared::ClampedProcessCount(table_->count);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (table_->id[i] != processId) continue;
            for (std::uint32_t j = i + 1; j < count; ++j)
                table_->id[j - 1] = table_->id[j];
            table_->count = count - 1;
            break;
        }
    }
    event_.Set();
}

void CProcessIdTable::Close() {
    table_ = nullptr;
    mutex_.Close();
    area_.Close();
    event_.Close();
}

} // namespace qorcam::library
