// The GigE data streams over a fake service: stream set-up, buffers handed to the service in shared
// memory and delivered, the ten-request limit, stopping, cancelling, set-up failures and registers.
#include "ProducerFixture.h"
#include "devio/Region.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace qorcam::gige;

constexpr uint32_t kWidth = 64, kHeight = 8, kPayload = kWidth * kHeight;
constexpr uint32_t kInfoOffset = (kPayload + 15) & ~7u;
constexpr size_t kBufferSize = kInfoOffset + 546 + 8;

class GigEStream : public GigEFake {
protected:
    void OpenStream(uint32_t packetSize = 1400, const char* id = "DS0") {
        FakeCamera& c = AddCamera(0x55);
        c.registers[0x0D04] = packetSize;
        c.registers[0x0D18] = 0xA9FE0001;
        device = OpenFirst(DEVICE_ACCESS_CONTROL);
        ASSERT_EQ(gc->DevOpenDataStream(device, id, &stream), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
        WriteStreamRegister(DS_REG_INFO_OFFSET, kInfoOffset);
        WriteStreamRegister(DS_REG_PACKET_COUNT, 1);
    }
    size_t WriteStreamRegister(uint64_t address, uint32_t value) {
        size_t size = 4;
        EXPECT_EQ(gc->GCWritePort(stream, address, &value, &size), GC_ERR_SUCCESS);
        return size;
    }
    // `count` buffers (more than ten) queued and the acquisition started: ten go to the service, the
    // others wait for a slot.
    std::vector<BUFFER_HANDLE> StartWithBuffers(int count = 12) {
        std::vector<BUFFER_HANDLE> buffers;
        for (int i = 0; i < count; ++i) {
            BUFFER_HANDLE b = nullptr;
            EXPECT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kBufferSize, nullptr, &b), GC_ERR_SUCCESS);
            EXPECT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
            buffers.push_back(b);
        }
        EXPECT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
        EXPECT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 10));
        return buffers;
    }
    BUFFER_HANDLE Announce(void* memory, size_t size = kBufferSize) {
        BUFFER_HANDLE b = nullptr;
        EXPECT_EQ(gc->DSAnnounceBuffer(stream, memory, size, memory, &b), GC_ERR_SUCCESS);
        return b;
    }
    // Completes the oldest image request as one block with id `block`, `missing` of its packets lost.
    bool DeliverBlock(uint64_t block, uint32_t missing = 0) {
        return service.CompletePending(
            IOCTL_GIGE_GetStream, STATUS_SUCCESS, [&](std::span<uint8_t> out, std::span<const uint8_t> in) {
                seenForms.push_back({in.begin(), in.end()});
                seenBitmaps.push_back(out.size() > kInfoOffset + 544 ? out[kInfoOffset + 544] : 0);
                for (uint32_t k = 0; k < kPayload; ++k)
                    out[k] = static_cast<uint8_t>(k + block);
                GigeBlockInfo info{};
                info.payloadType = 1;
                info.blockId = block;
                info.timestamp = 1000 + block;
                const uint32_t fields[] = {0x01080001, kWidth, kHeight, 0, 0};
                std::memcpy(info.fields, fields, sizeof fields);
                info.missingPackets = missing;
                std::memcpy(out.data() + kInfoOffset, &info, sizeof info);
                out[kInfoOffset + 544] = 0;
                if (onFill) onFill();
                return static_cast<uint32_t>(out.size());
            });
    }
    EVENT_NEW_BUFFER_DATA Next(uint64_t timeout = 3000) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        EXPECT_EQ(gc->EventGetData(newBuffer, &data, &size, timeout), GC_ERR_SUCCESS)
            << gc->LastError().second;
        return data;
    }
    template <class T> T BufferValue(BUFFER_HANDLE b, BUFFER_INFO_CMD cmd) {
        T value{};
        size_t size = sizeof value;
        EXPECT_EQ(gc->DSGetBufferInfo(stream, b, cmd, nullptr, &value, &size), GC_ERR_SUCCESS) << cmd;
        return value;
    }
    std::string NextError(uint64_t timeout = 3000) {
        char text[300] = {};
        size_t size = sizeof text;
        if (gc->EventGetData(errors, text, &size, timeout) != GC_ERR_SUCCESS) return "";
        return std::string(text + 4);
    }

    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
    EVENT_HANDLE newBuffer = nullptr, errors = nullptr;
    std::vector<std::vector<uint8_t>> seenForms;
    std::vector<uint8_t> seenBitmaps;
    // Called by DeliverBlock once the service has written the block, before it completes the request.
    std::function<void()> onFill;
};

