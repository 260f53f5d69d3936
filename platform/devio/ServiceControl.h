// ServiceControl: starting, stopping and querying a service program by its pid file.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qorcam::devio {

/// What a ServiceControl controls.
struct ServiceConfig {
    /// Service name; its pid file is <run>/<name>.pid (for example QORGIGE).
    std::string name;
    /// The service program and its arguments (argv[0] is the program path).
    std::filesystem::path program;
    std::vector<std::string> arguments;
    /// The device that answers once the service is ready (for example
    /// "\\.\QORGIGE"); empty: ready as soon as the program runs.
    std::string deviceName;
    std::chrono::milliseconds startTimeout{10000};
    std::chrono::milliseconds stopTimeout{10000};
};

enum class ServiceState { Stopped, Running };

/// Start, stop and query of one service program.
///
/// Guarantees:
/// - Query reports Running only when the pid file names a live process that
///   runs the configured program (a stale pid file, an exited process or a
///   reused pid read as Stopped); Stop never signals any other process.
/// - Start spawns the program detached from the caller (it outlives it, with
///   the caller's environment, so the same QORCAM_ROOT), writes the pid file
///   and returns true only once the device answers; a program that exits or
///   does not answer within startTimeout is stopped, its pid file removed,
///   and Start returns false. Starting a running service succeeds at once.
/// - Stop sends SIGTERM and waits up to stopTimeout for the process to end
///   (then SIGKILL and a short bounded wait); the pid file is removed. Stop
///   of a stopped service succeeds.
/// - Start and Stop of the same service from several processes are
///   serialised by a lock file beside the pid file.
class ServiceControl {
public:
    explicit ServiceControl(ServiceConfig config);

    bool Start(std::string* error = nullptr);
    bool Stop(std::string* error = nullptr);
    ServiceState Query() const;
    /// The running service's process id; 0 when it is not running.
    pid_t Pid() const;
    std::filesystem::path PidFile() const;

private:
    ServiceConfig config_;
};

} // namespace qorcam::devio
