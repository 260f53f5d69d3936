// Tests of the simulated camera through the virtual bus: descriptors, GenCP registers, manifest, streaming,
// events and faults.
#include "TestSupport.h"

#include "../sim/U3vRegisters.h"

#include <zlib.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

namespace qorcam::usb::test {
namespace {

namespace reg = sim::u3v;

class SimCameraTest : public UsbRootFixture {
protected:
    void SetUp() override {
        UsbRootFixture::SetUp();
        bus_ = std::make_unique<VirtualBus>();
    }
    void TearDown() override {
        gencp_.reset();
        device_.reset();
        bus_.reset();
        UsbRootFixture::TearDown();
    }

    /// Starts camera name, opens and claims it, and finds its pipes.
    void Open(const std::string& name, std::vector<std::string> args = {}) {
        StartCamera(name, std::move(args));
        device_ = bus_->OpenVirtual(name);
        ASSERT_NE(device_, nullptr);
        ASSERT_EQ(device_->Claim(), Status::Success);
        std::vector<std::uint8_t> bytes;
        ASSERT_EQ(device_->GetConfigurationDescriptor(bytes), Status::Success);
        config_ = ParseConfiguration(bytes);
        ASSERT_TRUE(config_);
        const auto pipes = FindPipes(*config_);
        ASSERT_TRUE(pipes);
        pipes_ = *pipes;
        gencp_.emplace(*device_, pipes_);
    }

    std::vector<std::uint8_t> ReadEvent(std::uint32_t timeoutMs, Status& status) {
        std::vector<std::uint8_t> packet(256);
        std::size_t moved = 0;
        status = device_->BulkTransfer(pipes_.event, packet, timeoutMs, moved);
        packet.resize(moved);
        return packet;
    }

