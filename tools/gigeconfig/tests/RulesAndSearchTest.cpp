// Address rules, description-file names, camera status and request ids of the IP configuration tool.
#include "AddressRules.h"
#include "CameraSearch.h"
#include "IpText.h"
#include "ScriptedCamera.h"

#include <gtest/gtest.h>

namespace qorcam::gigeconfig {
namespace {

constexpr std::uint32_t H(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | d;
}
constexpr std::uint32_t N(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return SwapBytes32(H(a, b, c, d));
}

TEST(AddressRules, AdapterAddressTable) {
    struct Case {
        std::uint32_t ip, mask;
        const char* expected;
    };
    const Case cases[] = {
        {H(192, 168, 5, 1), H(255, 255, 255, 0), ""},
        {H(192, 168, 5, 2), H(255, 255, 255, 0), "IP Address Error"},
        {H(192, 168, 5, 1), H(255, 255, 0, 0), "IP Address Error"}, // host part 5.1
        {H(192, 168, 0, 1), H(255, 255, 0, 0), ""},
        {H(169, 254, 0, 1), H(255, 254, 0, 0), "Subnet Mask Error"},
        {H(10, 0, 0, 1), H(255, 0, 0, 0), ""},
        {H(172, 32, 0, 1), H(255, 255, 0, 0), "IP Address Error"},
        {H(172, 31, 0, 1), H(255, 255, 255, 0), ""},
        {H(11, 0, 0, 1), H(255, 0, 0, 0), "IP Address Error"},
        {H(10, 0, 0, 1), H(254, 0, 0, 0), "Subnet Mask Error"},   // first octet not 255
        {H(10, 0, 0, 1), H(255, 0, 255, 0), "Subnet Mask Error"}, // not contiguous
        {H(10, 1, 2, 1), H(255, 255, 255, 0), ""},
        {H(192, 168, 7, 1), H(255, 255, 255, 0), "IP Address Overlap Error"}, // another adapter has it
    };
    const std::vector<std::uint32_t> adapters = {N(192, 168, 7, 1), N(192, 168, 9, 1)};
    for (const auto& c : cases)
        EXPECT_EQ(CheckAdapterAddress(false, c.ip, c.mask, H(192, 168, 9, 1), adapters), c.expected)
            << FormatIpAddress(SwapBytes32(c.ip)) << "/" << FormatIpAddress(SwapBytes32(c.mask));
    // The adapter's own unchanged address is no overlap; with Auto anything passes.
    EXPECT_EQ(CheckAdapterAddress(false, H(192, 168, 9, 1), H(255, 255, 255, 0), H(192, 168, 9, 1), adapters),
              "");
    EXPECT_EQ(CheckAdapterAddress(true, 0, 0, 0, adapters), "");
}

TEST(AddressRules, CameraAddressAndForceIp) {
    const std::uint32_t m24 = H(255, 255, 255, 0);
    EXPECT_TRUE(IsValidIpSetting(H(192, 168, 1, 10), m24, 0));
    EXPECT_TRUE(IsValidIpSetting(H(192, 168, 1, 10), m24, H(192, 168, 1, 254)));
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 1), m24, 0));   // reserved for the adapter
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 0), m24, 0));   // host part 0
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 255), m24, 0)); // broadcast
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 10), 0xFFFFFFFF, 0));
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 10), H(255, 0, 255, 0), 0));
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 10), m24, H(192, 168, 1, 10)));
    EXPECT_FALSE(IsValidIpSetting(H(192, 168, 1, 10), m24, H(192, 168, 2, 1)));
    EXPECT_FALSE(IsValidIpSetting(0, m24, 0));

    NicEntry nic;
    nic.adapterNumber = 2;
    nic.ip = N(192, 168, 10, 1);
    nic.mask = N(255, 255, 255, 0);
    std::vector<CameraEntry> cameras(3);
    cameras[0].adapterNumber = cameras[1].adapterNumber = 2;
    cameras[0].ip = N(192, 168, 10, 254);
    cameras[1].ip = N(192, 168, 10, 253);
    cameras[2].adapterNumber = 3; // another adapter's camera does not count
    cameras[2].ip = N(192, 168, 10, 252);
    EXPECT_EQ(ChooseForceIpAddress(nic, cameras), N(192, 168, 10, 252));
    EXPECT_EQ(ChooseForceIpAddress(nic, {}), N(192, 168, 10, 254));
    // A /30: hosts .1 (the adapter) and .2; the subnet's own and broadcast addresses are never given.
    nic.mask = N(255, 255, 255, 252);
    cameras = {cameras[0]};
    cameras[0].ip = N(192, 168, 10, 2);
    EXPECT_FALSE(ChooseForceIpAddress(nic, cameras));
    nic.ip = 0;
    EXPECT_FALSE(ChooseForceIpAddress(nic, {}));
}