TEST_F(GigEStream, ImagesReachConsumerAndProducerMemory) {
    OpenStream();
    std::vector<uint8_t> own(kBufferSize, 0x5A);
    BUFFER_HANDLE consumer = Announce(own.data());
    BUFFER_HANDLE producer = nullptr;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kBufferSize, nullptr, &producer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, consumer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, producer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);

    // The stream set-up the service and the camera saw.
    auto allocs = service.Requests(IOCTL_GIGE_PortAlloc);
    ASSERT_EQ(allocs.size(), 2u);
    const uint16_t port = Field<uint16_t>(allocs[1].input, 4);
    EXPECT_EQ(port & 0xE000, 0x8000);
    EXPECT_EQ(allocs[1].input[6], 1);
    EXPECT_EQ(service.RegisterWrites().back(), (std::pair<uint32_t, uint32_t>{0x0D00, port}));
    auto setups = service.Requests(IOCTL_GIGE_SetStreamInfo);
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(setups[0].input, 4), Camera(0).ip);
    EXPECT_EQ(Field<uint16_t>(setups[0].input, 8), port);
    EXPECT_EQ(Field<uint32_t>(setups[0].input, 12), 1400u - 36);
    EXPECT_EQ(setups[0].input[16], 1);
    uint32_t streamPort = 0;
    size_t size = 4;
    ASSERT_EQ(gc->GCReadPort(stream, DS_REG_PORT, &streamPort, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(streamPort, port);

    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 2));
    ASSERT_TRUE(DeliverBlock(7));
    ASSERT_TRUE(DeliverBlock(8, 1));
    for (const auto& form : seenForms) {
        EXPECT_EQ(Field<uint16_t>(form, 0), port);
        EXPECT_EQ(Field<uint32_t>(form, 2), kInfoOffset);
        EXPECT_EQ(Field<uint32_t>(form, 6), 1u);
    }
    // The producer marked the block's one packet missing before the hand-over.
    EXPECT_EQ(seenBitmaps, (std::vector<uint8_t>{0x80, 0x80}));

    for (uint64_t block : {7, 8}) {
        EVENT_NEW_BUFFER_DATA data = Next();
        BUFFER_HANDLE b = data.BufferHandle;
        EXPECT_EQ(b, block == 7 ? consumer : producer);
        const auto* memory = BufferValue<const uint8_t*>(b, BUFFER_INFO_BASE);
        if (b == consumer) {
            EXPECT_EQ(memory, own.data());
        }
        for (uint32_t k = 0; k < kPayload; ++k)
            ASSERT_EQ(memory[k], static_cast<uint8_t>(k + block)) << k;
        EXPECT_EQ(BufferValue<uint64_t>(b, BUFFER_INFO_FRAMEID), block);
        EXPECT_EQ(BufferValue<uint64_t>(b, BUFFER_INFO_TIMESTAMP), 1000 + block);
        EXPECT_EQ(BufferValue<size_t>(b, BUFFER_INFO_WIDTH), kWidth);
        EXPECT_EQ(BufferValue<size_t>(b, BUFFER_INFO_HEIGHT), kHeight);
        EXPECT_EQ(BufferValue<uint64_t>(b, BUFFER_INFO_PIXELFORMAT), 0x01080001u);
        EXPECT_EQ(BufferValue<size_t>(b, BUFFER_INFO_PAYLOADTYPE), 1u);
        EXPECT_EQ(BufferValue<uint32_t>(b, BUFFER_INFO_CUSTOM_STATUS), 0u);
        EXPECT_EQ(BufferValue<uint32_t>(b, BUFFER_INFO_CUSTOM_BYTES), kBufferSize);
        EXPECT_EQ(BufferValue<bool8_t>(b, BUFFER_INFO_IS_INCOMPLETE), block == 8) << "a packet is missing";
    }
    uint64_t delivered = 0;
    size = sizeof delivered;
    ASSERT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_DELIVERED, nullptr, &delivered, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(delivered, 2u);

    ASSERT_EQ(gc->DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    auto frees = service.Requests(IOCTL_GIGE_PortFree);
    ASSERT_FALSE(frees.empty());
    EXPECT_EQ(Field<uint16_t>(frees.back().input, 4), port);
    EXPECT_EQ(service.RegisterWrites().back(), (std::pair<uint32_t, uint32_t>{0x0D00, 0}));
    void* memory = reinterpret_cast<void*>(1);
    ASSERT_EQ(gc->DSRevokeBuffer(stream, producer, &memory, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, nullptr);
    ASSERT_EQ(gc->DSRevokeBuffer(stream, consumer, &memory, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, own.data());
}

TEST_F(GigEStream, ConsumerMemoryInItsOwnMemoryFileIsWrittenInPlace) {
    OpenStream();
    auto file = devio::Region::Create(kBufferSize);
    ASSERT_TRUE(file);
    EXPECT_EQ(WriteStreamRegister(DS_REG_BUFFER_MEMORY, static_cast<uint32_t>(file->Fd())), 4u);
    BUFFER_HANDLE inPlace = Announce(file->Data());
    // A file that is not the announced memory is not taken: that buffer gets a shadow as any other.
    auto unrelated = devio::Region::Create(kBufferSize);
    ASSERT_TRUE(unrelated);
    std::vector<uint8_t> plain(kBufferSize, 0x5A);
    WriteStreamRegister(DS_REG_BUFFER_MEMORY, static_cast<uint32_t>(unrelated->Fd()));
    BUFFER_HANDLE shadowed = Announce(plain.data());
    // The name is used once: a later buffer without one gets a shadow too.
    std::vector<uint8_t> later(kBufferSize, 0x5A);
    BUFFER_HANDLE unnamed = Announce(later.data());
    for (BUFFER_HANDLE b : {inPlace, shadowed, unnamed})
        ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 3));

    // What the service writes is in the consumer's memory before the request completes: no copy is made.
    std::vector<bool> seenAtOnce;
    const std::vector<const uint8_t*> memory = {file->Data(), plain.data(), later.data()};
    for (uint64_t block : {7, 8, 9}) {
        onFill = [&, block] {
            seenAtOnce.push_back(memory[block - 7][5] == static_cast<uint8_t>(5 + block));
        };
        ASSERT_TRUE(DeliverBlock(block));
    }
    EXPECT_EQ(seenAtOnce, (std::vector<bool>{true, false, false}));
    for (uint64_t block : {7, 8, 9}) {
        BUFFER_HANDLE b = Next().BufferHandle;
        EXPECT_EQ(BufferValue<const uint8_t*>(b, BUFFER_INFO_BASE), memory[block - 7]);
        for (uint32_t k = 0; k < kPayload; ++k)
            ASSERT_EQ(memory[block - 7][k], static_cast<uint8_t>(k + block)) << block << " " << k;
        EXPECT_EQ(BufferValue<uint64_t>(b, BUFFER_INFO_FRAMEID), block);
        EXPECT_EQ(BufferValue<bool8_t>(b, BUFFER_INFO_IS_INCOMPLETE), 0);
    }
    ASSERT_EQ(gc->DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    void* back = nullptr;
    ASSERT_EQ(gc->DSRevokeBuffer(stream, inPlace, &back, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(back, file->Data()) << "the memory stays the consumer's";
    file->Data()[0] = 1; // still mapped and writable
}

TEST_F(GigEStream, AtMostTenRequestsAreWithTheService) {
    OpenStream();
    const std::vector<BUFFER_HANDLE> buffers = StartWithBuffers();
    ASSERT_FALSE(HasFailure());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(service.Pending(IOCTL_GIGE_GetStream), 10u);
    size_t queued = 0, size = sizeof queued;
    ASSERT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_QUEUED, nullptr, &queued, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(queued, 2u);

    ASSERT_TRUE(DeliverBlock(1));
    EXPECT_EQ(Next().BufferHandle, buffers[0]);
    // The freed slot takes the next queued buffer.
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 10));
    ASSERT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_QUEUED, nullptr, &queued, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(queued, 1u);
}

TEST_F(GigEStream, AWaitingConsumerTakesItsBufferAndOneThatStopsAskingLeavesThemToTheStream) {
    OpenStream();
    const std::vector<BUFFER_HANDLE> buffers = StartWithBuffers();
    ASSERT_FALSE(HasFailure());
    size_t value = 0, size = sizeof value;
    auto info = [&](STREAM_INFO_CMD cmd) {
        size = sizeof value;
        EXPECT_EQ(gc->DSGetInfo(stream, cmd, nullptr, &value, &size), GC_ERR_SUCCESS);
        return value;
    };
    // A consumer already waiting when the block completes gets it, and its slot takes the next buffer.
    BUFFER_HANDLE got = nullptr;
    std::thread consumer([&] { got = Next().BufferHandle; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(DeliverBlock(1));
    consumer.join();
    EXPECT_EQ(got, buffers[0]);
    EXPECT_EQ(BufferValue<uint64_t>(got, BUFFER_INFO_FRAMEID), 1u);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 10));
    // One waiting with nothing coming gives up on time.
    EVENT_NEW_BUFFER_DATA data{};
    size_t dataSize = sizeof data;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(gc->EventGetData(newBuffer, &data, &dataSize, 50), GC_ERR_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(2));
    // Nobody asks now: the completions still reach the output queue and free their slots.
    ASSERT_TRUE(DeliverBlock(2));
    ASSERT_TRUE(DeliverBlock(3));
    for (int i = 0; i < 400 && (info(STREAM_INFO_NUM_AWAIT_DELIVERY) != 2 || info(STREAM_INFO_NUM_QUEUED) != 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(info(STREAM_INFO_NUM_AWAIT_DELIVERY), 2u);
    EXPECT_EQ(info(STREAM_INFO_NUM_QUEUED), 0u);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 9));
    EXPECT_EQ(Next(0).BufferHandle, buffers[1]);
    EXPECT_EQ(Next(0).BufferHandle, buffers[2]);
}

// A consumer that keeps fetching gets the buffers it queues back to the service in batches: they wait
// while the service holds seven or more (it still has at least six when the next completion comes), then
// go together. Every block still lands in the buffers in the order they were queued, none is lost, and
// buffers held back go to the service even when no block comes any more.
TEST_F(GigEStream, BuffersAFetchingConsumerQueuesGoBackInBatchesInQueueOrder) {
    OpenStream();
    const std::vector<BUFFER_HANDLE> buffers = StartWithBuffers(14);
    ASSERT_FALSE(HasFailure());

    // The consumer: takes each block and queues its buffer again at once.
    std::mutex lock;
    std::vector<std::pair<BUFFER_HANDLE, uint64_t>> got;
    std::chrono::steady_clock::time_point queuedAt{};
    std::atomic<bool> quit{false};
    std::thread consumer([&] {
        while (!quit) {
            EVENT_NEW_BUFFER_DATA data{};
            size_t size = sizeof data;
            if (gc->EventGetData(newBuffer, &data, &size, 200) != GC_ERR_SUCCESS) continue;
            const auto id = BufferValue<uint64_t>(data.BufferHandle, BUFFER_INFO_FRAMEID);
            const bool good = BufferValue<uint32_t>(data.BufferHandle, BUFFER_INFO_CUSTOM_STATUS) == 0;
            EXPECT_EQ(gc->DSQueueBuffer(stream, data.BufferHandle), GC_ERR_SUCCESS);
            std::lock_guard guard(lock);
            got.emplace_back(data.BufferHandle, good ? id : 0);
            queuedAt = std::chrono::steady_clock::now();
        }
    });
    auto taken = [&](size_t n) {
        for (int i = 0; i < 600; ++i) {
            {
                std::lock_guard guard(lock);
                if (got.size() >= n) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };
    struct Quit {
        std::atomic<bool>& quit;
        std::thread& consumer;
        ~Quit() {
            quit = true;
            consumer.join();
        }
    } quitting{quit, consumer};

    // The first buffer queued back by the consumer, waiting before the block came, waits: the service
    // still holds nine. (It may go once it waited the time of a few frames, 50 ms while the rate is not
    // known yet.)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(DeliverBlock(1));
    ASSERT_TRUE(taken(1));
    // Time for a hand-over, were there one, to reach the service.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const size_t pending = service.Pending(IOCTL_GIGE_GetStream);
    {
        std::lock_guard guard(lock);
        if (std::chrono::steady_clock::now() - queuedAt < std::chrono::milliseconds(40)) {
            EXPECT_EQ(pending, 9u);
        }
    }
    // Blocks as fast as the service has requests for them: it never runs dry while the consumer keeps up.
    constexpr uint64_t kBlocks = 40;
    for (uint64_t block = 2; block <= kBlocks; ++block) {
        ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 1)) << block;
        ASSERT_TRUE(DeliverBlock(block));
    }
    ASSERT_TRUE(taken(kBlocks));
    {
        std::lock_guard guard(lock);
        for (uint64_t k = 0; k < kBlocks; ++k) {
            EXPECT_EQ(got[k].first, buffers[k % buffers.size()]) << k;
            EXPECT_EQ(got[k].second, k + 1) << k;
        }
    }
    // No block comes now: what was held back still goes to the service, and every buffer queued went.
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 10));
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetStream), 10 + kBlocks);
    size_t queued = 0, size = sizeof queued;
    ASSERT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_QUEUED, nullptr, &queued, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(queued, buffers.size() - 10);
}

