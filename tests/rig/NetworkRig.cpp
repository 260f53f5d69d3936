// NetworkRig: two private network namespaces, a veth pair, the camera emulator and the GigE service.
#include "NetworkRig.h"

#include "devio/DeviceHandle.h"
#include "os/Paths.h"
#include "os/SettingsStore.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::rig {

namespace {

constexpr const char* kCamera = "arv-fake-gv-camera-0.8";

bool OnPath(const std::string& program) {
    return NetworkRig::Run("command -v " + program + " >/dev/null") == 0;
}

std::string Trim(std::string s);

std::string IpProgram() {
    std::string path;
    NetworkRig::Run("command -v ip", &path);
    path = Trim(path);
    return path.empty() ? "/usr/sbin/ip" : path;
}

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

std::string BinaryDir() {
    return QORCAM_RIG_BIN_DIR;
}

int NetworkRig::Run(const std::string& command, std::string* output) {
    if (!output) {
        int status = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    output->clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output->append(buffer.data(), n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int NetworkRig::RunIn(const std::string& ns, const std::string& command, std::string* output) const {
    return Run("QORCAM_ROOT=" + root_ + " ip netns exec " + ns + " " + command, output);
}

NetworkRig::NetworkRig(const Options& options) {
    if (::geteuid() != 0) {
        reason_ = "the network rig needs root (network namespaces, veth pairs, raw sockets)";
        return;
    }
    if (!OnPath("ip")) {
        reason_ = "the network rig needs iproute2 (ip)";
        return;
    }
    SweepStale();
    if (!Build(options)) {
        TearDown();
        return;
    }
    available_ = true;
}

NetworkRig::~NetworkRig() {
    TearDown();
}

bool NetworkRig::Build(const Options& options) {
    // Interface names hold at most 15 characters: "qh" + up to 7 pid digits + 2 more.
    static int counter = 0;
    suffix_ = std::to_string(::getpid() % 10000000) + "x" + std::to_string(counter++ % 10);
    hostNs_ = "qorcam-h" + suffix_;
    cameraNs_ = "qorcam-c" + suffix_;
    hostIf_ = "qh" + suffix_;
    cameraIf_ = "qc" + suffix_;
    const int subnet = static_cast<int>(::getpid() % 250) + 1;
    driverIp_ = "169.254." + std::to_string(subnet) + ".1";
    cameraIp_ = "169.254." + std::to_string(subnet) + ".2";

    std::string dir = "/tmp/qorcam-rig-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(dir.data())) {
        reason_ = "no temporary folder";
        return false;
    }
    root_ = dir;

    if (Run("ip netns add " + hostNs_) != 0) {
        reason_ = "ip netns add failed (no network namespaces here?)";
        return false;
    }
    hostNsMade_ = true;
    if (Run("ip netns add " + cameraNs_) != 0) {
        reason_ = "ip netns add failed";
        return false;
    }
    cameraNsMade_ = true;
    const std::vector<std::string> steps = {
        "ip link add " + hostIf_ + " netns " + hostNs_ + " type veth peer name " + cameraIf_ + " netns " +
            cameraNs_,
        "ip -n " + hostNs_ + " link set lo up",
        "ip -n " + cameraNs_ + " link set lo up",
        "ip netns exec " + hostNs_ + " sysctl -qw net.ipv6.conf." + hostIf_ + ".disable_ipv6=1",
        "ip netns exec " + cameraNs_ + " sysctl -qw net.ipv6.conf." + cameraIf_ + ".disable_ipv6=1",
        "ip -n " + cameraNs_ + " addr add " + cameraIp_ + "/16 dev " + cameraIf_,
        "ip -n " + hostNs_ + " link set " + hostIf_ + " up",
        "ip -n " + cameraNs_ + " link set " + cameraIf_ + " up",
    };
    for (const auto& step : steps)
        if (Run(step) != 0) {
            reason_ = "rig step failed: " + step;
            return false;
        }
    std::string mac;
    if (Run("cat /sys/class/net/" + hostIf_ + "/address", &mac) != 0 || mac.size() < 17) {
        // sysfs shows the caller's namespace; ask inside the host namespace.
        if (Run("ip netns exec " + hostNs_ + " cat /sys/class/net/" + hostIf_ + "/address", &mac) != 0 ||
            mac.size() < 17) {
            reason_ = "the host veth's MAC could not be read";
            return false;
        }
    }
    hostMac_ = Trim(mac);
    if (Run("ip netns exec " + cameraNs_ + " cat /sys/class/net/" + cameraIf_ + "/address", &mac) == 0)
        cameraMac_ = Trim(mac);
    if (!options.driverManaged &&
        Run("ip -n " + hostNs_ + " addr add " + driverIp_ + "/16 dev " + hostIf_) != 0) {
        reason_ = "the host veth's address could not be set";
        return false;
    }

    // The service's settings and the profile record that makes the host veth
    // its own, with a fixed address and no Linux address on it.
    namespace fs = std::filesystem;
    fs::create_directories(root_ + "/etc");
    fs::create_directories(root_ + "/data");
    const std::string profile = root_ + "/data/QORGIGEDRVPROF.dat";
    if (options.driverManaged) {
        std::ofstream out(profile, std::ios::binary);
        unsigned m[6];
        std::sscanf(hostMac_.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
        char record[20] = {};
        for (int i = 0; i < 6; ++i)
            record[i] = static_cast<char>(m[i]);
        record[12] = static_cast<char>(169);
        record[13] = static_cast<char>(254);
        record[14] = static_cast<char>(subnet);
        record[15] = 1;
        record[16] = static_cast<char>(255);
        record[17] = static_cast<char>(255);
        out.write(record, sizeof record);
    }
    os::SettingsStore settings(root_ + "/etc/machine.ini");
    const char* parameters = "System\\CurrentControlSet\\Services\\QORGIGE\\Parameters";
    if (!settings.SetDword(parameters, "DHCP", options.dhcp) ||
        (options.driverManaged && !settings.SetString(parameters, "PATH", profile)) ||
        !settings.SetString("System\\CurrentControlSet\\Services\\QORGIGE\\Linkage", "Bind", hostIf_) ||
        !std::all_of(options.parameters.begin(), options.parameters.end(),
                     [&](const auto& p) { return settings.SetDword(parameters, p.first, p.second); })) {
        reason_ = "the service's settings could not be written";
        return false;
    }
    ::setenv("QORCAM_ROOT", root_.c_str(), 1);

    if (options.startCamera && OnPath(kCamera)) {
        camera_ = os::Process::Spawn(IpProgram(), {"netns", "exec", cameraNs_, kCamera, "-i", cameraIf_});
        if (!camera_) {
            reason_ = "the camera emulator could not be started";
            return false;
        }
    }
    if (options.startService && !StartService()) return false;
    return true;
}

bool NetworkRig::StartService() {
    // The service beside the running program (the build tree, or an installed sample's sbin), else the build's.
    std::string program = os::Paths::Program("QorGigEFilter");
    if (access(program.c_str(), X_OK) != 0) program = BinaryDir() + "/QorGigEFilter";
    if (!std::filesystem::exists(program)) {
        reason_ = "QorGigEFilter was not built";
        return false;
    }
    serviceProgram_ = program;
    service_ = os::Process::Spawn(IpProgram(), {"netns", "exec", hostNs_, program}, {{"QORCAM_ROOT", root_}});
    if (!service_) {
        reason_ = "the service could not be started";
        return false;
    }
    // Ready when its device answers.
    for (int i = 0; i < 200; ++i) {
        devio::DeviceHandle h;
        if (h.Open("\\\\.\\QORGIGE") == devio::STATUS_SUCCESS) return true;
        if (service_->Wait(0)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    reason_ = "the service did not come up";
    return false;
}

bool NetworkRig::ServiceRunning() {
    return service_ && !service_->Wait(0);
}

bool NetworkRig::CameraRunning() {
    return camera_ && !camera_->Wait(0);
}

std::optional<int> NetworkRig::StopService() {
    if (!service_) return std::nullopt;
    service_->Kill(SIGTERM);
    auto code = service_->Wait(5000);
    if (!code) {
        service_->Kill(SIGKILL);
        code = service_->Wait(2000);
    }
    service_.reset();
    return code;
}

void NetworkRig::SweepStale() {
    auto ownerGone = [](const std::string& pid) {
        return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos &&
               !std::filesystem::exists("/proc/" + pid);
    };
    std::string list;
    Run("ip netns list", &list);
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        std::string name =
            list.substr(start, list.find(' ', start) < end ? list.find(' ', start) - start : end - start);
        start = end + 1;
        if (name.rfind("qorcam-h", 0) != 0 && name.rfind("qorcam-c", 0) != 0) continue;
        std::string pid = name.substr(8, name.find('x', 8) - 8);
        if (!ownerGone(pid)) continue;
        Run("ip netns pids " + name + " | xargs -r kill -9");
        Run("ip netns del " + name);
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp", ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("qorcam-rig-", 0) != 0) continue;
        std::string pid = name.substr(11, name.find('-', 11) - 11);
        if (ownerGone(pid)) std::filesystem::remove_all(entry.path(), ec);
    }
}

bool NetworkRig::RunInHostNamespace(const std::function<void()>& body) const {
    bool entered = false;
    std::thread([&] {
        const int ns = ::open(("/var/run/netns/" + hostNs_).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0) return;
        entered = ::setns(ns, CLONE_NEWNET) == 0;
        ::close(ns);
        if (entered) body();
    }).join();
    return entered;
}

bool NetworkRig::HoldHostPort(uint16_t port) {
    int fd = -1;
    // Only this thread enters the namespace; the socket stays in it.
    std::thread([&] {
        int ns = ::open(("/var/run/netns/" + hostNs_).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0) return;
        bool entered = ::setns(ns, CLONE_NEWNET) == 0;
        ::close(ns);
        if (!entered) return;
        int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s < 0) return;
        sock_filter nothing{BPF_RET | BPF_K, 0, 0, 0};
        sock_fprog program{1, &nothing};
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        if (::setsockopt(s, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
            ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(s);
            return;
        }
        fd = s;
    }).join();
    if (fd < 0) return false;
    heldPorts_.push_back(fd);
    return true;
}

int NetworkRig::SpawnInCamera(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"netns", "exec", cameraNs_, program};
    all.insert(all.end(), args.begin(), args.end());
    auto p = os::Process::Spawn(IpProgram(), all);
    if (!p) return 0;
    spawned_.push_back(std::move(*p));
    return static_cast<int>(spawned_.back().Id());
}

bool NetworkRig::SpawnedRunning(int pid) {
    for (auto& p : spawned_)
        if (static_cast<int>(p.Id()) == pid) return !p.Wait(0);
    return false;
}

void NetworkRig::TearDown() {
    for (auto& p : spawned_) {
        p.Kill(SIGKILL);
        p.Wait(2000);
    }
    spawned_.clear();
    for (int fd : heldPorts_)
        ::close(fd);
    heldPorts_.clear();
    StopService();
    if (camera_) {
        camera_->Kill(SIGKILL);
        camera_->Wait(2000);
        camera_.reset();
    }
    // Deleting a namespace deletes the veth end in it, and with it its peer.
    if (cameraNsMade_) Run("ip netns del " + cameraNs_);
    if (hostNsMade_) Run("ip netns del " + hostNs_);
    cameraNsMade_ = hostNsMade_ = false;
    if (!root_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
        root_.clear();
    }
}

} // namespace qorcam::rig
