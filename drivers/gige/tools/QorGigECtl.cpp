// QorGigECtl: lists the GigE service's adapters and prints its trace messages.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "devio/DeviceHandle.h"
#include "net/NetlinkMonitor.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace qorcam;
using namespace qorcam::gige;

namespace {

int Usage() {
    std::fprintf(stderr, "usage: QorGigECtl version\n"
                         "       QorGigECtl nics\n"
                         "       QorGigECtl messages [count] [timeout-ms]\n");
    return 2;
}

std::string Narrow(const char16_t* text, size_t room) {
    std::string s;
    for (size_t i = 0; i < room && text[i]; ++i)
        s += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return s;
}

std::string Dotted(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

int Version(devio::DeviceHandle& h) {
    GigeVersionInfo v{};
    uint64_t bytes = 0;
    auto s = h.DeviceIoControl(IOCTL_GIGE_GetVersion, nullptr, 0, &v, sizeof v, &bytes);
    if (s != devio::STATUS_SUCCESS) {
        std::fprintf(stderr, "GetVersion failed: 0x%08X\n", s);
        return 1;
    }
    std::printf("version %u\n", v.version);
    return 0;
}

int Nics(devio::DeviceHandle& h) {
    uint32_t count = 0;
    auto s = h.DeviceIoControl(IOCTL_GIGE_GetNicCount, nullptr, 0, &count, sizeof count);
    if (s != devio::STATUS_SUCCESS) {
        std::fprintf(stderr, "GetNicCount failed: 0x%08X\n", s);
        return 1;
    }
    std::vector<NicInfoRecord> records(count + 1);
    uint32_t asked = static_cast<uint32_t>(records.size());
    uint64_t bytes = 0;
    s = h.DeviceIoControl(IOCTL_GIGE_GetNicList, &asked, sizeof asked, records.data(),
                          records.size() * sizeof(NicInfoRecord), &bytes);
    if (s != devio::STATUS_SUCCESS && s != 0x801C0001) {
        std::fprintf(stderr, "GetNicList failed: 0x%08X\n", s);
        return 1;
    }
    // The service's record has no MTU; the system tells it by the adapter's name.
    net::NetlinkMonitor netlink;
    std::vector<net::AdapterInfo> system;
    if (netlink.Open(false)) system = netlink.ListAdapters().value_or(std::vector<net::AdapterInfo>{});
    std::printf("%u adapter(s)\n", count);
    for (size_t i = 0; i < bytes / sizeof(NicInfoRecord) && i < records.size(); ++i) {
        const auto& r = records[i];
        std::string name = Narrow(r.shortName, kAdapterNameChars);
        long mtu = -1;
        for (const auto& a : system)
            if (a.name == name) mtu = a.mtu;
        std::printf("adapter %u name=%s display=%s mac=%02x:%02x:%02x:%02x:%02x:%02x ip=%s mask=%s mtu=%ld\n",
                    r.adapterNumber, name.c_str(), Narrow(r.displayName, kDisplayNameChars).c_str(), r.mac[0],
                    r.mac[1], r.mac[2], r.mac[3], r.mac[4], r.mac[5], Dotted(r.ip).c_str(),
                    Dotted(r.mask).c_str(), mtu);
    }
    return 0;
}

int Messages(devio::DeviceHandle& h, long count, long timeoutMs) {
    uint32_t level = 1;
    auto s = h.DeviceIoControl(IOCTL_GIGE_SetMessageEnable, &level, sizeof level, nullptr, 0);
    if (s != devio::STATUS_SUCCESS) {
        std::fprintf(stderr, "SetMessageEnable failed: 0x%08X\n", s);
        return 1;
    }
    // The service drops a message when no request waits for it, so several
    // wait at once; it completes them oldest first.
    struct Slot {
        devio::Overlapped overlapped;
        GigeMessageRecord record{};
    };
    constexpr size_t kSlots = 8;
    std::vector<Slot> slots(kSlots);
    for (auto& slot : slots) {
        s = h.DeviceIoControl(IOCTL_GIGE_GetMessage, nullptr, 0, &slot.record, sizeof slot.record,
                              slot.overlapped);
        if (s != devio::STATUS_PENDING) {
            std::fprintf(stderr, "GetMessage failed: 0x%08X\n", s);
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (long n = 0, i = 0; count <= 0 || n < count; ++n, i = (i + 1) % kSlots) {
        Slot& slot = slots[i];
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !slot.overlapped.CompletionEvent().Wait(static_cast<uint32_t>(left.count())))
            break;
        uint64_t bytes = 0;
        s = h.GetOverlappedResult(slot.overlapped, &bytes, true);
        if (s != devio::STATUS_SUCCESS) {
            std::fprintf(stderr, "GetMessage failed: 0x%08X\n", s);
            return 1;
        }
        std::printf("message adapter=%08x %s\n", slot.record.adapterWord,
                    Narrow(slot.record.text, sizeof slot.record.text / sizeof slot.record.text[0]).c_str());
        std::fflush(stdout);
        slot.record = {};
        s = h.DeviceIoControl(IOCTL_GIGE_GetMessage, nullptr, 0, &slot.record, sizeof slot.record,
                              slot.overlapped);
        if (s != devio::STATUS_PENDING && s != devio::STATUS_SUCCESS) {
            std::fprintf(stderr, "GetMessage failed: 0x%08X\n", s);
            return 1;
        }
    }
    h.Close(); // cancels what still waits
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    devio::DeviceHandle h;
    auto s = h.Open("\\\\.\\QORGIGE");
    if (s != devio::STATUS_SUCCESS) {
        std::fprintf(stderr, "GigE Driver Open Error (0x%08X)\n", s);
        return 1;
    }
    std::string command = argv[1];
    if (command == "version") return Version(h);
    if (command == "nics") return Nics(h);
    if (command == "messages")
        return Messages(h, argc > 2 ? std::atol(argv[2]) : 0, argc > 3 ? std::atol(argv[3]) : 10000);
    return Usage();
}
