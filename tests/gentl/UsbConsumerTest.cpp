// The USB3 Vision producer driven by a consumer that knows only the GenTL standard: the real service on
// the virtual bus with a simulated camera process, under a private root.
#include "StandardConsumer.h"
#include "os/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace qorcam::gentltest {
namespace {

TEST(StandardConsumer, StreamsFromTheSimulatedUsbCamera) {
    char pattern[] = "/tmp/qorcam-standard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    setenv("QORCAM_ROOT", root.c_str(), 1);
    setenv("QORCAM_USB_BUS", "virtual", 1);
    auto camera = os::Process::Spawn(QOR_U3V_SIM_CAMERA, {"--name=cam1", "--vendor=Acme", "--model=U3-Std",
                                                         "--serial=77", "--guid=00A1B2C3D4E6", "--width=64",
                                                         "--height=16", "--exit-with-parent"});
    ASSERT_TRUE(camera.has_value());
    auto service = os::Process::Spawn(QOR_USB_DRV);
    ASSERT_TRUE(service.has_value());
    RunSession(USB_PRODUCER_PATH, "QorUSBGenTL");
    if (service->IsValid() && service->Kill(SIGTERM)) {
        EXPECT_TRUE(service->Wait(10000).has_value());
    }
    if (camera->IsValid() && camera->Kill(SIGTERM)) camera->Wait(5000);
    unsetenv("QORCAM_USB_BUS");
    unsetenv("QORCAM_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

} // namespace
} // namespace qorcam::gentltest
