// The QorGigEGenTL plug-in loaded with dlopen: exports, identity, host ports and its system module.
#include "GenTLConsumer.h"
#include "GenTLCustom.h"
#include "GenTLExpect.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace qorcam::testing {
namespace {

constexpr uint16_t kHostPorts[] = {3957, 3953};

// The local ports of this process's IPv4 UDP sockets (0 for an unbound one).
std::multiset<uint16_t> OwnUdpPorts() {
    std::multiset<uint16_t> ports;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return ports;
    while (dirent* entry = readdir(dir)) {
        const int fd = atoi(entry->d_name);
        if (fd <= 2 || fd == dirfd(dir)) continue;
        int type = 0;
        socklen_t length = sizeof type;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM) continue;
        sockaddr_in address{};
        length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            address.sin_family != AF_INET)
            continue;
        ports.insert(ntohs(address.sin_port));
    }
    closedir(dir);
    return ports;
}

// Whether a UDP port on this host is taken (by this process or any other).
bool PortTaken(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const bool taken =
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
    close(fd);
    return taken;
}

// The receive-queue bytes of every UDP socket on this host bound to `port` (from /proc/net/udp).
std::vector<unsigned long> ReceiveQueues(uint16_t port) {
    std::vector<unsigned long> queues;
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queuesText;
        fields >> slot >> local >> remote >> state >> queuesText;
        if (std::stoul(local.substr(local.find(':') + 1), nullptr, 16) != port) continue;
        queues.push_back(std::stoul(queuesText.substr(queuesText.find(':') + 1), nullptr, 16));
    }
    return queues;
}

class GigEProducer : public ::testing::Test {
protected:
    void SetUp() override { gc = std::make_unique<GenTLConsumer>(GIGE_PRODUCER_PATH); }

    void ExpectError(GC_ERROR result, GC_ERROR code, const std::string& text) {
        ExpectLastError(*gc, result, code, text);
    }

    std::unique_ptr<GenTLConsumer> gc;
};

