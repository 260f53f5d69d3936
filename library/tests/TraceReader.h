// TraceReader: the reader's side of the trace area, as the log tool uses it, for tests.
#pragma once

#include "QorCamShared.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"

#include <string>
#include <vector>

namespace qorcam::testing {

/// Opens the trace area under the current root, sets its level and takes the
/// pending lines the way the log tool does (copy, then empty the area).
class TraceReader {
public:
    TraceReader()
        : mutex_(shared::kLogMutexName), area_(shared::kLogFileName, sizeof(shared::LogShareMemory)) {}

    bool IsValid() const { return mutex_.IsValid() && area_.IsValid(); }
    shared::LogShareMemory& Area() { return *static_cast<shared::LogShareMemory*>(area_.Data()); }
    void SetLevel(std::uint32_t level) { Area().level = level; }

    std::vector<std::string> Drain() {
        std::vector<std::string> lines;
        os::NamedMutexLock lock(mutex_);
        const std::uint32_t count = shared::ClampedLogCount(Area().count);
        for (std::uint32_t i = 0; i < count; ++i)
            lines.emplace_back(Area().slot[i]);
        Area().count = 0;
        return lines;
    }

private:
    os::NamedMutex mutex_;
    os::SharedMemory area_;
};

} // namespace qorcam::testing
