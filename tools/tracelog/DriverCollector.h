// DriverCollector: the loop that keeps ten message requests pending on a driver device and logs what comes
// back.
#pragma once

#include "DriverSource.h"
#include "RingLogFile.h"
#include "devio/DeviceHandle.h"
#include "os/Waitable.h"

#include <cstdint>

namespace qorcam::tracelog {

/// Ten message requests kept in flight per device.
inline constexpr int kMessageSlots = 10;

/// Everything one collector works with; all of it outlives the collector.
struct DriverCollectorContext {
    devio::DeviceHandle& device;
    const DriverSource& source;
    std::uint32_t level;      // the driver level, 0..2, taken at the collector's start
    os::Waitable& dialogStop; // manual reset, shared by every collector
    os::Waitable* deviceStop; // manual reset, this device's own; may be null
    CRingLogFile& file;       // records are dropped while it is closed
};

/// Runs one collector until a stop event is set or a message request fails:
/// enables messages at the level, keeps ten requests pending and writes each
/// record, in the order the requests were sent, as one time-stamped line;
/// then cancels what is still pending, waits for it and disables messages
/// (level 0). Each request's buffer is cleared before it is sent and only the
/// bytes the driver returned are read.
void RunDriverCollector(const DriverCollectorContext& context);

} // namespace qorcam::tracelog
