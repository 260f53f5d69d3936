// Tests of the service against raw bytes on its socket: malformed input closes that connection only.
#include "TestRoot.h"
#include "TestService.h"
#include "devio/DeviceHandle.h"
#include "devio/DeviceName.h"
#include "devio/Protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qorcam::devio {
namespace {

using test::Event;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kName = "\\\\.\\DEVIORAW";

template <typename T> void Append(Bytes& bytes, const T& value) {
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof(T));
    std::memcpy(bytes.data() + at, &value, sizeof(T));
}

Bytes Header(wire::MessageType type, std::uint32_t bodyLength, std::uint64_t id = 1,
             std::uint32_t magic = wire::kMagic, std::uint16_t flags = 0) {
    Bytes bytes;
    Append(bytes, wire::MessageHeader{magic, static_cast<std::uint16_t>(type), flags, bodyLength, id});
    return bytes;
}

Bytes RequestMessage(std::uint64_t id, wire::RequestBody body, const Bytes& input,
                     std::uint32_t bodyLength = 0) {
    if (bodyLength == 0) bodyLength = static_cast<std::uint32_t>(sizeof body + input.size());
    Bytes bytes = Header(wire::MessageType::Request, bodyLength, id);
    Append(bytes, body);
    bytes.insert(bytes.end(), input.begin(), input.end());
    return bytes;
}

wire::RequestBody Body(std::uint32_t code, std::uint32_t inputLength = 0, std::uint64_t outputLength = 0) {
    return {static_cast<std::uint32_t>(RequestKind::DeviceControl), code, inputLength, 0, 0, 0, outputLength};
}

class RawSocket {
public:
    explicit RawSocket(const std::filesystem::path& path)
        : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawSocket() { close(fd_); }
    bool Connected() const { return connected_; }

    bool Send(const Bytes& bytes, const std::vector<int>& fds = {}) {
        iovec iov{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        std::vector<char> control(CMSG_SPACE(sizeof(int) * fds.size()));
        if (!fds.empty()) {
            msg.msg_control = control.data();
            msg.msg_controllen = control.size();
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
            std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
        }
        return sendmsg(fd_, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    /// Reads one whole message (header and body); false on end or time-out.
    bool Receive(wire::MessageHeader& header, Bytes& body) {
        if (!ReadExactly(reinterpret_cast<std::uint8_t*>(&header), sizeof header)) return false;
        body.resize(header.bodyLength);
        return ReadExactly(body.data(), body.size());
    }

    /// True when the service closes the connection (answers before that are skipped).
    bool ClosedByPeer() {
        std::uint8_t scratch[256];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) return false;
            const ssize_t n = recv(fd_, scratch, sizeof scratch, 0);
            if (n <= 0) return true;
        }
    }

    void ShutdownWrite() { shutdown(fd_, SHUT_WR); }

private:
    bool ReadExactly(std::uint8_t* data, std::size_t size) {
        std::size_t got = 0;
        while (got < size) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) return false;
            const ssize_t n = recv(fd_, data + got, size - got, 0);
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_;
    bool connected_ = false;
};

class MalformedInputTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(service_.Start(DevicePath(kName)), STATUS_SUCCESS); }

    std::size_t Closes() { return service_.Closes(); }

    void ExpectServiceHealthy() {
        DeviceHandle handle;
        ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
        std::uint8_t in[3] = {1, 2, 3}, out[3] = {};
        std::uint64_t bytes = 0;
        EXPECT_EQ(handle.DeviceIoControl(test::kEcho, in, 3, out, 3, &bytes), STATUS_SUCCESS);
        EXPECT_EQ(bytes, 3u);
        EXPECT_EQ(out[2], 3);
    }

    test::TestRoot root_;
    test::TestService service_;
};

struct MalformedCase {
    const char* what;
    Bytes bytes;
    int descriptors = 0; // memory files sent along
};

