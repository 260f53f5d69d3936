// Tests of device names: where they live under the run-time root, and opening them.
#include "devio/DeviceName.h"
#include "TestRoot.h"
#include "devio/DeviceHandle.h"

#include <gtest/gtest.h>

namespace qorcam::devio {
namespace {

TEST(DeviceNameTest, NamesMapOntoTheDeviceFolderUnderTheRoot) {
    test::TestRoot root;
    const auto dev = root.Path() / "run" / "dev";
    EXPECT_EQ(DeviceDirectory(), dev);
    EXPECT_EQ(DevicePath("\\\\.\\QORGIGE"), dev / "QORGIGE");
    EXPECT_EQ(DeviceInterfaceDirectory("{097BDA20-222C-4952-A3A6-FF618734C21A}"),
              dev / "{097BDA20-222C-4952-A3A6-FF618734C21A}");
    const std::string instance = (dev / "{097BDA20-222C-4952-A3A6-FF618734C21A}" / "0001").string();
    EXPECT_EQ(DevicePath(instance), instance);
    for (const char* bad :
         {"QORGIGE", "", "\\\\.\\", "\\\\.\\a/b", "\\\\.\\..", "\\\\.\\.", "relative/path"}) {
        EXPECT_TRUE(DevicePath(bad).empty()) << bad;
    }
}

TEST(DeviceNameTest, OpenReportsWhyADeviceCannotBeOpened) {
    test::TestRoot root;
    DeviceHandle handle;
    EXPECT_EQ(handle.Open("QORGIGE"), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(handle.Open("\\\\.\\" + std::string(200, 'X')), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(handle.Open("\\\\.\\NOBODY"), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(handle.IsOpen());
    Overlapped o;
    EXPECT_EQ(handle.DeviceIoControl(0x222402, nullptr, 0, nullptr, 0, o), STATUS_INVALID_HANDLE);
}

} // namespace
} // namespace qorcam::devio
