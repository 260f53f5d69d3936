// ServiceControl: a service program started detached, known by its pid file, stopped by signal.
#include "devio/ServiceControl.h"

#include "devio/DeviceName.h"
#include "devio/UnixAddress.h"
#include "os/Paths.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::devio {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kKillWait = std::chrono::milliseconds(2000);

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

/// Holds an exclusive lock on a file for its life (nothing when the file
/// cannot be opened: the lock then only serialises within reach).
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path)
        : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

pid_t ReadPidFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    long long value = 0;
    if (!(in >> value) || value <= 0 || value > 0x7FFFFFFF) return 0;
    return static_cast<pid_t>(value);
}

bool WritePidFile(const std::filesystem::path& path, pid_t pid) {
    const std::filesystem::path temporary = path.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!(out << pid << '\n')) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

/// Alive and not a zombie: an ended process that nobody reaped yet no longer
/// serves anything.
bool IsAlive(pid_t pid) {
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const auto paren = line.rfind(')');
    if (paren == std::string::npos || paren + 2 >= line.size()) return false;
    const char state = line[paren + 2];
    return state != 'Z' && state != 'X';
}

/// The process runs the program: its argv[0] names the same file. A pid that
/// was reused by another program after a crash reads as "not ours".
bool RunsProgram(pid_t pid, const std::filesystem::path& program) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string argv0;
    if (!std::getline(in, argv0, '\0') || argv0.empty()) return false;
    return std::filesystem::path(argv0).filename() == program.filename();
}

bool WaitEnded(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (IsAlive(pid)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

/// Starts the program as a grandchild in its own session, so it is nobody's
/// child here and outlives the caller. Returns its pid, or 0 with errno set.
pid_t SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    // Everything the children need is prepared before fork: after it only
    // async-signal-safe calls are made.
    std::vector<std::string> strings;
    strings.push_back(program.string());
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return 0;
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t middle = fork();
    if (middle < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        if (devNull >= 0) close(devNull);
        errno = error;
        return 0;
    }
    if (middle == 0) {
        setsid();
        const pid_t service = fork();
        if (service == 0) {
            // No descriptor of the caller's stays open in the service: a pipe
            // on the caller's output would otherwise stay open as long as
            // the service runs (`tool | grep` would wait for the service's end).
            if (devNull >= 0)
                for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                    dup2(devNull, fd);
            close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
                std::signal(signal, SIG_DFL);
            execv(argv[0], argv.data());
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
            _exit(127);
        }
        (void)!write(report[1], &service, sizeof service);
        _exit(0);
    }
    close(report[1]);
    if (devNull >= 0) close(devNull);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes when the service has executed the program (close on
    // exec) or has failed to; its error number follows the pid in that case.
    pid_t service = -1;
    int error = 0;
    char buffer[sizeof service + sizeof error];
    std::size_t got = 0;
    for (;;) {
        const ssize_t n = read(report[0], buffer + got, sizeof buffer - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (got == sizeof buffer) break;
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(report[0]);
    if (got >= sizeof service) std::memcpy(&service, buffer, sizeof service);
    if (got == sizeof buffer) {
        std::memcpy(&error, buffer + sizeof service, sizeof error);
        errno = error;
        return 0;
    }
    if (service <= 0) {
        errno = ECHILD;
        return 0;
    }
    return service;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

ServiceControl::ServiceControl(ServiceConfig config) : config_(std::move(config)) {}

std::filesystem::path ServiceControl::PidFile() const {
    return std::filesystem::path(os::Paths::Run()) / (config_.name + ".pid");
}

pid_t ServiceControl::Pid() const {
    if (!ValidName(config_.name)) return 0;
    const pid_t pid = ReadPidFile(PidFile());
    return pid > 0 && IsAlive(pid) && RunsProgram(pid, config_.program) ? pid : 0;
}

ServiceState ServiceControl::Query() const {
    return Pid() != 0 ? ServiceState::Running : ServiceState::Stopped;
}

bool ServiceControl::Start(std::string* error) {
    if (!ValidName(config_.name) || config_.program.empty()) {
        SetError(error, "invalid service configuration");
        return false;
    }
    const std::filesystem::path pidFile = PidFile();
    FileLock lock(std::filesystem::path(pidFile).replace_extension(".lock"));
    if (Pid() != 0) return true;

    const pid_t pid = SpawnDetached(config_.program, config_.arguments);
    if (pid == 0) {
        SetError(error, "cannot start " + config_.program.string() + ": " + std::strerror(errno));
        return false;
    }
    if (!WritePidFile(pidFile, pid)) {
        kill(pid, SIGKILL);
        SetError(error, "cannot write " + pidFile.string());
        return false;
    }
    const auto deadline = Clock::now() + config_.startTimeout;
    for (;;) {
        if (!IsAlive(pid)) {
            std::filesystem::remove(pidFile);
            SetError(error, config_.program.filename().string() + " ended during start");
            return false;
        }
        if (config_.deviceName.empty() || detail::SocketAnswers(DevicePath(config_.deviceName))) return true;
        if (Clock::now() >= deadline) {
            kill(pid, SIGTERM);
            if (!WaitEnded(pid, kKillWait)) {
                kill(pid, SIGKILL);
                WaitEnded(pid, kKillWait);
            }
            std::filesystem::remove(pidFile);
            SetError(error, config_.program.filename().string() + " did not answer on " + config_.deviceName);
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool ServiceControl::Stop(std::string* error) {
    if (!ValidName(config_.name)) {
        SetError(error, "invalid service configuration");
        return false;
    }
    const std::filesystem::path pidFile = PidFile();
    FileLock lock(std::filesystem::path(pidFile).replace_extension(".lock"));
    const pid_t pid = Pid();
    if (pid != 0) {
        kill(pid, SIGTERM);
        if (!WaitEnded(pid, config_.stopTimeout)) {
            kill(pid, SIGKILL);
            if (!WaitEnded(pid, kKillWait)) {
                SetError(error, config_.program.filename().string() + " does not end");
                return false;
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove(pidFile, ignored);
    return true;
}

} // namespace qorcam::devio
