// TestNamespace: a network namespace of the test's own with a veth pair inside.
#include "TestNamespace.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::driverselect::test {

TestNamespace::TestNamespace(bool withVeth) {
    if (geteuid() != 0) {
        reason_ = "needs root (a network namespace of the test's own)";
        return;
    }
    static int counter = 0;
    const std::string suffix = std::to_string(getpid() % 1000000) + "x" + std::to_string(counter++ % 10);
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
