// TestNamespace: a network namespace of the test's own with a veth pair inside.
#include "TestNamespace.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::driverselect::test {

namespace {

// Namespaces and roots of test processes that ended without removing them
// (killed at a time-out) carry their pid: those of dead processes are removed.
void SweepStale() {
    std::string list;
    TestNamespace::Run("ip netns list", &list);
    std::istringstream in(list);
    for (std::string line; std::getline(in, line);) {
        const std::string name = line.substr(0, line.find(' '));
        if (name.rfind("qorcam-ds", 0) != 0) continue;
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + 9));
        if (pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH) continue;
        TestNamespace::Run("ip netns del " + name);
        TestNamespace::Run("rm -rf /tmp/qorcam-dsel-" + std::to_string(pid) + "-*");
    }
}

} // namespace

TestNamespace::TestNamespace(bool withVeth) {
    if (geteuid() != 0) {
        reason_ = "needs root (a network namespace of the test's own)";
        return;
    }
    SweepStale();
    static int counter = 0;
    // The whole pid: interface names hold 15 characters, "qda" + 7 digits + "x" + 1 fits.
    const std::string suffix = std::to_string(getpid()) + "x" + std::to_string(counter++ % 10);
    name_ = "qorcam-ds" + suffix;
    ifA_ = "qda" + suffix;
    ifB_ = "qdb" + suffix;
    std::string dir = "/tmp/qorcam-dsel-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(dir.data())) {
        reason_ = "no temporary folder";
        return;
    }
    root_ = dir;
    if (Run("ip netns add " + name_) != 0) {
        reason_ = "ip netns add failed";
        return;
    }
    made_ = true;
    std::string steps = "ip -n " + name_ + " link set lo up";
    if (withVeth)
        steps += " && ip -n " + name_ + " link add " + ifA_ + " type veth peer name " + ifB_ + " && ip -n " +
                 name_ + " link set " + ifA_ + " up && ip -n " + name_ + " link set " + ifB_ + " up";
    if (Run(steps) != 0) {
        reason_ = "namespace set-up failed: " + steps;
        return;
    }
    available_ = true;
}

TestNamespace::~TestNamespace() {
    if (made_) Run("ip netns del " + name_);
    if (!root_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

int TestNamespace::Run(const std::string& command, std::string* output) {
    if (!output) {
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    output->clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output->append(buffer.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int TestNamespace::RunIn(const std::string& command, std::string* output) const {
    return Run("QORCAM_ROOT=" + root_ + " ip netns exec " + name_ + " sh -c '" + command + "'", output);
}

bool TestNamespace::Within(const std::function<void()>& f) const {
    bool entered = false;
    std::thread t([&] {
        const int fd = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        entered = setns(fd, CLONE_NEWNET) == 0;
        close(fd);
        if (entered) f();
    });
    t.join();
    return entered;
}

} // namespace qorcam::driverselect::test
