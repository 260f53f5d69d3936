// ProcessEventList: CProcessEventList, one named USB event per process listed in the process-id table.
#include "ProcessEventList.h"

#include "QorCamShared.h"

#include <string>

namespace qorcam::monitor {

void CProcessEventList::Reconcile(const std::uint32_t* ids, std::uint32_t count) {
    count = shared::ClampedProcessCount(count);
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Record> working = std::move(records_);
    records_.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t id = ids[i];
        bool kept = false;
        for (Record& r : working) {
            if (r.event != nullptr && r.processId == id) {
                records_.push_back(std::move(r));
                r.event.reset();
                kept = true;
                break;
            }
        }
        if (kept) continue;
        const std::string name = std::string(shared::kUsbEventPrefix) + std::to_string(id);
        records_.push_back({std::make_unique<os::NamedEvent>(name, os::ResetMode::Auto, false), id});
    }
    // Whatever is left in working belongs to processes that left the table
    // and is closed as it goes out of scope.
}

void CProcessEventList::SetAll() {
    std::lock_guard<std::mutex> guard(lock_);
    for (Record& r : records_) {
        if (r.event->IsValid()) r.event->Set();
    }
}

void CProcessEventList::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    records_.clear();
}

std::vector<std::uint32_t> CProcessEventList::ProcessIds() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::uint32_t> ids;
    for (const Record& r : records_)
        ids.push_back(r.processId);
    return ids;
}

} // namespace qorcam::monitor
