// A scriptable GigE Vision peer for the rig: what the emulator lacks (packet resend, events, a DHCP client).
//
//   rig_camera_peer camera <mac aa:bb:..> <ip> <ready file>
//     answers discovery and register access on 3956 and acts on its own
//     registers: 0xF010 = n streams one block of n payload packets to the
//     stream channel (0x0D00, 0x0D18), leaving packet 3 out until it is asked
//     for again; 0xF014 counts the resend requests served; 0xF020 = 1 sends one
//     event twice (same id) from port 4000 to the message channel (0x0B00,
//     0x0B10); 0xF024 counts the event acknowledges.
//     The library can open it too: 0x0200 holds the URL of a small description in its memory (read with
//     READMEM), with Width (0xF100), Height (0xF104), PixelFormat (0xF108, Mono8), PayloadSize (0xF10C),
//     TLParamsLocked (0xF110), AcquisitionStart (0xF114) and AcquisitionStop (0xF118). While acquiring it
//     streams Mono8 frames without pause at 0xF11C frames a second; byte k of the frame with block id b
//     is PatternByte(b, k). On first send it drops 0xF120 in 10000 of its payload and trailer packets
//     (leaders always go out); packets asked for again with PACKETRESEND are always sent, for any of the
//     last 256 blocks. 0xF124 counts the frames sent.
//   rig_camera_peer dhcp <interface> <mac> <seconds>
//     runs one DHCP exchange (DISCOVER, REQUEST) and prints "offer a.b.c.d"
//     and "ack a.b.c.d" as the answers arrive.
// Every loop is bounded; the program ends by itself after a few minutes.
#include "RigPattern.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, uint16_t(v >> 16));
    Put16(p + 2, uint16_t(v));
}

bool ParseMac(const char* text, uint8_t mac[6]) {
    unsigned m[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]) != 6) return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(m[i]);
    return true;
}

int UdpSocket(uint16_t port, const char* device = nullptr) {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    if (device)
        ::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, device, static_cast<socklen_t>(std::strlen(device)));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

void SendTo(int s, const std::vector<uint8_t>& data, uint32_t ip, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ip;
    to.sin_port = htons(port);
    ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::vector<uint8_t> Ack(uint16_t answer, uint16_t id, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> a(8 + payload.size(), 0);
    Put16(a.data() + 2, answer);
    Put16(a.data() + 4, static_cast<uint16_t>(payload.size()));
    Put16(a.data() + 6, id);
    std::memcpy(a.data() + 8, payload.data(), payload.size());
    return a;
}

constexpr uint32_t kDescriptionAddress = 0x10000;
constexpr uint32_t kWidth = 0xF100, kHeight = 0xF104, kPixelFormat = 0xF108, kPayloadSize = 0xF10C,
                   kParamsLocked = 0xF110, kAcquisitionStart = 0xF114, kAcquisitionStop = 0xF118,
                   kFrameRate = 0xF11C, kLossPer10000 = 0xF120, kFramesSent = 0xF124;

std::string IntReg(const char* name, uint32_t address, const char* access) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "  <IntReg Name=\"%s\">\n    <Address>0x%X</Address>\n    <Length>4</Length>\n"
                  "    <AccessMode>%s</AccessMode>\n    <pPort>Device</pPort>\n    <Sign>Unsigned</Sign>\n"
                  "    <Endianess>BigEndian</Endianess>\n  </IntReg>\n",
                  name, address, access);
    return text;
}

std::string Feature(const char* name, const char* reg, uint32_t min, uint32_t max) {
    return std::string("  <Integer Name=\"") + name + "\" NameSpace=\"Standard\">\n    <pValue>" + reg +
           "</pValue>\n    <Min>" + std::to_string(min) + "</Min>\n    <Max>" + std::to_string(max) +
           "</Max>\n  </Integer>\n";
}

