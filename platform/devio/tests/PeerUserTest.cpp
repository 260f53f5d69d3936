// Tests of what a server grants a client of another user: capabilities only from the service's own user
// namespace, and memory only up to the user's share however many answers it leaves unread.
#include "TestRoot.h"
#include "TestService.h"
#include "devio/DeviceHandle.h"
#include "devio/DeviceName.h"
#include "devio/Protocol.h"

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qorcam::devio {
namespace {

constexpr const char* kName = "\\\\.\\DEVIOPEER";
constexpr uid_t kUser = 65534;

// A started program whose standard output the test reads; killed and reaped when let go of.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = out[0];
    }
    ~Child() {
        if (output_ >= 0) close(output_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    // True when the program wrote "ready" (within 30 s).
    bool Ready() {
        char text[6] = {};
        std::size_t got = 0;
        while (got < sizeof text) {
            pollfd p{output_, POLLIN, 0};
            if (poll(&p, 1, 30000) != 1) return false;
            const ssize_t n = read(output_, text + got, sizeof text - got);
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        return std::memcmp(text, "ready\n", 6) == 0;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// The exit code of a command, or -1.
int ExitCodeOf(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PeerUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "running clients as another user needs root";
        // The other user reaches the socket through the test's folder, as through /run.
        chmod(root_.Path().c_str(), 0755);
        ASSERT_EQ(service_.Start(DevicePath(kName)), STATUS_SUCCESS);
    }

    // What the service was told of the test client's registration.
    std::optional<ConnectionInfo> CallerOf(pid_t pid) {
        std::optional<ConnectionInfo> caller;
        service_.WaitFor([&] {
            service_.Registrations().TakeIf([&](const Request& r) {
                if (r.ProcessId() == static_cast<std::uint32_t>(pid)) caller = r.Caller();
                return false; // looked at only; it stays for the client's close to cancel
            });
            return caller.has_value();
        });
        return caller;
    }

    test::TestRoot root_;
    test::TestService service_;
};

TEST_F(PeerUserTest, ACapabilityCountsOnlyInTheServicesUserNamespace) {
    const std::vector<std::string> asUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    const std::string client = DEVIO_TEST_CLIENT;
    struct Case {
        const char* what;
        std::vector<std::string> prefix;
        bool netAdmin;
    };
    std::vector<Case> cases = {
        {"a plain user", asUser, false},
        {"a user given the capability", asUser, true},
        {"a user with every capability of a namespace of its own", asUser, false},
    };
    cases[1].prefix.insert(cases[1].prefix.end(), {"--inh-caps=+net_admin", "--ambient-caps=+net_admin"});
    cases[2].prefix.insert(cases[2].prefix.end(), {"/usr/bin/unshare", "-Ur"});
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto probe = c.prefix;
        probe.push_back("/bin/true");
        if (ExitCodeOf(probe) != 0) {
            std::printf("skipped: %s: this kernel or system does not allow it\n", c.what);
            continue;
        }
        auto args = c.prefix;
        args.insert(args.end(), {client, kName, "0"});
        Child child(args);
        ASSERT_TRUE(child.Ready()) << "the test client did not register";
        const auto caller = CallerOf(child.Pid());
        ASSERT_TRUE(caller.has_value());
        // The user is the real one, as the service's namespace sees it, also
        // for the namespace's "root".
        EXPECT_EQ(caller->userId, kUser);
        EXPECT_FALSE(caller->IsRoot());
        EXPECT_EQ(caller->netAdmin, c.netAdmin);
    }
}

TEST_F(PeerUserTest, AnswersAUserNeverReadsStayWithinItsShareAndGoWhenItCloses) {
    // Four connections of another user ask for 64 KiB answers as fast as
    // they can and read none of them.
    constexpr std::size_t kConnections = 4;
    constexpr std::uint64_t kAnswerBytes = 64u << 10;
    constexpr std::uint64_t kMaxRequests = 16384; // 1 GiB of answers per connection
    std::vector<std::uint8_t> message(sizeof(wire::MessageHeader) + sizeof(wire::RequestBody) + 8);
    const wire::MessageHeader header{wire::kMagic, static_cast<std::uint16_t>(wire::MessageType::Request), 0,
                                     static_cast<std::uint32_t>(sizeof(wire::RequestBody) + 8), 1};
    const wire::RequestBody body{static_cast<std::uint32_t>(RequestKind::DeviceControl), test::kAnswer, 8, 0, 0, 0,
                                 kAnswerBytes};
    const std::uint32_t words[2] = {STATUS_SUCCESS, static_cast<std::uint32_t>(kAnswerBytes)};
    std::memcpy(message.data(), &header, sizeof header);
    std::memcpy(message.data() + sizeof header, &body, sizeof body);
    std::memcpy(message.data() + sizeof header + sizeof body, words, sizeof words);
    std::vector<std::vector<std::uint8_t>> messages(kConnections, message);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, DevicePath(kName).c_str(), sizeof address.sun_path - 1);
    int report[2];
    ASSERT_EQ(pipe(report), 0);

    const pid_t flooder = fork();
    ASSERT_GE(flooder, 0);
    if (flooder == 0) {
        // Only system calls here: the test process has threads.
        close(report[0]);
        if (setgroups(0, nullptr) != 0 || setresgid(kUser, kUser, kUser) != 0 || setresuid(kUser, kUser, kUser) != 0)
            _exit(126);
        int fds[kConnections];
        std::size_t offsets[kConnections] = {};
        std::uint64_t ids[kConnections] = {};
        for (std::size_t i = 0; i < kConnections; ++i) {
            fds[i] = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (fds[i] < 0) _exit(2);
            if (connect(fds[i], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                pollfd p{fds[i], POLLOUT, 0};
                if (errno != EINPROGRESS && errno != EAGAIN) _exit(3);
                poll(&p, 1, 10000);
            }
        }
        std::uint64_t sent = 0;
        for (int idle = 0; idle < 2;) {
            bool moved = false;
            for (std::size_t i = 0; i < kConnections; ++i) {
                auto& m = messages[i];
                while (ids[i] < kMaxRequests) {
                    const ssize_t n = send(fds[i], m.data() + offsets[i], m.size() - offsets[i], MSG_NOSIGNAL);
                    if (n < 0 && errno == EAGAIN) break;
                    if (n <= 0) _exit(4); // the service closed the connection
                    moved = true;
                    offsets[i] += static_cast<std::size_t>(n);
                    if (offsets[i] == m.size()) {
                        offsets[i] = 0;
                        ++sent;
                        ++ids[i];
                        const std::uint64_t next = ids[i] + 1;
                        std::memcpy(m.data() + offsetof(wire::MessageHeader, id), &next, sizeof next);
                    }
                }
            }
            if (moved) {
                idle = 0;
                continue;
            }
            // Nothing more goes in: the service has stopped reading (or all
            // was sent). Twice a second of that and the user is done.
            pollfd p[kConnections];
            for (std::size_t i = 0; i < kConnections; ++i)
                p[i] = {fds[i], static_cast<short>(ids[i] < kMaxRequests ? POLLOUT : 0), 0};
            if (poll(p, kConnections, 1000) == 0) ++idle;
        }
        if (write(report[1], &sent, sizeof sent) != sizeof sent) _exit(5);
        for (;;)
            pause();
    }
    close(report[1]);
    std::uint64_t sent = 0;
    const bool reported = read(report[0], &sent, sizeof sent) == sizeof sent;
    close(report[0]);
    auto end = [&] {
        kill(flooder, SIGKILL);
        waitpid(flooder, nullptr, 0);
    };
    if (!reported) end();
    ASSERT_TRUE(reported) << "the flooding user's connections were closed or failed";

    // The service holds no more than each connection's pause point and the
    // answer that passed it, although far more was asked of it; the
    // connections stay open.
    const std::size_t held = service_.Server().BytesHeldFor(kUser);
    constexpr std::size_t kBound = kConnections * ((2u << 20) + kAnswerBytes + 1024);
    EXPECT_LE(held, kBound);
    EXPECT_GT(sent * kAnswerBytes, 4 * kBound) << "the user did not ask for much: " << sent;
    EXPECT_EQ(service_.Server().ConnectionCount(), kConnections);

    // Root is answered meanwhile.
    {
        DeviceHandle handle;
        ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
        const char text[] = "root";
        char answer[8] = {};
        std::uint64_t bytes = 0;
        EXPECT_EQ(handle.DeviceIoControl(test::kEcho, text, sizeof text, answer, sizeof answer, &bytes),
                  STATUS_SUCCESS);
        EXPECT_STREQ(answer, "root");
    }

    // Once the user's process ends, nothing is held for it any more.
    end();
    EXPECT_TRUE(service_.WaitFor([&] { return service_.Server().ConnectionCount() == 0; }));
    EXPECT_EQ(service_.Server().BytesHeldFor(kUser), 0u);
}

TEST_F(PeerUserTest, UsersTakeTurnsInAQueueHoweverManyRequestsOneHasQueued) {
    Child flooder({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", DEVIO_TEST_CLIENT, kName,
                   "4000"});
    ASSERT_TRUE(flooder.Ready()) << "the other user's client did not get its requests pending";
    auto& queue = service_.Work();
    ASSERT_EQ(queue.Size(), 4000u);
    RequestPtr first = queue.NextInTurn();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->UserId(), kUser);
    first->Complete(STATUS_SUCCESS);

    // Root's requests, queued behind 3999 of the other user's, come out
    // each within the next two.
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
    std::deque<Overlapped> mine(3);
    std::uint8_t room[3][8];
    for (int round = 0; round < 3; ++round) {
        const std::size_t before = queue.Size();
        ASSERT_EQ(handle.DeviceIoControl(test::kPend, nullptr, 0, room[round], 8, mine[round]), STATUS_PENDING);
        ASSERT_TRUE(service_.WaitForQueued(queue, before + 1));
        int others = 0;
        for (;;) {
            RequestPtr next = queue.NextInTurn();
            ASSERT_TRUE(next);
            const bool root = next->UserId() == 0;
            next->Complete(STATUS_SUCCESS);
            if (root) break;
            ++others;
        }
        EXPECT_LE(others, 1) << round;
        ASSERT_TRUE(mine[round].CompletionEvent().Wait(5000));
    }
}

} // namespace
} // namespace qorcam::devio
