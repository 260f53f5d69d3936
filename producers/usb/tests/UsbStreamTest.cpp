// The USB3 Vision data streams: stream interface set-up, block reads, buffer info and a lost camera.
#include "UsbProducerFixture.h"

#include <chrono>

namespace qorcam::testing {
namespace {

constexpr uint32_t kPayload = 1000;
constexpr uint32_t kLeaderOffset = 1000;
constexpr uint32_t kTrailerOffset = 1100;
constexpr size_t kBufferSize = 1200;

class UsbStreamTest : public UsbProducerTest {
protected:
    // Opens the camera and "DS0" and writes the stream registers the library writes.
    DS_HANDLE OpenStream(uint32_t transferOverride, FakeUsbCamera camera = FakeUsbCamera()) {
        camera.Put64(kSirm + 0x08, kPayload);
        device = OpenCamera(camera);
        DS_HANDLE ds = nullptr;
        EXPECT_EQ(gc->DevOpenDataStream(device, "DS0", &ds), GC_ERR_SUCCESS);
        for (auto [address, value] : {std::pair<uint64_t, uint32_t>{DS_REG_USB_106, transferOverride},
                                      {DS_REG_USB_107, kLeaderOffset},
                                      {DS_REG_USB_108, kTrailerOffset}}) {
            size_t size = 4;
            EXPECT_EQ(gc->GCWritePort(ds, address, &value, &size), GC_ERR_SUCCESS);
            EXPECT_EQ(size, 4u);
        }
        return ds;
    }
    std::vector<uint8_t> StreamSetup() {
        const auto setups = service.Requests(usbdrv::IOCTL_USB_SetStreamInfo);
        return setups.empty() ? std::vector<uint8_t>() : setups.back().input;
    }
    // The next delivered buffer's handle, or null.
    BUFFER_HANDLE NextBuffer(EVENT_HANDLE newBuffer, uint64_t timeout = 3000) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        if (gc->EventGetData(newBuffer, &data, &size, timeout) != GC_ERR_SUCCESS) return nullptr;
        return data.BufferHandle;
    }
    template <class T> T BufferValue(DS_HANDLE ds, BUFFER_HANDLE b, BUFFER_INFO_CMD cmd) {
        T value{};
        size_t size = sizeof value;
        EXPECT_EQ(gc->DSGetBufferInfo(ds, b, cmd, nullptr, &value, &size), GC_ERR_SUCCESS) << cmd;
        return value;
    }