    std::unique_ptr<VirtualBus> bus_;
    std::unique_ptr<VirtualDevice> device_;
    std::optional<ConfigurationInfo> config_;
    U3vPipes pipes_;
    std::optional<GenCp> gencp_;
};

TEST_F(SimCameraTest, DescriptorsLeadToTheDeviceGuidAndThePipes) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string guid;
        std::uint16_t maxPacket;
        bool eventInterface;
        bool deviceInfo;
    };
    const Case cases[] = {
        {"usb3", {"--guid=0123456789AB", "--model=Model A"}, "0123456789AB", 1024, true, true},
        {"usb2", {"--usb2", "--guid=00000000CAFE"}, "00000000CAFE", 512, true, true},
        {"bare", {"--no-event-interface", "--no-device-info"}, "", 1024, false, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_NO_FATAL_FAILURE(Open(test.name, test.args));
        DeviceDescriptor device;
        ASSERT_EQ(device_->GetDeviceDescriptor(device), Status::Success);
        EXPECT_EQ(device.deviceClass, 0xEF);
        EXPECT_EQ(device.deviceSubClass, 0x02);
        EXPECT_EQ(device.deviceProtocol, 0x01);
        EXPECT_EQ(device.bcdUSB, test.maxPacket == 512 ? 0x0210 : 0x0300);

        EXPECT_EQ(pipes_.controlOut, 0x01);
        EXPECT_EQ(pipes_.controlIn, 0x81);
        EXPECT_EQ(pipes_.stream, 0x83);
        EXPECT_EQ(pipes_.event, test.eventInterface ? 0x82 : 0);
        EXPECT_EQ(config_->FindU3vInterface(kU3vProtocolControl)->endpoints[0].maxPacketSize, test.maxPacket);
        EXPECT_TRUE(config_->IsUsb3Vision());

        // The walk a driver makes: by length byte to the first 0x24, whose
        // byte 11 is the GUID string's index.
        std::vector<std::uint8_t> raw;
        ASSERT_EQ(device_->GetConfigurationDescriptor(raw), Status::Success);
        std::size_t offset = 0;
        while (offset + 1 < raw.size() && raw[offset + 1] != kDescriptorU3vDeviceInfo && raw[offset] != 0)
            offset += raw[offset];
        if (!test.deviceInfo) {
            EXPECT_GE(offset + 1, raw.size());
        } else {
            ASSERT_LT(offset + 11, raw.size());
            std::u16string guid;
            ASSERT_EQ(device_->GetStringDescriptor(raw[offset + 11], guid), Status::Success);
            EXPECT_EQ(NarrowAscii(guid), test.guid);
            const auto info = ParseU3vDeviceInfo(config_->deviceInfo);
            ASSERT_TRUE(info);
            std::u16string model;
            ASSERT_EQ(device_->GetStringDescriptor(info->modelNameIndex, model), Status::Success);
            EXPECT_EQ(NarrowAscii(model), test.name == std::string("usb3") ? "Model A" : "QorU3vSim");
        }
        std::u16string missing;
        EXPECT_EQ(device_->GetStringDescriptor(200, missing), Status::Stall);
    }
}

TEST_F(SimCameraTest, BootstrapRegistersReadWithReadMem) {
    ASSERT_NO_FATAL_FAILURE(
        Open("cam", {"--vendor=Maker", "--model=Model B", "--serial=12345678", "--family=Fam"}));
    EXPECT_EQ(gencp_->Read32(0x0000), 0x00010000u); // GenCP 1.0
    EXPECT_EQ(gencp_->ReadString(kAbrmManufacturer), "Maker");
    EXPECT_EQ(gencp_->ReadString(kAbrmModel), "Model B");
    EXPECT_EQ(gencp_->ReadString(0x0084), "Fam");
    EXPECT_EQ(gencp_->ReadString(kAbrmSerial), "12345678");

    const std::uint64_t sbrm = gencp_->Read64(kAbrmSbrm);
    ASSERT_NE(sbrm, 0u);
    EXPECT_EQ(gencp_->Read32(sbrm + 0x14), 1024u); // maximum command transfer
    EXPECT_EQ(gencp_->Read32(sbrm + 0x18), 1024u); // maximum acknowledge transfer
    const std::uint64_t sirm = gencp_->Read64(sbrm + 0x20);
    const std::uint64_t eirm = gencp_->Read64(sbrm + 0x2C);
    ASSERT_NE(sirm, 0u);
    ASSERT_NE(eirm, 0u);
    EXPECT_EQ(gencp_->Read32(sirm + 0x10), 52u); // required leader size
    EXPECT_EQ(gencp_->Read32(sirm + 0x14), 32u); // required trailer size
    EXPECT_EQ(gencp_->Read64(sirm + 0x08), 640u * 480u);
    EXPECT_GE(gencp_->Read32(eirm + 0x04), 24u); // an event packet fits

    // The acknowledge echoes the request id and answers with READMEM_ACK.
    const auto ack = gencp_->Read(kAbrmModel, 64);
    EXPECT_EQ(ack.command, 0x0801);
    EXPECT_EQ(ack.bytes.size(), 12u + 64u);
    EXPECT_EQ(Le16(ack.bytes, 8), 64);
}

TEST_F(SimCameraTest, WritesTakeEffectAndRefusalsCarryGenCpStatus) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    std::vector<std::uint8_t> name(64, 0);
    std::memcpy(name.data(), "bench camera", 12);
    const auto ack = gencp_->Write(kAbrmUserName, name);
    EXPECT_EQ(ack.status, 0);
    EXPECT_EQ(ack.command, 0x0803);
    ASSERT_EQ(ack.bytes.size(), 16u);
    EXPECT_EQ(Le16(ack.bytes, 14), 64) << "bytes written";
    EXPECT_EQ(gencp_->ReadString(kAbrmUserName), "bench camera");

    EXPECT_EQ(gencp_->Write32(reg::kFeatureBase + reg::kFeatureWidth, 320), 0);
    EXPECT_EQ(gencp_->Read32(reg::kFeatureBase + reg::kFeaturePayloadSize), 320u * 480u);
    EXPECT_EQ(gencp_->Read64(reg::kSirmBase + reg::kSiRequiredPayloadSize), 320u * 480u);

