// GigeService: the QorGigEFilter service: its device, its adapters and its timers.
#pragma once

#include "AdapterPort.h"
#include "GigeDriver.h"
#include "PowerWatch.h"
#include "devio/DeviceServer.h"
#include "devio/SpinGauge.h"
#include "net/NetlinkMonitor.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace qorcam::gige {

// Where the service keeps its settings, and the device it serves.
inline constexpr const char* kGigeDeviceName = "\\\\.\\QORGIGE";
// The interfaces the service binds: names separated by commas or spaces.
inline constexpr const char* kGigeLinkageKey = "System\\CurrentControlSet\\Services\\QORGIGE\\Linkage";
inline constexpr const char* kGigeBindValue = "Bind";
// The group (under the service's Parameters key) whose members may configure
// the network besides root and processes with CAP_NET_ADMIN.
inline constexpr const char* kGigeAdminGroupValue = "AdminGroup";
inline constexpr const char* kGigeDefaultAdminGroup = "qorcam-admin";

// Loads the parameters and the profile, serves the device, binds the
// interfaces its settings list as they come and go, and runs the timers.
// Start either brings all of it up or fails with a message; Stop takes it
// all down again: the device first, so no request arrives while the
// adapters are unbound, then every pended request completes.
class GigeService {
public:
    GigeService();
    ~GigeService();

    bool Start(std::string* error);
    void Stop();

private:
    // changed: a change notice arrived (interfaces that could not be bound
    // are tried again only then, not on every periodic scan).
    void Rescan(bool changed = true);
    std::set<std::string> BindList() const;
    // A bound port's frames delivered to the logic, and no longer.
    void StartPort(AdapterPort& port, uint32_t number);
    void StopPort(AdapterPort& port);
    void TimerLoop();
    void KickTimers();
    void LinkLoop();
    // Whether the caller may configure the network.
    bool IsNetworkAdmin(const devio::ConnectionInfo& caller);
    // On the device's loop, before it sleeps: until when it polls for a camera's answer to the
    // command sent last (a time past: it sleeps), learnt from how soon answers came lately.
    std::chrono::steady_clock::time_point AnswerDue();

    std::unique_ptr<GigeDriver> driver_;
    SteadyGigeClock clock_;
    std::unique_ptr<devio::DeviceServer> server_;
    net::NetlinkMonitor netlink_;
    std::map<int, std::unique_ptr<AdapterPort>> ports_; // by interface index; link thread only
    std::set<int> failed_;                              // interfaces that could not be bound
    std::atomic<bool> stop_{false};
    std::mutex timerMutex_;
    std::condition_variable timerWake_;
    bool timerKicked_ = false; // under timerMutex_: a timer moved up since the loop last looked
    std::thread timerThread_;
    std::thread linkThread_;
    // The device loop's only: the command whose answer it polled for, and until when.
    devio::SpinGauge answerGauge_ = devio::ServiceGauge();
    uint64_t awaitedSince_ = 0;
    std::chrono::steady_clock::time_point pollUntil_{};
    PowerWatch power_;
    // The admin group, looked up again at most every few seconds.
    std::mutex adminMutex_;
    std::string adminGroupName_;
    std::optional<uint32_t> adminGroup_;
    std::chrono::steady_clock::time_point adminLookedUp_{};
};

} // namespace qorcam::gige
