// main: the QorCamMonitor program.
#include "Monitor.h"

#ifdef QORCAM_MONITOR_TRAY
#include "TrayIcon.h"
#endif

namespace {

// Blocked as soon as the program's own code runs, before the start-up work of
// its static objects and of main: a SIGTERM that arrives meanwhile waits in
// the mask until the monitor's loop takes it, and the monitor still ends
// with 0.
__attribute__((constructor(101))) void BlockTerminationAtLoad() {
    qorcam::monitor::CMonitor::BlockTerminationSignals();
}

} // namespace

int main() {
    // Blocked before any other thread exists, so SIGTERM always reaches the
    // monitor's loop instead of ending the process on whatever thread it hits.
    if (!qorcam::monitor::CMonitor::BlockTerminationSignals()) return 1;
    qorcam::monitor::CMonitor monitor;
#ifdef QORCAM_MONITOR_TRAY
    int exitCode = 0;
    if (qorcam::monitor::RunWithTrayIcon(monitor, exitCode)) return exitCode;
#endif
    return monitor.Run();
}
