// main: the QorCamMonitor program.
#include "Monitor.h"

#ifdef QORCAM_MONITOR_TRAY
#include "TrayIcon.h"
#endif

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
