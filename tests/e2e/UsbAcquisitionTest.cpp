// Images from a simulated USB3 Vision camera through libQorCam.so as an application loads it: the USB
// service program on the virtual bus, the list, the open, features read through the camera's node map,
// the image callback. The camera has no event interface, as many USB cameras don't.
#include "CameraAcquisition.h"

#include "SimulatedUsbCamera.h"

#include "genapi/GenApiC.h"

#include <gtest/gtest.h>

#include <string>

namespace qorcam::testing {
namespace {

using namespace std::chrono_literals;
using sample::CameraAcquisition;

constexpr uint32_t kWidth = SimulatedUsbCamera::kWidth, kHeight = SimulatedUsbCamera::kHeight;

class UsbAcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string failed = usb_.Start(QOR_U3V_SIM_CAMERA, QOR_USB_DRV);
        ASSERT_TRUE(failed.empty()) << failed;
    }
    void TearDown() override { EXPECT_TRUE(usb_.Stop()) << "the USB service didn't end"; }

    SimulatedUsbCamera usb_;
};

// Lists until a USB camera shows up.
bool FindUsbCamera(CameraAcquisition& acquisition, QORCAM_CAMERAINFO& found) {
    return SimulatedUsbCamera::Find([&] {
        for (const auto& info : acquisition.List()) {
            if (info.CameraType == QORCAM_CTYPE_USB) {
                found = info;
                return true;
            }
        }
        return false;
    });
}

TEST_F(UsbAcquisitionTest, OpensReadsFeaturesAndStreamsACameraWithoutEventInterface) {
    CameraAcquisition acquisition(QORCAM_LIBRARY_PATH);
    ASSERT_TRUE(acquisition.Loaded()) << acquisition.Error();
    ASSERT_TRUE(acquisition.SetStructVersion(LIBRARY_STRUCT_VERSION)) << acquisition.Error();
    QORCAM_CAMERAINFO info{};
    ASSERT_TRUE(FindUsbCamera(acquisition, info)) << "no USB camera listed; " << acquisition.Error();
    EXPECT_STREQ(info.VendorName, SimulatedUsbCamera::kVendor);
    EXPECT_STREQ(info.ModelName, SimulatedUsbCamera::kModel);
    ASSERT_TRUE(acquisition.Open(info.UID)) << acquisition.Error();

    // Features through the node map the library built from the camera's own description.
    auto getNodeMap = reinterpret_cast<decltype(&QORCAM_GetNodeMap)>(acquisition.Symbol("QORCAM_GetNodeMap"));
    auto getNode = reinterpret_cast<decltype(&QgaGetNode)>(acquisition.Symbol("QgaGetNode"));
    auto getInt = reinterpret_cast<decltype(&QgaGetInt)>(acquisition.Symbol("QgaGetInt"));
    auto getString = reinterpret_cast<decltype(&QgaGetString)>(acquisition.Symbol("QgaGetString"));
    ASSERT_TRUE(getNodeMap && getNode && getInt && getString);
    void* map = nullptr;
    ASSERT_TRUE(getNodeMap(acquisition.Camera(), &map));
    QGA_NODE node = nullptr;
    int64_t value = 0;
    ASSERT_EQ(getNode(map, "Width", &node), QGA_OK);
    ASSERT_EQ(getInt(node, &value), QGA_OK);
    EXPECT_EQ(value, kWidth);
    char text[128];
    size_t size = sizeof text;
    ASSERT_EQ(getNode(map, "DeviceModelName", &node), QGA_OK);
    ASSERT_EQ(getString(node, text, &size), QGA_OK);
    EXPECT_STREQ(text, SimulatedUsbCamera::kModel);

    ASSERT_TRUE(acquisition.Start(4)) << acquisition.Error();
    ASSERT_TRUE(acquisition.WaitFrames(3, 20s)) << acquisition.Error();
    const auto frames = acquisition.Frames();
    for (size_t n = 0; n < frames.size(); ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        EXPECT_EQ(frames[n].length, kWidth * kHeight);
        EXPECT_EQ(frames[n].width, kWidth);
        EXPECT_EQ(frames[n].height, kHeight);
        EXPECT_EQ(frames[n].bytes.size(), size_t{kWidth} * kHeight);
    }
    EXPECT_TRUE(acquisition.Finish()) << acquisition.Error();
}

} // namespace
} // namespace qorcam::testing