// A stop while queued buffers are held back: the buffers with the service come back cancelled in the
// order they went, the held ones stay queued, none is lost, and the next start hands them over first.
TEST_F(GigEStream, StoppingWithBuffersHeldBackLeavesThemQueuedForTheNextStart) {
    OpenStream();
    const std::vector<BUFFER_HANDLE> buffers = StartWithBuffers();
    ASSERT_FALSE(HasFailure());
    BUFFER_HANDLE got = nullptr;
    std::thread consumer([&] { got = Next().BufferHandle; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(DeliverBlock(1));
    consumer.join();
    ASSERT_EQ(got, buffers[0]);
    ASSERT_EQ(gc->DSQueueBuffer(stream, got), GC_ERR_SUCCESS);
    const auto queuedAt = std::chrono::steady_clock::now();
    // Time for a hand-over, were there one, to reach the service.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const size_t pending = service.Pending(IOCTL_GIGE_GetStream);
    if (std::chrono::steady_clock::now() - queuedAt < std::chrono::milliseconds(40)) {
        EXPECT_EQ(pending, 9u);
    }
    ASSERT_EQ(gc->DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Pending(IOCTL_GIGE_GetStream), 0u);

    // Handed over: buffers 1..9, then 10, 11, 0 as far as slots were given to them.
    const std::vector<BUFFER_HANDLE> order = {buffers[1], buffers[2],  buffers[3],  buffers[4],
                                              buffers[5], buffers[6],  buffers[7],  buffers[8],
                                              buffers[9], buffers[10], buffers[11], buffers[0]};
    size_t cancelled = 0;
    for (;; ++cancelled) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        if (gc->EventGetData(newBuffer, &data, &size, 100) != GC_ERR_SUCCESS) break;
        ASSERT_LT(cancelled, order.size());
        EXPECT_EQ(data.BufferHandle, order[cancelled]);
        EXPECT_EQ(BufferValue<uint32_t>(data.BufferHandle, BUFFER_INFO_CUSTOM_STATUS), STATUS_CANCELLED);
    }
    size_t queued = 0, size = sizeof queued;
    ASSERT_EQ(gc->DSGetInfo(stream, STREAM_INFO_NUM_QUEUED, nullptr, &queued, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(cancelled + queued, buffers.size());
    EXPECT_GE(cancelled, 9u);

    // The next start hands the held buffers over first, in their order.
    const size_t before = service.Count(IOCTL_GIGE_GetStream);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, queued));
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetStream), before + queued);
    ASSERT_TRUE(DeliverBlock(2));
    EXPECT_EQ(Next().BufferHandle, order[cancelled]);
}

