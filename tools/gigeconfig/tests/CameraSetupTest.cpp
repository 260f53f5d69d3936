// The camera setup dialog's rules: offered modes, the decisions of OK, the register writes and FORCEIP.
#include "CameraIPSetup.h"
#include "IpText.h"
#include "ProfileFile.h"
#include "ScriptedCamera.h"
#include "TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace qorcam::gigeconfig {
namespace {

namespace fs = std::filesystem;
using Cmd = test::ScriptedCamera::Command;

constexpr std::uint32_t H(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | d;
}

class CameraSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        profile_ = CProfileFile::ProfilePath(true);

        systemNic_.windowsIp = 1;
        systemNic_.ip = SwapBytes32(H(10, 0, 0, 5));
        systemNic_.mask = SwapBytes32(H(255, 255, 255, 0));
        systemNic_.gateway = SwapBytes32(H(10, 0, 0, 254));
        driverNic_.adapterNumber = 1;
        driverNic_.ip = SwapBytes32(H(192, 168, 1, 1));
        driverNic_.mask = SwapBytes32(H(255, 255, 255, 0));
        driverNic_.mac = {0x02, 0, 0, 0, 0, 0x11};
        camera_.mac = {0x00, 0x0C, 0xDF, 0, 0, 7};
        camera_.vendorName = "Somebody";
        camera_.userName = "cam";
        camera_.ipConfigOptions = 1 | 2 | 4;
    }
    CCameraIPSetup Setup(const NicEntry& nic) {
        camera_.adapterNumber = nic.adapterNumber;
        CameraSetupContext c;
        c.openDevice = [this]() -> std::unique_ptr<CGvcpSender> {
            // Each operation opens its own handle; all of them reach the same camera.
            struct Handle : CGvcpSender {
                test::ScriptedCamera& cam;
                explicit Handle(test::ScriptedCamera& c) : cam(c) {}
                std::uint32_t SendNicCmd(GvcpCommandBlock& b, bool noLimit) override {
                    return cam.SendNicCmd(b, noLimit);
                }
                std::uint32_t SetCameraIp(const std::uint8_t mac[6], std::uint32_t ip) override {
                    return cam.SetCameraIp(mac, ip);
                }
            };
            return std::make_unique<Handle>(cam_);
        };
        c.ids = &ids_;
        c.message = [this](const std::string& m) { messages_.push_back(m); };
        c.profilePath = profile_;
        c.sleep = [this](unsigned ms) { sleeps_.push_back(ms); };
        return CCameraIPSetup(camera_, nic, c);
    }
    // The writes of the log as (command, address, value), reads left out.
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> Writes() const {
        std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> w;
        for (const Cmd& c : cam_.log)
            if (c.command != 1 && c.command != 2)
                w.emplace_back(c.command, c.address, c.command == 0 ? c.ip : c.value);
        return w;
    }

    test::TempRoot temp_{"camsetup"};
    std::string profile_;
    NicEntry systemNic_, driverNic_;
    CameraEntry camera_;
    test::ScriptedCamera cam_;
    CRequestIds ids_;
    std::vector<std::string> messages_;
    std::vector<unsigned> sleeps_;
};

TEST_F(CameraSetupTest, OfferedModes) {
    // No DHCP option behind a driver adapter: no mode at all.
    camera_.ipConfigOptions = 1 | 4;
    camera_.ipConfigCurrent = 4;
    camera_.ip = SwapBytes32(H(169, 254, 3, 3));
    camera_.mask = SwapBytes32(H(255, 255, 0, 0));
    auto s = Setup(driverNic_);
    s.OnInitDialog();
    for (bool r : s.radioEnabled)
        EXPECT_FALSE(r);
    EXPECT_TRUE(s.forceIpEnabled); // outside the subnet: only FORCEIP

    // A camera on a system adapter, in its subnet, static: its persistent address is read.
    camera_.ipConfigOptions = 1 | 2 | 4;
    camera_.ipConfigCurrent = 1;
    camera_.ip = SwapBytes32(H(10, 0, 0, 9));
    camera_.mask = SwapBytes32(H(255, 255, 255, 0));
    cam_.registers[0x064C] = H(10, 0, 0, 9);
    cam_.registers[0x065C] = H(255, 255, 255, 0);
    cam_.registers[0x066C] = H(10, 0, 0, 254);
    auto t = Setup(systemNic_);
    t.OnInitDialog();
    EXPECT_EQ(t.InitialMode(), 3u);
    EXPECT_TRUE(t.radioEnabled[0] && t.radioEnabled[1] && t.radioEnabled[3]);
    EXPECT_FALSE(t.radioEnabled[2]); // DHCP Static only behind the service's own adapters
    EXPECT_EQ(t.gateway, H(10, 0, 0, 254));
    EXPECT_FALSE(t.okEnabled);

    // An adapter without address disables everything.
    NicEntry none = driverNic_;
    none.ip = 0;
    auto u = Setup(none);
    u.OnInitDialog();
    EXPECT_FALSE(u.nameEnabled || u.okEnabled || u.forceIpEnabled || u.radioEnabled[1]);
}

