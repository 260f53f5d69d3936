// Binding passes and the selection dialog's rules over a network configuration held in memory.
#include "ProfileFile.h"
#include "QorGigEPrefDlg.h"
#include "TempRoot.h"

#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <unistd.h>

namespace qorcam::driverselect {
namespace {

namespace fs = std::filesystem;
using gigeconfig::CProfileFile;
using gigeconfig::MakeProfileRecord;

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

TEST(BindingPasses, ReadPassesAndModes) {
    NetState net;
    net.bound[{kFilterComponent, "eth1"}] = true;
    net.bound[{"ms_tcpip6", "eth1"}] = false;
    net.bound[{"ms_msclient", "eth1"}] = false;
    for (const char* s : kOtherServices)
        net.bound[{s, "eth1"}] = false;
    net.bound[{"ms_tcpip", "eth2"}] = false;
    // ms_lldp is not installed: the other-services flag comes from ms_rspndr.
    net.missing.insert("ms_lldp");
    net.bound[{"ms_rspndr", "eth2"}] = false;
    net.bound[{"ms_lldp", "eth2"}] = true;
    FakeNetCfg cfg(net, false);
    NicBindingEntries entries;
    for (int pass = 0; pass <= 9; ++pass)
        ConfigureNicBindings(entries, cfg, pass);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]->filter, 1u);
    EXPECT_EQ(NicMode(*entries[0]), 1u);
    EXPECT_STREQ(NicModeListText(NicMode(*entries[0])), "Windows IPv4 only");
    EXPECT_EQ(entries[1]->filter, 0u);
    EXPECT_EQ(entries[1]->other, 0u);
    EXPECT_EQ(NicMode(*entries[1]), 0u);

    // Apply passes stage a change only where the path differs.
    FakeNetCfg write(net, true);
    SetModeFlags(*entries[1], 2);
    entries[1]->filter = 1;
    for (int pass = 10; pass <= 19; ++pass)
        ConfigureNicBindings(entries, write, pass);
    write.Apply();
    EXPECT_TRUE(net.Bound(kFilterComponent, "eth2"));
    EXPECT_TRUE(net.Bound("ms_tcpip", "eth2"));
    EXPECT_TRUE(net.Bound("ms_rspndr", "eth2"));
    EXPECT_EQ(net.changes, 3); // filter, ms_tcpip, ms_rspndr of eth2; eth1 and the missing ms_lldp untouched
}

