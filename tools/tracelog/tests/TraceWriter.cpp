// TraceWriter: a process that loads libQorCam.so and makes it write trace lines, for the collection tests.
//
//   TraceWriter N      allocates an output ring and then makes N purges (two
//                      lines each), waiting before each call while the trace
//                      area is nearly full, so that no line is dropped
//   TraceWriter N burst  the same without waiting: lines that find the area
//                      full are dropped
//   TraceWriter N wait   first waits (at most 30 s) for a reader to switch
//                      tracing on, then as TraceWriter N
//   TraceWriter N alone  switches tracing on itself and writes as with burst:
//                      the lines stay in the area for whoever drains it
#include "QorCam.h"
#include "QorCamShared.h"
#include "os/SharedMemory.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

bool g_burst = false;

// Waits (at most 10 s) until the reader has left room for two more lines.
void WaitForRoom(const qorcam::shared::LogShareMemory* area) {
    if (g_burst) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reinterpret_cast<const volatile std::uint32_t&>(area->count) + 2 > qorcam::shared::kLogSlotCount &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const long n = std::strtol(argv[1], nullptr, 10);
    const std::string mode = argc > 2 ? argv[2] : "";
    g_burst = mode == "burst" || mode == "alone";
    qorcam::os::SharedMemory memory(qorcam::shared::kLogFileName, sizeof(qorcam::shared::LogShareMemory));
    if (!memory.IsValid()) return 3;
    auto* area = static_cast<qorcam::shared::LogShareMemory*>(memory.Data());
    auto& level = reinterpret_cast<volatile std::uint32_t&>(area->level);
    if (mode == "alone") level = 1;
    if (mode == "wait") {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (level == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (level == 0) return 4;
    }
    WaitForRoom(area);
    QORCAMFILTER_Alloc(2, 2, 0);
    for (long i = 0; i < n; ++i) {
        WaitForRoom(area);
        QORCAMFILTER_Purge();
    }
    WaitForRoom(area);
    return 0;
}