    struct Refusal {
        const char* what;
        std::function<GenCp::Ack()> request;
        std::uint16_t status;
    };
    std::vector<std::uint8_t> four(4, 0);
    const Refusal refusals[] = {
        {"write to the manufacturer name", [&] { return gencp_->Write(kAbrmManufacturer, four); }, 0x8004},
        {"write to nowhere", [&] { return gencp_->Write(0x7FFF0000, four); }, 0x8003},
        {"read from nowhere", [&] { return gencp_->Read(0x7FFF0000, 4); }, 0x8003},
        {"read across the end of a map", [&] { return gencp_->Read(kAbrmSbrm, 0x100); }, 0x8003},
        {"read longer than an acknowledge holds", [&] { return gencp_->Read(0, 1013); }, 0x8002},
        {"width not a multiple of 8",
         [&] {
             std::vector<std::uint8_t> width;
             Put32(width, 1001);
             return gencp_->Write(reg::kFeatureBase + reg::kFeatureWidth, width);
         },
         0x8002},
        {"half a register",
         [&] {
             return gencp_->Write(reg::kFeatureBase, {1, 2});
         },
         0x8005},
        {"unknown command",
         [&] {
             EXPECT_EQ(gencp_->Send(GenCp::Packet(0x4000, 0x0900, gencp_->NextRequestId(), {})),
                       Status::Success);
             return gencp_->Receive();
         },
         0x8001},
        {"length field that disagrees with the packet",
         [&] {
             auto packet = GenCp::ReadPacket(gencp_->NextRequestId(), 0, 4);
             packet[8] = 20;
             EXPECT_EQ(gencp_->Send(packet), Status::Success);
             return gencp_->Receive();
         },
         0x800E},
    };
    for (const auto& refusal : refusals) {
        const auto answer = refusal.request();
        EXPECT_EQ(answer.status, refusal.status) << refusal.what;
    }
    EXPECT_EQ(gencp_->Read32(reg::kFeatureBase + reg::kFeatureWidth), 320u)
        << "a refused write changes nothing";
}

std::string Inflate(const std::vector<std::uint8_t>& zip) {
    // One local entry: 30-byte header, name, extra, then raw deflate.
    const std::size_t nameLength = Le16(zip, 26);
    const std::size_t extraLength = Le16(zip, 28);
    const std::size_t packed = Le32(zip, 18);
    const std::size_t plain = Le32(zip, 22);
    std::string text(plain, '\0');
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = const_cast<Bytef*>(zip.data() + 30 + nameLength + extraLength);
    stream.avail_in = static_cast<uInt>(packed);
    stream.next_out = reinterpret_cast<Bytef*>(text.data());
    stream.avail_out = static_cast<uInt>(plain);
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    EXPECT_EQ(result, Z_STREAM_END);
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())),
              Le32(zip, 14));
    return text;
}

TEST_F(SimCameraTest, ManifestEntryPointsAtTheDescription) {
    for (const bool zipped : {false, true}) {
        SCOPED_TRACE(zipped ? "zipped" : "plain");
        ASSERT_NO_FATAL_FAILURE(Open(zipped ? "zipped" : "plain", zipped ? std::vector<std::string>{"--zip"}
                                                                         : std::vector<std::string>{}));
        const std::uint64_t table = gencp_->Read64(kAbrmManifest);
        ASSERT_NE(table, 0u);
        EXPECT_EQ(gencp_->Read64(table), 1u);
        const auto entry = gencp_->Read(table + 8, 64).Data();
        ASSERT_EQ(entry.size(), 64u);
        EXPECT_EQ(Le32(entry, 0) >> 24, 1u) << "file version major";
        EXPECT_EQ((Le32(entry, 4) >> 10) & 0x3F, zipped ? 1u : 0u) << "compression";
        const std::uint64_t address = Le64(entry, 8);
        const std::uint64_t size = Le64(entry, 16);
        ASSERT_GT(size, 100u);
        ASSERT_LT(size, 1u << 20);

        // Read as a host does: chunks of the acknowledge's room, in whole words.
        std::vector<std::uint8_t> file;
        while (file.size() < size) {
            const std::uint64_t left = size - file.size();
            const auto chunk = static_cast<std::uint16_t>((std::min<std::uint64_t>(left, 1012) + 3) / 4 * 4);
            const auto ack = gencp_->Read(address + file.size(), chunk);
            ASSERT_EQ(ack.status, 0) << "at " << file.size();
            const auto data = ack.Data();
            file.insert(file.end(), data.begin(),
                        data.begin() +
                            static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(left, data.size())));
        }
        const std::string xml = zipped ? Inflate(file) : std::string(file.begin(), file.end());
        EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
        for (const char* feature : {"\"Width\"", "\"Height\"", "\"PixelFormat\"", "\"PayloadSize\"",
                                    "\"AcquisitionStart\"", "\"AcquisitionStop\"", "</RegisterDescription>"})
            EXPECT_NE(xml.find(feature), std::string::npos) << feature;
        gencp_.reset();
        device_.reset();
    }
}