TEST_F(GigEProducer, HoldsTheHostPortsFromFirstInitToLastClose) {
    const size_t before = OwnUdpPorts().size();
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
    // Two sockets, however often GCInitLib is called; each port is held (by this process, or by
    // another copy of the producer running beside the test).
    EXPECT_EQ(OwnUdpPorts().size(), before + 2);
    for (uint16_t port : kHostPorts)
        EXPECT_TRUE(OwnUdpPorts().count(port) != 0 || PortTaken(port)) << port;

    // When this process holds the port (and not another copy of the producer, which may end at
    // any moment), the held port answers nothing and queues nothing.
    if (OwnUdpPorts().count(kHostPorts[0]) != 0) {
        // The held port answers nothing: a datagram sent to it draws no port-unreachable.
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(kHostPorts[0]);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
        ASSERT_EQ(send(fd, "x", 1, 0), 1);
        timeval wait{0, 200000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char answer[4];
        EXPECT_EQ(recv(fd, answer, sizeof answer, 0), -1);
        EXPECT_NE(errno, ECONNREFUSED);
        close(fd);
        // ... and queues nothing: the traffic is the GigE service's, not the socket's.
        const std::vector<unsigned long> queues = ReceiveQueues(kHostPorts[0]);
        EXPECT_FALSE(queues.empty());
        for (unsigned long bytes : queues)
            EXPECT_EQ(bytes, 0u);
    }

    ASSERT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(OwnUdpPorts().size(), before + 2);
    ASSERT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    const std::multiset<uint16_t> after = OwnUdpPorts();
    EXPECT_EQ(after.size(), before);
    for (uint16_t port : kHostPorts)
        EXPECT_EQ(after.count(port), 0u);
    // An unmatched close changes nothing.
    EXPECT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(OwnUdpPorts().size(), before);
}

TEST_F(GigEProducer, IdentityThroughEveryLibraryInfoCommand) {
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
    TL_HANDLE tl = nullptr;
    ASSERT_EQ(gc->TLOpen(&tl), GC_ERR_SUCCESS);
    ExpectLibraryInfo(*gc, tl,
                      {{TL_INFO_ID, "QorGigEGenTL.cti"},
                       {TL_INFO_MODEL, "QorGigEGenTL"},
                       {TL_INFO_VERSION, "1.1.6.0"},
                       {TL_INFO_TLTYPE, "GEV"},
                       {TL_INFO_NAME, "QorGigEGenTL.cti"},
                       {TL_INFO_DISPLAYNAME, "GenTL GigEVision"}});
    const std::string vendor = gc->InfoText(
        [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->GCGetInfo(TL_INFO_VENDOR, t, b, s); });
    EXPECT_FALSE(vendor.empty());
    const std::string path = gc->InfoText(
        [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->TLGetInfo(tl, TL_INFO_PATHNAME, t, b, s); });
    char real[4096];
    ASSERT_NE(realpath(GIGE_PRODUCER_PATH, real), nullptr);
    char reported[4096];
    ASSERT_NE(realpath(path.c_str(), reported), nullptr);
    EXPECT_STREQ(reported, real);

    // "GEV" needs 4 bytes.
    char text[8];
    size_t size = 3;
    ExpectError(gc->GCGetInfo(TL_INFO_TLTYPE, nullptr, text, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid Buffer Size");
    EXPECT_EQ(gc->TLClose(tl), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
}

TEST_F(GigEProducer, SystemModuleListsTheServiceInterface) {
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
    TL_HANDLE tl = nullptr;
    ASSERT_EQ(gc->TLOpen(&tl), GC_ERR_SUCCESS);
    uint32_t count = 0;
    ASSERT_EQ(gc->TLGetNumInterfaces(tl, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    char id[64];
    size_t size = sizeof id;
    ASSERT_EQ(gc->TLGetInterfaceID(tl, 0, id, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(id, "QORGIGE::\\\\.\\QORGIGE");
    EXPECT_EQ(size, std::strlen(id) + 1);
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->TLGetInterfaceInfo(tl, id, INTERFACE_INFO_DISPLAYNAME, t, b, s);
    }),
              "Interface : \\\\.\\QORGIGE");
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->TLGetInterfaceInfo(tl, id, INTERFACE_INFO_TLTYPE, t, b, s);
    }),
              "GEV");
    // The system module's port: texts and flags, each with its type and size.
    struct PortCase {
        PORT_INFO_CMD cmd;
        const char* text; // null: a BOOL8 flag
        bool8_t flag;
    };
    const PortCase portCases[] = {
        {PORT_INFO_ID, "0", 0},
        {PORT_INFO_MODEL, "QorGigEGenTL", 0},
        {PORT_INFO_TLTYPE, "GEV", 0},
        {PORT_INFO_MODULE, "TLSystem", 0},
        {PORT_INFO_LITTLE_ENDIAN, nullptr, 1},
        {PORT_INFO_BIG_ENDIAN, nullptr, 0},
        {PORT_INFO_ACCESS_READ, nullptr, 0},
        {PORT_INFO_ACCESS_WRITE, nullptr, 0},
        {PORT_INFO_ACCESS_NA, nullptr, 0},
        {PORT_INFO_ACCESS_NI, nullptr, 0},
        {PORT_INFO_VERSION, "1.1.6.0", 0},
        {PORT_INFO_PORTNAME, "TLPort", 0},
    };
    for (const PortCase& c : portCases) {
        SCOPED_TRACE(c.cmd);
        if (c.text) {
            EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
                return gc->GCGetPortInfo(tl, c.cmd, t, b, s);
            }),
                      c.text);
        } else {
            bool8_t flag = 9;
            size_t flagSize = 0;
            INFO_DATATYPE type = -1;
            ASSERT_EQ(gc->GCGetPortInfo(tl, c.cmd, &type, nullptr, &flagSize), GC_ERR_SUCCESS);
            EXPECT_EQ(flagSize, 1u);
            ASSERT_EQ(gc->GCGetPortInfo(tl, c.cmd, &type, &flag, &flagSize), GC_ERR_SUCCESS);
            EXPECT_EQ(type, INFO_DATATYPE_BOOL8);
            EXPECT_EQ(flag, c.flag);
        }
    }

    // The service's device is not there to open: the interface fails as with a missing service.
    IF_HANDLE iface = nullptr;
    ExpectError(gc->TLOpenInterface(tl, "qorgige::\\\\.\\qorgige", &iface), GC_ERR_ERROR, "CreateFile Error");
    EXPECT_EQ(iface, nullptr);
    ExpectError(gc->TLOpenInterface(tl, "QORGIGE::\\\\.\\OTHER", &iface), GC_ERR_ERROR,
                "Invalid interface name QORGIGE::\\\\.\\OTHER");

    // Several system modules at once, each its own.
    TL_HANDLE second = nullptr;
    ASSERT_EQ(gc->TLOpen(&second), GC_ERR_SUCCESS);
    EXPECT_NE(second, tl);
    EXPECT_EQ(gc->TLClose(second), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->TLClose(tl), GC_ERR_SUCCESS);
    ExpectError(gc->TLClose(tl), GC_ERR_ERROR, "Invalid Device Handle");
    EXPECT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->LastError().first, GC_ERR_NO_DATA);
}

TEST(GigEProducerBeside, TwoProducersInOneProcessKeepTheirOwnState) {
    // Loaded globally, both export the same names; each must still answer for itself.
    GenTLConsumer other(FAKE_PRODUCER_PATH, RTLD_NOW | RTLD_GLOBAL);
    GenTLConsumer gige(GIGE_PRODUCER_PATH, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_EQ(other.GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(gige.GCInitLib(), GC_ERR_SUCCESS);
    auto id = [](GenTLConsumer& gc) {
        return gc.InfoText(
            [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc.GCGetInfo(TL_INFO_ID, t, b, s); });
    };
    EXPECT_EQ(id(gige), "QorGigEGenTL.cti");
    EXPECT_EQ(id(other), "FakeGenTL.cti");

    // A handle of one producer is a garbage handle to the other.
    TL_HANDLE gigeTl = nullptr;
    ASSERT_EQ(gige.TLOpen(&gigeTl), GC_ERR_SUCCESS);
    uint32_t count = 0;
    EXPECT_EQ(other.TLGetNumInterfaces(gigeTl, &count), GC_ERR_ERROR);
    EXPECT_EQ(other.LastError().second, "Invalid Device Handle");
    EXPECT_EQ(gige.LastError().first, GC_ERR_NO_DATA);
    EXPECT_EQ(gige.TLClose(gigeTl), GC_ERR_SUCCESS);

    EXPECT_EQ(gige.GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(other.GCCloseLib(), GC_ERR_SUCCESS);
}

} // namespace
} // namespace qorcam::testing
