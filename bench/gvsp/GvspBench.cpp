// Stream placement benchmark: the GigE network service's stream channel placing
// whole images of GVSP packets into pended buffers, against a memcpy of the
// same payload bytes in the same packet-sized pieces into the same buffers.
//
//   gvsp_bench [rounds] [part of a case name]
//
// The service's logic runs at frame level over the test fixture's fake adapter
// port and manual clock: every packet goes through GigeDriver::Receive as a
// whole Ethernet frame (lock, header checks, classification, placement), and
// every image costs one pended buffer request. A frame in "frames/s" is one
// whole image; "vs memcpy" is our time divided by the memcpy's (1 would be as
// fast as copying the payload, the memory limit).
#include "CameraFixture.h"
#include "GigeIoctl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace qorcam::gige;
using namespace qorcam::gige::test;

namespace {

constexpr uint16_t kStreamPort = 0x8001;
constexpr uint16_t kCameraStreamPort = 20202;
constexpr uint32_t kMono8 = 0x01080001;
constexpr size_t kInfoBytes = sizeof(GigeBlockInfo);
constexpr size_t kGvspHeader = 8;
// Images per round, each in a buffer of its own that is pended before the
// round starts, as a client keeps several buffers queued.
constexpr size_t kBuffers = 4;

int gRounds = 20;

struct Case {
    uint32_t width;
    uint32_t height;
    uint32_t packetPayload; // GVSP payload bytes per packet
    std::string Name() const {
        return std::to_string(width) + "x" + std::to_string(height) + " Mono8, " +
               std::to_string(packetPayload);
    }
};

// The pixel at a byte offset of an image: differs from packet to packet and
// from image to image, so a packet placed at the wrong offset or in the wrong
// buffer shows.
uint8_t Pixel(uint16_t blockId, size_t offset) {
    const uint32_t x = static_cast<uint32_t>(offset) * 2654435761u;
    return static_cast<uint8_t>((x >> 24) ^ (blockId * 29u));
}

// One GVSP packet in its Ethernet, IPv4 and UDP frame, from the camera to the stream port.
std::vector<uint8_t> GvspFrame(uint8_t format, uint16_t blockId, uint32_t packetId,
                               const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> g(kGvspHeader);
    Put16(g.data() + 2, blockId);
    Put32(g.data() + 4, (uint32_t(format) << 24) | packetId);
    g.insert(g.end(), payload.begin(), payload.end());
    return FromCamera(kCameraStreamPort, kStreamPort, g);
}

// One image as the wire carries it: leader, payload packets, trailer.
struct Image {
    uint16_t blockId = 0;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::span<const uint8_t>> payloads; // each payload packet's bytes inside its frame
};

Image MakeImage(const Case& c, uint16_t blockId) {
    Image im;
    im.blockId = blockId;
    const size_t bytes = size_t(c.width) * c.height;
    const uint32_t packets = static_cast<uint32_t>((bytes + c.packetPayload - 1) / c.packetPayload);
    const uint64_t timestamp = 0x100000000ull * blockId + 12345;
    // Leader of an image: payload type 1, timestamp, pixel format, size, offsets, padding.
    im.frames.push_back(GvspFrame(1, blockId, 0,
                                  BigEndian32({1, uint32_t(timestamp >> 32), uint32_t(timestamp), kMono8,
                                               c.width, c.height, 0, 0, 0})));
    for (uint32_t id = 1; id <= packets; ++id) {
        const size_t from = size_t(id - 1) * c.packetPayload;
        std::vector<uint8_t> p(std::min<size_t>(c.packetPayload, bytes - from));
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = Pixel(blockId, from + i);
        im.frames.push_back(GvspFrame(3, blockId, id, p));
    }
    // Trailer of an image: payload type 1, lines sent.
    im.frames.push_back(GvspFrame(2, blockId, packets + 1, BigEndian32({1, c.height})));
    const size_t at = kEthernetHeader + kIpv4Header + kUdpHeader + kGvspHeader;
    for (size_t k = 1; k + 1 < im.frames.size(); ++k)
        im.payloads.push_back(
            std::span<const uint8_t>(im.frames[k])
                .subspan(at, std::min<size_t>(c.packetPayload, bytes - (k - 1) * c.packetPayload)));
    return im;
}

// The service with one camera and one enabled stream channel, and the
// client's buffers: payload room, block information, two spare bytes, bitmap.
struct Stream : CameraFixture {
    explicit Stream(const Case& c) : imageBytes(size_t(c.width) * c.height) {
        packets = static_cast<uint32_t>((imageBytes + c.packetPayload - 1) / c.packetPayload);
        // The camera answers a discovery, which enters it in the adapter's device list.
        driver.Receive(number, FromCamera(3956, kGvcpListPort,
                                          AckPacket(0, DISCOVERY_ACK, 1, DiscoveryPayload(kCameraIp))));
        ok = Call(IOCTL_GIGE_PortAlloc, Bytes().U32(kOwner).U16(kStreamPort).U16(1))->status ==
                 STATUS_SUCCESS &&
             Call(IOCTL_GIGE_SetStreamInfo, Bytes()
                                                .U32(kOwner)
                                                .U32(kCameraIp)
                                                .U16(kStreamPort)
                                                .U16(0)
                                                .U32(c.packetPayload)
                                                .U8(1)) // resend on
                     ->status == STATUS_SUCCESS &&
             Call(IOCTL_GIGE_SetStreamEnable, Bytes().U16(kStreamPort).U8(1).U8(0))->status == STATUS_SUCCESS;
        const size_t out = imageBytes + kInfoBytes + 2 + (packets + 7) / 8;
        for (size_t i = 0; i < kBuffers; ++i) {
            buffers.push_back(std::make_shared<FakeRequest>(
                IOCTL_GIGE_GetStream,
                Bytes().U16(kStreamPort).U32(static_cast<uint32_t>(imageBytes)).U32(packets), out));
            requests.push_back(buffers.back());
        }
    }