/// One block as a driver reads it: every transfer posted at once.
struct Block {
    std::vector<std::uint8_t> leader, trailer, payload;
    std::vector<std::pair<Status, std::size_t>> results;
};

Block ReadBlock(Device& device, std::uint8_t pipe, const std::vector<std::uint32_t>& payloadSizes) {
    Block block;
    block.leader.resize(1024);
    block.trailer.resize(1024);
    std::uint64_t total = 0;
    for (auto size : payloadSizes)
        total += size;
    block.payload.resize(total);
    std::vector<std::span<std::uint8_t>> parts{block.leader};
    std::size_t offset = 0;
    for (auto size : payloadSizes) {
        parts.push_back(std::span(block.payload).subspan(offset, size));
        offset += size;
    }
    parts.push_back(block.trailer);

    std::mutex mutex;
    std::condition_variable cv;
    std::size_t done = 0;
    block.results.resize(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(device.SubmitBulk(pipe, parts[i], 3000,
                                    [&, i](Status status, std::size_t moved) {
                                        std::lock_guard lock(mutex);
                                        block.results[i] = {status, moved};
                                        ++done;
                                        cv.notify_all();
                                    }),
                  Status::Success);
    }
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done == parts.size(); });
    return block;
}

TEST_F(SimCameraTest, StreamsBlocksInTheProgrammedTransferLayout) {
    ASSERT_NO_FATAL_FAILURE(Open("cam", {"--width=256", "--height=32", "--fps=200"}));
    const std::uint64_t sirm = reg::kSirmBase;
    ASSERT_EQ(gencp_->Read64(sirm + 0x08), 8192u);
    // Two transfers of 3072 and a final one of 2048.
    EXPECT_EQ(gencp_->Write32(sirm + 0x1C, 3072), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x20, 2), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x24, 2048), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x28, 0), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x04, 1), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x1C, 4096), 0x8006)
        << "the layout is fixed while the stream is enabled";
    EXPECT_EQ(gencp_->Write32(reg::kFeatureBase + reg::kFeatureAcquisitionStart, 1), 0);

    for (std::uint64_t expectedId = 0; expectedId < 3; ++expectedId) {
        const Block block = ReadBlock(*device_, pipes_.stream, {3072, 3072, 2048});
        const std::vector<std::pair<Status, std::size_t>> expected = {{Status::Success, 52},
                                                                      {Status::Success, 3072},
                                                                      {Status::Success, 3072},
                                                                      {Status::Success, 2048},
                                                                      {Status::Success, 32}};
        ASSERT_EQ(block.results, expected);
        EXPECT_EQ(Le32(block.leader, 0), kMagicLeader);
        EXPECT_EQ(Le16(block.leader, 6), 52);
        EXPECT_EQ(Le64(block.leader, 8), expectedId);
        EXPECT_EQ(Le16(block.leader, 18), 1) << "image payload";
        EXPECT_EQ(Le32(block.leader, 28), 0x01080001u) << "Mono8";
        EXPECT_EQ(Le32(block.leader, 32), 256u);
        EXPECT_EQ(Le32(block.leader, 36), 32u);
        std::size_t wrong = 0;
        for (std::uint32_t y = 0; y < 32; ++y)
            for (std::uint32_t x = 0; x < 256; ++x)
                wrong += block.payload[y * 256 + x] != static_cast<std::uint8_t>(x + y + expectedId);
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(Le32(block.trailer, 0), kMagicTrailer);
        EXPECT_EQ(Le64(block.trailer, 8), expectedId);
        EXPECT_EQ(Le16(block.trailer, 16), 0) << "status";
        EXPECT_EQ(Le64(block.trailer, 20), 8192u) << "valid payload";
        EXPECT_EQ(Le32(block.trailer, 28), 32u) << "delivered height";
    }
    EXPECT_EQ(gencp_->Write32(reg::kFeatureBase + reg::kFeatureAcquisitionStop, 1), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x04, 0), 0);
}

