// Tests of how the service side uses threads: idle connections hold none, a waiting dispatch holds up only its own.
#include "TestRoot.h"
#include "TestService.h"
#include "devio/Connection.h"
#include "devio/DeviceHandle.h"
#include "devio/DeviceName.h"
#include "devio/RequestQueue.h"
#include "devio/WorkPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qorcam::devio {
namespace {

using test::Event;

constexpr const char* kName = "\\\\.\\DEVIOTHREADS";

std::size_t ThreadsOfThisProcess() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// Lets this process hold at least `wanted` descriptors; false when it may not.
bool AllowDescriptors(rlim_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur >= wanted) return true;
    if (limit.rlim_max < wanted) limit.rlim_max = wanted; // only root may raise it
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

int ConnectTo(const std::filesystem::path& path, int fd = -1) {
    if (fd < 0) fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

NtStatus Echo(DeviceHandle& handle, std::size_t size, std::mt19937& random) {
    std::vector<std::uint8_t> in(size), out(size + 1, 0xEE);
    for (auto& b : in)
        b = static_cast<std::uint8_t>(random());
    std::uint64_t bytes = 0;
    const NtStatus status = handle.DeviceIoControl(test::kEcho, in.data(), in.size(), out.data(), size, &bytes);
    if (status != STATUS_SUCCESS) return status;
    if (bytes != size || !std::equal(in.begin(), in.end(), out.begin()) || out[size] != 0xEE)
        return STATUS_UNSUCCESSFUL;
    return status;
}

class ServerThreadsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(service_.Start(DevicePath(kName)), STATUS_SUCCESS); }

    std::size_t Closes() { return service_.Closes(); }

    test::TestRoot root_;
    test::TestService service_;
    std::mt19937 random_{7};
};

TEST_F(ServerThreadsTest, IdleConnectionsHoldNoThreadAndTheOthersAreStillServed) {
    // Root has the whole device; any other user its share.
    const std::size_t idle =
        geteuid() == 0 ? 1000 : detail::UserLimits::kMaxConnectionsPerUser - 2;
    if (!AllowDescriptors(2 * idle + 256)) GTEST_SKIP() << "this process may not hold " << 2 * idle + 256 << " descriptors";

    DeviceHandle handle;
    ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
    ASSERT_EQ(Echo(handle, 16, random_), STATUS_SUCCESS);
    const std::size_t before = ThreadsOfThisProcess();

    std::vector<int> sockets;
    for (std::size_t i = 0; i < idle; ++i) {
        const int fd = ConnectTo(DevicePath(kName));
        ASSERT_GE(fd, 0) << "connection " << i << ": " << std::strerror(errno);
        sockets.push_back(fd);
    }
    ASSERT_TRUE(service_.WaitFor([&] { return service_.Server().ConnectionCount() == idle + 1; }))
        << service_.Server().ConnectionCount() << " connections served";
    const std::size_t after = ThreadsOfThisProcess();
    EXPECT_LE(after, before) << idle << " idle connections";

    // The handle, and a new one, are answered as before.
    EXPECT_EQ(Echo(handle, 100, random_), STATUS_SUCCESS);
    DeviceHandle late;
    ASSERT_EQ(late.Open(kName), STATUS_SUCCESS);
    EXPECT_EQ(Echo(late, 3, random_), STATUS_SUCCESS);
    late.Close();

    for (int fd : sockets)
        close(fd);
    EXPECT_TRUE(service_.WaitFor([&] { return Closes() == idle + 1; })) << Closes() << " close routines ran";
    EXPECT_TRUE(service_.WaitFor([&] { return service_.Server().ConnectionCount() == 1; }));
    EXPECT_EQ(Echo(handle, 8, random_), STATUS_SUCCESS);
}

TEST_F(ServerThreadsTest, ADispatchThatWaitsHoldsUpOnlyItsOwnConnection) {
    DeviceHandle waiting, other;
    ASSERT_EQ(waiting.Open(kName), STATUS_SUCCESS);
    ASSERT_EQ(other.Open(kName), STATUS_SUCCESS);
    std::atomic<NtStatus> blockedStatus{STATUS_PENDING};
    std::thread client([&] {
        std::uint64_t bytes = 0;
        blockedStatus = waiting.DeviceIoControl(test::kBlock, nullptr, 0, nullptr, 0, &bytes);
    });
    ASSERT_TRUE(service_.WaitFor([&] { return service_.Blocked() == 1; }));

    // Answered while the other dispatch still waits (it gives up after 10 s).
    EXPECT_EQ(Echo(other, 64, random_), STATUS_SUCCESS);
    Overlapped pended;
    EXPECT_EQ(other.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, pended), STATUS_PENDING);
    EXPECT_TRUE(service_.CompleteNext(service_.Work(), STATUS_SUCCESS));
    EXPECT_TRUE(pended.CompletionEvent().Wait(5000));
    EXPECT_EQ(service_.Blocked(), 1u);

    service_.Unblock();
    client.join();
    EXPECT_EQ(blockedStatus.load(), STATUS_SUCCESS);
    EXPECT_EQ(Echo(waiting, 1, random_), STATUS_SUCCESS);
}