TEST_F(GigEStream, StoppingDeliversEveryHandedOverBufferAsCancelled) {
    for (ACQ_STOP_FLAGS flags : {ACQ_STOP_FLAGS_KILL, ACQ_STOP_FLAGS_DEFAULT}) {
        SCOPED_TRACE(flags);
        if (!stream) OpenStream();
        std::vector<BUFFER_HANDLE> buffers(3);
        for (auto& b : buffers) {
            ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kBufferSize, nullptr, &b), GC_ERR_SUCCESS);
            ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
        ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 3));
        ASSERT_EQ(gc->DSStopAcquisition(stream, flags), GC_ERR_SUCCESS);
        EXPECT_EQ(service.Pending(IOCTL_GIGE_GetStream), 0u);
        for (BUFFER_HANDLE expected : buffers) {
            BUFFER_HANDLE b = Next(100).BufferHandle;
            EXPECT_EQ(b, expected);
            EXPECT_EQ(BufferValue<uint32_t>(b, BUFFER_INFO_CUSTOM_STATUS), STATUS_CANCELLED);
        }
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        ExpectError(gc->EventGetData(newBuffer, &data, &size, 100), GC_ERR_ERROR, "Wait terminated");
        for (BUFFER_HANDLE b : buffers)
            ASSERT_EQ(gc->DSRevokeBuffer(stream, b, nullptr, nullptr), GC_ERR_SUCCESS);
    }
}

