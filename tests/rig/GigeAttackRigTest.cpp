// Another local user attacks a root process that streams from the emulator: every attack fails and the
// stream goes on.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "NetworkRig.h"
#include "RigClient.h"
#include "devio/DeviceHandle.h"
#include "devio/Region.h"
#include "os/SharedMemory.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::rig {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kStreamPort = 0x8125;
constexpr const char* kUserName = "qorcam-rigattack";

// An unprivileged account of its own, removed again when the test made it.
struct AttackUser {
    AttackUser() {
        if (geteuid() != 0) {
            reason = "making a user needs root";
            return;
        }
        if (!Lookup()) {
            if (NetworkRig::Run(std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") +
                                kUserName + " >/dev/null 2>&1") != 0 ||
                !Lookup()) {
                reason = "useradd could not make a user";
                return;
            }
            made = true;
        }
        ok = uid != 0;
    }
    ~AttackUser() {
        if (made) NetworkRig::Run(std::string("userdel ") + kUserName + " >/dev/null 2>&1");
    }
    bool Lookup() {
        passwd* pw = getpwnam(kUserName);
        if (!pw) return false;
        uid = pw->pw_uid;
        gid = pw->pw_gid;
        return true;
    }
    bool ok = false;
    bool made = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string reason;
};

// The root process's stream: buffers in one region, queued again as each completes.
class Victim {
public:
    Victim(NetworkRig& rig, Client& c) : c_(c) {
        const uint32_t packetSize = 1400, width = 160, height = 120;
        ready_ = c.WriteReg(kRegAcquisition, 0) && c.WriteReg(kRegWidth, width) && c.WriteReg(kRegHeight, height) &&
                 c.WriteReg(kRegPixelFormat, kMono8) && c.WriteReg(kRegFramePeriod, 50000) &&
                 c.WriteReg(kRegPacketSize, packetSize) && c.WriteReg(kRegStreamPort, kStreamPort) &&
                 c.WriteReg(kRegStreamDestination, ntohl(c.host)) && rig.HoldHostPort(kStreamPort);
        GigePortRecord port{c.pid, kStreamPort, {1, 0}};
        GigeStreamSetupForm setup{c.pid, c.camera, kStreamPort, 0, packetSize - 36, 1};
        const uint8_t enable[4] = {uint8_t(kStreamPort & 0xFF), uint8_t(kStreamPort >> 8), 1, 0};
        ready_ = ready_ && c.h.DeviceIoControl(IOCTL_GIGE_PortAlloc, &port, sizeof port, nullptr, 0) == 0 &&
                 c.h.DeviceIoControl(IOCTL_GIGE_SetStreamInfo, &setup, sizeof setup, nullptr, 0) == 0 &&
                 c.h.DeviceIoControl(IOCTL_GIGE_SetStreamEnable, enable, 4, nullptr, 0) == 0;
        const uint32_t payload = width * height;
        infoOffset_ = (payload + 15) & ~7u;
        packets_ = (payload + packetSize - 37) / (packetSize - 36);
        bufferSize_ = 546 + infoOffset_ + (packets_ + 7) / 8;
        region_ = devio::Region::Create(bufferSize_ * kBuffers);
        ready_ = ready_ && region_ && c.h.RegisterRegion(*region_, &regionId_) == 0;
        for (int i = 0; ready_ && i < kBuffers; ++i)
            ready_ = Queue(i);
        ready_ = ready_ && c.WriteReg(kRegAcquisition, 1);
        if (ready_) thread_ = std::thread([this] { Run(); });
    }
    ~Victim() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        c_.WriteReg(kRegAcquisition, 0);
        c_.h.CancelIo();
        for (auto& r : requests_)
            r.CompletionEvent().Wait(2000);
    }
    bool Ready() const { return ready_; }
    int Frames() const { return frames_.load(); }
    // True when `more` further good frames arrive within a generous time.
    bool KeepsStreaming(int more) {
        const int target = frames_.load() + more;
        return WaitFor([&] { return frames_.load() >= target; }, 20s);
    }