std::string Description() {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<RegisterDescription ModelName=\"Peer\" VendorName=\"QorCamRig\" "
                       "StandardNameSpace=\"None\" SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" "
                       "SchemaSubMinorVersion=\"0\" MajorVersion=\"1\" MinorVersion=\"0\" "
                       "SubMinorVersion=\"0\" ProductGuid=\"3C1D9A52-7E40-4B11-8F2A-6A0B5C4D3E21\" "
                       "VersionGuid=\"3C1D9A52-7E40-4B11-8F2A-6A0B5C4D3E22\" "
                       "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
                       "  <Category Name=\"Root\" NameSpace=\"Standard\">\n"
                       "    <pFeature>Width</pFeature>\n    <pFeature>Height</pFeature>\n"
                       "    <pFeature>PixelFormat</pFeature>\n    <pFeature>PayloadSize</pFeature>\n"
                       "    <pFeature>AcquisitionStart</pFeature>\n    <pFeature>AcquisitionStop</pFeature>\n"
                       "  </Category>\n") +
           Feature("Width", "WidthReg", 8, 4096) + IntReg("WidthReg", kWidth, "RW") +
           Feature("Height", "HeightReg", 1, 4096) + IntReg("HeightReg", kHeight, "RW") +
           "  <Enumeration Name=\"PixelFormat\" NameSpace=\"Standard\">\n"
           "    <EnumEntry Name=\"Mono8\">\n      <Value>0x01080001</Value>\n    </EnumEntry>\n"
           "    <pValue>PixelFormatReg</pValue>\n  </Enumeration>\n" +
           IntReg("PixelFormatReg", kPixelFormat, "RW") +
           "  <Integer Name=\"PayloadSize\" NameSpace=\"Standard\">\n    <pValue>PayloadSizeReg</pValue>\n"
           "  </Integer>\n" +
           IntReg("PayloadSizeReg", kPayloadSize, "RO") + Feature("TLParamsLocked", "LockedReg", 0, 1) +
           IntReg("LockedReg", kParamsLocked, "RW") +
           "  <Command Name=\"AcquisitionStart\" NameSpace=\"Standard\">\n    <pValue>StartReg</pValue>\n"
           "    <CommandValue>1</CommandValue>\n  </Command>\n" +
           IntReg("StartReg", kAcquisitionStart, "RW") +
           "  <Command Name=\"AcquisitionStop\" NameSpace=\"Standard\">\n    <pValue>StopReg</pValue>\n"
           "    <CommandValue>1</CommandValue>\n  </Command>\n" +
           IntReg("StopReg", kAcquisitionStop, "RW") + "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n" +
           "</RegisterDescription>\n";
}

struct Camera {
    uint8_t mac[6] = {};
    uint32_t ip = 0;
    std::map<uint32_t, uint32_t> regs{{0x0A00, 0},      {0x0938, 3000}, {0x0D04, 1400},
                                      {kWidth, 320},    {kHeight, 240}, {kPixelFormat, 0x01080001},
                                      {kFrameRate, 100}};
    uint16_t blockId = 0;
    uint32_t blockPackets = 0;
    bool continuous = false; // blocks of the continuous stream (pattern by frame offset)
    bool acquiring = false;
    std::chrono::steady_clock::time_point nextFrame;
    uint64_t random = 0x9E3779B97F4A7C15ull;
    std::string memory; // the URL at 0x0200 and the description
    int gvcp = -1, stream = -1, events = -1;

    uint32_t PayloadPerPacket() { return (regs[0x0D04] & 0xFFFF) - 36; }
    uint32_t FrameBytes() { return regs[kWidth] * regs[kHeight]; }
    uint8_t Byte(uint16_t block, uint32_t packet, uint32_t i) {
        return static_cast<uint8_t>(block * 31 + packet * 7 + i);
    }
    bool DropOnFirstSend() {
        random ^= random << 13;
        random ^= random >> 7;
        random ^= random << 17;
        return random % 10000 < regs[kLossPer10000];
    }