TEST_F(GigEStream, KillingTheNewBufferEventCancelsAndTheStreamGoesOn) {
    OpenStream();
    std::vector<BUFFER_HANDLE> buffers(2);
    for (auto& b : buffers) {
        ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kBufferSize, nullptr, &b), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
    }
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 2));
    ASSERT_EQ(gc->EventKill(newBuffer), GC_ERR_SUCCESS);
    for (int i = 0; i < 2; ++i) {
        BUFFER_HANDLE b = Next(500).BufferHandle;
        EXPECT_EQ(BufferValue<uint32_t>(b, BUFFER_INFO_CUSTOM_STATUS), STATUS_CANCELLED);
        ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
    }
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 2));
    ASSERT_TRUE(DeliverBlock(3));
    BUFFER_HANDLE b = Next().BufferHandle;
    EXPECT_EQ(BufferValue<uint64_t>(b, BUFFER_INFO_FRAMEID), 3u);
}

TEST_F(GigEStream, BuffersTooSmallForTheBlockAreNeverHandedOver) {
    OpenStream();
    BUFFER_HANDLE small = nullptr;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kInfoOffset + 100, nullptr, &small), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, small), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    EXPECT_EQ(Next().BufferHandle, small);
    EXPECT_EQ(BufferValue<uint32_t>(small, BUFFER_INFO_CUSTOM_STATUS), 0xC0000023u);
    EXPECT_EQ(NextError(), "DataExec_Thread IOCTL_GIGE_GetStream error");
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetStream), 0u);
    // Its block information lies outside it: the answers are 0, never a read past the buffer.
    EXPECT_EQ(BufferValue<size_t>(small, BUFFER_INFO_WIDTH), 0u);
}

