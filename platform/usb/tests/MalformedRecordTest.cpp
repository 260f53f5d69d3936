// Tests of malformed records on a device socket: the camera drops the sender and serves on; the host gives
// the device up.
#include "TestSupport.h"

#include "usb/SimProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

namespace qorcam::usb::test {
namespace {

using sim::RecordHeader;
using sim::RecordType;

int ConnectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::uint8_t> Record(std::uint16_t type, std::uint32_t bodyLength, std::vector<std::uint8_t> body,
                                 std::uint32_t magic = sim::kRecordMagic, std::uint16_t flags = 0) {
    std::vector<std::uint8_t> bytes;
    Put32(bytes, magic);
    Put16(bytes, type);
    Put16(bytes, flags);
    Put32(bytes, bodyLength);
    Put64(bytes, 7);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

/// True when the peer closes the connection within timeoutMs (answers before
/// that are read and dropped).
bool PeerCloses(int fd, int timeoutMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t sink[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            const ssize_t got = ::recv(fd, sink, sizeof(sink), 0);
            if (got <= 0) return true;
        }
    }
    return false;
}

class MalformedRecordTest : public UsbRootFixture {};

TEST_F(MalformedRecordTest, TheCameraDropsTheSenderAndServesOn) {
    StartCamera("cam");
    VirtualBus bus;
    const std::string path = bus.Folder() + "/cam.sock";
    const auto control = static_cast<std::uint16_t>(RecordType::Control);
    const auto bulkOut = static_cast<std::uint16_t>(RecordType::BulkOut);
    const auto bulkIn = static_cast<std::uint16_t>(RecordType::BulkIn);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"wrong magic", Record(bulkIn, 8, {0x81, 0, 0, 0, 64, 0, 0, 0}, 0x12345678)},
        {"flags set", Record(bulkIn, 8, {0x81, 0, 0, 0, 64, 0, 0, 0}, sim::kRecordMagic, 1)},
        {"unknown type", Record(0x77, 0, {})},
        {"a completion sent to the device", Record(0x101, 8, {0, 0, 0, 0, 0, 0, 0, 0})},
        {"body length far beyond any transfer", Record(bulkOut, 0xFFFFFFF0u, {})},
        {"bulk read with a long body", Record(bulkIn, 9, {0x81, 0, 0, 0, 64, 0, 0, 0, 0})},
        {"bulk write whose length disagrees with its data",
         Record(bulkOut, 8 + 4, {0x01, 0, 0, 0, 40, 0, 0, 0, 1, 2, 3, 4})},
        {"control read carrying data", Record(control, 12, {0x80, 6, 0, 1, 0, 0, 18, 0, 0, 0, 1, 2})},
        {"control write short of its data", Record(control, 10, {0x00, 9, 1, 0, 0, 0, 4, 0, 0, 0})},
        {"empty simulation command", Record(static_cast<std::uint16_t>(RecordType::SimCommand), 0, {})},
        {"claim with a body", Record(static_cast<std::uint16_t>(RecordType::Claim), 2, {0, 0})},
    };
    for (const auto& test : cases) {
        const int fd = ConnectTo(path);
        ASSERT_GE(fd, 0);
        // The first host claims, so a dropped host must also give the claim back.
        const auto claim = Record(static_cast<std::uint16_t>(RecordType::Claim), 0, {});
        ASSERT_EQ(::send(fd, claim.data(), claim.size(), MSG_NOSIGNAL), static_cast<ssize_t>(claim.size()));
        ::send(fd, test.bytes.data(), test.bytes.size(), MSG_NOSIGNAL);
        EXPECT_TRUE(PeerCloses(fd)) << test.what;
        ::close(fd);
    }
    // Still on the bus, and a proper host gets the claim and its answers.
    EXPECT_EQ(bus.Enumerate(), std::vector<std::string>{"cam"});
    auto device = bus.OpenVirtual("cam");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(WaitFor([&] { return device->Claim() == Status::Success; }));
    GenCp gencp(*device, {0x01, 0x81, 0x82, 0x83});
    EXPECT_EQ(gencp.ReadString(kAbrmModel), "QorU3vSim");
}

