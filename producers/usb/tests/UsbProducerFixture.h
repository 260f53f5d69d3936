// The real USB producer loaded with dlopen, talking to a fake USB3 Vision service: the tests' fixture.
#pragma once

#include "FakeUsbService.h"
#include "GenTLConsumer.h"
#include "GenTLCustom.h"
#include "GenTLExpect.h"
#include "RecordField.h"
#include "UsbTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace qorcam::testing {

inline constexpr uint64_t kDefaultNumber = 0x00A1B2C3D4E5ULL;

class UsbProducerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(service.Root().empty());
        gc = std::make_unique<GenTLConsumer>(USB_PRODUCER_PATH);
        ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->TLOpen(&tl), GC_ERR_SUCCESS);
    }
    void TearDown() override {
        if (tl) gc->TLClose(tl);
        gc->GCCloseLib();
        gc.reset();
    }

    IF_HANDLE OpenInterface() {
        bool8_t changed = 0;
        EXPECT_EQ(gc->TLUpdateInterfaceList(tl, &changed, 1000), GC_ERR_SUCCESS);
        char id[256] = {};
        size_t size = sizeof id;
        EXPECT_EQ(gc->TLGetInterfaceID(tl, 0, id, &size), GC_ERR_SUCCESS);
        IF_HANDLE handle = nullptr;
        EXPECT_EQ(gc->TLOpenInterface(tl, id, &handle), GC_ERR_SUCCESS);
        return handle;
    }
    bool8_t Update() {
        bool8_t changed = 2;
        EXPECT_EQ(gc->IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS) << gc->LastError().second;
        return changed;
    }
    std::vector<std::string> ListedIds() { return testing::ListedIds(*gc, iface); }
    // Plugs camera "cam", lists it and opens it.
    DEV_HANDLE OpenCamera(const FakeUsbCamera& camera = FakeUsbCamera()) {
        EXPECT_TRUE(service.Plug("cam", camera));
        iface = OpenInterface();
        Update();
        DEV_HANDLE handle = nullptr;
        EXPECT_EQ(gc->IFOpenDevice(iface, UsbId(kDefaultNumber).c_str(), DEVICE_ACCESS_EXCLUSIVE, &handle),
                  GC_ERR_SUCCESS)
            << gc->LastError().second;
        if (handle) {
            EXPECT_EQ(gc->DevGetPort(handle, &port), GC_ERR_SUCCESS);
        }
        return handle;
    }
    void ExpectError(GC_ERROR result, GC_ERROR code, const std::string& text) {
        ExpectLastError(*gc, result, code, text);
    }

    FakeUsbService service;
    std::unique_ptr<GenTLConsumer> gc;
    TL_HANDLE tl = nullptr;
    IF_HANDLE iface = nullptr;
    PORT_HANDLE port = nullptr;
    const uint32_t pid = static_cast<uint32_t>(::getpid());
};

} // namespace qorcam::testing
