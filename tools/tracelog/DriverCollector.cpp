// DriverCollector: the driver collectors' request loop.
#include "DriverCollector.h"

#include "os/LocalTime.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <vector>

namespace qorcam::tracelog {
namespace {

// A driver that never completes a cancelled request must not hold the tool
// forever; a record destroyed while its request is in flight is forgotten
// safely by the device layer.
constexpr std::uint32_t kCancelWaitMs = 5000;

struct Slot {
    devio::Overlapped overlapped;
    std::vector<std::uint8_t> buffer;
    bool inFlight = false;
};

// Sends an enable request and waits for it, or for a stop event while it is pending.
void SendEnable(const DriverCollectorContext& c, std::uint32_t level, bool stoppable) {
    devio::Overlapped overlapped;
    const auto status =
        c.device.DeviceIoControl(c.source.enableCode, &level, sizeof level, nullptr, 0, overlapped);
    if (status != devio::STATUS_PENDING) return;
    if (stoppable) {
        os::Waitable* waits[] = {&c.dialogStop, c.deviceStop != nullptr ? c.deviceStop : &c.dialogStop,
                                 &overlapped.CompletionEvent()};
        os::WaitAny(waits, os::kInfinite);
    } else {
        overlapped.CompletionEvent().Wait(kCancelWaitMs);
    }
}

bool SendMessageRequest(const DriverCollectorContext& c, Slot& slot) {
    std::fill(slot.buffer.begin(), slot.buffer.end(), 0);
    const auto status = c.device.DeviceIoControl(c.source.messageCode, nullptr, 0, slot.buffer.data(),
                                                 c.source.requestLength, slot.overlapped);
    // A request the handle refused never completes; treat it as a failed one.
    slot.inFlight = status == devio::STATUS_PENDING || devio::NtSuccess(status);
    return slot.inFlight;
}

} // namespace

void RunDriverCollector(const DriverCollectorContext& c) {
    std::array<Slot, kMessageSlots> slots;
    for (auto& s : slots)
        s.buffer.assign(std::max(c.source.bufferSize, c.source.requestLength), 0);

    SendEnable(c, c.level, true);

    bool running = true;
    for (auto& s : slots) {
        if (!SendMessageRequest(c, s)) {
            running = false;
            break;
        }
    }

    os::Waitable* deviceStop = c.deviceStop != nullptr ? c.deviceStop : &c.dialogStop;
    for (int i = 0; running;) {
        Slot& slot = slots[i];
        const int which =
            os::WaitAny({&c.dialogStop, deviceStop, &slot.overlapped.CompletionEvent()}, os::kInfinite);
        if (which != 2) break;
        std::uint64_t bytes = 0;
        const auto status = c.device.GetOverlappedResult(slot.overlapped, &bytes, true);
        slot.inFlight = false;
        if (!devio::NtSuccess(status)) break;
        const std::size_t got = static_cast<std::size_t>(
            std::min<std::uint64_t>(slot.overlapped.OutputBytes(), c.source.requestLength));
        if (auto line = c.source.formatLine(std::span<const std::uint8_t>(slot.buffer.data(), got))) {
            const auto now = os::LocalTime::Now();
            c.file.WriteRecord(*line, &now); // dropped while the file is closed
        }
        if (!SendMessageRequest(c, slot)) break;
        i = (i + 1) % kMessageSlots;
    }

    c.device.CancelIo();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
    for (auto& s : slots) {
        if (!s.inFlight) continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        s.overlapped.CompletionEvent().Wait(static_cast<std::uint32_t>(std::max<long long>(left.count(), 0)));
    }
    SendEnable(c, 0, false);
}

} // namespace qorcam::tracelog