    void SendPacket(uint8_t format, uint32_t packetId, const std::vector<uint8_t>& payload,
                    uint16_t block = 0) {
        std::vector<uint8_t> g(8);
        Put16(g.data() + 2, block ? block : blockId);
        Put32(g.data() + 4, (uint32_t(format) << 24) | packetId);
        g.insert(g.end(), payload.begin(), payload.end());
        SendTo(stream, g, htonl(regs[0x0D18]), static_cast<uint16_t>(regs[0x0D00]));
    }
    void SendPayload(uint32_t packetId, uint16_t block = 0) {
        if (!block) block = blockId;
        if (continuous) {
            const uint64_t from = uint64_t(packetId - 1) * PayloadPerPacket();
            const uint64_t n = std::min<uint64_t>(PayloadPerPacket(), FrameBytes() - from);
            std::vector<uint8_t> p(n);
            for (uint64_t i = 0; i < n; ++i)
                p[i] = qorcam::rig::PatternByte(block, from + i);
            SendPacket(3, packetId, p, block);
            return;
        }
        std::vector<uint8_t> p(PayloadPerPacket());
        for (uint32_t i = 0; i < p.size(); ++i)
            p[i] = Byte(block, packetId, i);
        SendPacket(3, packetId, p, block);
    }
    // One frame of the continuous stream; block ids run 1 to 65535 and wrap to 1.
    void StreamFrame() {
        continuous = true;
        blockId = blockId == 0xFFFF ? 1 : blockId + 1;
        blockPackets = (FrameBytes() + PayloadPerPacket() - 1) / PayloadPerPacket();
        std::vector<uint8_t> leader(36, 0);
        Put16(leader.data() + 2, 1);
        Put32(leader.data() + 12, regs[kPixelFormat]);
        Put32(leader.data() + 16, regs[kWidth]);
        Put32(leader.data() + 20, regs[kHeight]);
        SendPacket(1, 0, leader);
        for (uint32_t id = 1; id <= blockPackets; ++id)
            if (!DropOnFirstSend()) SendPayload(id);
        std::vector<uint8_t> trailer(8, 0);
        Put16(trailer.data() + 2, 1);
        if (!DropOnFirstSend()) SendPacket(2, blockPackets + 1, trailer);
        ++regs[kFramesSent];
    }
    void ReadMemory(uint32_t address, uint16_t count, std::vector<uint8_t>& out) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t a = uint64_t(address) + i;
            uint8_t b = 0;
            if (a >= 0x0200 && a < 0x0400) {
                const std::string url = "Local:rigpeer.xml;" + Hex(kDescriptionAddress) + ";" +
                                        Hex(static_cast<uint32_t>(memory.size()));
                if (a - 0x0200 < url.size()) b = static_cast<uint8_t>(url[a - 0x0200]);
            } else if (a >= kDescriptionAddress && a - kDescriptionAddress < memory.size()) {
                b = static_cast<uint8_t>(memory[a - kDescriptionAddress]);
            } else {
                b = static_cast<uint8_t>(regs[static_cast<uint32_t>(a & ~3ull)] >> (8 * (3 - (a & 3))));
            }
            out.push_back(b);
        }
    }
    static std::string Hex(uint32_t v) {
        char t[16];
        std::snprintf(t, sizeof t, "%X", v);
        return t;
    }
    void StreamBlock(uint32_t packets) {
        ++blockId;
        blockPackets = packets;
        std::vector<uint8_t> leader(36, 0);
        Put16(leader.data() + 2, 1); // image
        Put32(leader.data() + 12, 0x01080001);
        Put32(leader.data() + 16, PayloadPerPacket()); // one packet per line
        Put32(leader.data() + 20, packets);
        SendPacket(1, 0, leader);
        for (uint32_t id = 1; id <= packets; ++id)
            if (id != 3) SendPayload(id);
        std::vector<uint8_t> trailer(8, 0);
        Put16(trailer.data() + 2, 1);
        SendPacket(2, packets + 1, trailer);
    }
    void SendEventTwice() {
        std::vector<uint8_t> e(8 + 12, 0);
        e[0] = 0x42;
        e[1] = 0x01;
        Put16(e.data() + 2, 0x00C0);
        Put16(e.data() + 4, 12);
        Put16(e.data() + 6, 0x0055);
        Put16(e.data() + 10, 0x9001); // event id
        for (int i = 0; i < 2; ++i)
            SendTo(events, e, htonl(regs[0x0B10]), static_cast<uint16_t>(regs[0x0B00]));
    }

    void Command(const uint8_t* g, size_t n, const sockaddr_in& from) {
        if (n < 8 || g[0] != 0x42) return;
        const uint16_t code = Get16(g + 2), length = Get16(g + 4), id = Get16(g + 6);
        const uint8_t* p = g + 8;
        if (8 + size_t(length) > n) return;
        auto reply = [&](const std::vector<uint8_t>& a) {
            SendTo(gvcp, a, from.sin_addr.s_addr, ntohs(from.sin_port));
        };
        switch (code) {
        case 0x0002: {
            std::vector<uint8_t> d(248, 0);
            Put16(d.data(), 2);
            std::memcpy(d.data() + 10, mac, 6);
            std::memcpy(d.data() + 36, &ip, 4);
            const uint8_t mask[4] = {255, 255, 0, 0};
            std::memcpy(d.data() + 52, mask, 4);
            std::memcpy(d.data() + 72, "QorCamRig", 9);
            std::memcpy(d.data() + 104, "Peer", 4);
            reply(Ack(0x0003, id, d));
            break;
        }
        case 0x0080: {
            std::vector<uint8_t> values;
            for (size_t i = 0; i + 4 <= length; i += 4) {
                uint8_t v[4];
                Put32(v, regs[Get32(p + i)]);
                values.insert(values.end(), v, v + 4);
            }
            reply(Ack(0x0081, id, values));
            break;
        }
        case 0x0082: {
            uint16_t done = 0;
            std::vector<std::pair<uint32_t, uint32_t>> writes;
            for (size_t i = 0; i + 8 <= length; i += 8, ++done)
                writes.emplace_back(Get32(p + i), Get32(p + i + 4));
            std::vector<uint8_t> index(4, 0);
            Put16(index.data() + 2, done);
            reply(Ack(0x0083, id, index));
            for (auto [address, value] : writes) {
                if (address == kPayloadSize || address == kFramesSent) continue; // read-only
                regs[address] = value;
                if (address == 0xF010 && value > 0 && value <= 1000) {
                    continuous = false;
                    StreamBlock(value);
                }
                if (address == 0xF020) SendEventTwice();
                // A command register reads 0 again once the command has been carried out.
                if (address == kAcquisitionStart && value != 0) {
                    regs[address] = 0;
                    acquiring = true;
                    nextFrame = std::chrono::steady_clock::now();
                }
                if (address == kAcquisitionStop && value != 0) {
                    regs[address] = 0;
                    acquiring = false;
                }
                if (address == kWidth || address == kHeight) regs[kPayloadSize] = FrameBytes();
            }
            break;
        }
        case 0x0084: {
            if (length < 8) break;
            const uint32_t address = Get32(p);
            const uint16_t count = std::min<uint16_t>(Get16(p + 6), 536);
            std::vector<uint8_t> data(4);
            Put32(data.data(), address);
            ReadMemory(address, count, data);
            reply(Ack(0x0085, id, data));
            break;
        }
        case 0x0040: {
            if (length < 12) break;
            const uint16_t block = Get16(p + 2);
            // A block of the last 256 (the stream's pattern is known for any of them).
            const bool recent = continuous ? uint16_t(blockId - block) < 256 && block != 0 : block == blockId;
            if (!recent) break;
            const uint32_t first = Get32(p + 4), last = Get32(p + 8);
            ++regs[0xF014];
            for (uint32_t k = first; k <= last && k >= 1 && k <= blockPackets; ++k)
                SendPayload(k, block);
            break;
        }
        default:
            break;
        }
    }

    bool Open() {
        memory = Description();
        regs[kPayloadSize] = FrameBytes();
        gvcp = UdpSocket(3956);
        stream = UdpSocket(0);
        events = UdpSocket(4000);
        return gvcp >= 0 && stream >= 0 && events >= 0;
    }

    int Run() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
        while (std::chrono::steady_clock::now() < until) {
            int wait = 200;
            if (acquiring && regs[0x0D00] != 0 && FrameBytes() != 0 && PayloadPerPacket() < 0x10000) {
                const auto now = std::chrono::steady_clock::now();
                if (now >= nextFrame) {
                    StreamFrame();
                    const uint32_t rate = std::max<uint32_t>(1, std::min<uint32_t>(regs[kFrameRate], 1000));
                    nextFrame += std::chrono::microseconds(1000000 / rate);
                    // Behind by more than a frame (a loaded machine): no burst to catch up.
                    if (nextFrame < now) nextFrame = now;
                }
                wait = static_cast<int>(std::max<int64_t>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(nextFrame - now).count()));
                wait = std::min(wait, 200);
            }
            pollfd fds[2] = {{gvcp, POLLIN, 0}, {events, POLLIN, 0}};
            if (::poll(fds, 2, wait) <= 0) continue;
            uint8_t buffer[2048];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            if (fds[0].revents & POLLIN) {
                ssize_t n = ::recvfrom(gvcp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                                       &fromLength);
                if (n > 0) Command(buffer, static_cast<size_t>(n), from);
            }
            if (fds[1].revents & POLLIN) {
                ssize_t n = ::recv(events, buffer, sizeof buffer, 0);
                if (n >= 8 && Get16(buffer + 2) == 0x00C1 && Get16(buffer + 6) == 0x0055) ++regs[0xF024];
            }
        }
        return 0;
    }
};

