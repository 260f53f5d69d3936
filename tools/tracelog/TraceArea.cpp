// TraceArea: mapping, level word and draining of the shared trace area.
#include "TraceArea.h"

#include <cstring>

namespace qorcam::tracelog {

CTraceArea::CTraceArea()
    : mutex_(shared::kLogMutexName), event_(shared::kLogEventName, os::ResetMode::Auto) {}

bool CTraceArea::Map() {
    if (!area_.IsValid()) area_ = os::SharedMemory(shared::kLogFileName, sizeof(shared::LogShareMemory));
    return area_.IsValid();
}

void CTraceArea::Unmap() {
    area_.Close();
}

void CTraceArea::SetLevel(std::uint32_t level) {
    if (auto* m = Memory()) reinterpret_cast<volatile std::uint32_t&>(m->level) = level;
}

std::uint32_t CTraceArea::Level() const {
    const auto* m = Memory();
    return m != nullptr ? reinterpret_cast<const volatile std::uint32_t&>(m->level) : 0;
}

std::vector<std::string> CTraceArea::Take(std::uint32_t* dropped) {
    std::vector<std::string> lines;
    if (dropped) *dropped = 0;
    auto* m = Memory();
    if (m == nullptr) return lines;
    // A writer that died holding the mutex may have left its slot half
    // written; the slot still ends at its size, so it is taken as it stands.
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return lines;
    const std::uint32_t count = shared::ClampedLogCount(m->count);
    if (dropped) *dropped = shared::DroppedLogLines(*m);
    lines.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        lines.emplace_back(m->slot[i], strnlen(m->slot[i], shared::kLogSlotSize));
    m->count = 0;
    return lines;
}

} // namespace qorcam::tracelog
