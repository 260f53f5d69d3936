// Test fixture: the framework's exports over the fake transport, loaded with dlopen.
#pragma once

#include "GenTLConsumer.h"
#include "GenTLCustom.h"
#include "GenTLExpect.h"

#include <gtest/gtest.h>
#include <memory>

namespace qorcam::testing {

// Initialises the fake producer and opens one system module; closes both afterwards, so every test
// starts with no last error. The hooks feed the event sources as a transport's threads would.
class FakeProducerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gc = std::make_unique<GenTLConsumer>(FAKE_PRODUCER_PATH);
        pushBus = reinterpret_cast<int (*)(IF_HANDLE, uint32_t)>(gc->Symbol("FakeGenTL_PushBusEvent"));
        pushAck = reinterpret_cast<int (*)(IF_HANDLE, uint64_t)>(gc->Symbol("FakeGenTL_PushAck"));
        pushDeviceEvent = reinterpret_cast<int (*)(DEV_HANDLE, const void*, size_t)>(
            gc->Symbol("FakeGenTL_PushDeviceEvent"));
        pushError = reinterpret_cast<int (*)(void*, const char*)>(gc->Symbol("FakeGenTL_PushError"));
        setInterfaceCount = reinterpret_cast<void (*)(uint32_t)>(gc->Symbol("FakeGenTL_SetInterfaceCount"));
        transfer = reinterpret_cast<int (*)(DS_HANDLE, uint32_t)>(gc->Symbol("FakeGenTL_Transfer"));
        complete = reinterpret_cast<int (*)(DS_HANDLE, uint32_t)>(gc->Symbol("FakeGenTL_Complete"));
        ASSERT_TRUE(pushBus && pushAck && pushDeviceEvent && pushError && setInterfaceCount && transfer &&
                    complete);
        setInterfaceCount(1);
        ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->TLOpen(&tl), GC_ERR_SUCCESS);
    }

    void TearDown() override {
        if (tl) {
            EXPECT_EQ(gc->TLClose(tl), GC_ERR_SUCCESS);
        }
        EXPECT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    }

    IF_HANDLE OpenInterface() {
        IF_HANDLE iface = nullptr;
        EXPECT_EQ(gc->TLOpenInterface(tl, "FAKE::fake0", &iface), GC_ERR_SUCCESS);
        return iface;
    }

    DEV_HANDLE OpenDevice(IF_HANDLE iface, const char* id = "Fake::1") {
        DEV_HANDLE device = nullptr;
        EXPECT_EQ(gc->IFOpenDevice(iface, id, DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS);
        return device;
    }

    // The code an export returned together with the last-error text it left.
    void ExpectError(GC_ERROR result, GC_ERROR code, const std::string& text) {
        ExpectLastError(*gc, result, code, text);
    }

    std::unique_ptr<GenTLConsumer> gc;
    TL_HANDLE tl = nullptr;
    int (*pushBus)(IF_HANDLE, uint32_t) = nullptr;
    int (*pushAck)(IF_HANDLE, uint64_t) = nullptr;
    int (*pushDeviceEvent)(DEV_HANDLE, const void*, size_t) = nullptr;
    int (*pushError)(void*, const char*) = nullptr;
    void (*setInterfaceCount)(uint32_t) = nullptr;
    // The fake driver: takes up to n input buffers; completes the oldest taken one with a status.
    int (*transfer)(DS_HANDLE, uint32_t) = nullptr;
    int (*complete)(DS_HANDLE, uint32_t) = nullptr;
};

} // namespace qorcam::testing
