// Data-stream buffer pools: announce, queue, flush, revoke, delivery and stream info.
#include "FakeProducerFixture.h"

#include <chrono>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace std::chrono_literals;

class StreamPools : public FakeProducerTest {
protected:
    void SetUp() override {
        FakeProducerTest::SetUp();
        iface = OpenInterface();
        device = OpenDevice(iface);
        ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    }

    BUFFER_HANDLE Announce(DS_HANDLE ds = nullptr) {
        BUFFER_HANDLE buffer = nullptr;
        EXPECT_EQ(gc->DSAllocAndAnnounceBuffer(ds ? ds : stream, 64, nullptr, &buffer), GC_ERR_SUCCESS);
        return buffer;
    }

    size_t StreamCount(STREAM_INFO_CMD cmd) {
        size_t value = 0, size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(gc->DSGetInfo(stream, cmd, &type, &value, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(type, INFO_DATATYPE_SIZET);
        return value;
    }

    uint64_t Delivered() {
        uint64_t value = 0;
        size_t size = sizeof value;
        EXPECT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_DELIVERED, nullptr, &value, &size), GC_ERR_SUCCESS);
        return value;
    }

    bool Flag(BUFFER_HANDLE buffer, BUFFER_INFO_CMD cmd) {
        bool8_t value = 0;
        size_t size = 1;
        EXPECT_EQ(gc->DSGetBufferInfo(stream, buffer, cmd, nullptr, &value, &size), GC_ERR_SUCCESS);
        return value != 0;
    }

    uint32_t Status(BUFFER_HANDLE buffer) {
        uint32_t value = 0;
        size_t size = sizeof value;
        EXPECT_EQ(gc->DSGetBufferInfo(stream, buffer, BUFFER_INFO_CUSTOM_STATUS, nullptr, &value, &size),
                  GC_ERR_SUCCESS);
        return value;
    }

    size_t Size(BUFFER_HANDLE buffer, BUFFER_INFO_CMD cmd) {
        size_t value = 0, size = sizeof value;
        EXPECT_EQ(gc->DSGetBufferInfo(stream, buffer, cmd, nullptr, &value, &size), GC_ERR_SUCCESS);
        return value;
    }

    // The handle of the next delivered buffer, or null when none comes within the timeout.
    BUFFER_HANDLE Take(uint64_t timeout = 0) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        if (gc->EventGetData(newBuffer, &data, &size, timeout) != GC_ERR_SUCCESS) return nullptr;
        return data.BufferHandle;
    }

    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
    EVENT_HANDLE newBuffer = nullptr;
};

TEST_F(StreamPools, FlushOperations) {
    struct Case {
        ACQ_QUEUE_TYPE operation;
        size_t queued, awaiting;
        bool aQueued, bQueued, dQueued;
    };
    // A waits for delivery, B is queued, C is with the driver, D is only announced.
    const Case cases[] = {
        {ACQ_QUEUE_INPUT_TO_OUTPUT, 0, 2, false, false, false},
        {ACQ_QUEUE_OUTPUT_DISCARD, 1, 0, false, true, false},
        {ACQ_QUEUE_ALL_TO_INPUT, 3, 0, true, true, true},
        {ACQ_QUEUE_UNQUEUED_TO_INPUT, 2, 1, false, true, true},
        {ACQ_QUEUE_ALL_DISCARD, 0, 0, false, false, false},
        {99, 1, 1, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        DS_HANDLE fresh = nullptr;
        ASSERT_EQ(gc->DSClose(stream), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &fresh), GC_ERR_SUCCESS);
        stream = fresh;
        ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
        BUFFER_HANDLE a = Announce(), b = Announce(), cBuf = Announce(), d = Announce();
        ASSERT_EQ(gc->DSQueueBuffer(stream, a), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->DSQueueBuffer(stream, cBuf), GC_ERR_SUCCESS);
        ASSERT_EQ(transfer(stream, 2), 2);
        ASSERT_EQ(complete(stream, 0), 0);
        ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);

        ASSERT_EQ(gc->DSFlushQueue(stream, c.operation), GC_ERR_SUCCESS);
        EXPECT_EQ(StreamCount(STREAM_INFO_NUM_QUEUED), c.queued);
        EXPECT_EQ(StreamCount(STREAM_INFO_NUM_AWAIT_DELIVERY), c.awaiting);
        EXPECT_EQ(Flag(a, BUFFER_INFO_IS_QUEUED), c.aQueued);
        EXPECT_EQ(Flag(b, BUFFER_INFO_IS_QUEUED), c.bQueued);
        EXPECT_EQ(Flag(d, BUFFER_INFO_IS_QUEUED), c.dQueued);
        // The buffer with the driver is untouched by every flush: not revocable, and delivered when its
        // transfer ends.
        EXPECT_TRUE(Flag(cBuf, BUFFER_INFO_IS_ACQUIRING));
        ExpectError(gc->DSRevokeBuffer(stream, cBuf, nullptr, nullptr), GC_ERR_ERROR, "Buffer queued");
        ASSERT_EQ(complete(stream, 0), 0);
        EXPECT_EQ(StreamCount(STREAM_INFO_NUM_AWAIT_DELIVERY), c.awaiting + 1);
    }
}