TEST_F(CameraSetupTest, StaticCameraWritesOnlyWhatChanged) {
    camera_.ipConfigCurrent = 1;
    camera_.ip = SwapBytes32(H(10, 0, 0, 9));
    camera_.mask = SwapBytes32(H(255, 255, 255, 0));
    cam_.registers[0x064C] = H(10, 0, 0, 9);
    cam_.registers[0x065C] = H(255, 255, 255, 0);
    auto s = Setup(systemNic_);
    s.OnInitDialog();
    ASSERT_TRUE(s.OnOK());
    EXPECT_TRUE(Writes().empty()) << "unchanged static address written";
    EXPECT_FALSE(s.writeNeeded);

    auto t = Setup(systemNic_);
    t.OnInitDialog();
    t.ip = H(10, 0, 0, 20);
    ASSERT_TRUE(t.OnOK());
    using W = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
    const std::vector<W> expected = {W{3, 0x0A00, 2},
                                     W{3, 0x064C, H(10, 0, 0, 20)},
                                     W{3, 0x065C, H(255, 255, 255, 0)},
                                     W{3, 0x066C, 0},
                                     W{3, 0x0A00, 0},
                                     W{0, 0, 0}};
    EXPECT_EQ(Writes(), expected);
    ASSERT_EQ(cam_.cameraIps.size(), 1u);
    EXPECT_EQ(cam_.cameraIps[0].second, SwapBytes32(H(10, 0, 0, 20)));
    EXPECT_TRUE(t.writeNeeded);
    // Request ids run on across the operations and are never 0.
    for (size_t i = 0; i < cam_.log.size(); ++i)
        EXPECT_EQ(cam_.log[i].requestId, i + 1);
}

TEST_F(CameraSetupTest, UserNameAsRegistersOrMemoryAndKorvashRegisters) {
    camera_.ipConfigCurrent = 2;
    camera_.ip = SwapBytes32(H(10, 0, 0, 9));
    camera_.mask = SwapBytes32(H(255, 255, 255, 0));
    auto s = Setup(systemNic_);
    s.OnInitDialog();
    s.userName = "ABCDEFGHIJKLMNO"; // 15 characters: the 16th byte stays 0
    ASSERT_TRUE(s.OnOK());
    using W = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
    std::vector<W> expected = {W{3, 0x0A00, 2},          W{3, 0x00E8, 0x41424344}, W{3, 0x00EC, 0x45464748},
                               W{3, 0x00F0, 0x494A4B4C}, W{3, 0x00F4, 0x4D4E4F00}, W{3, 0x0A00, 0}};
    EXPECT_EQ(Writes(), expected);
    EXPECT_FALSE(s.writeNeeded); // a name alone needs no restart

    cam_.log.clear();
    camera_.writeMem = 1;
    camera_.vendorName = "korvash";
    auto t = Setup(systemNic_);
    t.OnInitDialog();
    t.userName = "line-7";
    t.OnModeChanged(0); // DHCP to LLA Only: configuration register
    ASSERT_TRUE(t.OnOK());
    expected = {W{3, 0x0A00, 2}, W{4, 0x00E8, 0x656E696C}, W{3, 0x0014, 4}, W{3, 0xE800, 1},
                W{3, 0xE80C, 1}, W{3, 0xE808, 1},          W{3, 0x0A00, 0}, W{0, 0, 0}};
    EXPECT_EQ(Writes(), expected);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&cam_.memory[0xE8])), "line-7");
    EXPECT_EQ(cam_.log[1].length, 16);
}