    // What the client does before it hands a buffer over: info area zeroed, every packet's bit set.
    void HandOver(FakeRequest& r) const {
        uint8_t* info = r.MutableOutput().data() + imageBytes;
        std::memset(info, 0, kInfoBytes + 2);
        std::memset(info + kInfoBytes, 0xFF, packets / 8);
        if (packets % 8) info[kInfoBytes + packets / 8] = static_cast<uint8_t>(0xFF00u >> (packets % 8));
    }
    void Prepare() const {
        for (const auto& b : buffers)
            HandOver(*b);
    }
    // One round: pend every buffer, then the images' packets arrive one after the other.
    bool Run(const std::vector<Image>& images) {
        bool pended = true;
        for (const auto& r : requests)
            pended &= driver.DeviceControl(r) == STATUS_PENDING;
        ++roundsRun;
        for (const Image& im : images)
            for (const auto& f : im.frames)
                driver.Receive(number, f);
        return pended;
    }

    size_t imageBytes;
    uint32_t packets = 0;
    bool ok = false;
    int roundsRun = 0;
    std::vector<std::shared_ptr<FakeRequest>> buffers;
    std::vector<GigeRequestPtr> requests;
};

// The reference: the same payload bytes, in the same pieces, into the same buffers.
void CopyPieces(Stream& s, const std::vector<Image>& images, uint32_t packetPayload) {
    for (size_t i = 0; i < images.size(); ++i) {
        uint8_t* dst = s.buffers[i]->MutableOutput().data();
        size_t offset = 0;
        for (const auto& p : images[i].payloads) {
            std::memcpy(dst + offset, p.data(), p.size());
            offset += packetPayload;
        }
    }
}

// Checks what the service left in the buffers after one round: every request
// completed once more, with the whole buffer, every pixel in its place, the
// leader's fields in the block information and no packet marked missing.
std::string CheckRound(Stream& s, const std::vector<Image>& images, const Case& c, bool contents) {
    for (size_t i = 0; i < images.size(); ++i) {
        const FakeRequest& r = *s.buffers[i];
        if (r.completions != s.roundsRun)
            return "buffer " + std::to_string(i) + " did not complete every round";
        if (r.status != STATUS_SUCCESS || r.bytes != r.Output().size())
            return "buffer " + std::to_string(i) + " completed with status " + std::to_string(r.status);
        if (!contents) continue;
        const uint8_t* out = r.Output().data();
        for (size_t k = 0; k < s.imageBytes; ++k)
            if (out[k] != Pixel(images[i].blockId, k))
                return "buffer " + std::to_string(i) + ": wrong byte at offset " + std::to_string(k);
        const auto info = r.Out<GigeBlockInfo>(s.imageBytes);
        uint32_t width = 0, height = 0;
        std::memcpy(&width, info.fields + 4, 4);
        std::memcpy(&height, info.fields + 8, 4);
        if (info.blockId != images[i].blockId || info.payloadType != 1 || width != c.width ||
            height != c.height || info.missingPackets != 0)
            return "buffer " + std::to_string(i) + ": wrong block information";
        const uint8_t* bitmap = out + s.imageBytes + kInfoBytes;
        if (std::any_of(bitmap, bitmap + (s.packets + 7) / 8, [](uint8_t b) { return b != 0; }))
            return "buffer " + std::to_string(i) + ": packets marked missing";
    }
    if (!s.port.sent.empty()) return "the service sent frames (resend requests)";
    return {};
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) gRounds = std::max(3, std::atoi(argv[1]));
    const std::string only = argc > 2 ? argv[2] : "";
    const Case cases[] = {
        {640, 480, 1440},   {640, 480, 8000},   {1920, 1200, 1440},
        {1920, 1200, 8000}, {4096, 3000, 1440}, {4096, 3000, 8000},
    };