TEST_F(SimCameraTest, UnplugDuringStreamingEndsTheBlockInFlight) {
    ASSERT_NO_FATAL_FAILURE(Open("cam", {"--width=64", "--height=16", "--fps=100", "--disconnect-after=2"}));
    // The camera's own layout: one transfer of the whole 1024-byte image.
    EXPECT_EQ(gencp_->Read32(reg::kSirmBase + 0x1C), 1024u);
    EXPECT_EQ(gencp_->Read32(reg::kSirmBase + 0x20), 1u);
    EXPECT_EQ(gencp_->Write32(reg::kSirmBase + 0x04, 1), 0);
    EXPECT_EQ(gencp_->Write32(reg::kFeatureBase + reg::kFeatureAcquisitionStart, 1), 0);
    for (int i = 0; i < 2; ++i) {
        const Block block = ReadBlock(*device_, pipes_.stream, {1024});
        EXPECT_EQ(block.results.back(), std::make_pair(Status::Success, std::size_t{32}));
    }
    const Block lost = ReadBlock(*device_, pipes_.stream, {1024});
    for (const auto& result : lost.results)
        EXPECT_EQ(result.first, Status::NoDevice);
    EXPECT_TRUE(device_->IsRemoved());
    EXPECT_EQ(cameras_.back().Wait(5000), 0);
}

// A transfer of whole packets that the data overfills passes the rest on to
// the next transfer; one that is no whole number of packets overflows, and
// the rest of that transfer's data is lost.
TEST_F(SimCameraTest, TransferSizesFollowThePacketRules) {
    ASSERT_NO_FATAL_FAILURE(Open("cam", {"--width=64", "--height=32", "--fps=100"}));
    ASSERT_EQ(gencp_->Read32(reg::kSirmBase + 0x1C), 2048u);
    EXPECT_EQ(gencp_->Write32(reg::kSirmBase + 0x04, 1), 0);
    EXPECT_EQ(gencp_->Write32(reg::kFeatureBase + reg::kFeatureAcquisitionStart, 1), 0);

    const Block split = ReadBlock(*device_, pipes_.stream, {1024, 1024});
    const std::vector<std::pair<Status, std::size_t>> whole = {
        {Status::Success, 52}, {Status::Success, 1024}, {Status::Success, 1024}, {Status::Success, 32}};
    EXPECT_EQ(split.results, whole);
    EXPECT_EQ(split.payload[1024], static_cast<std::uint8_t>(0 + 16 + 0)) << "x 0, y 16 of block 0";

    const Block overflow = ReadBlock(*device_, pipes_.stream, {1000});
    const std::vector<std::pair<Status, std::size_t>> cut = {
        {Status::Success, 52}, {Status::Overflow, 1000}, {Status::Success, 32}};
    EXPECT_EQ(overflow.results, cut);
    EXPECT_EQ(Le32(overflow.trailer, 0), kMagicTrailer) << "the next transfer starts at the trailer";
}

TEST_F(SimCameraTest, PacketsWithoutTheCommandPrefixGetNoAnswer) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    auto foreign = GenCp::ReadPacket(gencp_->NextRequestId(), kAbrmModel, 4);
    foreign[0] = 'X';
    EXPECT_EQ(gencp_->Send(foreign), Status::Success);
    EXPECT_EQ(gencp_->Send({0x55, 0x33, 0x56, 0x43, 0, 0x40}), Status::Success); // shorter than a header
    EXPECT_EQ(gencp_->Receive(200).transfer, Status::Timeout);
    EXPECT_EQ(gencp_->ReadString(kAbrmModel), "QorU3vSim");
}

TEST_F(SimCameraTest, ALayoutShortOfThePayloadLosesTheRestAndSaysSo) {
    ASSERT_NO_FATAL_FAILURE(Open("cam", {"--width=256", "--height=32", "--fps=200"}));
    const std::uint64_t sirm = reg::kSirmBase;
    EXPECT_EQ(gencp_->Write32(sirm + 0x1C, 4096), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x20, 1), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x24, 0), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x28, 0), 0);
    EXPECT_EQ(gencp_->Write32(sirm + 0x04, 1), 0);
    EXPECT_EQ(gencp_->Write32(reg::kFeatureBase + reg::kFeatureAcquisitionStart, 1), 0);
    const Block block = ReadBlock(*device_, pipes_.stream, {4096});
    ASSERT_EQ(block.results.size(), 3u);
    EXPECT_EQ(block.results[1].second, 4096u);
    EXPECT_EQ(Le32(block.trailer, 0), kMagicTrailer);
    EXPECT_EQ(Le16(block.trailer, 16), 0xA100) << "data discarded";
    EXPECT_EQ(Le64(block.trailer, 20), 4096u);
}