TEST(CameraSearch, DescriptionUrls) {
    struct Case {
        const char* url;
        const char* file;
        const char* base;
    };
    const Case cases[] = {
        {"Local:name_v1.0.zip;8000;4A0", "name_v1.0.zip", "name_v1_0"},
        {"Local:cam.xml;10000;2000", "cam.xml", "cam"},
        {"Local:cam.v2.xml.zip;10000;2000", "cam.v2.xml.zip", "cam_v2_xml"},
        {"File:C/dev.xml", "C/dev.xml", "C/dev"},
        {"http://www.example.com/files/dev.1.xml?x=1", "dev.1.xml?x=1", "dev_1"},
        {"Local:readme.txt;0;10", nullptr, nullptr},
        {"local:cam.xml;0;10", nullptr, nullptr},
        {"Local", nullptr, nullptr},
        {"http://example.com/nothing", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        auto name = ParseDescriptionUrl(c.url);
        if (!c.file) {
            EXPECT_FALSE(name) << c.url;
            continue;
        }
        ASSERT_TRUE(name) << c.url;
        EXPECT_EQ(name->fileName, c.file) << c.url;
        EXPECT_EQ(name->baseName, c.base) << c.url;
    }
}

TEST(CameraSearch, StatusFromAddressesAndDuplicates) {
    NicEntry system, driver;
    system.adapterNumber = 0;
    system.windowsIp = 1;
    system.ip = N(10, 0, 0, 5);
    system.mask = N(255, 255, 255, 0);
    driver.adapterNumber = 1;
    driver.ip = N(192, 168, 1, 1);
    driver.mask = N(255, 255, 255, 0);
    const std::vector<NicEntry> nics = {system, driver};
    auto camera = [](std::uint32_t adapter, std::uint32_t ip, std::uint32_t mask, std::uint32_t current) {
        CameraEntry c;
        c.adapterNumber = adapter;
        c.ip = ip;
        c.mask = mask;
        c.ipConfigCurrent = current;
        return c;
    };
    const std::uint32_t m24 = N(255, 255, 255, 0), m16 = N(255, 255, 0, 0);
    EXPECT_EQ(StatusFromAddresses(camera(7, N(10, 0, 0, 9), m24, 2), nics), kStatusOtherError);
    EXPECT_EQ(StatusFromAddresses(camera(0, N(10, 0, 1, 9), m24, 1), nics), kStatusSubnetOutside);
    // The wider mask decides: a /16 camera is still outside a /24 adapter's subnet.
    EXPECT_EQ(StatusFromAddresses(camera(0, N(10, 0, 1, 9), m16, 1), nics), kStatusSubnetOutside);
    EXPECT_EQ(StatusFromAddresses(camera(0, N(10, 0, 0, 9), m24, 4), nics), std::nullopt);
    // Behind a driver adapter DHCP off comes first, even inside the subnet.
    EXPECT_EQ(StatusFromAddresses(camera(1, N(192, 168, 1, 9), m24, 1), nics), kStatusDhcpOff);
    EXPECT_EQ(StatusFromAddresses(camera(1, N(169, 254, 3, 3), m16, 2 | 4), nics), kStatusInitializing);
    EXPECT_EQ(StatusFromAddresses(camera(1, N(192, 168, 1, 9), m24, 2), nics), std::nullopt);

    std::vector<CameraEntry> cameras(3);
    cameras[0].mac = {1, 2, 3, 4, 5, 6};
    cameras[0].adapterNumber = 0;
    cameras[1].mac = {1, 2, 3, 4, 5, 7};
    cameras[2].mac = {1, 2, 3, 4, 5, 6};
    cameras[2].adapterNumber = 1;
    RemoveDuplicateCameras(cameras);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].adapterNumber, 0u);

    EXPECT_STREQ(IpModeText(1 | 2), "Static");
    EXPECT_STREQ(IpModeText(2 | 4), "DHCP");
    EXPECT_STREQ(IpModeText(4), "LLA");
    EXPECT_EQ(FormatIpAddress(N(192, 168, 1, 10)), "192.168.1.10");
}

TEST(CameraSearch, RegistersGiveWriteMemAndTheFileNameWithinTheAnswer) {
    test::ScriptedCamera cam;
    CRequestIds ids;
    CameraEntry c;
    c.ip = N(192, 168, 1, 9);
    cam.registers[0x0934] = 0x2;
    // A URL that fills the whole register with no terminator is cut at what was sent.
    std::string url = "Local:dev.zip;8000;4A0;";
    url += std::string(512 - url.size(), 'x');
    cam.SetUrl(url);
    ASSERT_TRUE(ReadCameraDescription(c, cam, ids));
    EXPECT_EQ(c.status, kStatusOk);
    EXPECT_EQ(c.writeMem, 1u);
    EXPECT_EQ(c.xmlFileName, "dev.zip");
    EXPECT_EQ(c.xmlBaseName, "dev");
    ASSERT_EQ(cam.log.size(), 2u);
    EXPECT_EQ(cam.log[0].requestId, 1);
    EXPECT_EQ(cam.log[1].requestId, 2);
    EXPECT_EQ(cam.log[1].length, 512);

    cam.SetUrl("http://host/none");
    ASSERT_TRUE(ReadCameraDescription(c, cam, ids));
    EXPECT_EQ(c.status, kStatusOtherError);
    cam.failAt.insert(0x0200);
    EXPECT_FALSE(ReadCameraDescription(c, cam, ids));
    EXPECT_EQ(c.status, kStatusOtherError);
}

TEST(CameraSearch, RequestIdsRunFromOneAndSkipZero) {
    CRequestIds ids;
    EXPECT_EQ(ids.Next(), 1);
    for (int i = 2; i < 65535; ++i)
        ids.Next();
    EXPECT_EQ(ids.Next(), 65535);
    EXPECT_EQ(ids.Next(), 1);
}

} // namespace
} // namespace qorcam::gigeconfig