TEST_F(CameraSetupTest, DhcpStaticKeepsTheProfileAndAFailedWriteKeepsControl) {
    camera_.ipConfigCurrent = 2;
    camera_.ip = SwapBytes32(H(192, 168, 1, 50));
    camera_.mask = SwapBytes32(H(255, 255, 255, 0));
    auto s = Setup(driverNic_);
    s.OnInitDialog();
    EXPECT_EQ(s.InitialMode(), 1u);
    s.OnModeChanged(2);
    EXPECT_EQ(s.ip, H(192, 168, 1, 1)); // the adapter's address is proposed...
    EXPECT_FALSE(s.OnOK());             // ...and refused: host part 1 is the adapter's
    EXPECT_EQ(messages_, std::vector<std::string>{"Input IP Address Error"});
    s.ip = H(192, 168, 1, 20);
    ASSERT_TRUE(s.OnOK());
    EXPECT_TRUE(s.writeNeeded);
    auto records = CProfileFile(profile_).Read();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ip, SwapBytes32(H(192, 168, 1, 20)));
    EXPECT_TRUE(HasCameraRecord(records, driverNic_.mac, camera_.mac));

    // The record makes the next dialog start in DHCP Static; back to DHCP removes it.
    auto t = Setup(driverNic_);
    t.OnInitDialog();
    EXPECT_EQ(t.InitialMode(), 2u);
    t.OnModeChanged(1);
    cam_.log.clear();
    cam_.failAt.insert(0x0A00);
    ASSERT_TRUE(t.OnOK()); // the dialog closes whatever the writes gave
    EXPECT_EQ(fs::file_size(profile_), 0u);
    EXPECT_EQ(messages_.back(), "GigE Driver Write Register Error");
    EXPECT_EQ(cam_.log.size(), 1u) << "a failed write ends the sequence";
}

TEST_F(CameraSetupTest, ForceIpTakesAFreeAddressOfTheSubnet) {
    camera_.ipConfigCurrent = 4;
    camera_.ip = SwapBytes32(H(169, 254, 3, 3));
    camera_.mask = SwapBytes32(H(255, 255, 0, 0));
    CameraEntry other;
    other.adapterNumber = 0;
    other.ip = SwapBytes32(H(10, 0, 0, 254));
    auto s = Setup(systemNic_);
    s.OnInitDialog();
    EXPECT_TRUE(s.forceIpEnabled);
    s.OnForceIp({other});
    ASSERT_EQ(cam_.log.size(), 1u);
    EXPECT_EQ(cam_.log[0].command, 0u);
    EXPECT_EQ(cam_.log[0].ip, SwapBytes32(H(10, 0, 0, 253)));
    EXPECT_EQ(cam_.log[0].mask, systemNic_.mask);
    EXPECT_TRUE(s.nameChanged);
    EXPECT_FALSE(s.writeNeeded);

    NicEntry none = systemNic_;
    none.ip = 0;
    auto t = Setup(none);
    t.OnForceIp({});
    EXPECT_EQ(messages_.back(), "ForceIP Set Error");
    EXPECT_EQ(cam_.log.size(), 1u);
    EXPECT_EQ(sleeps_, (std::vector<unsigned>{500, 500})); // after FORCEIP, sent or not
}