TEST_F(SimCameraTest, EventsArriveOnTheEventPipeWhenEnabled) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    const std::uint64_t eirm = gencp_->Read64(gencp_->Read64(kAbrmSbrm) + 0x2C);
    Status status;
    EXPECT_EQ(*device_->SimCommand("event"), "error: events are disabled");
    EXPECT_EQ(gencp_->Write32(eirm + 8, 1), 0);
    ReadEvent(200, status);
    EXPECT_EQ(status, Status::Timeout) << "no event while the interface is off";

    EXPECT_EQ(gencp_->Write32(eirm, 1), 0);
    EXPECT_EQ(gencp_->Write32(eirm + 8, 1), 0); // test event
    const auto event = ReadEvent(1000, status);
    ASSERT_EQ(status, Status::Success);
    ASSERT_EQ(event.size(), 24u);
    EXPECT_EQ(Le32(event, 0), kPrefixU3ve);
    EXPECT_EQ(Le16(event, 4), 0x4000) << "acknowledge requested";
    EXPECT_EQ(Le16(event, 6), 0x0C00);
    EXPECT_EQ(Le16(event, 8), 12);
    EXPECT_EQ(Le16(event, 14), 0x4FFF);
    // Hosts acknowledge on the control pipe, with the event's prefix or the
    // command prefix; the camera counts both.
    for (const std::uint32_t prefix : {kPrefixU3ve, kPrefixU3vc}) {
        EXPECT_EQ(gencp_->Send([&] {
            std::vector<std::uint8_t> ack;
            Put32(ack, prefix);
            Put16(ack, 0);
            Put16(ack, 0x0C01);
            Put16(ack, 0);
            Put16(ack, Le16(event, 10));
            return ack;
        }()),
                  Status::Success);
    }

    // The same event twice, as a camera repeats one whose acknowledge was lost.
    EXPECT_EQ(*device_->SimCommand("event 0x9001 repeat"), "ok");
    const auto first = ReadEvent(1000, status);
    const auto second = ReadEvent(1000, status);
    ASSERT_EQ(first.size(), 24u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Le16(first, 14), 0x9001);
    EXPECT_NE(Le16(first, 10), Le16(event, 10));
    EXPECT_NE(device_->SimCommand("status")->find("event-acks=2"), std::string::npos);
}

TEST_F(SimCameraTest, ADroppedAcknowledgeComesWithTheResendWithoutRunningTheCommandAgain) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    const std::uint64_t eirm = gencp_->Read64(gencp_->Read64(kAbrmSbrm) + 0x2C);
    ASSERT_EQ(gencp_->Write32(eirm, 1), 0);
    ASSERT_EQ(*device_->SimCommand("drop-ack"), "ok");

    // The event test write has a visible effect: one event per execution.
    const std::uint16_t id = gencp_->NextRequestId();
    std::vector<std::uint8_t> one;
    Put32(one, 1);
    auto packet = GenCp::WritePacket(id, eirm + 8, one);
    ASSERT_EQ(gencp_->Send(packet), Status::Success);
    EXPECT_EQ(gencp_->Receive(300).transfer, Status::Timeout);
    packet[5] |= 0x80; // resend
    ASSERT_EQ(gencp_->Send(packet), Status::Success);
    const auto ack = gencp_->Receive();
    EXPECT_EQ(ack.transfer, Status::Success);
    EXPECT_EQ(ack.requestId, id);
    EXPECT_EQ(ack.status, 0);
    Status status;
    ReadEvent(1000, status);
    EXPECT_EQ(status, Status::Success);
    ReadEvent(200, status);
    EXPECT_EQ(status, Status::Timeout) << "the command ran once";
    // The channel goes on with the next request id.
    EXPECT_EQ(gencp_->ReadString(kAbrmModel), "QorU3vSim");
}

