// The GigE service on the test network: ping, the adapter list, link changes, killed clients.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "NetworkRig.h"
#include "devio/DeviceHandle.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qorcam::rig {
namespace {

using namespace qorcam::gige;
using namespace std::chrono_literals;

#define REQUIRE_RIG(rig)                                                                                     \
    if (!(rig).Available()) GTEST_SKIP() << (rig).Reason()

bool Exists(const std::string& program) {
    return NetworkRig::Run("command -v " + program) == 0;
}

// Sends ICMP echo requests from inside the camera namespace (on a thread of
// our own, so the test process stays where it is) and waits for the reply.
bool EchoFromCamera(const NetworkRig& rig, size_t dataBytes) {
    bool answered = false;
    std::thread t([&] {
        int ns = ::open(("/var/run/netns/" + rig.CameraNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) return;
        ::close(ns);
        int s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (s < 0) return;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, rig.DriverAddress().c_str(), &to.sin_addr);
        for (uint16_t seq = 1; seq <= 5 && !answered; ++seq) {
            std::vector<uint8_t> request(8 + dataBytes);
            request[0] = ICMP_ECHO;
            const uint16_t id = static_cast<uint16_t>(::getpid());
            std::memcpy(&request[4], &id, 2);
            std::memcpy(&request[6], &seq, 2);
            for (size_t i = 0; i < dataBytes; ++i)
                request[8 + i] = static_cast<uint8_t>(i ^ seq);
            uint32_t sum = 0;
            for (size_t i = 0; i + 1 < request.size(); i += 2)
                sum += request[i] | (request[i + 1] << 8);
            if (request.size() & 1) sum += request.back();
            while (sum >> 16)
                sum = (sum & 0xFFFF) + (sum >> 16);
            const uint16_t checksum = static_cast<uint16_t>(~sum);
            std::memcpy(&request[2], &checksum, 2);
            ::sendto(s, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            auto until = std::chrono::steady_clock::now() + 1s;
            while (!answered && std::chrono::steady_clock::now() < until) {
                pollfd p{s, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0) continue;
                uint8_t reply[65536];
                ssize_t n = ::recv(s, reply, sizeof reply, 0);
                if (n < 20) continue;
                size_t ihl = (reply[0] & 0x0F) * 4u;
                if (static_cast<size_t>(n) != ihl + request.size()) continue;
                const uint8_t* icmp = reply + ihl;
                answered = icmp[0] == ICMP_ECHOREPLY &&
                           std::memcmp(icmp + 4, request.data() + 4, 4 + dataBytes) == 0 &&
                           std::memcmp(reply + 12, &to.sin_addr, 4) == 0;
            }
        }
        ::close(s);
    });
    t.join();
    return answered;
}

template <class F> bool WaitFor(F condition, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

TEST(GigeServiceRig, PingFromTheCameraIsAnsweredByTheService) {
    NetworkRig rig;
    REQUIRE_RIG(rig);
    std::string addresses;
    ASSERT_EQ(rig.RunIn(rig.HostNamespace(), "ip -4 addr show dev " + rig.HostInterface(), &addresses), 0);
    EXPECT_EQ(addresses.find("inet "), std::string::npos) << "the host veth has a Linux address:\n"
                                                          << addresses;

    EXPECT_TRUE(EchoFromCamera(rig, 56));
    EXPECT_TRUE(EchoFromCamera(rig, 1472)); // the largest that fits the MTU
    EXPECT_TRUE(EchoFromCamera(rig, 0));
    if (Exists("ping")) {
        std::string out;
        EXPECT_EQ(rig.RunIn(rig.CameraNamespace(), "ping -c 3 -i 0.2 -W 2 " + rig.DriverAddress(), &out), 0)
            << out;
    }
    if (Exists("tshark")) {
        // A capture on the camera side shows the service's ARP and ICMP answers well formed.
        // tshark may take seconds to start on a loaded machine, so the camera keeps asking
        // (a fresh ARP and an echo each round) until the capture has ended.
        std::string capture;
        std::atomic<bool> captured{false};
        std::thread tshark([&] {
            rig.RunIn(rig.CameraNamespace(),
                      "timeout 60 tshark -n -l -i " + rig.CameraInterface() +
                          " -a duration:3 -f 'arp or icmp'",
                      &capture);
            captured = true;
        });
        for (int round = 0; round < 200 && !captured; ++round) {
            rig.Run("ip -n " + rig.CameraNamespace() + " neigh flush dev " + rig.CameraInterface());
            EchoFromCamera(rig, 32);
            std::this_thread::sleep_for(300ms);
        }
        tshark.join();
        EXPECT_NE(capture.find("is at " + rig.HostMac()), std::string::npos) << capture;
        EXPECT_NE(capture.find("Echo (ping) reply"), std::string::npos) << capture;
        EXPECT_EQ(capture.find("Malformed"), std::string::npos) << capture;
        EXPECT_EQ(capture.find("incorrect"), std::string::npos) << capture;
    }
    EXPECT_TRUE(rig.ServiceRunning());
}

TEST(GigeServiceRig, ClientListsTheBoundAdapter) {
    NetworkRig rig;
    REQUIRE_RIG(rig);
    std::string out;
    ASSERT_EQ(rig.RunIn(rig.HostNamespace(), BinaryDir() + "/QorGigECtl nics", &out), 0) << out;
    EXPECT_NE(out.find("1 adapter(s)"), std::string::npos) << out;
    EXPECT_NE(out.find("name=" + rig.HostInterface()), std::string::npos) << out;
    EXPECT_NE(out.find("mac=" + rig.HostMac()), std::string::npos) << out;
    EXPECT_NE(out.find("ip=" + rig.DriverAddress() + " mask=255.255.0.0"), std::string::npos) << out;
    EXPECT_NE(out.find("mtu=1500"), std::string::npos) << out;
    EXPECT_TRUE(rig.CameraRunning()) << "the camera emulator is not running in " << rig.CameraNamespace();

    // The transport carries the statuses and the pending answers as they are.
    devio::DeviceHandle h;
    ASSERT_EQ(h.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
    GigeVersionInfo version{};
    uint64_t bytes = 0;
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetVersion, nullptr, 0, &version, 8, &bytes),
              devio::STATUS_SUCCESS);
    EXPECT_EQ(version.version, 10106u);
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetVersion, nullptr, 0, &version, 7), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(h.DeviceIoControl(0x2224FE, nullptr, 0, nullptr, 0), STATUS_INVALID_DEVICE_REQUEST);
    uint32_t found = 7;
    const char16_t name[] = u"QH";
    std::u16string wide(rig.HostInterface().begin(), rig.HostInterface().end());
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetAdapterAddress, wide.c_str(), (wide.size() + 1) * 2, &found, 4,
                                &bytes),
              devio::STATUS_SUCCESS);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetAdapterAddress, name, sizeof name, &found, 4),
              devio::STATUS_SUCCESS);
    EXPECT_EQ(found, 0u);
    devio::Overlapped message;
    GigeMessageRecord record{};
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetMessage, nullptr, 0, &record, sizeof record, message),
              devio::STATUS_PENDING);
    EXPECT_EQ(h.CancelIo(), devio::STATUS_SUCCESS);
    EXPECT_EQ(h.GetOverlappedResult(message, &bytes, true), STATUS_CANCELLED);
}