int Dhcp(const char* device, const uint8_t mac[6], int seconds) {
    int s = UdpSocket(68, device);
    if (s < 0) return 3;
    auto message = [&](uint8_t type, uint32_t requested, uint32_t server) {
        std::vector<uint8_t> m(240, 0);
        m[0] = 1;
        m[1] = 1;
        m[2] = 6;
        Put32(m.data() + 4, 0x51525354);
        std::memcpy(m.data() + 28, mac, 6);
        const uint8_t magic[4] = {99, 130, 83, 99};
        std::memcpy(m.data() + 236, magic, 4);
        m.insert(m.end(), {53, 1, type});
        if (requested) {
            m.insert(m.end(), {50, 4});
            m.insert(m.end(), reinterpret_cast<uint8_t*>(&requested),
                     reinterpret_cast<uint8_t*>(&requested) + 4);
            m.insert(m.end(), {54, 4});
            m.insert(m.end(), reinterpret_cast<uint8_t*>(&server), reinterpret_cast<uint8_t*>(&server) + 4);
        }
        m.push_back(255);
        SendTo(s, m, INADDR_BROADCAST, 67);
    };
    auto answer = [&](uint8_t wanted, uint32_t* yiaddr, uint32_t* server) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{s, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            uint8_t b[1500];
            ssize_t n = ::recv(s, b, sizeof b, 0);
            if (n < 244 || b[0] != 2 || std::memcmp(b + 28, mac, 6) != 0) continue;
            for (ssize_t i = 240; i + 2 < n && b[i] != 255; i += 2 + b[i + 1])
                if (b[i] == 53 && b[i + 2] == wanted) {
                    std::memcpy(yiaddr, b + 16, 4);
                    std::memcpy(server, b + 20, 4);
                    return true;
                }
        }
        return false;
    };
    uint32_t offered = 0, server = 0, acked = 0;
    for (int attempt = 0; attempt < seconds && !offered; ++attempt) {
        message(1, 0, 0);
        if (answer(2, &offered, &server)) break;
    }
    if (!offered) return 4;
    std::printf("offer %s\n", inet_ntoa(in_addr{offered}));
    std::fflush(stdout);
    message(3, offered, server);
    if (!answer(5, &acked, &server)) return 5;
    std::printf("ack %s\n", inet_ntoa(in_addr{acked}));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::string(argv[1]) == "camera") {
        Camera c;
        if (!ParseMac(argv[2], c.mac) || inet_pton(AF_INET, argv[3], &c.ip) != 1) return 2;
        if (!c.Open()) return 3;
        FILE* ready = std::fopen(argv[4], "w"); // the ports are bound: the test may begin
        if (ready) std::fclose(ready);
        return c.Run();
    }
    if (argc >= 5 && std::string(argv[1]) == "dhcp") {
        uint8_t mac[6];
        if (!ParseMac(argv[3], mac)) return 2;
        return Dhcp(argv[2], mac, std::atoi(argv[4]));
    }
    std::fprintf(
        stderr, "usage: rig_camera_peer camera <mac> <ip> <ready file> | dhcp <interface> <mac> <seconds>\n");
    return 2;
}