TEST_F(ServerThreadsTest, ManyBusyConnectionsAreAllAnsweredInFull) {
    // Outputs larger than a socket's buffer go out in parts as the client
    // reads; completions from another thread mix with answers at once.
    constexpr int kClients = 24;
    constexpr int kRounds = 40;
    std::atomic<bool> stop{false};
    std::thread completer([&] {
        while (!stop)
            if (!service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {42})) std::this_thread::yield();
    });
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 random(static_cast<unsigned>(c));
            DeviceHandle handle;
            if (handle.Open(kName) != STATUS_SUCCESS) {
                ++failures;
                return;
            }
            for (int round = 0; round < kRounds; ++round) {
                const std::size_t size = (round % 4 == 0) ? (512u << 10) + random() % 1000 : random() % 2000;
                if (Echo(handle, size, random) != STATUS_SUCCESS) ++failures;
                std::uint8_t answer = 0;
                std::uint64_t bytes = 0;
                if (handle.DeviceIoControl(test::kPend, nullptr, 0, &answer, 1, &bytes) != STATUS_SUCCESS ||
                    answer != 42)
                    ++failures;
            }
        });
    }
    for (auto& client : clients)
        client.join();
    stop = true;
    completer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(service_.WaitFor([&] { return Closes() == kClients; }));
}

TEST_F(ServerThreadsTest, ClientsWaitingWhileDescriptorsRunOutAreTakenLaterWithoutSpinning) {
    constexpr int kWaiting = 4;
    std::vector<int> sockets;
    for (int i = 0; i < kWaiting; ++i)
        sockets.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // No new descriptor fits: the lowest free number is the limit.
    const int lowest = dup(0);
    ASSERT_GE(lowest, 0);
    close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int& fd : sockets)
        ASSERT_GE(ConnectTo(DevicePath(kName), fd), 0) << "the backlog takes them";

    rusage start{}, end{};
    getrusage(RUSAGE_SELF, &start);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    getrusage(RUSAGE_SELF, &end);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    auto micros = [](const rusage& u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1'000'000LL + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
    };
    EXPECT_LT(micros(end) - micros(start), 250'000) << "CPU time while no client could be taken";
    EXPECT_EQ(service_.Server().ConnectionCount(), 0u);

    EXPECT_TRUE(service_.WaitFor([&] { return service_.Server().ConnectionCount() == kWaiting; }));
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
    EXPECT_EQ(Echo(handle, 5, random_), STATUS_SUCCESS);
    for (int fd : sockets)
        close(fd);
}

// A server whose dispatch pends every request without input (in the queue) and completes the rest
// at once, and a pipe watched on its loop: each byte written completes the oldest pended request
// with that byte as its output, as an answer from a device completes the request that waits for
// it; the byte 0xFF also makes the routine give its pipe up.
class WatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(pipe_, O_NONBLOCK | O_CLOEXEC), 0);
        watch_ = server_.Watch(pipe_[0], [this] {
            entered_ = true;
            std::lock_guard lock(mutex_);
            ++calls_;
            watchThread_ = std::this_thread::get_id();
            std::uint8_t bytes[16];
            const ssize_t n = read(pipe_[0], bytes, sizeof bytes);
            for (ssize_t i = 0; i < n; ++i) {
                if (RequestPtr r = waiting_.Next()) {
                    if (!r->Output().empty()) r->Output()[0] = bytes[i];
                    r->Complete(STATUS_SUCCESS, 1);
                }
                if (bytes[i] == 0xFF) return false;
            }
            return true;
        });
        ASSERT_NE(watch_, 0u) << "a watch may be added before the server starts";
        ASSERT_EQ(server_.Start(DevicePath(kName)), STATUS_SUCCESS);
        ASSERT_EQ(handle_.Open(kName), STATUS_SUCCESS);
    }
    void TearDown() override {
        handle_.Close();
        server_.Stop();
        close(pipe_[0]);
        close(pipe_[1]);
    }

    void Write(std::uint8_t byte) { ASSERT_EQ(write(pipe_[1], &byte, 1), 1); }
    NtStatus Immediate() {
        std::uint8_t in = 1;
        return handle_.DeviceIoControl(test::kEcho, &in, 1, nullptr, 0);
    }
    int Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // Waits (at most 10 s) until pred holds.
    static bool WaitUntil(const std::function<bool()>& pred) {
        for (int i = 0; i < 10000 && !pred(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return pred();
    }

    test::TestRoot root_;
    RequestQueue waiting_;
    std::mutex mutex_;
    int calls_ = 0;
    std::atomic<bool> entered_{false};
    std::thread::id dispatchThread_, watchThread_;
    DeviceServer server_{[this](const RequestPtr& r) {
                             {
                                 std::lock_guard lock(mutex_);
                                 dispatchThread_ = std::this_thread::get_id();
                             }
                             if (r->Input().empty())
                                 waiting_.Pend(r);
                             else
                                 r->Complete(STATUS_SUCCESS);
                         },
                         {}, DispatchMode::NeverWaits};
    int pipe_[2] = {-1, -1};
    std::uint64_t watch_ = 0;
    DeviceHandle handle_;
};

TEST_F(WatchTest, WhatTheWatchReadsCompletesRequestsOnTheThreadThatDispatchedThem) {
    for (std::uint8_t answer : {0x11, 0x22}) {
        std::uint8_t out = 0;
        Overlapped pended;
        ASSERT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, &out, 1, pended), STATUS_PENDING);
        ASSERT_TRUE(WaitUntil([&] { return waiting_.Size() == 1; }));
        Write(answer);
        ASSERT_TRUE(pended.CompletionEvent().Wait(10000));
        EXPECT_EQ(pended.Status(), STATUS_SUCCESS);
        EXPECT_EQ(out, answer);
    }
    std::lock_guard lock(mutex_);
    EXPECT_EQ(watchThread_, dispatchThread_) << "no other thread is woken for what the watch reads";
}

