// TrayIcon: the monitor's notification-area icon, shown only where a display and a tray exist.
#pragma once

namespace qorcam::monitor {

class CMonitor;

/// Runs the monitor with a tray icon whose menu ends it, when a display and a
/// system tray are there. Returns false without touching anything when they
/// are not (the caller then runs headless); otherwise true and the exit code
/// in exitCode.
bool RunWithTrayIcon(CMonitor& monitor, int& exitCode);

} // namespace qorcam::monitor
