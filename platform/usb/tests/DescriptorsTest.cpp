// Tests of the descriptor parsers: a small USB3 Vision configuration and broken ones.
#include "usb/Descriptors.h"

#include <gtest/gtest.h>

#include <vector>

namespace qorcam::usb {
namespace {

// Configuration, control interface with the device-info descriptor (GUID
// string index 4 at byte 11) and two bulk endpoints, streaming interface
// with one.
std::vector<std::uint8_t> SmallConfiguration() {
    std::vector<std::uint8_t> c = {9,    2,    0,    0, 2,  1,    0, 0x80, 50,   9,    4,    0, 0,    2,
                                   0xEF, 0x05, 0,    0, 20, 0x24, 1, 0,    0,    1,    0,    0, 0,    1,
                                   0,    4,    1,    2, 5,  6,    7, 3,    8,    0x0C, 7,    5, 0x01, 2,
                                   0x00, 0x04, 0,    7, 5,  0x81, 2, 0x00, 0x04, 0,    9,    4, 1,    0,
                                   1,    0xEF, 0x05, 2, 0,  7,    5, 0x83, 2,    0x00, 0x04, 0};
    c[2] = static_cast<std::uint8_t>(c.size());
    return c;
}

TEST(Descriptors, WalksAConfigurationToTheDeviceInfoDescriptor) {
    const auto config = ParseConfiguration(SmallConfiguration());
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->IsUsb3Vision());
    ASSERT_EQ(config->interfaces.size(), 2u);
    const auto* control = config->FindU3vInterface(kU3vProtocolControl);
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(control->endpoints.size(), 2u);
    EXPECT_EQ(control->endpoints[1].address, 0x81);
    EXPECT_TRUE(control->endpoints[1].IsIn() && control->endpoints[1].IsBulk());
    EXPECT_EQ(control->endpoints[1].maxPacketSize, 1024);
    EXPECT_EQ(config->FindU3vInterface(kU3vProtocolEvent), nullptr);
    ASSERT_NE(config->FindU3vInterface(kU3vProtocolStream), nullptr);

    const auto info = ParseU3vDeviceInfo(config->deviceInfo);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->deviceGuidIndex, 4);
    EXPECT_EQ(info->serialNumberIndex, 3);
    EXPECT_EQ(info->genCpVersion, 0x00010000u);
}

TEST(Descriptors, RefusesBrokenConfigurations) {
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
    };
    const Case cases[] = {
        {"descriptor of length 0 (would never advance)", [](auto& c) { c[9] = 0; }},
        {"descriptor of length 1", [](auto& c) { c[9] = 1; }},
        {"last descriptor runs past the total length", [](auto& c) { c[c.size() - 7] = 9; }},
        {"total length beyond the bytes given",
         [](auto& c) { c[2] = static_cast<std::uint8_t>(c.size() + 1); }},
        {"total length below the header", [](auto& c) { c[2] = 4; }},
        {"interface descriptor too short",
         [](auto& c) {
             c[9] = 5;
             c.erase(c.begin() + 14, c.begin() + 18);
             c[2] -= 4;
         }},
        {"not a configuration", [](auto& c) { c[1] = 1; }},
        {"header only 8 bytes", [](auto& c) { c.resize(8); }},
    };
    for (const auto& test : cases) {
        auto bytes = SmallConfiguration();
        test.spoil(bytes);
        EXPECT_FALSE(ParseConfiguration(bytes)) << test.what;
    }
}

TEST(Descriptors, ConfigurationWithoutUsb3VisionIsNotACamera) {
    std::vector<std::uint8_t> c = {9, 2,    25,   0,    1, 1, 0, 0x80, 50, 9,    4,    0, 0,
                                   1, 0x08, 0x06, 0x50, 0, 7, 5, 0x81, 2,  0x00, 0x02, 0};
    const auto config = ParseConfiguration(c);
    ASSERT_TRUE(config);
    EXPECT_FALSE(config->IsUsb3Vision());
}

TEST(Descriptors, StringAndDeviceDescriptors) {
    const std::vector<std::uint8_t> text = {8, 3, 'A', 0, 'B', 0, 'C', 0, 'x', 0};
    EXPECT_EQ(ParseStringDescriptor(text), std::u16string(u"ABC")); // bLength cuts the rest
    EXPECT_EQ(ParseStringDescriptor(std::vector<std::uint8_t>{5, 3, 'A', 0, 'B'}), std::u16string(u"A"));
    EXPECT_FALSE(ParseStringDescriptor(std::vector<std::uint8_t>{12, 3, 'A', 0}));
    EXPECT_FALSE(ParseStringDescriptor(std::vector<std::uint8_t>{4, 2, 'A', 0}));

    std::vector<std::uint8_t> device = {18,   1,    0x00, 0x03, 0xEF, 0x02, 0x01, 9, 0x09,
                                        0x12, 0x56, 0x55, 0,    1,    1,    2,    3, 1};
    const auto parsed = ParseDeviceDescriptor(device);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->bcdUSB, 0x0300);
    EXPECT_EQ(parsed->vendorId, 0x1209);
    EXPECT_EQ(parsed->productId, 0x5556);
    device.pop_back();
    EXPECT_FALSE(ParseDeviceDescriptor(device));

    EXPECT_FALSE(ParseU3vDeviceInfo(std::vector<std::uint8_t>{11, 0x24, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    const auto shortInfo =
        ParseU3vDeviceInfo(std::vector<std::uint8_t>{12, 0x24, 1, 0, 0, 0, 0, 0, 0, 0, 0, 7});
    ASSERT_TRUE(shortInfo);
    EXPECT_EQ(shortInfo->deviceGuidIndex, 7);
    EXPECT_EQ(shortInfo->serialNumberIndex, 0);
}

} // namespace
} // namespace qorcam::usb
