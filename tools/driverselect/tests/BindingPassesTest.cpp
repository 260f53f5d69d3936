// Binding passes and the selection dialog's rules over a network configuration held in memory.
#include "FakeNetwork.h"
#include "ProfileFile.h"

#include <cstring>

namespace qorcam::driverselect {
namespace {

using namespace test;
using gigeconfig::CProfileFile;
using gigeconfig::MakeProfileRecord;

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

    // The IP configuration tool gave the Original adapter a fixed address,
    // and gives a camera its address while this dialog is open: unchecking
    // eth1 changes neither (the OK changes eth1 alone, on the file as it is then).
    CProfileFile(dlg.ProfilePath()).Write({MakeProfileRecord(kMac2, {}, 0x0105A8C0, 0x00FFFFFF)});
    CQorGigEPrefDlg third(Environment());
    third.OnInitDialog();
    const gigeconfig::MacAddress camera{0x00, 0x0C, 0xDF, 1, 2, 3};
    CProfileFile(dlg.ProfilePath()).Update([&](gigeconfig::ProfileRecords& r) {
        r.push_back(MakeProfileRecord(kMac2, camera, 0x1405A8C0, 0x00FFFFFF));
        return true;
    });
    third.SetRowChecked(0, false);
    ASSERT_TRUE(third.OnOK());
    records = CProfileFile(dlg.ProfilePath()).Read();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].ip, 0x0105A8C0u);
    EXPECT_EQ(records[0].mask, 0x00FFFFFFu);
    EXPECT_TRUE(gigeconfig::HasCameraRecord(records, kMac2, camera)) << "the other tool's record was lost";

    // Checked as Original again (a change): its record goes back to automatic.
    CQorGigEPrefDlg fourth(Environment());
    fourth.OnInitDialog();
    fourth.SetRowChecked(1, false);
    ASSERT_TRUE(fourth.OnOK());
    CQorGigEPrefDlg fifth(Environment());
    fifth.OnInitDialog();
    fifth.SetRowChecked(1, true);
    fifth.SelectNicMode(1, [](const std::string&, uint32_t) { return std::optional<uint32_t>(0); });
    ASSERT_TRUE(fifth.OnOK());
    records = CProfileFile(dlg.ProfilePath()).Read();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(gigeconfig::IsAdapterAuto(records, kMac2));
    EXPECT_FALSE(net_.Bound(kFilterComponent, "eth1"));
    EXPECT_TRUE(net_.Bound("ms_tcpip6", "eth1"));
    for (const char* s : kOtherServices)
        EXPECT_TRUE(net_.Bound(s, "eth1")) << s;
}

// A fresh install shows the DHCP server on; the service reads a missing
// value as off, so the first OK writes what was shown, changed or not.
TEST_F(PrefDialogTest, FirstOkWritesTheDhcpValueTheDialogShows) {
    CQorGigEPrefDlg dlg(Environment());
    dlg.OnInitDialog();
    ASSERT_TRUE(dlg.DhcpChecked());
    ASSERT_FALSE(Settings().GetDword(gigeconfig::kGigeParametersKey, "DHCP"));
    const int changes = net_.changes;
    dlg.OnOK();
    EXPECT_EQ(Settings().GetDword(gigeconfig::kGigeParametersKey, "DHCP").value_or(9), 1u);
    EXPECT_EQ(net_.changes, changes);
    EXPECT_TRUE(service_.running);
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