    DEV_HANDLE device = nullptr;
};

TEST_F(UsbStreamTest, TransferLayoutIsProgrammedToAddUpToThePayload) {
    struct Case {
        const char* what;
        uint32_t transferOverride;
        std::array<uint32_t, 4> layout; // size, count, final 1, final 2
    };
    const std::vector<Case> cases = {
        {"a camera layout that does not add up becomes one transfer", 0, {kPayload, 1, 0, 0}},
        {"an override that divides the payload has no final transfer", 250, {250, 4, 0, 0}},
        {"an override with a rest", 300, {300, 3, 100, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DS_HANDLE ds = OpenStream(c.transferOverride);
        ASSERT_NE(ds, nullptr);
        ASSERT_EQ(gc->DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
        for (int i = 0; i < 600 && StreamSetup().empty(); ++i)
            usleep(5000);
        const auto setup = StreamSetup();
        ASSERT_EQ(setup.size(), usbdrv::kUsbStreamSetupRequestSize);
        EXPECT_EQ(Field<uint32_t>(setup, 0), pid);
        EXPECT_EQ(Field<uint32_t>(setup, 4), kPayload);
        EXPECT_EQ(Field<uint32_t>(setup, 8), kLeaderOffset);
        EXPECT_EQ(Field<uint32_t>(setup, 12), kTrailerOffset);
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(Field<uint32_t>(setup, 16 + 4 * k), c.layout[k]) << k;
        ASSERT_EQ(gc->DSStopAcquisition(ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
        {
            auto held = service.Lock();
            EXPECT_EQ(service.Camera("cam").Get32(kSirm + 0x04), 0u) << "the stream is disabled at stop";
        }
        ASSERT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
        gc->IFClose(iface);
        service.Unplug("cam");
    }
}

// Writes a block into a read's output: payload bytes, leader and trailer.
uint32_t FillBlock(std::span<uint8_t> out, uint16_t payloadType) {
    if (out.size() < kBufferSize) return 0;
    for (size_t i = 0; i < kPayload; ++i)
        out[i] = static_cast<uint8_t>(i);
    auto put = [&](size_t offset, auto value) { std::memcpy(out.data() + offset, &value, sizeof value); };
    put(kLeaderOffset + 0, uint32_t{0x4C563355}); // "U3VL"
    put(kLeaderOffset + 8, uint64_t{77});
    put(kLeaderOffset + 18, payloadType);
    put(kLeaderOffset + 20, uint64_t{123456789});
    put(kLeaderOffset + 28, uint32_t{0x01080001});
    put(kLeaderOffset + 32, uint32_t{40});
    put(kLeaderOffset + 36, uint32_t{25});
    put(kLeaderOffset + 40, uint32_t{2});
    put(kLeaderOffset + 44, uint32_t{3});
    put(kLeaderOffset + 48, uint16_t{4});
    put(kLeaderOffset + 50, uint16_t{5});
    put(kTrailerOffset + 0, uint32_t{0x54563355}); // "U3VT"
    put(kTrailerOffset + 20, uint64_t{990});
    put(kTrailerOffset + 28, uint32_t{24});
    put(kTrailerOffset + 32, uint32_t{9});
    return static_cast<uint32_t>(kBufferSize);
}

TEST_F(UsbStreamTest, BlocksAreReadIntoTheBuffersAndDescribedByLeaderAndTrailer) {
    DS_HANDLE ds = OpenStream(0);
    ASSERT_NE(ds, nullptr);
    std::vector<uint8_t> memory(kBufferSize, 0xEE);
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(gc->DSAnnounceBuffer(ds, memory.data(), memory.size(), nullptr, &buffer), GC_ERR_SUCCESS);
    EVENT_HANDLE newBuffer = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(ds, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);

    ASSERT_TRUE(service.WaitPending("cam", 0, 1));
    // Only the payload comes back from the camera here: leader and trailer areas must not keep what
    // the consumer's memory held before.
    ASSERT_TRUE(service.CompletePending("cam", 0, devio::STATUS_SUCCESS, [](std::span<uint8_t> out) {
        std::memset(out.data(), 1, std::min<size_t>(out.size(), kPayload));
        return kPayload;
    }));
    ASSERT_EQ(NextBuffer(newBuffer), buffer);
    EXPECT_EQ(memory[kPayload], 0) << "bytes behind the payload are zeroed before each read";
    EXPECT_EQ(memory[kBufferSize - 1], 0);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_WIDTH), 0u) << "no leader: no image";

    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", 0, 1));
    ASSERT_TRUE(service.CompletePending(
        "cam", 0, devio::STATUS_SUCCESS, [](std::span<uint8_t> out) { return FillBlock(out, 1); }, kPayload));
    ASSERT_EQ(NextBuffer(newBuffer), buffer);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_WIDTH), 40u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_HEIGHT), 25u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_XOFFSET), 2u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_YOFFSET), 3u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_XPADDING), 4u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_YPADDING), 5u);
    EXPECT_EQ(BufferValue<uint64_t>(ds, buffer, BUFFER_INFO_FRAMEID), 77u);
    EXPECT_EQ(BufferValue<uint64_t>(ds, buffer, BUFFER_INFO_TIMESTAMP), 123456789u);
    EXPECT_EQ(BufferValue<uint64_t>(ds, buffer, BUFFER_INFO_PIXELFORMAT), 0x01080001u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_PAYLOADTYPE), 1u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_DELIVERED_IMAGEHEIGHT), 24u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE), 0u) << "no chunks";
    EXPECT_EQ(BufferValue<uint32_t>(ds, buffer, BUFFER_INFO_CUSTOM_STATUS), 0u);
    EXPECT_EQ(BufferValue<uint32_t>(ds, buffer, BUFFER_INFO_CUSTOM_BYTES), kPayload);
    EXPECT_EQ(memory[999], static_cast<uint8_t>(999));

    // A chunk-only block carries no image fields.
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", 0, 1));
    ASSERT_TRUE(service.CompletePending(
        "cam", 0, devio::STATUS_SUCCESS, [](std::span<uint8_t> out) { return FillBlock(out, 0x4000); },
        kPayload));
    ASSERT_EQ(NextBuffer(newBuffer), buffer);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_WIDTH), 0u);
    EXPECT_EQ(BufferValue<uint64_t>(ds, buffer, BUFFER_INFO_FRAMEID), 77u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_PAYLOADTYPE), 0x4000u);

    ASSERT_EQ(gc->DSStopAcquisition(ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
}

TEST_F(UsbStreamTest, LeaderAndTrailerOutsideTheBufferAnswerZero) {
    DS_HANDLE ds = OpenStream(0);
    ASSERT_NE(ds, nullptr);
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(ds, kLeaderOffset + 20, nullptr, &buffer), GC_ERR_SUCCESS);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_WIDTH), 0u);
    EXPECT_EQ(BufferValue<uint64_t>(ds, buffer, BUFFER_INFO_FRAMEID), 0u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_DELIVERED_IMAGEHEIGHT), 0u);
    void* memory = &memory;
    ASSERT_EQ(gc->DSRevokeBuffer(ds, buffer, &memory, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, nullptr) << "memory the producer allocated is not handed back";
}