TEST_F(StreamPools, QueueAndRevokeRules) {
    DS_HANDLE other = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS1", &other), GC_ERR_SUCCESS);
    BUFFER_HANDLE foreign = Announce(other);
    ExpectError(gc->DSQueueBuffer(stream, foreign), GC_ERR_INVALID_PARAMETER, "Invalid Buffer Handle");
    ExpectError(gc->DSRevokeBuffer(stream, foreign, nullptr, nullptr), GC_ERR_INVALID_PARAMETER,
                "Invalid Buffer Handle");
    size_t size = 8;
    void* base = nullptr;
    ExpectError(gc->DSGetBufferInfo(stream, foreign, BUFFER_INFO_BASE, nullptr, &base, &size), GC_ERR_ERROR,
                "Invalid Device Handle");

    BUFFER_HANDLE owned = Announce();
    ASSERT_EQ(gc->DSQueueBuffer(stream, owned), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, owned), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamCount(STREAM_INFO_NUM_QUEUED), 1u);
    ExpectError(gc->DSRevokeBuffer(stream, owned, nullptr, nullptr), GC_ERR_ERROR, "Buffer queued");

    // Queued again while it waits for delivery, a buffer leaves the output queue: it is never in two.
    ASSERT_EQ(transfer(stream, 1), 1);
    ASSERT_EQ(complete(stream, 0), 0);
    ExpectError(gc->DSRevokeBuffer(stream, owned, nullptr, nullptr), GC_ERR_ERROR, "Buffer queued");
    ASSERT_EQ(gc->DSQueueBuffer(stream, owned), GC_ERR_SUCCESS);
    EXPECT_EQ(StreamCount(STREAM_INFO_NUM_AWAIT_DELIVERY), 0u);
    EXPECT_EQ(StreamCount(STREAM_INFO_NUM_QUEUED), 1u);
    EXPECT_EQ(Take(), nullptr);

    ASSERT_EQ(gc->DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
    void* memory = &size;
    void* user = &size;
    ASSERT_EQ(gc->DSRevokeBuffer(stream, owned, &memory, &user), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, nullptr); // the stream's own memory is gone with the buffer
    EXPECT_EQ(user, nullptr);

    uint8_t mine[16];
    int tag = 0;
    BUFFER_HANDLE given = nullptr;
    ASSERT_EQ(gc->DSAnnounceBuffer(stream, mine, sizeof mine, &tag, &given), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSRevokeBuffer(stream, given, &memory, &user), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, mine);
    EXPECT_EQ(user, &tag);
    EXPECT_EQ(StreamCount(STREAM_INFO_NUM_ANNOUNCED), 0u);
}

