// Images from a simulated USB3 Vision camera through libQorCam.so as an application loads it: the USB
// service program on the virtual bus, the list, the open, features read through the camera's node map,
// the image callback. The camera has no event interface, as many USB cameras don't.
#include "CameraAcquisition.h"

#include "genapi/GenApiC.h"
#include "os/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace std::chrono_literals;
using sample::CameraAcquisition;

constexpr uint32_t kWidth = 64, kHeight = 16;

class UsbAcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-usb-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        // Set before the library is loaded: its named objects and the service's devices live here.
        setenv("QORCAM_ROOT", root_.c_str(), 1);
        setenv("QORCAM_USB_BUS", "virtual", 1);
        auto camera = os::Process::Spawn(QOR_U3V_SIM_CAMERA,
                                         {"--name=cam1", "--vendor=Acme", "--model=U3-Lib", "--serial=4711",
                                          "--guid=00A1B2C3D4E5", "--width=" + std::to_string(kWidth),
                                          "--height=" + std::to_string(kHeight), "--fps=50",
                                          "--no-event-interface", "--exit-with-parent"});
        ASSERT_TRUE(camera.has_value());
        camera_ = std::move(*camera);
        auto driver = os::Process::Spawn(QOR_USB_DRV);
        ASSERT_TRUE(driver.has_value());
        driver_ = std::move(*driver);
    }
    void TearDown() override {
        if (driver_.IsValid() && driver_.Kill(SIGTERM)) {
            EXPECT_TRUE(driver_.Wait(10000).has_value());
        }
        if (camera_.IsValid() && camera_.Kill(SIGTERM)) camera_.Wait(5000);
        unsetenv("QORCAM_USB_BUS");
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string root_;
    os::Process camera_, driver_;
};

// Lists (a bounded number of times: the service finds the camera after a moment) until a USB camera shows up.
bool FindUsbCamera(CameraAcquisition& acquisition, QORCAM_CAMERAINFO& found) {
    for (int attempt = 0; attempt < 60; ++attempt) {
        for (const auto& info : acquisition.List()) {
            if (info.CameraType == QORCAM_CTYPE_USB) {
                found = info;
                return true;
            }
        }
        std::this_thread::sleep_for(250ms);
    }
    return false;
}

TEST_F(UsbAcquisitionTest, OpensReadsFeaturesAndStreamsACameraWithoutEventInterface) {
    CameraAcquisition acquisition(QORCAM_LIBRARY_PATH);
    ASSERT_TRUE(acquisition.Loaded()) << acquisition.Error();
    ASSERT_TRUE(acquisition.SetStructVersion(LIBRARY_STRUCT_VERSION)) << acquisition.Error();
    QORCAM_CAMERAINFO info{};
    ASSERT_TRUE(FindUsbCamera(acquisition, info)) << "no USB camera listed; " << acquisition.Error();
    EXPECT_STREQ(info.VendorName, "Acme");
    EXPECT_STREQ(info.ModelName, "U3-Lib");
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
    EXPECT_STREQ(text, "U3-Lib");

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