private:
    static constexpr int kBuffers = 4;
    bool Queue(int i) {
        uint8_t* b = region_->Data() + i * bufferSize_;
        std::memset(b + infoOffset_, 0, 546);
        std::memset(b + infoOffset_ + 544, 0xFF, (packets_ + 7) / 8);
        GigeStreamForm form{kStreamPort, infoOffset_, packets_};
        devio::RegionSpan span{regionId_, i * bufferSize_, bufferSize_};
        return c_.h.DeviceIoControl(IOCTL_GIGE_GetStream, &form, sizeof form, span, requests_[i]) ==
               devio::STATUS_PENDING;
    }
    void Run() {
        int next = 0;
        while (!stop_) {
            if (!requests_[next].CompletionEvent().Wait(200)) continue;
            if (requests_[next].Status() == 0) ++frames_;
            if (!Queue(next)) return;
            next = (next + 1) % kBuffers;
        }
    }

    Client& c_;
    bool ready_ = false;
    uint32_t infoOffset_ = 0, packets_ = 0;
    uint64_t bufferSize_ = 0;
    std::unique_ptr<devio::Region> region_;
    uint32_t regionId_ = 0;
    std::array<devio::Overlapped, kBuffers> requests_;
    std::atomic<int> frames_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(GigeAttackRig, AnotherUsersAttacksFailAndTheRootStreamGoesOn) {
    NetworkRig rig(CameraOptions());
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();
    AttackUser user;
    if (!user.ok) GTEST_SKIP() << user.reason;
    namespace fs = std::filesystem;
    // The user reaches the device socket through the rig's folder, as through /run.
    chmod(rig.Root().c_str(), 0755);
    const std::string attackDir = rig.Root() + "/attack";
    fs::create_directories(attackDir);
    ASSERT_EQ(chown(attackDir.c_str(), user.uid, user.gid), 0);
    const std::string program = attackDir + "/rig_attacker";
    fs::copy_file(fs::path(QORCAM_RIG_ATTACKER), program, fs::copy_options::overwrite_existing);
    chmod(program.c_str(), 0755);

    Client c(rig);
    ASSERT_TRUE(Reach(rig, c)) << "the camera was not listed";
    ASSERT_TRUE(c.TakeControl());
    os::SharedMemory named("QorCamAttackVictim", 4096); // root's named objects exist
    ASSERT_TRUE(named.IsValid());
    Victim victim(rig, c);
    ASSERT_TRUE(victim.Ready());
    ASSERT_TRUE(victim.KeepsStreaming(3)) << "no frames before the attacks";

    const std::string signal = attackDir + "/signal";
    const std::string output = attackDir + "/output.txt";
    const std::vector<std::string> args = {program, std::to_string(c.pid), std::to_string(c.camera),
                                           std::to_string(kStreamPort), rig.Root() + "/run", signal};
    const std::string env = "QORCAM_ROOT=" + rig.Root();
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char* envp[] = {const_cast<char*>(env.c_str()), nullptr};
    // The user attacks from a user namespace of its own where the kernel
    // lets it make one (as "root" there, with every capability of it, which
    // must grant nothing here), else as it is.
    const std::string uidMap = "0 " + std::to_string(user.uid) + " 1";
    const std::string gidMap = "0 " + std::to_string(user.gid) + " 1";
    const std::string deny = "deny";
    auto becomeUser = [&](bool inNamespace) {
        // Only system calls: both callers are children of a process with threads.
        if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0) return false;
        if (!inNamespace) return true;
        // Its own /proc files are the process's again only once it may be dumped.
        if (prctl(PR_SET_DUMPABLE, 1) != 0 || unshare(CLONE_NEWUSER) != 0) return false;
        const char* files[] = {"/proc/self/setgroups", "/proc/self/gid_map", "/proc/self/uid_map"};
        const std::string* texts[] = {&deny, &gidMap, &uidMap};
        for (int i = 0; i < 3; ++i) {
            const int fd = open(files[i], O_WRONLY | O_CLOEXEC);
            if (fd < 0 || write(fd, texts[i]->data(), texts[i]->size()) != static_cast<ssize_t>(texts[i]->size()))
                return false;
            close(fd);
        }
        return true;
    };
    const pid_t probe = fork();
    ASSERT_GE(probe, 0);
    if (probe == 0) _exit(becomeUser(true) ? 0 : 1);
    int probed = -1;
    waitpid(probe, &probed, 0);
    const bool inNamespace = WIFEXITED(probed) && WEXITSTATUS(probed) == 0;
    if (!inNamespace) std::printf("note: no user namespace for the attacking user here; it attacks as it is\n");
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(out, 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (dup2(out, 1) < 0 || !becomeUser(inNamespace)) _exit(126);
        execve(program.c_str(), argv.data(), envp);
        _exit(127);
    }
    close(out);

    // While the user holds every connection it can get, root still gets in and its stream goes on.
    EXPECT_TRUE(WaitFor([&] { return fs::exists(signal + ".held"); }, 90s)) << "the attacks did not get that far";
    devio::DeviceHandle late;
    ASSERT_EQ(late.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
    GigeVersionInfo version{};
    EXPECT_EQ(late.DeviceIoControl(IOCTL_GIGE_GetVersion, nullptr, 0, &version, sizeof version), 0u);
    EXPECT_TRUE(victim.KeepsStreaming(3)) << "the stream stopped during the attacks";
    std::ofstream(signal + ".go").put('\n');

    int status = -1;
    EXPECT_TRUE(WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 90s));
    std::ifstream in(output);
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
    EXPECT_EQ(report.find("FAILED"), std::string::npos) << report;
    int refused = 0;
    for (size_t at = report.find("ok "); at != std::string::npos; at = report.find("\nok ", at + 1))
        ++refused;
    EXPECT_EQ(refused, 19) << "every attack ran:\n" << report;
    EXPECT_TRUE(victim.KeepsStreaming(3)) << "the stream stopped after the attacks";
    EXPECT_TRUE(rig.ServiceRunning());
}

} // namespace
} // namespace qorcam::rig
