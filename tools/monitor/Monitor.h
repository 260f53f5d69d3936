// Monitor: CMonitor, the device monitor program that tells library processes of USB3 Vision devices coming
// and going.
#pragma once

#include "DevicePathList.h"
#include "ProcessEventList.h"
#include "os/Event.h"

#include <string>

namespace qorcam::monitor {

/// One instance per runtime root. Watches the USB3 Vision device class folder
/// and, whenever the set of device paths changes, sets the named USB event of
/// every process in the library's process-id table.
///
/// Guarantees: a second instance ends at once with 1, touching nothing; an
/// instance whose predecessor died holding the single-instance mutex takes
/// over; a change is signalled once per notification that changes the set,
/// never for a notification that does not; SIGTERM or SIGINT ends the
/// program with 0 after the watch thread has ended and every event is closed.
/// When the table objects can't be made, device changes are still watched
/// but no process is signalled.
class CMonitor {
public:
    /// Runs the program; returns its exit code. SIGTERM and SIGINT must be
    /// blocked in every thread of the process before any thread but the
    /// caller exists (BlockTerminationSignals), so that they reach Run.
    int Run();
    /// Ends Run as SIGTERM does; safe from any thread.
    void RequestStop() { quit_.Set(); }

    static bool BlockTerminationSignals();

    /// The folder that holds one socket per present USB3 Vision device.
    static std::string DeviceClassFolder();

private:
    void WatchTable();
    void DeviceLoop();
    void ScanAndSignal();

    os::Event stop_{os::ResetMode::Manual};
    os::Event quit_{os::ResetMode::Manual};
    CDevicePathList paths_;
    CProcessEventList events_;
    std::string folder_;
};

} // namespace qorcam::monitor