TEST_F(SimCameraTest, PendingAcknowledgeComesBeforeTheAnswer) {
    ASSERT_NO_FATAL_FAILURE(Open("cam", {"--pending-ack=500:150"}));
    const std::uint16_t id = gencp_->NextRequestId();
    ASSERT_EQ(gencp_->Send(GenCp::ReadPacket(id, kAbrmModel, 64)), Status::Success);
    const auto pending = gencp_->Receive();
    ASSERT_EQ(pending.transfer, Status::Success);
    EXPECT_EQ(pending.command, 0x0805);
    EXPECT_EQ(pending.requestId, id);
    ASSERT_EQ(pending.bytes.size(), 16u);
    EXPECT_EQ(Le16(pending.bytes, 14), 500) << "time-out in ms";
    const auto answer = gencp_->Receive(1000);
    ASSERT_EQ(answer.transfer, Status::Success);
    EXPECT_EQ(answer.command, 0x0801);
    EXPECT_EQ(answer.requestId, id);
    // Only the first command was delayed.
    EXPECT_EQ(gencp_->Read(kAbrmModel, 4).command, 0x0801);
}

TEST_F(SimCameraTest, AStalledPipeFailsTransfersUntilItIsReset) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    std::vector<std::uint8_t> buffer(1024);
    std::mutex mutex;
    std::condition_variable cv;
    std::optional<Status> parked;
    ASSERT_EQ(device_->SubmitBulk(pipes_.stream, buffer, 0,
                                  [&](Status status, std::size_t) {
                                      std::lock_guard lock(mutex);
                                      parked = status;
                                      cv.notify_all();
                                  }),
              Status::Success);
    EXPECT_EQ(*device_->SimCommand("stall 0x83"), "ok");
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return parked.has_value(); }));
    }
    EXPECT_EQ(*parked, Status::Stall);
    bool halted = false;
    ASSERT_EQ(device_->IsPipeHalted(pipes_.stream, halted), Status::Success);
    EXPECT_TRUE(halted);
    std::size_t moved = 0;
    EXPECT_EQ(device_->BulkTransfer(pipes_.stream, buffer, 500, moved), Status::Stall);

    EXPECT_EQ(device_->ResetPipe(pipes_.stream), Status::Success);
    ASSERT_EQ(device_->IsPipeHalted(pipes_.stream, halted), Status::Success);
    EXPECT_FALSE(halted);
    EXPECT_EQ(device_->BulkTransfer(pipes_.stream, buffer, 100, moved), Status::Timeout);

    // The host may halt a pipe too.
    EXPECT_EQ(device_->HaltPipe(pipes_.controlIn), Status::Success);
    EXPECT_EQ(gencp_->Read(kAbrmModel, 4).transfer, Status::Stall);
    EXPECT_EQ(device_->ResetPipe(pipes_.controlIn), Status::Success);
    EXPECT_EQ(*device_->SimCommand("stall 0"), "error: stall needs an endpoint");
}

TEST_F(SimCameraTest, DisconnectOnCommandIsAnUnplug) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    std::atomic<bool> removed{false};
    device_->SetRemovalHandler([&] { removed = true; });
    EXPECT_EQ(*device_->SimCommand("disconnect"), "ok");
    EXPECT_TRUE(WaitFor([&] { return removed.load(); }));
    EXPECT_EQ(cameras_.back().Wait(5000), 0);
    EXPECT_TRUE(bus_->Enumerate().empty());
}

TEST_F(SimCameraTest, OneHostAtATimeHoldsTheBulkPipes) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    auto other = bus_->OpenVirtual("cam");
    ASSERT_NE(other, nullptr);
    DeviceDescriptor descriptor;
    EXPECT_EQ(other->GetDeviceDescriptor(descriptor), Status::Success) << "descriptors need no claim";
    EXPECT_EQ(other->Claim(), Status::Busy);
    std::vector<std::uint8_t> buffer(64);
    std::size_t moved = 0;
    EXPECT_EQ(other->BulkTransfer(0x81, buffer, 500, moved), Status::Busy);
    gencp_.reset();
    device_.reset();
    EXPECT_TRUE(WaitFor([&] { return other->Claim() == Status::Success; }));
}

TEST_F(SimCameraTest, ATimedOutReadLeavesNoStaleAnswerBehind) {
    ASSERT_NO_FATAL_FAILURE(Open("cam"));
    EXPECT_EQ(gencp_->Receive(100).transfer, Status::Timeout);
    const auto ack = gencp_->Read(kAbrmModel, 64);
    EXPECT_EQ(ack.transfer, Status::Success);
    EXPECT_EQ(ack.command, 0x0801);
    EXPECT_EQ(gencp_->ReadString(kAbrmModel), "QorU3vSim");
}

} // namespace
} // namespace qorcam::usb::test