TEST_F(UsbStreamTest, AnUnpluggedCameraReturnsBuffersFailedWithoutReading) {
    DS_HANDLE ds = OpenStream(0);
    ASSERT_NE(ds, nullptr);
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(ds, kBufferSize, nullptr, &buffer), GC_ERR_SUCCESS);
    EVENT_HANDLE newBuffer = nullptr, errors = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(ds, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCRegisterEvent(ds, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", 0, 1));
    ASSERT_TRUE(service.CompletePending("cam", 0, devio::STATUS_DEVICE_NOT_CONNECTED));
    ASSERT_EQ(NextBuffer(newBuffer), buffer);
    EXPECT_EQ(BufferValue<uint32_t>(ds, buffer, BUFFER_INFO_CUSTOM_STATUS),
              devio::STATUS_DEVICE_NOT_CONNECTED);
    bool8_t visible = 1;
    size_t size = sizeof visible;
    ASSERT_EQ(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(visible, 0);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(NextBuffer(newBuffer), buffer);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40)) << "held, not spun";
    EXPECT_EQ(BufferValue<uint32_t>(ds, buffer, BUFFER_INFO_CUSTOM_STATUS), devio::STATUS_CANCELLED);
    EXPECT_EQ(service.Pending("cam", 0), 0u) << "no read in the lost state";
    char text[256] = {};
    size = sizeof text;
    ASSERT_EQ(gc->EventGetData(errors, text, &size, 1000), GC_ERR_SUCCESS);
    EXPECT_STREQ(text + 4, "DataExec_Thread IOCTL_GIGE_GetStream error");
    ASSERT_EQ(gc->DSStopAcquisition(ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
}

TEST_F(UsbStreamTest, TheNoticeStreamWaitsForBlockStarts) {
    device = OpenCamera();
    ASSERT_NE(device, nullptr);
    DS_HANDLE ds = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS1", &ds), GC_ERR_SUCCESS);
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(ds, 16, nullptr, &buffer), GC_ERR_SUCCESS);
    EVENT_HANDLE newBuffer = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(ds, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", usbdrv::IOCTL_USB_GetStream, 1));
    EXPECT_TRUE(service.Requests(usbdrv::IOCTL_USB_SetStreamInfo).empty()) << "no stream set-up";
    ASSERT_TRUE(service.CompletePending("cam", usbdrv::IOCTL_USB_GetStream, devio::STATUS_SUCCESS));
    EXPECT_EQ(NextBuffer(newBuffer), buffer);
    // A stop with a notice still waiting cancels it and returns its buffer.
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", usbdrv::IOCTL_USB_GetStream, 1));
    ASSERT_EQ(gc->DSStopAcquisition(ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(BufferValue<uint32_t>(ds, buffer, BUFFER_INFO_CUSTOM_STATUS), devio::STATUS_CANCELLED);
}

} // namespace
} // namespace qorcam::testing

namespace qorcam::testing {
namespace {

TEST_F(UsbStreamTest, AStreamTheConsumerDidNotLayOutIsLaidOutFromTheCamera) {
    // A consumer that knows only the standard: no stream register written, a buffer of the payload size.
    FakeUsbCamera camera;
    camera.Put64(kSirm + 0x08, kPayload);
    camera.Put32(kSirm + 0x10, 52); // required leader size
    camera.Put32(kSirm + 0x14, 36); // required trailer size
    device = OpenCamera(camera);
    DS_HANDLE ds = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &ds), GC_ERR_SUCCESS);
    std::vector<uint8_t> memory(kPayload, 0xEE);
    int tag = 0;
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(gc->DSAnnounceBuffer(ds, memory.data(), memory.size(), &tag, &buffer), GC_ERR_SUCCESS);
    EVENT_HANDLE newBuffer = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(ds, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSQueueBuffer(ds, buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending("cam", 0, 1));

    // The camera learnt the leader and trailer sizes the host takes before it was enabled.
    const auto writes = service.Writes("cam");
    auto last = [&](uint64_t address) {
        for (size_t i = writes.size(); i-- > 0;)
            if (writes[i].first == address) return static_cast<int>(i);
        return -1;
    };
    auto value = [&](uint64_t address) {
        const int i = last(address);
        uint32_t v = 0;
        if (i >= 0 && writes[i].second.size() == 4) std::memcpy(&v, writes[i].second.data(), 4);
        return v;
    };
    EXPECT_EQ(value(kSirm + 0x18), 52u);
    EXPECT_EQ(value(kSirm + 0x2C), 36u);
    EXPECT_LT(last(kSirm + 0x18), last(kSirm + 0x04));
    EXPECT_LT(last(kSirm + 0x2C), last(kSirm + 0x04));
    EXPECT_EQ(value(kSirm + 0x04), 1u);

    // Payload from 0, leader and trailer 8-aligned behind it, in room the consumer doesn't see.
    const auto setup = StreamSetup();
    ASSERT_EQ(setup.size(), usbdrv::kUsbStreamSetupRequestSize);
    constexpr uint32_t kLeader = 1000, kTrailer = 1000 + 56;
    EXPECT_EQ(Field<uint32_t>(setup, 8), kLeader);
    EXPECT_EQ(Field<uint32_t>(setup, 12), kTrailer);
    ASSERT_TRUE(service.CompletePending("cam", 0, devio::STATUS_SUCCESS, [&](std::span<uint8_t> out) {
        if (out.size() < kTrailer + 36) return 0u;
        for (size_t i = 0; i < kPayload; ++i)
            out[i] = static_cast<uint8_t>(i);
        auto put = [&](size_t offset, auto v) { std::memcpy(out.data() + offset, &v, sizeof v); };
        put(kLeader + 8, uint64_t{77});
        put(kLeader + 18, uint16_t{1});
        put(kLeader + 32, uint32_t{40});
        put(kTrailer + 28, uint32_t{25});
        return static_cast<uint32_t>(out.size());
    }));
    EVENT_NEW_BUFFER_DATA data{};
    size_t size = sizeof data;
    ASSERT_EQ(gc->EventGetData(newBuffer, &data, &size, 3000), GC_ERR_SUCCESS);
    EXPECT_EQ(data.BufferHandle, buffer);
    EXPECT_EQ(data.pUserPointer, &tag);
    EXPECT_EQ(memory[999], static_cast<uint8_t>(999));
    EXPECT_EQ(BufferValue<uint64_t>(ds, buffer, BUFFER_INFO_FRAMEID), 77u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_WIDTH), 40u);
    EXPECT_EQ(BufferValue<size_t>(ds, buffer, BUFFER_INFO_DELIVERED_IMAGEHEIGHT), 25u);
    EXPECT_EQ(BufferValue<uint32_t>(ds, buffer, BUFFER_INFO_CUSTOM_STATUS), 0u);
    ASSERT_EQ(gc->DSStopAcquisition(ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
}

} // namespace
} // namespace qorcam::testing