TEST_F(PrefDialogTest, IPv4OnlyOriginalAndUncheckReachBindingsProfileAndSettings) {
    CQorGigEPrefDlg dlg(Environment());
    EXPECT_TRUE(fs::is_directory(root_ / "data/Korvashdrevali/QorCam"));
    dlg.OnInitDialog();
    EXPECT_EQ(service_.stops, 1);
    ASSERT_EQ(dlg.Rows().size(), 2u);
    EXPECT_FALSE(dlg.Rows()[0].checked);
    EXPECT_TRUE(dlg.DhcpChecked()); // no settings key: 1

    dlg.SetRowChecked(0, true);
    EXPECT_EQ(dlg.Rows()[0].modeText, "Windows default");
    dlg.SelectNicMode(0, [](const std::string& name, uint32_t current) {
        EXPECT_EQ(name, "Adapter eth1");
        EXPECT_EQ(current, 2u);
        return std::optional<uint32_t>(1);
    });
    EXPECT_EQ(dlg.Rows()[0].modeText, "Windows IPv4 only");
    dlg.SetRowChecked(1, true);
    dlg.SelectNicMode(1, [](const std::string&, uint32_t) { return std::optional<uint32_t>(0); });
    dlg.SetDhcpChecked(false);
    dlg.OnOK();
    EXPECT_EQ(service_.starts, 1);

    // IPv4 only: the filter and ms_tcpip bound, everything else unbound.
    EXPECT_TRUE(net_.Bound(kFilterComponent, "eth1"));
    EXPECT_TRUE(net_.Bound("ms_tcpip", "eth1"));
    EXPECT_FALSE(net_.Bound("ms_tcpip6", "eth1"));
    EXPECT_FALSE(net_.Bound("ms_msclient", "eth1"));
    for (const char* s : kOtherServices)
        EXPECT_FALSE(net_.Bound(s, "eth1")) << s;
    // Original: the filter alone.
    EXPECT_TRUE(net_.Bound(kFilterComponent, "eth2"));
    EXPECT_FALSE(net_.Bound("ms_tcpip", "eth2"));
    // The first Original adapter writes PATH and gets an automatic adapter record; DHCP follows the box.
    EXPECT_EQ(Settings().GetString(gigeconfig::kGigeParametersKey, "PATH").value_or(""), dlg.ProfilePath());
    EXPECT_EQ(Settings().GetDword(gigeconfig::kGigeParametersKey, "DHCP").value_or(9), 0u);
    auto records = CProfileFile(dlg.ProfilePath()).Read();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::memcmp(records[0].adapterMac, kMac2.data(), 6), 0);
    EXPECT_EQ(records[0].ip, 0u);

    // A second run reads it all back; OK with nothing changed touches nothing but the service.
    const auto settingsTime = fs::last_write_time(Settings().FilePath());
    const auto profileTime = fs::last_write_time(dlg.ProfilePath());
    CQorGigEPrefDlg again(Environment());
    again.OnInitDialog();
    EXPECT_TRUE(again.PathSet());
    EXPECT_FALSE(again.DhcpChecked());
    EXPECT_EQ(again.Rows()[0].modeText, "Windows IPv4 only");
    EXPECT_EQ(again.Rows()[1].modeText, "Original");
    const int applies = net_.applies, changes = net_.changes;
    again.OnOK();
    EXPECT_EQ(net_.applies, applies);
    EXPECT_EQ(net_.changes, changes);
    EXPECT_EQ(fs::last_write_time(Settings().FilePath()), settingsTime);
    EXPECT_EQ(fs::last_write_time(dlg.ProfilePath()), profileTime);
    EXPECT_EQ(service_.starts, 2);

    // An Original adapter with a fixed address is reset to automatic; unchecking gives eth1 back to the
    // system.
    CProfileFile(dlg.ProfilePath()).Write({MakeProfileRecord(kMac2, {}, 0x0105A8C0, 0x00FFFFFF)});
    CQorGigEPrefDlg third(Environment());
    third.OnInitDialog();
    third.SetRowChecked(0, false);
    third.OnOK();
    records = CProfileFile(dlg.ProfilePath()).Read();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ip, 0u);
    EXPECT_EQ(records[0].mask, 0x00FFFFFFu);
    EXPECT_FALSE(net_.Bound(kFilterComponent, "eth1"));
    EXPECT_TRUE(net_.Bound("ms_tcpip6", "eth1"));
    for (const char* s : kOtherServices)
        EXPECT_TRUE(net_.Bound(s, "eth1")) << s;
}

TEST_F(PrefDialogTest, WithoutTheFilterTheListIsEmptyAndOkDropsTheProfile) {
    net_.filterInstalled = false;
    CProfileFile file(CProfileFile::ProfilePath(true));
    ASSERT_TRUE(file.Write({MakeProfileRecord(kMac1, {}, 0, 0)}));
    ASSERT_TRUE(Settings().SetString(gigeconfig::kGigeParametersKey, "PATH", file.Path()));
    CQorGigEPrefDlg dlg(Environment());
    dlg.OnInitDialog();
    EXPECT_TRUE(dlg.Rows().empty());
    const int changes = net_.changes;
    dlg.OnOK();
    EXPECT_FALSE(fs::exists(file.Path()));
    EXPECT_EQ(net_.changes, changes);

    // Cancel only starts the service again.
    CQorGigEPrefDlg cancel(Environment());
    cancel.OnInitDialog();
    EXPECT_FALSE(service_.running);
    cancel.OnCancel();
    EXPECT_TRUE(service_.running);
}

} // namespace
} // namespace qorcam::driverselect
