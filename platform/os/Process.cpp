// Process: fork and exec with a clean descriptor set, signal state and an exec-failure report.
#include "os/Process.h"

#include "os/Waitable.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qorcam::os {
namespace {

// Everything the child needs is prepared before fork: after it, only
// async-signal-safe calls are made.
struct ExecPlan {
    std::string path;
    std::vector<std::string> strings;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

ExecPlan MakePlan(const std::string& path, const std::vector<std::string>& args,
                  const std::vector<std::pair<std::string, std::string>>& env) {
    ExecPlan plan;
    plan.path = path;
    std::vector<std::string> vars;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : env) {
            if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
                entry[name.size()] == '=') {
                replaced = true;
            }
        }
        if (!replaced) vars.push_back(entry);
    }
    for (const auto& [name, value] : env)
        vars.push_back(name + "=" + value);
    plan.strings.push_back(path);
    plan.strings.insert(plan.strings.end(), args.begin(), args.end());
    const std::size_t argc = plan.strings.size();
    plan.strings.insert(plan.strings.end(), vars.begin(), vars.end());
    for (std::size_t i = 0; i < plan.strings.size(); ++i) {
        (i < argc ? plan.argv : plan.envp).push_back(plan.strings[i].data());
    }
    plan.argv.push_back(nullptr);
    plan.envp.push_back(nullptr);
    return plan;
}

void CloseDescriptorsFrom(int first, int keep) {
    // close_range where the kernel has it; otherwise one by one.
    if (keep > first) syscall(SYS_close_range, first, keep - 1, 0);
    const int from = keep >= first ? keep + 1 : first;
    if (syscall(SYS_close_range, from, ~0U, 0) == 0) return;
    const long max = sysconf(_SC_OPEN_MAX);
    for (int fd = first; fd < (max > 0 ? max : 65536); ++fd) {
        if (fd != keep) close(fd);
    }
}

[[noreturn]] void ExecChild(const ExecPlan& plan, int report) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);
    CloseDescriptorsFrom(3, report);
    execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
    const int error = errno;
    ssize_t ignored = write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Reads the child's exec failure, if any: the pipe closes on a successful
// exec (close-on-exec) and carries errno otherwise.
int ReadExecError(int fd) {
    int error = 0;
    ssize_t n;
    do {
        n = read(fd, &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == static_cast<ssize_t>(sizeof error) ? (error != 0 ? error : ENOEXEC) : 0;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

Process::~Process() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

Process::Process(Process&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Process old(std::move(*this));
        pid_ = std::exchange(other.pid_, -1);
        status_ = other.status_;
    }
    return *this;
}

bool Process::Start(const std::string& path) {
    if (path.empty()) return false;
    const ExecPlan plan = MakePlan(path, {}, {});
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t middle = fork();
    if (middle < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (middle == 0) {
        // The program runs as a grandchild: its parent ends at once, so it
        // belongs to init, and we never leave a zombie behind.
        close(report[0]);
        const pid_t program = fork();
        if (program < 0) {
            const int error = errno;
            ssize_t ignored = write(report[1], &error, sizeof error);
            (void)ignored;
            _exit(1);
        }
        if (program == 0) ExecChild(plan, report[1]);
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return ReadExecError(report[0]) == 0;
}

std::optional<Process> Process::Spawn(const std::string& path, const std::vector<std::string>& args,
                                      const std::vector<std::pair<std::string, std::string>>& env) {
    if (path.empty()) return std::nullopt;
    const ExecPlan plan = MakePlan(path, args, env);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        close(report[0]);
        ExecChild(plan, report[1]);
    }
    close(report[1]);
    if (ReadExecError(report[0]) != 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return std::nullopt;
    }
    return Process(pid);
}

std::uint32_t Process::CurrentId() {
    return static_cast<std::uint32_t>(getpid());
}

std::string Process::ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    return std::string(path, static_cast<std::size_t>(n));
}

std::optional<int> Process::Wait(std::uint32_t timeoutMs) {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, timeoutMs == kInfinite ? 0 : WNOHANG);
        if (r == pid_) {
            status_ = DecodeStatus(status);
            return status_;
        }
        if (r < 0 && errno != EINTR) return std::nullopt; // not our child any more
        if (timeoutMs != kInfinite) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long long elapsed =
                (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000LL;
            if (elapsed >= static_cast<long long>(timeoutMs)) return std::nullopt;
            const timespec pause{0, 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
}

bool Process::Kill(int signal) {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = DecodeStatus(status);
        return false;
    }
    return kill(pid_, signal) == 0;
}

} // namespace qorcam::os