TEST_F(MalformedInputTest, MalformedMessageClosesThatConnectionOnly) {
    auto badKind = Body(test::kEcho);
    badKind.kind = 7;
    auto badMode = Body(test::kEcho);
    badMode.outputMode = 9;
    const Bytes pend = RequestMessage(5, Body(test::kPend), {});
    Bytes twice = pend;
    twice.insert(twice.end(), pend.begin(), pend.end());
    Bytes halfHeader = Header(wire::MessageType::Cancel, 0);
    halfHeader.resize(10);

    const std::vector<MalformedCase> cases = {
        {"wrong magic", Header(wire::MessageType::Cancel, 0, 1, 0x12345678)},
        {"flags set", Header(wire::MessageType::Cancel, 0, 1, wire::kMagic, 1)},
        {"body longer than any message may be", Header(wire::MessageType::Request, 0xFFFFFFF0)},
        {"request body shorter than its record", RequestMessage(1, Body(test::kEcho), {}, 10)},
        {"input length disagrees with the body", RequestMessage(1, Body(test::kEcho, 100), {1, 2, 3})},
        {"input length above the limit", RequestMessage(1, Body(test::kEcho, wire::kMaxInputLength + 1), {})},
        {"unknown request kind", RequestMessage(1, badKind, {})},
        {"unknown output mode", RequestMessage(1, badMode, {})},
        {"unknown message type", Header(static_cast<wire::MessageType>(77), 0)},
        {"a service's message sent by a client", Header(wire::MessageType::Completion, 0)},
        {"cancel with a body",
         [] {
             Bytes b = Header(wire::MessageType::Cancel, 2);
             b.push_back(0);
             b.push_back(0);
             return b;
         }()},
        {"region without a descriptor", Header(wire::MessageType::RegisterRegion, 0)},
        {"region id beyond 32 bits", Header(wire::MessageType::RegisterRegion, 0, 1ull << 40), 1},
        {"more descriptors than messages", Header(wire::MessageType::RegisterRegion, 0), 5},
        {"request id reused while in flight", twice},
        {"half a header, then the end", halfHeader},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t closesBefore = Closes();
        const std::size_t cancelsBefore = service_.Events().size() - closesBefore;
        {
            RawSocket raw(DevicePath(kName));
            ASSERT_TRUE(raw.Connected());
            std::vector<int> fds;
            for (int i = 0; i < c.descriptors; ++i) {
                const int fd = memfd_create("test", MFD_CLOEXEC);
                ASSERT_EQ(ftruncate(fd, 4096), 0);
                fds.push_back(fd);
            }
            ASSERT_TRUE(raw.Send(c.bytes, fds));
            for (int fd : fds)
                close(fd);
            if (c.bytes == halfHeader) raw.ShutdownWrite();
            EXPECT_TRUE(raw.ClosedByPeer());
        }
        ASSERT_TRUE(service_.WaitFor([&] { return Closes() == closesBefore + 1; }));
        if (c.bytes == twice) {
            EXPECT_EQ(service_.Events().size() - Closes(), cancelsBefore + 1);
        }
        ExpectServiceHealthy();
    }
    EXPECT_EQ(service_.Work().Size(), 0u);
}

