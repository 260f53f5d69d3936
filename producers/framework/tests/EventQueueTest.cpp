// Event registration and the event queues, over events pushed by the test.
#include "FakeProducerFixture.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace std::chrono_literals;

class EventQueues : public FakeProducerTest {
protected:
    void SetUp() override {
        FakeProducerTest::SetUp();
        iface = OpenInterface();
        device = OpenDevice(iface);
        ASSERT_EQ(gc->GCRegisterEvent(iface, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);
        ASSERT_NE(bus, nullptr);
    }

    // Fetches one u32 bus code with a generous buffer; a success that delivered nothing (an
    // unregistered queue woken by a flush) leaves *code and the size untouched.
    GC_ERROR TakeBus(uint32_t* code, uint64_t timeout = 0) {
        uint8_t buffer[16] = {};
        size_t size = sizeof buffer;
        const GC_ERROR result = gc->EventGetData(bus, buffer, &size, timeout);
        if (result == GC_ERR_SUCCESS && size != sizeof buffer) {
            EXPECT_EQ(size, 4u);
            std::memcpy(code, buffer, 4);
        }
        return result;
    }

    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    EVENT_HANDLE bus = nullptr;
};

TEST_F(EventQueues, RegistrationPerModule) {
    EVENT_HANDLE event = reinterpret_cast<EVENT_HANDLE>(1);
    // The system module has no events: success, and a null handle.
    EXPECT_EQ(gc->GCRegisterEvent(tl, EVENT_CUSTOM_BUS, &event), GC_ERR_SUCCESS);
    EXPECT_EQ(event, nullptr);
    // The same object for every registration of one type.
    EXPECT_EQ(gc->GCRegisterEvent(iface, EVENT_CUSTOM_BUS, &event), GC_ERR_SUCCESS);
    EXPECT_EQ(event, bus);

    struct Case {
        void* module;
        EVENT_TYPE type;
        bool accepted;
    };
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
    const Case cases[] = {
        {iface, EVENT_CUSTOM_ACTION_ACK, true},
        {iface, EVENT_CUSTOM_DEVICE_EVENT, false},
        {iface, EVENT_ERROR, false},
        {device, EVENT_ERROR, true},
        {device, EVENT_CUSTOM_DEVICE_EVENT, true},
        {device, EVENT_CUSTOM_BUS, false},
        {device, EVENT_NEW_BUFFER, false},
        {stream, EVENT_ERROR, true},
        {stream, EVENT_NEW_BUFFER, true},
        {stream, EVENT_FEATURE_CHANGE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        event = nullptr;
        const GC_ERROR result = gc->GCRegisterEvent(c.module, c.type, &event);
        if (c.accepted) {
            EXPECT_EQ(result, GC_ERR_SUCCESS);
            EXPECT_NE(event, nullptr);
            EXPECT_EQ(gc->GCUnregisterEvent(c.module, c.type), GC_ERR_SUCCESS);
        } else {
            ExpectError(result, GC_ERR_ERROR, "Event ID " + std::to_string(c.type) + " not implemented");
            ExpectError(gc->GCUnregisterEvent(c.module, c.type), GC_ERR_ERROR,
                        "Event ID " + std::to_string(c.type) + " not implemented");
        }
    }
}

TEST_F(EventQueues, EntriesComeOutInOrderAndOnlyWhileRegistered) {
    ASSERT_EQ(pushBus(iface, BUS_EVENT_RESET), 0);
    ASSERT_EQ(pushBus(iface, BUS_EVENT_POWER_UP), 0);
    ASSERT_EQ(pushBus(iface, 0), 0);
    int32_t count = 0;
    size_t size = sizeof count;
    INFO_DATATYPE type = -1;
    ASSERT_EQ(gc->EventGetInfo(bus, EVENT_NUM_IN_QUEUE, &type, &count, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(count, 3);
    // Other info commands answer nothing and succeed.
    type = -1;
    EXPECT_EQ(gc->EventGetInfo(bus, EVENT_SIZE_MAX, &type, &count, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, -1);

    for (uint32_t expected : {1u, 2u, 0u}) {
        uint32_t code = 99;
        ASSERT_EQ(TakeBus(&code), GC_ERR_SUCCESS);
        EXPECT_EQ(code, expected);
    }
    uint32_t code = 0;
    ExpectError(TakeBus(&code), GC_ERR_TIMEOUT, "Timeout");

    // Unregistered: pushed entries are dropped.
    ASSERT_EQ(gc->GCUnregisterEvent(iface, EVENT_CUSTOM_BUS), GC_ERR_SUCCESS);
    ASSERT_EQ(pushBus(iface, BUS_EVENT_RESET), 0);
    ASSERT_EQ(gc->GCRegisterEvent(iface, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);
    EXPECT_EQ(TakeBus(&code), GC_ERR_TIMEOUT);
}

TEST_F(EventQueues, SizeQueriesAndShortBuffersLeaveTheEntryQueued) {
    ASSERT_EQ(pushBus(iface, BUS_EVENT_POWER_UP), 0);
    uint8_t buffer[16];
    size_t size = 0;
    ExpectError(gc->EventGetData(bus, buffer, &size, 0), GC_ERR_TIMEOUT, "Timeout");
    EXPECT_EQ(size, 4u);
    size = 2;
    ExpectError(gc->EventGetData(bus, buffer, &size, 0), GC_ERR_INVALID_PARAMETER, "Buffer too small");
    size = 4;
    ExpectError(gc->EventGetData(bus, nullptr, &size, 0), GC_ERR_INVALID_PARAMETER, "Invalid buffer");
    ExpectError(gc->EventGetData(bus, buffer, nullptr, 0), GC_ERR_INVALID_PARAMETER, "Invalid Size");
    uint32_t code = 0;
    ASSERT_EQ(TakeBus(&code), GC_ERR_SUCCESS);
    EXPECT_EQ(code, 2u);
    ExpectError(gc->EventGetDataInfo(bus, buffer, 4, EVENT_DATA_ID, nullptr, buffer, &size),
                GC_ERR_INVALID_PARAMETER, "Invalid Parameter");
}

TEST_F(EventQueues, EachEntryKindReportsTheBytesItWrote) {
    EVENT_HANDLE ack = nullptr, error = nullptr, camera = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(iface, EVENT_CUSTOM_ACTION_ACK, &ack), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCRegisterEvent(device, EVENT_ERROR, &error), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCRegisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT, &camera), GC_ERR_SUCCESS);

    ASSERT_EQ(pushAck(iface, 0x0011223344550000ull), 0);
    uint8_t buffer[600];
    std::memset(buffer, 0xEE, sizeof buffer);
    size_t size = 16;
    ASSERT_EQ(gc->EventGetData(ack, buffer, &size, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 8u);
    uint64_t mac = 0;
    std::memcpy(&mac, buffer, 8);
    EXPECT_EQ(mac, 0x0011223344550000ull);
    EXPECT_EQ(buffer[8], 0xEE);

    // An error entry is its code (0), then the text with its terminator: 20 characters need 25 bytes.
    ASSERT_EQ(pushError(device, "ReadReg 0x0D04 error"), 0);
    size = 24;
    EXPECT_EQ(gc->EventGetData(error, buffer, &size, 0), GC_ERR_INVALID_PARAMETER);
    size = 25;
    ASSERT_EQ(gc->EventGetData(error, buffer, &size, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 25u);
    uint32_t errorCode = 7;
    std::memcpy(&errorCode, buffer, 4);
    EXPECT_EQ(errorCode, 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer + 4), "ReadReg 0x0D04 error");

    // A camera event record is delivered exactly as it was queued.
    uint8_t record[548];
    for (size_t i = 0; i < sizeof record; ++i)
        record[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(pushDeviceEvent(device, record, sizeof record), 0);
    size = 547;
    ExpectError(gc->EventGetData(camera, buffer, &size, 0), GC_ERR_INVALID_PARAMETER, "Buffer too small");
    size = sizeof buffer;
    ASSERT_EQ(gc->EventGetData(camera, buffer, &size, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 548u);
    EXPECT_EQ(std::memcmp(buffer, record, sizeof record), 0);
}

TEST_F(EventQueues, WaitsEndByPushFlushKillOrTimeout) {
    // A push wakes an endless wait.
    std::thread pusher([&] {
        std::this_thread::sleep_for(50ms);
        pushBus(iface, BUS_EVENT_RESET);
    });
    uint32_t code = 0;
    EXPECT_EQ(TakeBus(&code, GENTL_INFINITE), GC_ERR_SUCCESS);
    EXPECT_EQ(code, 1u);
    pusher.join();

    // A flush while registered wakes the waiter with nothing to take.
    std::thread flusher([&] {
        std::this_thread::sleep_for(50ms);
        gc->EventFlush(bus);
    });
    ExpectError(TakeBus(&code, GENTL_INFINITE), GC_ERR_ERROR, "Empty event queue but signaled");
    flusher.join();

    // Kill ends an endless wait with an abort; the queued entries stay, and a later wait is not
    // affected by the earlier kill.
    std::thread killer([&] {
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(gc->EventKill(bus), GC_ERR_SUCCESS);
    });
    ExpectError(TakeBus(&code, GENTL_INFINITE), GC_ERR_ABORT, "Event killed");
    killer.join();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TakeBus(&code, 100), GC_ERR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    ASSERT_EQ(pushBus(iface, BUS_EVENT_POWER_UP), 0);
    ASSERT_EQ(gc->EventKill(bus), GC_ERR_SUCCESS);
    EXPECT_EQ(TakeBus(&code, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(code, 2u);

    // Unregistered, a flush-woken waiter returns success with nothing written.
    ASSERT_EQ(gc->GCUnregisterEvent(iface, EVENT_CUSTOM_BUS), GC_ERR_SUCCESS);
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        gc->EventFlush(bus);
    });
    code = 1234;
    EXPECT_EQ(TakeBus(&code, GENTL_INFINITE), GC_ERR_SUCCESS);
    EXPECT_EQ(code, 1234u);
    late.join();
}

TEST_F(EventQueues, FlushDropsEveryEntry) {
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_EQ(pushBus(iface, BUS_EVENT_RESET), 0);
    ASSERT_EQ(gc->EventFlush(bus), GC_ERR_SUCCESS);
    int32_t count = -1;
    size_t size = sizeof count;
    ASSERT_EQ(gc->EventGetInfo(bus, EVENT_NUM_IN_QUEUE, nullptr, &count, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 0);
    // The flush left the signal set; an empty active queue then reports the signalled-but-empty error
    // only to a waiter that was woken by it, never to a new call, which resets the signal first.
    uint32_t code = 0;
    EXPECT_EQ(TakeBus(&code, 0), GC_ERR_TIMEOUT);
}

TEST_F(EventQueues, EventHandlesAreChecked) {
    uint64_t garbage[4] = {};
    size_t size = 4;
    for (EVENT_HANDLE handle : {static_cast<EVENT_HANDLE>(nullptr), static_cast<EVENT_HANDLE>(garbage),
                                static_cast<EVENT_HANDLE>(iface)}) {
        ExpectError(gc->EventGetData(handle, garbage, &size, 0), GC_ERR_INVALID_HANDLE,
                    "Invalid Event Handle");
        ExpectError(gc->EventKill(handle), GC_ERR_INVALID_HANDLE, "Invalid Event Handle");
    }
    // The event object goes with its module.
    EVENT_HANDLE error = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(device, EVENT_ERROR, &error), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
    ExpectError(gc->EventFlush(error), GC_ERR_INVALID_HANDLE, "Invalid Event Handle");
    EXPECT_EQ(pushError(device, "gone"), -1);
}

TEST_F(EventQueues, NewBufferEventGoesToTheStream) {
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
    EVENT_HANDLE newBuffer = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    uint8_t memory[64];
    int user = 0;
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(gc->DSAnnounceBuffer(stream, memory, sizeof memory, &user, &buffer), GC_ERR_SUCCESS);

    EVENT_NEW_BUFFER_DATA data{};
    size_t size = sizeof data;
    ExpectError(gc->EventGetData(newBuffer, &data, &size, 10), GC_ERR_TIMEOUT, "Timeout");

    ASSERT_EQ(gc->DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(transfer(stream, 1), 1);
    ASSERT_EQ(complete(stream, 0), 0);
    size_t awaiting = 0;
    size = sizeof awaiting;
    ASSERT_EQ(gc->EventGetInfo(newBuffer, EVENT_NUM_IN_QUEUE, nullptr, &awaiting, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(awaiting, 1u);
    // The record is the buffer handle and the user pointer: 16 bytes, nothing beyond is written; the
    // address comes from the buffer info.
    uint8_t out[32];
    std::memset(out, 0xEE, sizeof out);
    size = sizeof out;
    ASSERT_EQ(gc->EventGetData(newBuffer, out, &size, 100), GC_ERR_SUCCESS);
    EXPECT_EQ(size, sizeof data);
    std::memcpy(&data, out, sizeof data);
    EXPECT_EQ(data.BufferHandle, buffer);
    EXPECT_EQ(data.pUserPointer, &user);
    EXPECT_EQ(out[sizeof data], 0xEE);
    void* base = nullptr;
    size = sizeof base;
    ASSERT_EQ(gc->DSGetBufferInfo(stream, data.BufferHandle, BUFFER_INFO_BASE, nullptr, &base, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(base, memory);

    ASSERT_EQ(gc->DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(transfer(stream, 1), 1);
    ASSERT_EQ(complete(stream, 0), 0);
    ASSERT_EQ(gc->EventFlush(newBuffer), GC_ERR_SUCCESS);
    size = sizeof data;
    EXPECT_EQ(gc->EventGetData(newBuffer, &data, &size, 0), GC_ERR_TIMEOUT);
    EXPECT_EQ(gc->EventGetDataInfo(newBuffer, &data, 16, EVENT_DATA_ID, nullptr, out, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->EventKill(newBuffer), GC_ERR_SUCCESS);
}

} // namespace
} // namespace qorcam::testing