/// A device of our own making on the bus, answering each request as told.
class FakeDevice {
public:
    using Answer = std::function<std::vector<std::uint8_t>(const RecordHeader& request)>;

    FakeDevice(const std::string& folder, Answer answer) : answer_(std::move(answer)) {
        lock_ = ::open((folder + "/fake.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ::flock(lock_, LOCK_EX);
        listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_ = folder + "/fake.sock";
        ::unlink(path_.c_str());
        const std::string& path = path_;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        ::bind(listen_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        ::listen(listen_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeDevice() {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
        ::unlink(path_.c_str());
        ::close(lock_);
    }

private:
    void Serve() {
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        RecordHeader header;
        while (::recv(fd, &header, sizeof(header), MSG_WAITALL) == sizeof(header)) {
            std::vector<std::uint8_t> body(header.bodyLength);
            if (!body.empty() &&
                ::recv(fd, body.data(), body.size(), MSG_WAITALL) != static_cast<ssize_t>(body.size()))
                break;
            const auto answer = answer_(header);
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    }

    Answer answer_;
    std::string path_;
    int lock_ = -1;
    int listen_ = -1;
    std::thread thread_;
};

std::vector<std::uint8_t> Completion(std::uint64_t tag, std::uint32_t status, std::uint32_t length,
                                     std::uint32_t dataBytes) {
    std::vector<std::uint8_t> bytes;
    Put32(bytes, sim::kRecordMagic);
    Put16(bytes, static_cast<std::uint16_t>(RecordType::Completion));
    Put16(bytes, 0);
    Put32(bytes, 8 + dataBytes);
    Put64(bytes, tag);
    Put32(bytes, status);
    Put32(bytes, length);
    bytes.resize(bytes.size() + dataBytes, 0xAB);
    return bytes;
}

TEST_F(MalformedRecordTest, TheHostGivesUpADeviceThatBreaksTheProtocol) {
    struct Case {
        const char* what;
        FakeDevice::Answer answer;
        Status expected;
        bool removed;
    };
    const Case cases[] = {
        {"more data than the transfer asked for",
         [](const RecordHeader& r) { return Completion(r.id, 0, 32, 32); }, Status::NoDevice, true},
        {"length field that disagrees with the data",
         [](const RecordHeader& r) { return Completion(r.id, 0, 8, 4); }, Status::NoDevice, true},
        {"a status that means nothing", [](const RecordHeader& r) { return Completion(r.id, 99, 0, 0); },
         Status::NoDevice, true},
        {"an answer to nobody first, then the right one",
         [](const RecordHeader& r) {
             auto bytes = Completion(r.id + 1000, 0, 4, 4);
             const auto right = Completion(r.id, 0, 4, 4);
             bytes.insert(bytes.end(), right.begin(), right.end());
             return bytes;
         },
         Status::Success, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        VirtualBus bus;
        FakeDevice fake(bus.Folder(), test.answer);
        auto device = bus.OpenVirtual("fake");
        ASSERT_NE(device, nullptr);
        std::vector<std::uint8_t> buffer(16, 0);
        std::size_t moved = 0;
        EXPECT_EQ(device->BulkTransfer(0x81, buffer, 2000, moved), test.expected);
        EXPECT_EQ(device->IsRemoved(), test.removed);
        if (!test.removed) {
            EXPECT_EQ(moved, 4u);
            EXPECT_EQ(buffer[0], 0xAB);
            EXPECT_EQ(buffer[4], 0);
        }
    }
}

// The device answers neither the read nor its cancellation: the read still
// ends (after the time-out and the grace), and the handle stays usable.
TEST_F(MalformedRecordTest, ADeviceThatNeverAnswersDoesNotHoldTheCallerForever) {
    VirtualBus bus;
    FakeDevice silent(bus.Folder(), [](const RecordHeader&) { return std::vector<std::uint8_t>{}; });
    auto device = bus.OpenVirtual("fake");
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> buffer(16);
    std::size_t moved = 0;
    EXPECT_EQ(device->BulkTransfer(0x81, buffer, 100, moved), Status::Timeout);
    EXPECT_FALSE(device->IsRemoved());
}

} // namespace
} // namespace qorcam::usb::test