TEST_F(GigEStream, AFailedSetUpIsReportedAndReleasesThePort) {
    OpenStream(30); // a packet size that leaves no room for payload
    BUFFER_HANDLE b = nullptr;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kBufferSize, nullptr, &b), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    EXPECT_EQ(NextError(), "DataExec_Thread IOCTL_GIGE_SetStreamInfo error");
    EXPECT_EQ(service.Count(IOCTL_GIGE_SetStreamInfo), 0u);
    auto allocs = service.Requests(IOCTL_GIGE_PortAlloc);
    auto frees = service.Requests(IOCTL_GIGE_PortFree);
    ASSERT_EQ(allocs.size(), 2u);
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(Field<uint16_t>(frees[0].input, 4), Field<uint16_t>(allocs[1].input, 4));
    uint32_t port = 7;
    size_t size = 4;
    ASSERT_EQ(gc->GCReadPort(stream, DS_REG_PORT, &port, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(port, 0u);
    // Nothing was handed over; stopping and restarting work.
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetStream), 0u);
    ASSERT_EQ(gc->DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
}

TEST_F(GigEStream, StreamRegistersNeedAPortAndMatchingSizes) {
    OpenStream();
    EXPECT_EQ(WriteStreamRegister(DS_REG_STREAM_ENABLE, 1), 0u);
    EXPECT_EQ(service.Count(IOCTL_GIGE_SetStreamEnable), 0u);
    uint64_t counters[3] = {};
    size_t size = sizeof counters;
    ASSERT_EQ(gc->GCReadPort(stream, DS_REG_STATISTICS, counters, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 0u);

    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    EXPECT_EQ(WriteStreamRegister(DS_REG_STREAM_ENABLE, 5), 4u);
    auto enables = service.Requests(IOCTL_GIGE_SetStreamEnable);
    ASSERT_EQ(enables.size(), 1u);
    EXPECT_EQ(enables[0].input[2], 1);
    size = sizeof counters;
    ASSERT_EQ(gc->GCReadPort(stream, DS_REG_STATISTICS, counters, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 24u);
    EXPECT_EQ(counters[0], 100u);
    EXPECT_EQ(counters[2], 102u);

    EXPECT_EQ(WriteStreamRegister(DS_REG_DESTINATION, 0xA9FE0009), 4u);
    EXPECT_EQ(Camera(0).registers[0x0D18], 0xA9FE0009u);
    uint16_t half = 1;
    size = 2;
    ASSERT_EQ(gc->GCWritePort(stream, DS_REG_PACKET_COUNT, &half, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST_F(GigEStream, MulticastStreamsJoinAndLeaveTheirGroup) {
    OpenStream();
    Camera(0).registers[0x0D18] = 0xEF010203; // 239.1.2.3
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    auto allocs = service.Requests(IOCTL_GIGE_PortAlloc);
    ASSERT_EQ(allocs.size(), 2u);
    const uint16_t port = Field<uint16_t>(allocs[1].input, 4);
    EXPECT_EQ(port & 0xE000, 0xA000);
    EXPECT_EQ(allocs[1].input[6], 2);
    auto joins = service.Requests(IOCTL_GIGE_AddMultiCast);
    ASSERT_EQ(joins.size(), 1u);
    EXPECT_EQ(Field<uint16_t>(joins[0].input, 4), port);
    EXPECT_EQ(Field<uint32_t>(joins[0].input, 6), Ip("239.1.2.3"));
    ASSERT_EQ(gc->DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
    auto leaves = service.Requests(IOCTL_GIGE_DelMultiCast);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].input, joins[0].input);
}

TEST_F(GigEStream, PacketPayloadLeavesRoomForTheHeadersInUse) {
    // GigE Vision 2 cameras may use 64-bit block ids, with 12 more header bytes per packet: only when
    // they offer them (0x092C) and have them switched on (0x0960).
    struct Case {
        uint16_t major;
        uint32_t capability, configuration, payload;
    };
    const Case cases[] = {{1, 0x40000000, 0x40000000, 1400 - 36},
                          {2, 0, 0, 1400 - 36},
                          {2, 0x40000000, 0, 1400 - 36},
                          {2, 0x40000000, 0x40000000, 1400 - 48}};
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << k.major << " " << k.capability << " " << k.configuration);
        {
            auto held = service.Lock();
            service.cameras.clear();
        }
        if (stream) gc->IFClose(iface);
        stream = nullptr;
        FakeCamera& c = AddCamera(0x55);
        c.versionMajor = k.major;
        c.registers[0x0D04] = 1400;
        c.registers[0x092C] = k.capability;
        c.registers[0x0960] = k.configuration;
        device = OpenFirst(DEVICE_ACCESS_CONTROL);
        ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
        const size_t before = service.Count(IOCTL_GIGE_SetStreamInfo);
        ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
        auto setups = service.Requests(IOCTL_GIGE_SetStreamInfo);
        ASSERT_EQ(setups.size(), before + 1);
        EXPECT_EQ(Field<uint32_t>(setups.back().input, 12), k.payload);
    }
}

TEST_F(GigEStream, FrameStartStreamWaitsForLeaderNotices) {
    OpenStream(1400, "DS1");
    WriteStreamRegister(DS_REG_PORT, 0x8123);
    BUFFER_HANDLE b = Announce(reinterpret_cast<void*>(1), 0);
    ASSERT_EQ(gc->DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStreamSync, 1));
    EXPECT_EQ(Field<uint16_t>(service.Requests(IOCTL_GIGE_GetStreamSync)[0].input, 0), 0x8123);
    // No stream channel is set up for the notices.
    EXPECT_EQ(service.Count(IOCTL_GIGE_SetStreamInfo), 0u);
    ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_GetStreamSync, STATUS_SUCCESS));
    EXPECT_EQ(Next().BufferHandle, b);
}

} // namespace
} // namespace qorcam::testing

