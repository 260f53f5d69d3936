// MonitorProcessTest: the monitor program with real library processes: one instance, SIGTERM, and device
// changes signalled within a second.
#include "TempRoot.h"

#include "QorCamShared.h"
#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/Paths.h"
#include "os/Process.h"
#include "os/SharedMemory.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

using qorcam::os::Process;

namespace {

Process Spawn(const char* program, const std::vector<std::string>& args = {}) {
    auto p = Process::Spawn(program, args);
    EXPECT_TRUE(p.has_value()) << program;
    return std::move(*p);
}

std::string DeviceFolder() {
    const std::string folder = qorcam::os::Paths::Run() + "/dev/" + qorcam::shared::kUsbDeviceClass;
    qorcam::os::Paths::CreateFolder(folder);
    return folder;
}

// A device arrives as a listening socket in the class folder, as the USB
// service makes them.
class DeviceSocket {
public:
    explicit DeviceSocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    }
    ~DeviceSocket() {
        close(fd_);
        unlink(path_.c_str());
    }

private:
    std::string path_;
    int fd_ = -1;
};

qorcam::os::NamedEvent UsbEvent(std::uint32_t pid) {
    return qorcam::os::NamedEvent(std::string(qorcam::shared::kUsbEventPrefix) + std::to_string(pid),
                                  qorcam::os::ResetMode::Auto);
}

// Waits (at most 10 s) until the monitor's main thread blocks SIGTERM: from
// then on a SIGTERM is taken by its loop. Read from outside, so the monitor's
// start is not disturbed.
bool BlocksSigterm(Process& monitor) {
    const std::string status = "/proc/" + std::to_string(monitor.Id()) + "/status";
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(status);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("SigBlk:", 0) != 0) continue;
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            if (mask & (1ull << (SIGTERM - 1))) return true;
        }
        if (monitor.Wait(10).has_value()) return false;
    }
    return false;
}

// A running monitor stays up until SIGTERM and then ends with 0.
void ExpectRunsUntilSigterm(Process& monitor, const char* why) {
    EXPECT_TRUE(BlocksSigterm(monitor)) << why;
    EXPECT_FALSE(monitor.Wait(400).has_value()) << why;
    monitor.Kill(SIGTERM);
    EXPECT_EQ(monitor.Wait(10000), 0);
}

void Drain(qorcam::os::NamedEvent& e) {
    while (e.Wait(0)) {
    }
}

// A SIGTERM that is already pending when the monitor starts, held by the mask
// it inherits (as from a service manager or a shell that blocks it), is
// taken by the monitor's loop: it ends with 0. A program that only installs
// a handler never sees the blocked signal and runs on; one that unblocks it
// first ends by the signal (143).
TEST(MonitorProcess, SigtermPendingAtStartEndsTheMonitorWithZero) {
    qorcam::testing::TempRoot root;
    char program[] = QORCAM_MONITOR;
    char* argv[] = {program, nullptr};
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec; the mask and the
        // pending signal both survive exec.
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        sigprocmask(SIG_BLOCK, &term, nullptr);
        kill(getpid(), SIGTERM);
        execv(program, argv);
        _exit(127);
    }
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 2000 && ended == 0; ++i) {
        ended = waitpid(child, &status, WNOHANG);
        if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the monitor ran on with a SIGTERM pending";
    }
    ASSERT_EQ(ended, child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(MonitorProcess, SecondInstanceEndsAtOnceAndSigtermEndsTheFirst) {
    qorcam::testing::TempRoot root;
    {
        qorcam::os::NamedMutex other(qorcam::shared::kMonitorMutexName);
        ASSERT_TRUE(qorcam::os::Owns(other.Lock(0)));
        Process second = Spawn(QORCAM_MONITOR);
        EXPECT_EQ(second.Wait(10000), 1);
        other.Unlock();
    }
    Process monitor = Spawn(QORCAM_MONITOR);
    ExpectRunsUntilSigterm(monitor, "the only instance keeps running");
}

TEST(MonitorProcess, InstanceKilledHoldingTheMutexDoesNotBlockTheNext) {
    qorcam::testing::TempRoot root;
    Process first = Spawn(QORCAM_MONITOR);
    // Wait until the first instance owns the single-instance mutex.
    qorcam::os::NamedMutex probe(qorcam::shared::kMonitorMutexName);
    bool held = false;
    for (int i = 0; i < 500 && !held; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto r = probe.Lock(0);
        if (qorcam::os::Owns(r)) {
            probe.Unlock();
        } else {
            held = r == qorcam::os::LockResult::Timeout;
        }
        if (!held && first.Wait(0).has_value()) first = Spawn(QORCAM_MONITOR);
    }
    ASSERT_TRUE(held);
    first.Kill(SIGKILL);
    first.Wait(10000);

    Process next = Spawn(QORCAM_MONITOR);
    ExpectRunsUntilSigterm(next, "the dead instance's mutex was taken over");
}

TEST(MonitorProcess, SignalsEveryLibraryProcessWithinASecondOfADeviceChange) {
    qorcam::testing::TempRoot root;
    const std::string folder = DeviceFolder();
    Process monitor = Spawn(QORCAM_MONITOR);
    Process a = Spawn(QORCAM_LIBRARY_CLIENT, {"hold"});
    Process b = Spawn(QORCAM_LIBRARY_CLIENT, {"hold"});

    qorcam::os::SharedMemory tableArea(qorcam::shared::kProcessIdTableName,
                                       sizeof(qorcam::shared::ProcessIdTable));
    const auto* table = static_cast<const qorcam::shared::ProcessIdTable*>(tableArea.Data());
    for (int i = 0; i < 1000 && table->count < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(table->count, 2u);
    ASSERT_TRUE(root.WaitReady(a.Id()));
    ASSERT_TRUE(root.WaitReady(b.Id()));

    auto eventA = UsbEvent(a.Id());
    auto eventB = UsbEvent(b.Id());
    // The monitor takes up the table on its own thread; wait until a device
    // change reaches both processes before timing one.
    bool ready = false;
    for (int i = 0; i < 50 && !ready; ++i) {
        DeviceSocket warm(folder + "/warm" + std::to_string(i));
        ready = eventA.Wait(200) && eventB.Wait(200);
    }
    ASSERT_TRUE(ready);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Drain(eventA);
    Drain(eventB);

    {
        DeviceSocket camera(folder + "/usb-camera-1");
        EXPECT_TRUE(eventA.Wait(1000)) << "arrival";
        EXPECT_TRUE(eventB.Wait(1000)) << "arrival";
    }
    EXPECT_TRUE(eventA.Wait(1000)) << "removal";
    EXPECT_TRUE(eventB.Wait(1000)) << "removal";

    a.Kill(SIGTERM);
    b.Kill(SIGTERM);
    EXPECT_EQ(a.Wait(10000), 0);
    EXPECT_EQ(b.Wait(10000), 0);
    monitor.Kill(SIGTERM);
    EXPECT_EQ(monitor.Wait(10000), 0);
}

} // namespace