TEST_F(WatchTest, ARoutineThatGivesUpIsNotCalledAgainWhileItsDescriptorStaysReadable) {
    Overlapped pended;
    ASSERT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, nullptr, 0, pended), STATUS_PENDING);
    ASSERT_TRUE(WaitUntil([&] { return waiting_.Size() == 1; }));
    Write(0xFF);
    ASSERT_TRUE(pended.CompletionEvent().Wait(10000));
    Write(0x01); // left in the pipe: readable for good
    const int calls = Calls();
    // Each request is a turn of the loop, which would see the pipe again if it still watched it.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Immediate(), STATUS_SUCCESS);
    EXPECT_EQ(Calls(), calls);
    server_.Unwatch(watch_); // nothing left to end: no harm
}

TEST_F(WatchTest, UnwatchWaitsForTheRoutineUnderWayAndNoneRunsAfter) {
    std::unique_lock lock(mutex_); // holds the routine up once it starts
    Write(0x05);
    ASSERT_TRUE(WaitUntil([&] { return entered_.load(); }));
    std::atomic<bool> returned{false};
    int callsSeen = -1;
    std::thread unwatch([&] {
        server_.Unwatch(watch_);
        returned = true;
        std::lock_guard seen(mutex_);
        callsSeen = calls_;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the loop and Unwatch get going
    EXPECT_FALSE(returned.load()) << "Unwatch returned while the routine still waits to run";
    lock.unlock();
    unwatch.join();
    EXPECT_EQ(callsSeen, 1) << "the routine under way finished before Unwatch returned";
    Write(0x06);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Immediate(), STATUS_SUCCESS);
    EXPECT_EQ(Calls(), 1);
}

TEST(WorkPool, GrowsWhileJobsWaitUpToItsLimitAndShrinksBackWhenIdle) {
    detail::WorkPool pool(4, std::chrono::milliseconds(50));
    ASSERT_TRUE(pool.Start());
    EXPECT_EQ(pool.Threads(), 1u);

    std::mutex mutex;
    std::condition_variable changed;
    int running = 0, done = 0;
    bool release = false;
    constexpr int kJobs = 10;
    for (int i = 0; i < kJobs; ++i) {
        pool.Post([&] {
            std::unique_lock lock(mutex);
            ++running;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
            ++done;
            changed.notify_all();
        });
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return running == 4; }));
    }
    EXPECT_EQ(pool.Threads(), 4u) << "as many threads as jobs wait, up to the limit";
    {
        std::lock_guard lock(mutex);
        release = true;
        changed.notify_all();
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return done == kJobs; }));
    }
    for (int i = 0; i < 1000 && pool.Threads() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(pool.Threads(), 1u) << "idle threads end, one stays";

    // Jobs posted before the shutdown still run.
    std::atomic<int> late{0};
    for (int i = 0; i < 100; ++i)
        pool.Post([&] { ++late; });
    pool.Shutdown();
    EXPECT_EQ(late.load(), 100);
    EXPECT_EQ(pool.Threads(), 0u);
}

} // namespace
} // namespace qorcam::devio