TEST(GigeServiceRig, LinkChangesAndRemovalAreReported) {
    NetworkRig rig;
    REQUIRE_RIG(rig);
    devio::DeviceHandle h;
    ASSERT_EQ(h.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    uint64_t bytes = 0;

    devio::Overlapped linkDown;
    ASSERT_EQ(h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &pid, 4, nullptr, 0, linkDown),
              devio::STATUS_PENDING);
    ASSERT_EQ(rig.Run("ip -n " + rig.CameraNamespace() + " link set " + rig.CameraInterface() + " down"), 0);
    ASSERT_TRUE(linkDown.CompletionEvent().Wait(5000)) << "link loss not reported";
    EXPECT_EQ(h.GetOverlappedResult(linkDown, &bytes, true), devio::STATUS_SUCCESS);

    ASSERT_EQ(rig.Run("ip -n " + rig.CameraNamespace() + " link set " + rig.CameraInterface() + " up"), 0);
    // Served again once the link is back.
    EXPECT_TRUE(WaitFor([&] { return EchoFromCamera(rig, 8); }, 5000ms));

    // The same when the service's own interface is taken down and up.
    devio::Overlapped adminDown;
    ASSERT_EQ(h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &pid, 4, nullptr, 0, adminDown),
              devio::STATUS_PENDING);
    ASSERT_EQ(rig.Run("ip -n " + rig.HostNamespace() + " link set " + rig.HostInterface() + " down"), 0);
    ASSERT_TRUE(adminDown.CompletionEvent().Wait(5000)) << "interface down not reported";
    EXPECT_EQ(h.GetOverlappedResult(adminDown, &bytes, true), devio::STATUS_SUCCESS);
    ASSERT_EQ(rig.Run("ip -n " + rig.HostNamespace() + " link set " + rig.HostInterface() + " up"), 0);
    EXPECT_TRUE(WaitFor([&] { return EchoFromCamera(rig, 8); }, 5000ms));

    devio::Overlapped removed;
    ASSERT_EQ(h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &pid, 4, nullptr, 0, removed),
              devio::STATUS_PENDING);
    ASSERT_EQ(rig.Run("ip -n " + rig.HostNamespace() + " link del " + rig.HostInterface()), 0);
    ASSERT_TRUE(removed.CompletionEvent().Wait(5000)) << "adapter removal not reported";
    EXPECT_EQ(h.GetOverlappedResult(removed, &bytes, true), STATUS_GIGE_DEVICE_LOST);
    uint32_t count = 1;
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetNicCount, nullptr, 0, &count, 4), devio::STATUS_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(rig.ServiceRunning());
}

