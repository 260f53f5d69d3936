// TraceAreaReader: the reader's side of the shared trace area behind a C interface, for the sample.
#include "TraceAreaReader.h"

#include "QorCamShared.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"

#include <memory>

namespace {

struct Reader {
    qorcam::os::NamedMutex mutex{qorcam::shared::kLogMutexName};
    qorcam::os::SharedMemory area{qorcam::shared::kLogFileName, sizeof(qorcam::shared::LogShareMemory)};
    qorcam::shared::LogShareMemory* Log() {
        return static_cast<qorcam::shared::LogShareMemory*>(area.Data());
    }
};

std::unique_ptr<Reader> g_reader;

} // namespace

extern "C" int qorcam_trace_open(void) {
    g_reader = std::make_unique<Reader>();
    if (!g_reader->mutex.IsValid() || !g_reader->area.IsValid()) {
        g_reader.reset();
        return 0;
    }
    return 1;
}

extern "C" uint32_t qorcam_trace_set_level(uint32_t level) {
    if (!g_reader) return 0;
    const uint32_t before = g_reader->Log()->level;
    g_reader->Log()->level = level;
    return before;
}

extern "C" uint32_t qorcam_trace_take(void (*print)(const char* line)) {
    if (!g_reader) return 0;
    qorcam::os::NamedMutexLock lock(g_reader->mutex);
    if (!lock.owns()) return 0;
    auto* log = g_reader->Log();
    const uint32_t count = qorcam::shared::ClampedLogCount(log->count);
    for (uint32_t i = 0; i < count; ++i) {
        log->slot[i][qorcam::shared::kLogSlotSize - 1] = '\0';
        if (print != nullptr) print(log->slot[i]);
    }
    log->count = 0;
    return count;
}

extern "C" void qorcam_trace_close(void) {
    g_reader.reset();
}