TEST_F(MalformedInputTest, BadRequestsAreAnsweredAndTheConnectionStays) {
    RawSocket raw(DevicePath(kName));
    ASSERT_TRUE(raw.Connected());
    wire::MessageHeader header{};
    Bytes body;

    // Regions the service refuses: not sealed, not a memory file.
    const int unsealed = memfd_create("test", MFD_CLOEXEC);
    ASSERT_EQ(ftruncate(unsealed, 4096), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    for (int fd : {unsealed, pipeFds[0]}) {
        ASSERT_TRUE(raw.Send(Header(wire::MessageType::RegisterRegion, 0, 3), {fd}));
        ASSERT_TRUE(raw.Receive(header, body));
        EXPECT_EQ(std::uint16_t{header.type}, static_cast<std::uint16_t>(wire::MessageType::RegionStatus));
        wire::RegionStatusBody status{};
        ASSERT_EQ(body.size(), sizeof status);
        std::memcpy(&status, body.data(), sizeof status);
        EXPECT_EQ(std::uint32_t{status.status}, STATUS_INVALID_PARAMETER);
    }
    close(unsealed);
    close(pipeFds[0]);
    close(pipeFds[1]);

    // A sealed region, then spans that do not fit it and an oversized room.
    const int sealed = memfd_create("test", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    ASSERT_EQ(ftruncate(sealed, 4096), 0);
    ASSERT_EQ(fcntl(sealed, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
    ASSERT_TRUE(raw.Send(Header(wire::MessageType::RegisterRegion, 0, 4), {sealed}));
    close(sealed);
    ASSERT_TRUE(raw.Receive(header, body));
    wire::RegionStatusBody registered{};
    std::memcpy(&registered, body.data(), sizeof registered);
    EXPECT_EQ(std::uint32_t{registered.status}, STATUS_SUCCESS);
    EXPECT_EQ(std::uint64_t{registered.size}, 4096u);

    auto span = [](std::uint32_t region, std::uint64_t offset, std::uint64_t length) {
        auto b = Body(test::kInvert);
        b.outputMode = static_cast<std::uint32_t>(wire::OutputMode::Region);
        b.regionId = region;
        b.outputOffset = offset;
        b.outputLength = length;
        return b;
    };
    const wire::RequestBody refused[] = {
        span(4, 4096, 1),
        span(4, 1ull << 63, 1ull << 63),
        span(4, 8, ~0ull),
        span(9, 0, 1),
        Body(test::kEcho, 0, wire::kMaxInlineOutputLength + 1),
    };
    std::uint64_t id = 10;
    for (const auto& request : refused) {
        ASSERT_TRUE(raw.Send(RequestMessage(++id, request, {})));
        ASSERT_TRUE(raw.Receive(header, body));
        EXPECT_EQ(std::uint16_t{header.type}, static_cast<std::uint16_t>(wire::MessageType::Completion));
        EXPECT_EQ(std::uint64_t{header.id}, id);
        wire::CompletionBody completion{};
        ASSERT_EQ(body.size(), sizeof completion);
        std::memcpy(&completion, body.data(), sizeof completion);
        EXPECT_EQ(std::uint32_t{completion.status}, STATUS_INVALID_PARAMETER);
    }

    // Still served: a fitting span, and a cancel of an id nobody uses.
    ASSERT_TRUE(raw.Send(Header(wire::MessageType::Cancel, 0, 999)));
    ASSERT_TRUE(raw.Send(RequestMessage(++id, span(4, 0, 4096), {})));
    ASSERT_TRUE(raw.Receive(header, body));
    EXPECT_EQ(std::uint64_t{header.id}, id);
    wire::CompletionBody completion{};
    std::memcpy(&completion, body.data(), sizeof completion);
    EXPECT_EQ(std::uint32_t{completion.status}, STATUS_SUCCESS);
    EXPECT_EQ(std::uint64_t{completion.information}, 4096u);
    EXPECT_EQ(Closes(), 0u);
}

TEST_F(MalformedInputTest, AClientThatReadsLateGetsEveryAnswerInOrder) {
    // The service stops handling input while answers wait unread and goes
    // on once the client takes them: nothing is lost or reordered.
    RawSocket raw(DevicePath(kName));
    ASSERT_TRUE(raw.Connected());
    constexpr std::uint64_t kRequests = 200, kRoom = 64u << 10; // 12.5 MiB of answers
    const Bytes words = {0, 0, 0, 0, 0, 0, 1, 0};                // success, 64 KiB
    Bytes all;
    for (std::uint64_t id = 1; id <= kRequests; ++id) {
        const Bytes one = RequestMessage(id, Body(test::kAnswer, 8, kRoom), words);
        all.insert(all.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(raw.Send(all));
    ASSERT_TRUE(service_.WaitFor([&] { return service_.Server().BytesHeldFor(geteuid()) >= (2u << 20); }));
    EXPECT_LT(service_.Server().BytesHeldFor(geteuid()), (2u << 20) + 2 * kRoom);
    wire::MessageHeader header{};
    Bytes body;
    for (std::uint64_t id = 1; id <= kRequests; ++id) {
        ASSERT_TRUE(raw.Receive(header, body)) << id;
        const std::uint64_t got = header.id; // by value: the packed field must not be bound
        const std::uint16_t type = header.type;
        ASSERT_EQ(got, id);
        ASSERT_EQ(type, static_cast<std::uint16_t>(wire::MessageType::Completion));
        ASSERT_EQ(body.size(), sizeof(wire::CompletionBody) + kRoom);
        EXPECT_EQ(body.back(), 0xA5);
    }
    EXPECT_TRUE(service_.WaitFor([&] { return service_.Server().BytesHeldFor(geteuid()) == 0; }));
    EXPECT_EQ(Closes(), 0u);
}

TEST_F(MalformedInputTest, ResourceLimitsRefuseRequestsAndKeepTheConnection) {
    RawSocket raw(DevicePath(kName));
    ASSERT_TRUE(raw.Connected());
    wire::MessageHeader header{};
    Bytes body;
    auto firstAnswer = [&](std::uint64_t id) -> std::uint32_t {
        if (!raw.Receive(header, body) || header.id != id) return 0xFFFFFFFF;
        if (header.type == static_cast<std::uint16_t>(wire::MessageType::Pending)) return STATUS_PENDING;
        wire::CompletionBody completion{};
        if (body.size() < sizeof completion) return 0xFFFFFFFF;
        std::memcpy(&completion, body.data(), sizeof completion);
        return completion.status;
    };

    // Inline rooms of requests in flight: the budget holds sixteen of the
    // largest; the service's memory is only reserved, not touched.
    constexpr std::uint64_t kRooms = wire::kMaxBytesInFlightPerConnection / wire::kMaxInlineOutputLength;
    for (std::uint64_t id = 1; id <= kRooms; ++id) {
        ASSERT_TRUE(raw.Send(RequestMessage(id, Body(test::kPend, 0, wire::kMaxInlineOutputLength), {})));
        ASSERT_EQ(firstAnswer(id), STATUS_PENDING) << id;
    }
    ASSERT_TRUE(raw.Send(RequestMessage(100, Body(test::kPend, 0, wire::kMaxInlineOutputLength), {})));
    EXPECT_EQ(firstAnswer(100), STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_TRUE(raw.Send(RequestMessage(101, Body(test::kEcho, 0, 16), {})));
    EXPECT_EQ(firstAnswer(101), STATUS_INSUFFICIENT_RESOURCES);
    // A completed request gives its share back.
    ASSERT_TRUE(raw.Send(Header(wire::MessageType::Cancel, 0, 1)));
    ASSERT_EQ(firstAnswer(1), STATUS_CANCELLED);
    ASSERT_TRUE(raw.Send(RequestMessage(102, Body(test::kEcho, 0, 16), {})));
    EXPECT_EQ(firstAnswer(102), STATUS_SUCCESS);

    // Registered regions together: sparse memory files, never touched.
    auto sealedFile = [](std::uint64_t size) {
        const int fd = memfd_create("test", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
        EXPECT_EQ(fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
        return fd;
    };
    const std::uint64_t sizes[] = {40ull << 30, 30ull << 30, 20ull << 30};
    const NtStatus expected[] = {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES, STATUS_SUCCESS};
    for (int i = 0; i < 3; ++i) {
        const int fd = sealedFile(sizes[i]);
        ASSERT_TRUE(raw.Send(Header(wire::MessageType::RegisterRegion, 0, 50 + i), {fd}));
        close(fd);
        ASSERT_TRUE(raw.Receive(header, body));
        wire::RegionStatusBody status{};
        ASSERT_EQ(body.size(), sizeof status);
        std::memcpy(&status, body.data(), sizeof status);
        EXPECT_EQ(std::uint32_t{status.status}, expected[i]) << i;
    }
    EXPECT_EQ(Closes(), 0u);
}

} // namespace
} // namespace qorcam::devio
