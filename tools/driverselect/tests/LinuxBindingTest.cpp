// The selection dialog over the Linux network configuration, on a veth pair in a namespace of the test's own.
#include "TestNamespace.h"

#include "LinuxNetCfg.h"
#include "ProfileFile.h"
#include "QorGigEPrefDlg.h"
#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qorcam::driverselect::test {
namespace {

class LinuxBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ns_.Available()) GTEST_SKIP() << ns_.Reason();
        setenv("QORCAM_ROOT", ns_.Root().c_str(), 1);
        ASSERT_EQ(ns_.RunIn("ip addr add 10.77.0.1/24 dev " + ns_.InterfaceA() +
                            " && sysctl -qw net.ipv6.conf." + ns_.InterfaceA() + ".disable_ipv6=0"),
                  0);
    }
    void TearDown() override { unsetenv("QORCAM_ROOT"); }

    std::string Addresses() {
        std::string out;
        ns_.RunIn("ip -4 -o addr show dev " + ns_.InterfaceA(), &out);
        return out;
    }
    std::string Ipv6Off() {
        std::string out;
        ns_.RunIn("cat /proc/sys/net/ipv6/conf/" + ns_.InterfaceA() + "/disable_ipv6", &out);
        return out.substr(0, 1);
    }
    std::string BindList() {
        return os::SettingsStore(os::SettingsStore::Hive::Machine)
            .GetString(kGigeLinkageKey, "Bind")
            .value_or("?");
    }
    // One dialog run inside the namespace: init, the user's changes, OK.
    std::vector<PrefRow> RunDialog(const std::function<void(CQorGigEPrefDlg&, size_t row)>& user) {
        std::vector<PrefRow> rows;
        EXPECT_TRUE(ns_.Within([&] {
            CQorGigEPrefDlg dlg;
            dlg.OnInitDialog();
            rows = dlg.Rows();
            size_t row = 0;
            while (row < rows.size() && rows[row].name != ns_.InterfaceA())
                ++row;
            ASSERT_LT(row, rows.size());
            user(dlg, row);
            dlg.OnOK();
            rows = dlg.Rows();
        }));
        return rows;
    }

    TestNamespace ns_;
};

TEST_F(LinuxBindingTest, ModesMoveAddressesIPv6AndTheServiceBinding) {
    ASSERT_TRUE(ns_.Within([] {
        HRESULT hr = S_OK;
        auto cfg = HrGetINetCfg(true, &hr);
        ASSERT_TRUE(cfg);
        EXPECT_EQ(HrInstallNetComponent(*cfg), S_OK);
    }));
    EXPECT_EQ(BindList(), "");

    // Windows IPv4 only: the service beside the Linux IPv4 address, IPv6 off.
    auto rows = RunDialog([](CQorGigEPrefDlg& dlg, size_t row) {
        dlg.SetRowChecked(row, true);
        dlg.SelectNicMode(row, [](const std::string&, uint32_t) { return std::optional<uint32_t>(1); });
    });
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(BindList(), ns_.InterfaceA());
    EXPECT_NE(Addresses().find("10.77.0.1/24"), std::string::npos) << Addresses();
    EXPECT_EQ(Ipv6Off(), "1");

    // Original: the service alone; the Linux address is saved and removed, the profile gets the adapter.
    RunDialog([](CQorGigEPrefDlg& dlg, size_t row) {
        EXPECT_EQ(dlg.Rows()[row].modeText, "Windows IPv4 only");
        dlg.SelectNicMode(row, [](const std::string&, uint32_t) { return std::optional<uint32_t>(0); });
    });
    EXPECT_EQ(Addresses().find("10.77.0.1"), std::string::npos) << Addresses();
    const std::string profile = gigeconfig::CProfileFile::ProfilePath(false);
    EXPECT_EQ(gigeconfig::CProfileFile(profile).Read().size(), 1u);
    EXPECT_EQ(os::SettingsStore(os::SettingsStore::Hive::Machine)
                  .GetString(gigeconfig::kGigeParametersKey, "PATH")
                  .value_or(""),
              profile);

    // A run that changes nothing keeps the address away (start-up binds IPv4 only for a moment).
    RunDialog([](CQorGigEPrefDlg& dlg, size_t row) { EXPECT_EQ(dlg.Rows()[row].modeText, "Original"); });
    EXPECT_EQ(Addresses().find("10.77.0.1"), std::string::npos) << Addresses();

    // Unchecked: the system gets the adapter back with its address and IPv6.
    RunDialog([](CQorGigEPrefDlg& dlg, size_t row) { dlg.SetRowChecked(row, false); });
    EXPECT_NE(Addresses().find("10.77.0.1/24"), std::string::npos) << Addresses();
    EXPECT_EQ(Ipv6Off(), "0");
    EXPECT_EQ(BindList(), "");

    // Removal leaves the adapters as the system had them.
    ASSERT_TRUE(ns_.Within([] { UninstallFilterDriver(); }));
    EXPECT_NE(Addresses().find("10.77.0.1/24"), std::string::npos) << Addresses();
    EXPECT_EQ(Ipv6Off(), "0");
}

} // namespace
} // namespace qorcam::driverselect::test