TEST(GigeServiceRig, KilledClientLeavesTheServiceHealthyAndItsStateFreed) {
    NetworkRig rig;
    REQUIRE_RIG(rig);
    const std::string ready = rig.Root() + "/holder-ready";
    auto holder = os::Process::Spawn(BinaryDir() + "/rig_client_holder", {"33001", "239.192.1.7", ready});
    ASSERT_TRUE(holder);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(ready); }, 5000ms))
        << "holder did not get its state";

    devio::DeviceHandle h;
    ASSERT_EQ(h.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    GigePortRecord port{pid, 33001, {}};
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_PortAlloc, &port, sizeof port, nullptr, 0),
              STATUS_INVALID_PARAMETER);

    ASSERT_TRUE(holder->Kill(SIGKILL));
    holder->Wait(5000);
    // Its handle closes with it: the registration frees its port and group.
    EXPECT_TRUE(WaitFor(
        [&] {
            return h.DeviceIoControl(IOCTL_GIGE_PortAlloc, &port, sizeof port, nullptr, 0) == STATUS_SUCCESS;
        },
        5000ms));
    in_addr group{};
    inet_pton(AF_INET, "239.192.1.7", &group);
    GigeMulticastForm multicast{pid, 33002, group.s_addr};
    EXPECT_EQ(h.DeviceIoControl(IOCTL_GIGE_AddMultiCast, &multicast, sizeof multicast, nullptr, 0),
              devio::STATUS_SUCCESS);
    EXPECT_TRUE(rig.ServiceRunning());
    EXPECT_TRUE(EchoFromCamera(rig, 8));
}

TEST(GigeServiceRig, ClientPrintsTheServicesMessages) {
    NetworkRig rig;
    REQUIRE_RIG(rig);
    std::string out;
    std::atomic<bool> done{false};
    std::thread client([&] {
        rig.RunIn(rig.HostNamespace(), BinaryDir() + "/QorGigECtl messages 6 8000", &out);
        done = true;
    });
    // Messages are on only once the client has asked for them: ARP until it has six, enough
    // for a request the service answers to show both its start and its response.
    for (int i = 0; i < 30 && !done; ++i) {
        rig.Run("ip -n " + rig.CameraNamespace() + " neigh flush dev " + rig.CameraInterface());
        EchoFromCamera(rig, 8);
        std::this_thread::sleep_for(200ms);
    }
    client.join();
    EXPECT_NE(out.find("message adapter="), std::string::npos) << out;
    EXPECT_NE(out.find(" ARP Proc Start"), std::string::npos) << out;
    EXPECT_NE(out.find(" ARP Response"), std::string::npos) << out;
}

TEST(GigeServiceRig, StopsCleanlyWithRequestsPending) {
    NetworkRig rig;
    REQUIRE_RIG(rig);
    devio::DeviceHandle h;
    ASSERT_EQ(h.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    devio::Overlapped registration, message;
    GigeMessageRecord record{};
    ASSERT_EQ(h.DeviceIoControl(IOCTL_GIGE_RegisterProcess, &pid, 4, nullptr, 0, registration),
              devio::STATUS_PENDING);
    ASSERT_EQ(h.DeviceIoControl(IOCTL_GIGE_GetMessage, nullptr, 0, &record, sizeof record, message),
              devio::STATUS_PENDING);
    EXPECT_EQ(rig.StopService(), std::optional<int>(0));
    ASSERT_TRUE(registration.CompletionEvent().Wait(5000));
    ASSERT_TRUE(message.CompletionEvent().Wait(5000));
    EXPECT_FALSE(devio::NtSuccess(registration.Status()));
    EXPECT_FALSE(devio::NtSuccess(message.Status()));
    devio::DeviceHandle again;
    EXPECT_NE(again.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
}

} // namespace
} // namespace qorcam::rig
