// Tests of the choice of backend, and that the libusb backend lists what the machine has without failing.
#include "usb/Bus.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qorcam::usb {
namespace {

TEST(Bus, KindComesFromTheEnvironment) {
    const struct {
        const char* value;
        Bus::Kind kind;
    } cases[] = {{nullptr, Bus::Kind::Libusb},
                 {"virtual", Bus::Kind::Virtual},
                 {"libusb", Bus::Kind::Libusb},
                 {"Virtual", Bus::Kind::Libusb},
                 {"", Bus::Kind::Libusb}};
    for (const auto& test : cases) {
        if (test.value == nullptr)
            unsetenv("QORCAM_USB_BUS");
        else
            setenv("QORCAM_USB_BUS", test.value, 1);
        EXPECT_EQ(Bus::KindFromEnvironment(), test.kind) << (test.value ? test.value : "unset");
    }
    unsetenv("QORCAM_USB_BUS");
}

// This machine has no USB3 Vision camera, most likely none at all; the
// backend must still start, list and refuse to open nonsense.
TEST(Bus, LibusbListsTheMachinesCameras) {
    auto bus = Bus::Create(Bus::Kind::Libusb);
    if (!bus) GTEST_SKIP() << "libusb can't start here";
    for (const auto& id : bus->Enumerate())
        EXPECT_FALSE(id.empty());
    EXPECT_EQ(bus->Open("no-such-device"), nullptr);
}

} // namespace
} // namespace qorcam::usb
