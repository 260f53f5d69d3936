// A network configuration held in memory, a service that only counts, and a fixture with a private root
// for the selection dialog's tests.
#pragma once

#include "QorGigEPrefDlg.h"
#include "TempRoot.h"

#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace qorcam::driverselect::test {

namespace fs = std::filesystem;

// The machine's bindings: components installed, adapters below them and what is bound.
struct NetState {
    std::set<std::string> missing; // system components that are not installed
    bool filterInstalled = true;
    std::vector<std::string> adapters = {"eth1", "eth2"};
    std::map<std::pair<std::string, std::string>, bool> bound; // missing: system ones bound, the filter not
    int applies = 0;
    int changes = 0;

    bool Bound(const std::string& c, const std::string& a) const {
        auto it = bound.find({c, a});
        return it != bound.end() ? it->second : c != kFilterComponent;
    }
};

class FakeNetCfg : public CNetCfg {
public:
    FakeNetCfg(NetState& state, bool write) : s_(state), write_(write) {}
    bool IsInstalled(const std::string& c) override {
        return c == kFilterComponent ? s_.filterInstalled : !s_.missing.count(c);
    }
    std::vector<NetAdapter> BindingPaths(const std::string& c) override {
        std::vector<NetAdapter> paths;
        if (IsInstalled(c))
            for (const auto& a : s_.adapters)
                paths.push_back({a, "Adapter " + a, true});
        return paths;
    }
    bool IsBound(const std::string& c, const std::string& a) override {
        auto it = staged_.find({c, a});
        return it != staged_.end() ? it->second : s_.Bound(c, a);
    }
    void SetBound(const std::string& c, const std::string& a, bool b) override { staged_[{c, a}] = b; }
    HRESULT Apply() override {
        if (!write_) return NETCFG_E_NO_WRITE_LOCK;
        ++s_.applies;
        for (const auto& [k, b] : staged_)
            if (s_.Bound(k.first, k.second) != b) {
                s_.bound[k] = b;
                ++s_.changes;
            }
        staged_.clear();
        return S_OK;
    }
    HRESULT InstallComponent(const std::string&) override { return S_OK; }
    HRESULT UninstallComponent(const std::string&) override { return S_OK; }

private:
    NetState& s_;
    bool write_;
    std::map<std::pair<std::string, std::string>, bool> staged_;
};

class FakeService : public gigeconfig::CGigeServiceControl {
public:
    bool running = true;
    int stops = 0, starts = 0;
    bool IsRunning() override { return running; }
    bool Stop() override {
        ++stops;
        running = false;
        return true;
    }
    bool Start() override {
        ++starts;
        running = true;
        return true;
    }
};

constexpr std::array<uint8_t, 6> kMac1{0x02, 0, 0, 0, 0, 1}, kMac2{0x02, 0, 0, 0, 0, 2};

class PrefDialogTest : public ::testing::Test {
protected:
    PrefEnvironment Environment() {
        PrefEnvironment env;
        env.netCfg = [this](bool write, HRESULT* hr) {
            *hr = S_OK;
            return std::make_unique<FakeNetCfg>(net_, write);
        };
        env.adapterMacs = [] { return MacTable{{"eth1", kMac1}, {"eth2", kMac2}}; };
        env.service = &service_;
        return env;
    }
    os::SettingsStore Settings() { return os::SettingsStore(os::SettingsStore::Hive::Machine); }

    gigeconfig::test::TempRoot temp_{"dsel"};
    const fs::path& root_ = temp_.Path();
    NetState net_;
    FakeService service_;
};

} // namespace qorcam::driverselect::test