namespace qorcam::testing {
namespace {

TEST_F(GigEStream, AStreamTheConsumerDidNotSetUpIsSetUpFromTheCamera) {
    // A consumer that knows only the standard: no stream register written, buffers of the payload size.
    FakeCamera& c = AddCamera(0x55);
    c.registers[0x0D04] = 1400;
    c.registers[0x0D18] = 0;
    device = OpenFirst(DEVICE_ACCESS_CONTROL);
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCRegisterEvent(stream, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    std::vector<uint8_t> own(kPayload, 0x5A);
    int tags[2] = {};
    BUFFER_HANDLE consumer = nullptr, producer = nullptr;
    ASSERT_EQ(gc->DSAnnounceBuffer(stream, own.data(), kPayload, &tags[0], &consumer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(stream, kPayload, &tags[1], &producer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, consumer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(stream, producer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);

    // The camera streams to the adapter that faces it, and the service takes blocks at once.
    const auto writes = service.RegisterWrites();
    EXPECT_NE(std::find(writes.begin(), writes.end(), std::pair<uint32_t, uint32_t>{0x0D18, 0xA9FE0001}),
              writes.end());
    uint32_t port = 0;
    size_t size = 4;
    ASSERT_EQ(gc->GCReadPort(stream, DS_REG_PORT, &port, &size), GC_ERR_SUCCESS);
    auto enables = service.Requests(IOCTL_GIGE_SetStreamEnable);
    ASSERT_EQ(enables.size(), 1u);
    EXPECT_EQ(Field<uint16_t>(enables[0].input, 0), port);
    EXPECT_EQ(enables[0].input[2], 1);

    // Each buffer is one block of its size; its information lies behind it, unseen by the consumer.
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetStream, 2));
    ASSERT_TRUE(DeliverBlock(7));
    ASSERT_TRUE(DeliverBlock(8, 2));
    for (const auto& form : seenForms) {
        EXPECT_EQ(Field<uint32_t>(form, 2), kInfoOffset);
        EXPECT_EQ(Field<uint32_t>(form, 6), 1u);
    }
    for (uint64_t block : {7, 8}) {
        EVENT_NEW_BUFFER_DATA data = Next();
        const bool mine = data.BufferHandle == consumer;
        EXPECT_EQ(data.pUserPointer, &tags[mine ? 0 : 1]);
        const auto* memory = BufferValue<const uint8_t*>(data.BufferHandle, BUFFER_INFO_BASE);
        if (mine) {
            EXPECT_EQ(memory, own.data());
        }
        for (uint32_t k = 0; k < kPayload; ++k)
            ASSERT_EQ(memory[k], static_cast<uint8_t>(k + block)) << k;
        EXPECT_EQ(BufferValue<uint64_t>(data.BufferHandle, BUFFER_INFO_FRAMEID), block);
        EXPECT_EQ(BufferValue<size_t>(data.BufferHandle, BUFFER_INFO_WIDTH), kWidth);
        EXPECT_EQ(BufferValue<size_t>(data.BufferHandle, BUFFER_INFO_SIZE), kPayload);
        EXPECT_EQ(BufferValue<bool8_t>(data.BufferHandle, BUFFER_INFO_IS_INCOMPLETE), block == 8);
    }
    EXPECT_EQ(NextError(0), "");
}

} // namespace
} // namespace qorcam::testing