// Without a sleep hook (the program sets none) the pauses around FORCEIP are real.
TEST_F(CameraSetupTest, ForceIpPausesReallyWait) {
    camera_.ipConfigCurrent = 4;
    camera_.ip = SwapBytes32(H(169, 254, 3, 3));
    camera_.mask = SwapBytes32(H(255, 255, 0, 0));
    camera_.adapterNumber = systemNic_.adapterNumber;
    CameraSetupContext c;
    c.openDevice = [this]() -> std::unique_ptr<CGvcpSender> {
        struct Handle : CGvcpSender {
            test::ScriptedCamera& cam;
            explicit Handle(test::ScriptedCamera& c) : cam(c) {}
            std::uint32_t SendNicCmd(GvcpCommandBlock& b, bool n) override { return cam.SendNicCmd(b, n); }
            std::uint32_t SetCameraIp(const std::uint8_t m[6], std::uint32_t ip) override {
                return cam.SetCameraIp(m, ip);
            }
        };
        return std::make_unique<Handle>(cam_);
    };
    c.ids = &ids_;
    c.profilePath = profile_;
    CCameraIPSetup s(camera_, systemNic_, c);
    s.OnInitDialog();
    const auto start = std::chrono::steady_clock::now();
    s.OnForceIp({});
    // A lower bound only: a sleep never ends early, however loaded the machine.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    ASSERT_EQ(cam_.log.size(), 1u);
}

// A write failing after the control channel was taken gives the channel back;
// the pause before FORCEIP is there on the way that reaches it.
TEST_F(CameraSetupTest, AFailedWriteReleasesTheControlChannel) {
    camera_.ipConfigCurrent = 2;
    camera_.ip = SwapBytes32(H(10, 0, 0, 50));
    camera_.mask = SwapBytes32(H(255, 255, 255, 0));
    auto s = Setup(systemNic_);
    s.OnInitDialog();
    s.OnModeChanged(0); // LLA: a configuration write
    ASSERT_TRUE(s.OnOK());
    using W = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Writes(), (std::vector<W>{W{3, 0x0A00, 2}, W{3, 0x0014, 4}, W{3, 0x0A00, 0}, W{0, 0, 0}}));
    EXPECT_EQ(sleeps_, std::vector<unsigned>{100});

    cam_.log.clear();
    sleeps_.clear();
    cam_.failAt.insert(0x0014);
    auto t = Setup(systemNic_);
    t.OnInitDialog();
    t.OnModeChanged(0);
    ASSERT_TRUE(t.OnOK());
    EXPECT_EQ(messages_.back(), "GigE Driver Write Register Error");
    EXPECT_EQ(Writes(), (std::vector<W>{W{3, 0x0A00, 2}, W{3, 0x0014, 4}, W{3, 0x0A00, 0}}));
    EXPECT_TRUE(sleeps_.empty()) << "no FORCEIP after a failed sequence";
}

// What another tool writes to the profile file while the dialog is open is
// kept; a file that can't be written is reported.
TEST_F(CameraSetupTest, ProfileChangesOfAnotherToolSurviveAndWriteFailuresAreReported) {
    camera_.ipConfigCurrent = 2;
    camera_.ip = SwapBytes32(H(192, 168, 1, 50));
    camera_.mask = SwapBytes32(H(255, 255, 255, 0));
    const MacAddress otherAdapter{0x02, 0, 0, 0, 0, 0x22};
    auto s = Setup(driverNic_);
    s.OnInitDialog(); // reads an empty file
    // Meanwhile the driver select tool gives another adapter its record.
    ASSERT_TRUE(CProfileFile(profile_).Write(
        {MakeProfileRecord(otherAdapter, MacAddress{}, SwapBytes32(H(192, 168, 2, 1)), 0x00FFFFFF)}));
    s.OnModeChanged(2);
    s.ip = H(192, 168, 1, 20);
    ASSERT_TRUE(s.OnOK());
    const ProfileRecords records = CProfileFile(profile_).Read();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(IsAdapterAuto(records, otherAdapter)) << "the other tool's adapter address was lost";
    EXPECT_TRUE(HasCameraRecord(records, driverNic_.mac, camera_.mac));
    EXPECT_TRUE(messages_.empty());

    // The file's temporary twin can't be made: the write fails, and says so.
    fs::create_directory(profile_ + ".tmp");
    auto t = Setup(driverNic_);
    t.OnInitDialog();
    t.OnModeChanged(1);
    ASSERT_TRUE(t.OnOK());
    EXPECT_EQ(messages_, std::vector<std::string>{"Profile File Write Error"});
    EXPECT_EQ(CProfileFile(profile_).Read().size(), 2u);
    fs::remove(profile_ + ".tmp");
}

} // namespace
} // namespace qorcam::gigeconfig
