// The service's DHCP client and server against Debian's standard ones: udhcpd serving the
// service's adapter, busybox udhcpc taking an address from the service.
#include "NetworkRig.h"
#include "RigClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qorcam::rig {
namespace {

#define REQUIRE_RIG(rig)                                                                                     \
    if (!(rig).Available()) GTEST_SKIP() << (rig).Reason()

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// "a.b.c" of the rig's dotted addresses: the /16 both ends share, with its third byte.
std::string Prefix(const std::string& dotted) {
    return dotted.substr(0, dotted.rfind('.'));
}

TEST(GigeDhcpRig, ServiceTakesAndRenewsALeaseFromUdhcpd) {
    if (!std::filesystem::exists("/usr/sbin/udhcpd") && !std::filesystem::exists("/bin/busybox"))
        GTEST_SKIP() << "no udhcpd here (Debian packages udhcpd or busybox)";
    NetworkRig::Options o;
    o.startCamera = false;
    o.dhcp = 0; // the service's own adapter takes its address from a DHCP server
    NetworkRig rig(o);
    REQUIRE_RIG(rig);

    // A standard server: it leaves siaddr 0 and names itself in option 54.
    const std::string prefix = Prefix(rig.CameraAddress());
    const std::string conf = rig.Root() + "/udhcpd.conf", log = rig.Root() + "/udhcpd.log";
    {
        std::ofstream c(conf);
        c << "start " << prefix << ".100\nend " << prefix << ".120\ninterface " << rig.CameraInterface()
          << "\nlease_file " << rig.Root() << "/udhcpd.leases\npidfile " << rig.Root()
          << "/udhcpd.pid\nmax_leases 21\nopt subnet 255.255.0.0\nopt lease 6\n";
    }
    std::ofstream(rig.Root() + "/udhcpd.leases").close();
    const std::string server =
        std::filesystem::exists("/usr/sbin/udhcpd") ? "/usr/sbin/udhcpd" : "/bin/busybox udhcpd";
    ASSERT_GT(rig.SpawnInCamera("/bin/sh", {"-c", "exec " + server + " -f " + conf + " >" + log + " 2>&1"}),
              0);

    // Obtained: the adapter shows the leased address and the server's mask.
    std::string nics;
    auto leased = [&] {
        nics.clear();
        rig.RunIn(rig.HostNamespace(), BinaryDir() + "/QorGigECtl nics", &nics);
        return nics.find("ip=" + prefix + ".1") != std::string::npos &&
               nics.find("mask=255.255.0.0") != std::string::npos;
    };
    ASSERT_TRUE(WaitFor(leased, 30000ms)) << nics << "\n" << ReadFile(log);
    EXPECT_GE(Count(ReadFile(log), "sending ACK"), 1u);

    // Renewed: a second acknowledge before the 6 s lease runs out (renewal at two thirds).
    EXPECT_TRUE(WaitFor([&] { return Count(ReadFile(log), "sending ACK") >= 2; }, 20000ms)) << ReadFile(log);
    EXPECT_TRUE(leased()) << nics;
}

TEST(GigeDhcpRig, UdhcpcObtainsRenewsAndReleasesAtTheService) {
    if (!std::filesystem::exists("/bin/busybox")) GTEST_SKIP() << "no busybox here";
    NetworkRig::Options o;
    o.startCamera = false; // the service's own adapter serves addresses (DHCP 1)
    NetworkRig rig(o);
    REQUIRE_RIG(rig);

    // udhcpc's script applies the address, as a camera would, and only then records
    // the event: a record seen by the test means the address is in place.
    const std::string events = rig.Root() + "/udhcpc.events", script = rig.Root() + "/udhcpc.sh";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\ncase \"$1\" in\n"
          << "bound|renew) ip addr flush dev \"$interface\"; ip addr add \"$ip/$mask\" dev \"$interface\";;\n"
          << "deconfig) ip addr flush dev \"$interface\";;\nesac\n"
          << "echo \"$1 ip=$ip subnet=$subnet serverid=$serverid\" >>" << events << "\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string pidFile = rig.Root() + "/udhcpc.pid";
    // The service waits about 3 s after binding before it serves; udhcpc keeps asking.
    const int pid = rig.SpawnInCamera("/bin/busybox", {"udhcpc", "-f", "-i", rig.CameraInterface(), "-s",
                                                       script, "-p", pidFile, "-t", "30", "-T", "1"});
    ASSERT_GT(pid, 0);

    // Obtained: an address in the service's range, under a mask that reaches the service.
    ASSERT_TRUE(WaitFor([&] { return ReadFile(events).find("bound ") != std::string::npos; }, 40000ms))
        << ReadFile(events);
    const std::string text = ReadFile(events);
    const std::string bound = text.substr(text.find("bound "));
    EXPECT_NE(bound.find("ip=169.254."), std::string::npos) << bound;
    EXPECT_NE(bound.find("subnet=255.255.0.0"), std::string::npos) << bound;
    EXPECT_NE(bound.find("serverid=" + rig.DriverAddress()), std::string::npos) << bound;
    const std::string address =
        bound.substr(bound.find("ip=") + 3, bound.find(' ', bound.find("ip=")) - bound.find("ip=") - 3);
    // The camera reaches the service at its address now.
    std::string ping;
    EXPECT_EQ(rig.RunIn(rig.CameraNamespace(), "ping -c 1 -W 5 " + rig.DriverAddress(), &ping), 0) << ping;

    // Renewed: SIGUSR1 makes udhcpc renew with the server that gave the lease.
    ASSERT_EQ(NetworkRig::Run("kill -USR1 " + std::to_string(pid)), 0);
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(events).find("renew ip=" + address) != std::string::npos; }, 15000ms))
        << ReadFile(events);

    // Released: SIGUSR2 sends a release; the service forgets the lease, so the
    // address is no longer the camera's in the service's list.
    Client c(rig);
    ASSERT_TRUE(c.Open());
    const uint32_t ip = Address(address);
    GigeDeviceLink link{};
    EXPECT_EQ(c.h.DeviceIoControl(IOCTL_GIGE_GetDeviceInfo, &ip, 4, &link, sizeof link), 0u);
    ASSERT_EQ(NetworkRig::Run("kill -USR2 " + std::to_string(pid)), 0);
    EXPECT_TRUE(WaitFor([&] { return Count(ReadFile(events), "deconfig") >= 2; }, 15000ms))
        << ReadFile(events);
    // A camera that asks again is served again.
    ASSERT_EQ(NetworkRig::Run("kill -USR1 " + std::to_string(pid)), 0);
    EXPECT_TRUE(WaitFor([&] { return Count(ReadFile(events), "bound ") >= 2; }, 20000ms)) << ReadFile(events);
}

} // namespace
} // namespace qorcam::rig