    char load[64] = "?";
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(load, sizeof load, f)) load[0] = 0;
        std::fclose(f);
        load[std::strcspn(load, "\n")] = 0;
    }
    std::printf("%zu images per round, best of %d rounds, load average at start: %s\n\n", kBuffers, gRounds,
                load);
    std::printf("| image, payload/packet | packets | ms/frame | frames/s | GB/s | memcpy GB/s | vs memcpy | "
                "ns/packet | memcpy ns/piece |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const Case& c : cases) {
        const std::string name = c.Name();
        if (name.find(only) == std::string::npos) continue;
        std::vector<Image> images;
        for (size_t i = 0; i < kBuffers; ++i)
            images.push_back(MakeImage(c, static_cast<uint16_t>(i + 1)));
        Stream s(c);
        if (!s.ok) {
            std::fprintf(stderr, "%s: the stream channel could not be set up\n", name.c_str());
            return 1;
        }

        // One round of the service alone, checked byte by byte, before any timing.
        s.Prepare();
        if (!s.Run(images)) {
            std::fprintf(stderr, "%s: a buffer was not pended\n", name.c_str());
            return 1;
        }
        if (std::string fault = CheckRound(s, images, c, true); !fault.empty()) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), fault.c_str());
            return 1;
        }

        // The contenders run in turn, round after round, and each keeps its best round.
        double best[2] = {1e30, 1e30};
        bool pended = true;
        for (int round = 0; round < gRounds; ++round) {
            s.Prepare();
            auto t0 = std::chrono::steady_clock::now();
            pended &= s.Run(images);
            auto t1 = std::chrono::steady_clock::now();
            best[0] = std::min(best[0], std::chrono::duration<double>(t1 - t0).count());
            t0 = std::chrono::steady_clock::now();
            CopyPieces(s, images, c.packetPayload);
            t1 = std::chrono::steady_clock::now();
            best[1] = std::min(best[1], std::chrono::duration<double>(t1 - t0).count());
        }
        if (std::string fault = CheckRound(s, images, c, false); !pended || !fault.empty()) {
            std::fprintf(stderr, "%s: during the timed rounds: %s\n", name.c_str(),
                         pended ? fault.c_str() : "a buffer was not pended");
            return 1;
        }

        const double perImage = best[0] / kBuffers, copyPerImage = best[1] / kBuffers;
        const double bytes = static_cast<double>(s.imageBytes);
        std::printf("| %s | %u | %.3f | %.0f | %.2f | %.2f | %.2f | %.1f | %.1f |\n", name.c_str(), s.packets,
                    perImage * 1e3, 1 / perImage, bytes / perImage / 1e9, bytes / copyPerImage / 1e9,
                    perImage / copyPerImage, perImage * 1e9 / (s.packets + 2),
                    copyPerImage * 1e9 / s.packets);
        std::fflush(stdout);
    }
    return 0;
}
