// Process: starting programs, owning child processes, and process ids.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace qorcam::os {

/// A child process that this object owns, or the means to start a program
/// that lives on its own.
///
/// Guarantees: a started program inherits no descriptors other than standard
/// input, output and error, starts with default signal handling and an empty
/// signal mask, and inherits the caller's environment and current folder.
/// A Process object that is destroyed while its child still runs kills
/// (SIGKILL) and reaps it, so no child outlives its owner by accident; use
/// Start for programs meant to outlive the caller.
class Process {
public:
    Process() = default;
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    /// Starts the program at path with no arguments and does not wait for it.
    /// The program is not our child (it is never left as a zombie). False
    /// when path is empty or the program could not be executed.
    static bool Start(const std::string& path);

    /// Starts the program at path as an owned child with the given arguments
    /// (argv[0] is path) and extra environment variables (name, value) set on
    /// top of the caller's. Empty result when it could not be executed.
    static std::optional<Process> Spawn(const std::string& path, const std::vector<std::string>& args = {},
                                        const std::vector<std::pair<std::string, std::string>>& env = {});

    /// Process id of the caller.
    static std::uint32_t CurrentId();
    /// Full path of the running program's executable (empty if unknown).
    static std::string ExecutablePath();

    bool IsValid() const { return pid_ > 0; }
    std::uint32_t Id() const { return static_cast<std::uint32_t>(pid_); }

    /// Waits for the child to end: its exit code, or 128 + signal number when
    /// a signal ended it; empty on time-out (kInfinite: no limit).
    std::optional<int> Wait(std::uint32_t timeoutMs);
    /// Sends a signal to the child still running; false when it has ended.
    bool Kill(int signal);

private:
    explicit Process(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
    std::optional<int> status_;
};

} // namespace qorcam::os
