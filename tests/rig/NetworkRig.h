// NetworkRig: two private network namespaces, a veth pair, the camera emulator and the GigE service.
#pragma once

#include "os/Process.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qorcam::rig {

// The GigE test network of one test process.
//
// Guarantees: every name it creates (namespaces, interfaces, the temporary
// QORCAM_ROOT) carries a suffix unique to the process, so rigs of tests
// running in parallel never meet; it touches no interface of the machine's
// own namespace; the destructor stops the processes it started and removes
// the namespaces (and with them the veth pair) and the root, also after a
// failed start; and what a test process that crashed left behind (its names
// carry its pid) is removed by the next rig that is built. Every wait is
// bounded. Available() is false, with Reason()
// saying why, when the rig can't be built here (not root, no iproute2);
// tests then skip with that reason.
class NetworkRig {
public:
    struct Options {
        bool startService = true;
        bool startCamera = true;
        uint32_t dhcp = 1; // the service's DHCP parameter
        // true: the host veth is the service's own (a profile record, no Linux
        // address); false: it keeps a Linux address that the service takes.
        bool driverManaged = true;
        // Extra DWORD parameters of the service (CMDRETRY, STREAMRETRY, ...).
        std::vector<std::pair<std::string, uint32_t>> parameters;
    };

    NetworkRig() : NetworkRig(Options{}) {}
    explicit NetworkRig(const Options& options);
    ~NetworkRig();
    NetworkRig(const NetworkRig&) = delete;
    NetworkRig& operator=(const NetworkRig&) = delete;

    bool Available() const { return available_; }
    const std::string& Reason() const { return reason_; }

    const std::string& HostNamespace() const { return hostNs_; }
    const std::string& CameraNamespace() const { return cameraNs_; }
    const std::string& HostInterface() const { return hostIf_; }
    const std::string& CameraInterface() const { return cameraIf_; }
    const std::string& HostMac() const { return hostMac_; }     // "aa:bb:cc:dd:ee:ff"
    const std::string& CameraMac() const { return cameraMac_; } // the emulator's interface
    const std::string& Root() const { return root_; }
    /// The service program started (empty until StartService found one).
    const std::string& ServiceProgram() const { return serviceProgram_; }
    // Dotted addresses: the service's own address on the host veth, the camera's.
    const std::string& DriverAddress() const { return driverIp_; }
    const std::string& CameraAddress() const { return cameraIp_; }

    // Runs a shell command; its exit code (or -1). Output, when asked, is captured.
    static int Run(const std::string& command, std::string* output = nullptr);
    // Runs a command in a namespace, with QORCAM_ROOT set to the rig's root.
    int RunIn(const std::string& ns, const std::string& command, std::string* output = nullptr) const;

    // Holds a UDP port in the host namespace with a socket that takes nothing
    // in, as a client of the service does, so the host's stack neither queues
    // nor refuses what arrives there. Kept until the rig goes away; false
    // when the port could not be had.
    bool HoldHostPort(uint16_t port);
    // Runs body on a thread inside the host namespace, as in a process on the camera network's host:
    // every socket it makes and every thread it starts belong there. False (body not run) when the
    // namespace can't be entered.
    bool RunInHostNamespace(const std::function<void()>& body) const;

    // Starts a program in the camera namespace; the rig stops it at the end.
    // Its pid, or 0 when it could not be started.
    int SpawnInCamera(const std::string& program, const std::vector<std::string>& args);
    // Whether a program started by SpawnInCamera still runs.
    bool SpawnedRunning(int pid);

    // Whether the service, and the camera emulator, still run.
    bool ServiceRunning();
    bool CameraRunning();
    bool StartService();
    // Stops the service with SIGTERM (SIGKILL after a bounded wait); its exit
    // code, or empty when it was not running.
    std::optional<int> StopService();

    // Removes the namespaces, their processes and the roots of rigs whose
    // process has ended without removing them.
    static void SweepStale();

private:
    bool Build(const Options& options);
    void TearDown();

    bool available_ = false;
    std::string reason_;
    std::string suffix_;
    std::string hostNs_, cameraNs_, hostIf_, cameraIf_, hostMac_, cameraMac_;
    std::vector<int> heldPorts_;
    std::string driverIp_, cameraIp_;
    std::string root_;
    std::string serviceProgram_;
    bool hostNsMade_ = false, cameraNsMade_ = false;
    std::optional<os::Process> service_;
    std::optional<os::Process> camera_;
    std::vector<os::Process> spawned_;
};

// Where the programs under test were built.
std::string BinaryDir();

} // namespace qorcam::rig
