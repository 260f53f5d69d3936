// The real producer loaded with dlopen, talking to a fake GigE service: the fixture of the module tests.
#pragma once

#include "FakeGigeService.h"
#include "GenTLConsumer.h"
#include "GenTLCustom.h"
#include "GenTLExpect.h"
#include "RecordField.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace qorcam::testing {

inline uint32_t Ip(const char* dotted) {
    return inet_addr(dotted);
}

class GigEFake : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.Running());
        gc = std::make_unique<GenTLConsumer>(GIGE_PRODUCER_PATH);
        // No GCInitLib: the host ports it holds are the machine's, and the producer's own port test
        // runs beside these tests; nothing here needs them.
        ASSERT_EQ(gc->TLOpen(&tl), GC_ERR_SUCCESS);
    }
    void TearDown() override {
        if (tl) gc->TLClose(tl);
        gc.reset();
    }

    // A camera with MAC 00-11-22-33-44-<last> at 169.254.1.<last>, seen by the adapter 169.254.0.1.
    FakeCamera& AddCamera(uint8_t last) {
        auto held = service.Lock();
        FakeCamera c;
        c.mac = {0x00, 0x11, 0x22, 0x33, 0x44, last};
        c.ip = Ip(("169.254.1." + std::to_string(last)).c_str());
        c.adapterIp = Ip("169.254.0.1");
        service.cameras.push_back(c);
        return service.cameras.back();
    }
    FakeCamera& Camera(size_t i) { return service.cameras[i]; }

    IF_HANDLE OpenInterface() {
        IF_HANDLE iface = nullptr;
        EXPECT_EQ(gc->TLOpenInterface(tl, "QORGIGE::\\\\.\\QORGIGE", &iface), GC_ERR_SUCCESS);
        return iface;
    }
    // Opens the interface, lists the cameras and opens the first with the given access.
    DEV_HANDLE OpenFirst(DEVICE_ACCESS_FLAGS access = DEVICE_ACCESS_CONTROL) {
        iface = OpenInterface();
        bool8_t changed = 0;
        EXPECT_EQ(gc->IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS);
        DEV_HANDLE device = nullptr;
        EXPECT_EQ(gc->IFOpenDevice(iface, DeviceId(Camera(0).mac).c_str(), access, &device), GC_ERR_SUCCESS)
            << gc->LastError().second;
        return device;
    }

    void ExpectError(GC_ERROR result, GC_ERROR code, const std::string& text) {
        ExpectLastError(*gc, result, code, text);
    }

    std::string DeviceIdAt(IF_HANDLE i, uint32_t index) {
        char text[128] = {};
        size_t size = sizeof text;
        EXPECT_EQ(gc->IFGetDeviceID(i, index, text, &size), GC_ERR_SUCCESS);
        return text;
    }
    std::string DeviceText(IF_HANDLE i, const std::string& id, DEVICE_INFO_CMD cmd) {
        return gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
            return gc->IFGetDeviceInfo(i, id.c_str(), cmd, t, b, s);
        });
    }
    template <class T> T DeviceInfoValue(IF_HANDLE i, const std::string& id, DEVICE_INFO_CMD cmd) {
        T value{};
        size_t size = sizeof value;
        EXPECT_EQ(gc->IFGetDeviceInfo(i, id.c_str(), cmd, nullptr, &value, &size), GC_ERR_SUCCESS);
        return value;
    }

    FakeGigeService service;
    std::unique_ptr<GenTLConsumer> gc;
    TL_HANDLE tl = nullptr;
    IF_HANDLE iface = nullptr;
    const uint32_t pid = static_cast<uint32_t>(::getpid());
};

} // namespace qorcam::testing
