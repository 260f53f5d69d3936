// Camera events of a USB3 Vision device: five parked requests, the event interface and the entries.
#include "UsbProducerFixture.h"

namespace qorcam::testing {
namespace {

TEST_F(UsbProducerTest, CameraEventsArriveInOrderAsDelivered) {
    DEV_HANDLE device = OpenCamera();
    ASSERT_NE(device, nullptr);
    EVENT_HANDLE events = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT, &events), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", usbdrv::IOCTL_USB_GetEvent, 5));
    {
        auto held = service.Lock();
        EXPECT_EQ(service.Camera("cam").Get32(kEirm), 1u) << "event interface enabled";
    }
    for (uint8_t k = 0; k < 5; ++k) {
        ASSERT_TRUE(service.CompletePending("cam", usbdrv::IOCTL_USB_GetEvent, devio::STATUS_SUCCESS,
                                            [k](std::span<uint8_t> out) {
                                                const uint32_t n = 12 + 4 * k;
                                                std::memset(out.data(), 0xA0 + k, n);
                                                return n;
                                            }));
    }
    for (uint8_t k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        std::vector<uint8_t> data(12 + 4 * k);
        size_t size = data.size() - 1;
        ExpectError(gc->EventGetData(events, data.data(), &size, 1000), GC_ERR_INVALID_PARAMETER,
                    "Invalid buffer Size");
        size = data.size();
        ExpectError(gc->EventGetData(events, nullptr, &size, 1000), GC_ERR_INVALID_PARAMETER,
                    "Invalid buffer");
        ASSERT_EQ(gc->EventGetData(events, data.data(), &size, 1000), GC_ERR_SUCCESS);
        EXPECT_EQ(size, data.size());
        EXPECT_EQ(data.front(), 0xA0 + k);
        EXPECT_EQ(data.back(), 0xA0 + k);
    }
    // Each slot is sent again once its event is taken.
    ASSERT_TRUE(service.WaitPending("cam", usbdrv::IOCTL_USB_GetEvent, 5));
    uint8_t none[64];
    size_t size = sizeof none;
    EXPECT_EQ(gc->EventGetData(events, none, &size, 20), GC_ERR_TIMEOUT);

    ASSERT_EQ(gc->GCUnregisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Pending("cam", usbdrv::IOCTL_USB_GetEvent), 0u);
    auto held = service.Lock();
    EXPECT_EQ(service.Camera("cam").Get32(kEirm), 0u) << "event interface disabled";
}

TEST_F(UsbProducerTest, OnlyCameraAndErrorEventsAreOffered) {
    DEV_HANDLE device = OpenCamera();
    ASSERT_NE(device, nullptr);
    EVENT_HANDLE event = nullptr;
    EXPECT_EQ(gc->GCRegisterEvent(device, EVENT_ERROR, &event), GC_ERR_SUCCESS);
    ExpectError(gc->GCRegisterEvent(device, EVENT_CUSTOM_BUS, &event), GC_ERR_ERROR,
                "Event ID 1000 not implemented");
}

} // namespace
} // namespace qorcam::testing
