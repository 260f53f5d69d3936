// GigeService: the QorGigEFilter service: its device, its adapters and its timers.
#include "GigeService.h"

#include "DevioGigeRequest.h"
#include "devio/DeviceName.h"
#include "os/SettingsStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <vector>

namespace qorcam::gige {

namespace {

GigeParameters LoadParameters() {
    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    auto dword = [&](const char* name) { return store.GetDword(kGigeParametersKey, name); };
    return GigeParameters::FromValues(dword, store.GetString(kGigeParametersKey, "PATH").value_or(""));
}

uint32_t FirstAddress(const net::AdapterInfo& info, uint32_t* mask) {
    *mask = info.addresses.empty() ? 0 : info.addresses[0].mask;
    return info.addresses.empty() ? 0 : info.addresses[0].address;
}

} // namespace

GigeService::GigeService() = default;

GigeService::~GigeService() {
    Stop();
}

bool GigeService::Start(std::string* error) {
    GigeParameters params = LoadParameters();
    DriverProfile profile;
    if (!params.path.empty() && !profile.ReadProfileFile(params.path))
        std::fprintf(stderr,
                     "QorGigEFilter: profile %s not read; every adapter is served beside the system\n",
                     params.path.c_str());
    driver_ = std::make_unique<GigeDriver>(params, std::move(profile), clock_);
    driver_->SetTimerWake([this] { KickTimers(); });
    {
        os::SettingsStore store(os::SettingsStore::Hive::Machine);
        std::lock_guard lock(adminMutex_);
        adminGroupName_ = store.GetString(kGigeParametersKey, kGigeAdminGroupValue).value_or(kGigeDefaultAdminGroup);
        adminGroup_.reset();
        adminLookedUp_ = {};
    }

    if (!netlink_.Open(true)) {
        if (error) *error = "netlink not available";
        return false;
    }
    // Made before the adapters are bound, so their control sockets are watched by its loop; it
    // serves the device only once they are.
    server_ = std::make_unique<devio::DeviceServer>(
        [this](const devio::RequestPtr& r) { DevioGigeRequest::Dispatch(*driver_, r, IsNetworkAdmin(r->Caller())); },
        // What a handle took is given back when it closes, whatever the process does.
        [this](const devio::ConnectionInfo& info) { driver_->ConnectionClosed(info.id); },
        // The logic never waits in a request: each completes or pends at once.
        devio::DispatchMode::NeverWaits);
    // A camera that answered its last commands within tens of microseconds is polled for, not slept for.
    awaitedSince_ = 0;
    server_->SetDueRoutine([this] { return AnswerDue(); });
    stop_ = false;
    Rescan();
    timerThread_ = std::thread([this] { TimerLoop(); });
    linkThread_ = std::thread([this] { LinkLoop(); });

    std::string noPower;
    const bool power = power_.Start(
        [this](bool sleeping) {
            std::fprintf(stderr, "QorGigEFilter: %s\n", sleeping ? "going to sleep" : "awake again");
            if (sleeping)
                driver_->PowerDown();
            else
                driver_->PowerUp();
            KickTimers();
        },
        &noPower);
    if (!power) {
        const std::string line = noPower + "; sleep and wake-up are not followed";
        std::fprintf(stderr, "QorGigEFilter: %s\n", line.c_str());
        // Once in the trace too, where the tools read the service's messages.
        std::u16string text;
        for (unsigned char c : line)
            text.push_back(c < 0x80 ? c : u'?');
        driver_->PostServiceMessage(std::move(text));
    }

    auto status = server_->Start(devio::DevicePath(kGigeDeviceName));
    if (status != devio::STATUS_SUCCESS) {
        if (error) {
            char text[96];
            std::snprintf(text, sizeof text, "device %s not served: status 0x%08X", kGigeDeviceName, status);
            *error = text;
        }
        Stop();
        return false;
    }
    return true;
}

void GigeService::Stop() {
    power_.Stop();
    if (server_) server_->Stop(); // every connection closes: registrations free their processes
    stop_ = true;
    KickTimers();
    if (timerThread_.joinable()) timerThread_.join();
    if (linkThread_.joinable()) linkThread_.join();
    if (driver_) driver_->Unload();
    for (auto& [index, port] : ports_)
        StopPort(*port);
    ports_.clear();
    server_.reset(); // after the link thread, which watches the ports' sockets through it
}

void GigeService::StartPort(AdapterPort& port, uint32_t number) {
    port.Start(*driver_, number);
    // Control frames are read on the loop that dispatches the requests: the answer to a command
    // completes its request on the thread that sent the command, the only one woken for it.
    port.controlWatch = server_ ? server_->Watch(port.ControlFd(), [&port] { return port.ReceiveControl(); }) : 0;
    if (port.controlWatch == 0) port.StartControlThread();
}

void GigeService::StopPort(AdapterPort& port) {
    if (port.controlWatch != 0 && server_) server_->Unwatch(port.controlWatch);
    port.controlWatch = 0;
    port.Stop();
}

std::chrono::steady_clock::time_point GigeService::AnswerDue() {
    using namespace std::chrono;
    // The service's clock counts the steady clock's nanoseconds.
    auto at = [](uint64_t ticks) { return steady_clock::time_point(duration_cast<steady_clock::duration>(nanoseconds(ticks))); };
    const uint64_t since = driver_->CommandAwaitingSince();
    if (since == awaitedSince_) return since != 0 ? pollUntil_ : steady_clock::time_point{};
    const auto now = steady_clock::now();
    // The command last awaited was answered (or sent again, or given up) by now.
    if (awaitedSince_ != 0) answerGauge_.Record(now - at(awaitedSince_), now <= pollUntil_);
    awaitedSince_ = since;
    if (since == 0) return {};
    pollUntil_ = at(since) + answerGauge_.Budget();
    return pollUntil_;
}

bool GigeService::IsNetworkAdmin(const devio::ConnectionInfo& caller) {
    if (caller.IsRoot() || caller.netAdmin) return true;
    std::lock_guard lock(adminMutex_);
    const auto now = std::chrono::steady_clock::now();
    if (adminLookedUp_ == std::chrono::steady_clock::time_point{} || now - adminLookedUp_ > std::chrono::seconds(5)) {
        adminLookedUp_ = now;
        adminGroup_.reset();
        group entry{};
        group* found = nullptr;
        std::vector<char> buffer(16384);
        if (!adminGroupName_.empty() &&
            getgrnam_r(adminGroupName_.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            adminGroup_ = found->gr_gid;
    }
    return adminGroup_ && caller.InGroup(*adminGroup_);
}

std::set<std::string> GigeService::BindList() const {
    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    std::string list = store.GetString(kGigeLinkageKey, kGigeBindValue).value_or("");
    std::set<std::string> names;
    std::string name;
    for (char c : list + ",") {
        if (c == ',' || c == ' ' || c == ';' || c == '\t') {
            if (!name.empty()) names.insert(name);
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

void GigeService::Rescan(bool changed) {
    auto list = netlink_.ListAdapters();
    if (!list) return;
    if (changed) failed_.clear();
    const std::set<std::string> wanted = BindList();

    // Interfaces that went away, were renamed or are no longer listed.
    for (auto it = ports_.begin(); it != ports_.end();) {
        auto info = std::find_if(list->begin(), list->end(),
                                 [&](const net::AdapterInfo& a) { return a.index == it->first; });
        if (info == list->end() || info->name != it->second->Name() || !wanted.count(info->name)) {
            driver_->UnbindAdapter(it->second->number);
            StopPort(*it->second);
            std::fprintf(stderr, "QorGigEFilter: %s unbound\n", it->second->Name().c_str());
            it = ports_.erase(it);
        } else {
            ++it;
        }
    }

    for (const auto& info : *list) {
        if (!info.IsEthernet() || !wanted.count(info.name)) continue;
        const uint32_t speed = net::NetlinkMonitor::LinkSpeedMbps(info.name).value_or(1000) * 10000u;
        uint32_t mask = 0;
        const uint32_t ip = FirstAddress(info, &mask);
        auto found = ports_.find(info.index);
        if (found == ports_.end()) {
            if (failed_.count(info.index)) continue;
            failed_.insert(info.index); // until it is bound
            auto port = std::make_unique<AdapterPort>(info.index, info.name);
            if (int e = port->Open()) {
                std::fprintf(stderr, "QorGigEFilter: %s not bound: %s\n", info.name.c_str(),
                             std::strerror(e));
                continue;
            }
            port->mtu = info.mtu;
            port->speed = speed;
            AdapterBinding b;
            b.name = info.name;
            b.mac = info.mac;
            b.maxFrameSize = info.mtu;
            b.linkSpeed = speed;
            b.connected = info.Connected();
            b.port = port.get();
            uint32_t status = 0;
            auto number = driver_->BindAdapter(b, &status);
            if (!number) {
                std::fprintf(stderr, "QorGigEFilter: %s not bound: status 0x%08X\n", info.name.c_str(),
                             status);
                continue;
            }
            port->connected = info.Connected();
            port->ip = ip;
            port->mask = mask;
            driver_->SystemAddressChanged(*number, ip, mask);
            StartPort(*port, *number);
            failed_.erase(info.index);
            std::fprintf(stderr, "QorGigEFilter: %s bound as adapter %u\n", info.name.c_str(), *number);
            ports_.emplace(info.index, std::move(port));
            continue;
        }
        AdapterPort& port = *found->second;
        port.mtu = info.mtu;
        if (info.Connected()) port.speed = speed;
        if (info.Connected() != port.connected) {
            port.connected = info.Connected();
            driver_->LinkStateChanged(port.number, port.connected);
            std::fprintf(stderr, "QorGigEFilter: %s link %s\n", info.name.c_str(),
                         port.connected ? "up" : "down");
        }
        if (ip != port.ip || mask != port.mask) {
            port.ip = ip;
            port.mask = mask;
            driver_->SystemAddressChanged(port.number, ip, mask);
        }
    }
    KickTimers();
}

void GigeService::LinkLoop() {
    auto lastScan = std::chrono::steady_clock::now();
    while (!stop_.load()) {
        bool changed = netlink_.WaitChange(100);
        // Settings and lost notices are caught by a scan every second.
        auto now = std::chrono::steady_clock::now();
        if (changed || now - lastScan > std::chrono::seconds(1)) {
            Rescan(changed);
            lastScan = now;
        }
    }
}

void GigeService::KickTimers() {
    {
        std::lock_guard lock(timerMutex_);
        timerKicked_ = true;
    }
    timerWake_.notify_all();
}

void GigeService::TimerLoop() {
    std::unique_lock lock(timerMutex_);
    while (!stop_.load()) {
        timerKicked_ = false;
        lock.unlock();
        const uint64_t next = driver_->RunTimers();
        lock.lock();
        if (timerKicked_) continue;
        // Asleep until the next timer is due: the logic wakes the loop when a call moves a timer up.
        // A look every second besides costs nothing and bounds what a missed wake-up could hold up.
        const uint64_t now = clock_.Now();
        const uint64_t waitNs = next == kNever ? 1000000000ull
                                               : (next > now ? std::min<uint64_t>(next - now, 1000000000ull) : 0);
        if (waitNs == 0) continue;
        timerWake_.wait_for(lock, std::chrono::nanoseconds(waitNs),
                            [this] { return timerKicked_ || stop_.load(); });
    }
}

} // namespace qorcam::gige
