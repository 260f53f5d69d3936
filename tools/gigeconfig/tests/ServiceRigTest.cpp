// The IP configuration tool on the test network: the adapter's address set through the profile and a restart.
#include "AddressRules.h"
#include "IpText.h"
#include "NetworkRig.h"
#include "ProfileFile.h"
#include "QorGigECPrefDlg.h"

#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace qorcam::gigeconfig {
namespace {

constexpr std::uint32_t H(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | d;
}

TEST(ServiceRig, AdapterAddressGoesThroughTheProfileAndARestart) {
    rig::NetworkRig::Options options;
    options.startService = false;
    rig::NetworkRig rig(options);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();
    os::SettingsStore settings(rig.Root() + "/etc/machine.ini");
    // The profile where the tools keep it; the service follows PATH.
    const std::string profile = CProfileFile::ProfilePath(true);
    ASSERT_TRUE(settings.SetString(kGigeParametersKey, "PATH", profile));
    std::filesystem::copy_file(rig.Root() + "/data/QORGIGEDRVPROF.dat", profile);

    std::vector<std::string> messages;
    std::thread inHost([&] {
        // The service is started (and restarted) from here, so it runs in the host namespace.
        const int fd = open(("/var/run/netns/" + rig.HostNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
        close(fd);
        auto service = CGigeServiceControl::System();
        ASSERT_TRUE(service->Start());
        PrefDlgContext context;
        context.message = [&](const std::string& m) { messages.push_back(m); };
        context.timings = {1500, 300};
        context.service = service.get();
        CQorGigECPrefDlg dlg(context);
        ASSERT_TRUE(dlg.OnInitDialog());
        ASSERT_EQ(dlg.Nics().size(), 1u);
        const NicEntry nic = dlg.Nics()[0];
        EXPECT_EQ(nic.bindName, rig.HostInterface());
        EXPECT_EQ(FormatIpAddress(nic.ip), rig.DriverAddress());
        EXPECT_FALSE(nic.windowsIp); // no Linux address: the service owns the adapter
        EXPECT_FALSE(nic.autoAddress);
        EXPECT_TRUE(dlg.CanConfigureNic(0));

        EXPECT_EQ(
            CheckAdapterAddress(false, H(169, 254, 0, 1), H(255, 255, 0, 0), SwapBytes32(nic.ip), {nic.ip}),
            "");
        dlg.ApplyNicConfig(0, false, H(169, 254, 0, 1), H(255, 255, 0, 0));
        EXPECT_TRUE(dlg.Waiting());
        ASSERT_EQ(dlg.Nics().size(), 1u);
        EXPECT_EQ(FormatIpAddress(dlg.Nics()[0].ip), "169.254.0.1");
        auto records = CProfileFile(profile).Read();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(FormatIpAddress(records[0].ip), "169.254.0.1");

        // Automatic: the record holds 0 and the service picks 192.168.N.1 after the restart.
        dlg.ApplyNicConfig(0, true, 0, 0);
        EXPECT_EQ(CProfileFile(profile).Read()[0].ip, 0u);
        EXPECT_EQ(FormatIpAddress(dlg.Nics()[0].ip), "192.168.0.1");
        service->Stop();
    });
    inHost.join();
    EXPECT_TRUE(messages.empty()) << messages[0];
}

// "aa:bb:cc:dd:ee:ff", as the rig gives its interfaces' MACs.
std::string MacText(const std::array<std::uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

// Runs f on a thread inside the rig's host namespace (where the service is
// started, so that it runs there too).
void InHostNamespace(const rig::NetworkRig& rig, const std::function<void()>& f) {
    std::thread t([&] {
        const int fd = open(("/var/run/netns/" + rig.HostNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
        close(fd);
        f();
    });
    t.join();
}

TEST(ServiceRig, CameraBehindASystemAdapterIsFoundByTheToolsDiscovery) {
    rig::NetworkRig::Options options;
    options.startService = false;
    rig::NetworkRig rig(options);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();
    // No profile: the adapter keeps a Linux address and the service works beside it.
    os::SettingsStore(rig.Root() + "/etc/machine.ini").DeleteValue(kGigeParametersKey, "PATH");
    ASSERT_EQ(rig.RunIn(rig.HostNamespace(),
                        "ip addr add " + rig.DriverAddress() + "/16 dev " + rig.HostInterface()),
              0);

    std::vector<std::string> messages;
    InHostNamespace(rig, [&] {
        auto service = CGigeServiceControl::System();
        ASSERT_TRUE(service->Start());
        // Stopped however the test ends, so a failed check leaves no service behind.
        struct StopAtEnd {
            CGigeServiceControl& service;
            ~StopAtEnd() { service.Stop(); }
        } stopAtEnd{*service};
        PrefDlgContext context;
        context.message = [&](const std::string& m) { messages.push_back(m); };
        context.timings = {3000, 500};
        context.service = service.get();
        CQorGigECPrefDlg dlg(context);
        ASSERT_TRUE(dlg.OnInitDialog());
        // The rig starts the emulator without waiting for it to listen: on a loaded machine the
        // dialog's first search may go out before it does, so an empty search is repeated (bounded).
        for (int attempt = 0; attempt < 5 && dlg.Cameras().empty(); ++attempt)
            dlg.OnSearchCamera();
        ASSERT_EQ(dlg.Nics().size(), 1u);
        EXPECT_TRUE(dlg.Nics()[0].windowsIp);
        EXPECT_EQ(FormatIpAddress(dlg.Nics()[0].ip), rig.DriverAddress());
        ASSERT_EQ(dlg.Cameras().size(), 1u) << "the emulator did not answer the discovery";
        const CameraEntry& camera = dlg.Cameras()[0];
        EXPECT_EQ(FormatIpAddress(camera.ip), rig.CameraAddress());
        EXPECT_EQ(camera.vendorName, "Aravis");
        // The emulator announces the MAC 0 in its discovery answer; the
        // service gives the tool its interface's MAC, so the tool's commands
        // reach it: the description's name is read, and then the file itself.
        EXPECT_EQ(MacText(camera.mac), rig.CameraMac());
        EXPECT_EQ(camera.status, kStatusOk) << CameraStatusText(camera.status);
        ASSERT_FALSE(camera.xmlFileName.empty());
        CProfileFile::ProfilePath(true); // the folder the file goes to, as the tools make it
        std::vector<bool> checked{true};
        dlg.OnReadXmlFile(checked);
        EXPECT_FALSE(checked[0]);
        const std::string description = CProfileFile::ProfileFolder() + "/" + camera.xmlFileName;
        ASSERT_TRUE(std::filesystem::is_regular_file(description)) << description;
        EXPECT_GT(std::filesystem::file_size(description), 0u);
        EXPECT_TRUE(messages.empty()) << messages[0];
    });
}

} // namespace
} // namespace qorcam::gigeconfig