TEST_F(StreamPools, DeliveryInOrderWithStatusAndCounts) {
    BUFFER_HANDLE buffers[3] = {Announce(), Announce(), Announce()};
    for (BUFFER_HANDLE b : buffers)
        ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
    ASSERT_EQ(transfer(stream, 3), 3);
    ASSERT_EQ(complete(stream, 0), 0);
    ASSERT_EQ(complete(stream, 0xC0000001u), 0);
    EXPECT_EQ(Delivered(), 2u);
    // A size query takes nothing.
    size_t size = 0;
    EVENT_NEW_BUFFER_DATA data{};
    ExpectError(gc->EventGetData(newBuffer, &data, &size, 0), GC_ERR_TIMEOUT, "Timeout");
    EXPECT_EQ(size, sizeof data);
    size = sizeof data;
    EXPECT_EQ(gc->EventGetData(newBuffer, nullptr, &size, 0), GC_ERR_TIMEOUT);
    EXPECT_EQ(StreamCount(STREAM_INFO_NUM_AWAIT_DELIVERY), 2u);
    EXPECT_EQ(Take(), buffers[0]);
    EXPECT_TRUE(Flag(buffers[0], BUFFER_INFO_NEW_DATA));
    EXPECT_FALSE(Flag(buffers[0], BUFFER_INFO_IS_QUEUED));
    EXPECT_EQ(Status(buffers[0]), 0u);
    EXPECT_EQ(Take(), buffers[1]);
    EXPECT_EQ(Status(buffers[1]), 0xC0000001u);
    EXPECT_EQ(Take(), nullptr);
    // The size filled is what the transfer wrote: all of the good one, nothing of the failed one.
    EXPECT_EQ(Size(buffers[0], BUFFER_INFO_SIZE_FILLED), 64u);
    EXPECT_EQ(Size(buffers[1], BUFFER_INFO_SIZE_FILLED), 0u);
    EXPECT_EQ(Size(buffers[1], BUFFER_INFO_SIZE), 64u);

    // Kill on the new-buffer event: the transfer still pending is delivered as cancelled.
    EXPECT_TRUE(Flag(buffers[2], BUFFER_INFO_IS_ACQUIRING));
    ASSERT_EQ(gc->EventKill(newBuffer), GC_ERR_SUCCESS);
    EXPECT_EQ(Take(), buffers[2]);
    EXPECT_EQ(Status(buffers[2]), 0xC0000120u);
    EXPECT_FALSE(Flag(buffers[2], BUFFER_INFO_IS_ACQUIRING));

    BUFFER_HANDLE byIndex = nullptr;
    ASSERT_EQ(gc->DSGetBufferID(stream, 2, &byIndex), GC_ERR_SUCCESS);
    EXPECT_EQ(byIndex, buffers[2]);
    ExpectError(gc->DSGetBufferID(stream, 3, &byIndex), GC_ERR_ERROR, "Invalid Buffer Index 3");
}

TEST_F(StreamPools, StoppingEndsAWaitForANewBuffer) {
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        gc->DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL);
    });
    EVENT_NEW_BUFFER_DATA data{};
    size_t size = sizeof data;
    ExpectError(gc->EventGetData(newBuffer, &data, &size, GENTL_INFINITE), GC_ERR_ERROR, "Wait terminated");
    stopper.join();
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ExpectError(gc->EventGetData(newBuffer, &data, &size, 0), GC_ERR_TIMEOUT, "Timeout");
}

TEST_F(StreamPools, StreamInfoAnswers) {
    Announce();
    EXPECT_EQ(StreamCount(STREAM_INFO_NUM_ANNOUNCED), 1u);
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->DSGetInfo(stream, STREAM_INFO_ID, t, b, s);
    }),
              "0");
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->DSGetInfo(stream, STREAM_INFO_TLTYPE, t, b, s);
    }),
              "Custom");
    uint64_t underrun = 9;
    size_t size = sizeof underrun;
    INFO_DATATYPE type = 0;
    ASSERT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_UNDERRUN, &type, &underrun, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_UINT64);
    EXPECT_EQ(underrun, 0u);
    ExpectError(gc->DSGetInfo(stream, STREAM_INFO_NUM_STARTED, &type, &underrun, &size), GC_ERR_ERROR,
                "Invalid stream info command 6");
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->GCGetPortInfo(stream, PORT_INFO_MODULE, t, b, s);
    }),
              "TLDataStream");
}

TEST_F(StreamPools, ClosingAStreamFreesBuffersInEveryState) {
    BUFFER_HANDLE buffers[4] = {Announce(), Announce(), Announce(), Announce()};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(gc->DSQueueBuffer(stream, buffers[i]), GC_ERR_SUCCESS);
    ASSERT_EQ(transfer(stream, 2), 2);
    ASSERT_EQ(complete(stream, 0), 0);
    ASSERT_EQ(gc->DSClose(stream), GC_ERR_SUCCESS);
    ExpectError(gc->EventKill(newBuffer), GC_ERR_INVALID_HANDLE, "Invalid Event Handle");
    // The buffers went with the stream: a live stream sees their handles as stale.
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
    size_t size = 8;
    void* base = nullptr;
    for (BUFFER_HANDLE b : buffers) {
        ExpectError(gc->DSGetBufferInfo(stream, b, BUFFER_INFO_BASE, nullptr, &base, &size), GC_ERR_ERROR,
                    "Invalid Device Handle");
    }
}

} // namespace
} // namespace qorcam::testing
