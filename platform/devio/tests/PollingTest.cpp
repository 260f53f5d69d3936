// Tests of bounded polling: when a wait polls, the answers nobody polls for, and the loop's owner's say.
#include "TestRoot.h"
#include "TestService.h"
#include "devio/DeviceHandle.h"
#include "devio/DeviceName.h"
#include "devio/SpinGauge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace qorcam::devio {
namespace {

using namespace std::chrono_literals;
using Us = std::chrono::microseconds;

// How many of `waits` waits, each taking `took` (polled for when their budget covered it), polled at
// all, and the longest budget given.
struct Polls {
    int count = 0;
    SpinGauge::Duration longest{};
};
Polls Waits(SpinGauge& gauge, int waits, SpinGauge::Duration took) {
    Polls p;
    for (int i = 0; i < waits; ++i) {
        const auto budget = gauge.Budget();
        if (budget > SpinGauge::Duration::zero()) ++p.count;
        p.longest = std::max(p.longest, budget);
        gauge.Record(took, budget >= took);
    }
    return p;
}

TEST(SpinGauge, PollsOnlyForWaitsThatRecentlyEndedWithinItsCeiling) {
    // The first wait of a kind is slept for.
    SpinGauge slow = ServiceGauge();
    EXPECT_EQ(slow.Budget(), SpinGauge::Duration::zero());
    // A slow camera (answers in 2 ms) costs no polling but one probe up to the ceiling per 32 waits.
    slow.Record(2ms, false);
    const Polls probes = Waits(slow, 320, 2ms);
    EXPECT_LE(probes.count, 320 / static_cast<int>(SpinGauge::kProbeEvery) + 1);
    EXPECT_LE(probes.longest, Us(50));

    // A fast one is polled for every time, about twice as long as it takes, never past the cap.
    SpinGauge fast = ServiceGauge();
    fast.Record(30us, false); // slept for: the wake-up's time on top
    const Polls always = Waits(fast, 100, 12us);
    EXPECT_EQ(always.count, 100);
    EXPECT_LE(always.longest, Us(100));
    EXPECT_GE(fast.Budget(), Us(24));

    // One stall (a wait slept through) stops the polling only for a few waits.
    Waits(fast, 1, 5ms);
    int slept = 0;
    while (fast.Budget() == SpinGauge::Duration::zero() && slept < 100) {
        fast.Record(40us, false); // slept through: the wake-up's time on top
        ++slept;
    }
    EXPECT_LT(slept, 8);

    // A slow kind that became fast is polled for again after its next probe.
    const Polls recovered = Waits(slow, 64, 12us);
    EXPECT_GE(recovered.count, 64 - static_cast<int>(SpinGauge::kProbeEvery));

    // The client's side polls only for shorter waits than the service's loop.
    SpinGauge caller = CallerGauge();
    caller.Record(30us, false);
    EXPECT_EQ(Waits(caller, 16, 30us).count, 0);
}

TEST(PollGuard, AStalledTurnStopsPollingForAWhileAndLongerAfterEachFurtherStall) {
    PollGuard guard;
    EXPECT_TRUE(guard.Allowed(PollGuard::Clock::now()));
    // A turn that began a millisecond ago: something else held the processor.
    EXPECT_FALSE(guard.Pause(PollGuard::Clock::now() - 1ms));
    const auto after = PollGuard::Clock::now();
    EXPECT_FALSE(guard.Allowed(after));
    EXPECT_TRUE(guard.Allowed(after + PollGuard::kQuiet + 1ms));
    // Stall after stall (a processor shared for good) backs off further each time, up to a limit.
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(guard.Pause(PollGuard::Clock::now() - 1ms));
    const auto later = PollGuard::Clock::now();
    EXPECT_FALSE(guard.Allowed(later + 16 * PollGuard::kQuiet));
    EXPECT_TRUE(guard.Allowed(later + PollGuard::kLongestQuiet + 1ms));
}

constexpr const char* kName = "\\\\.\\DEVIOPOLL";

class PollingClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(service_.Start(DevicePath(kName)), STATUS_SUCCESS);
        ASSERT_EQ(handle_.Open(kName), STATUS_SUCCESS);
    }
    NtStatus Echo() {
        std::uint8_t in = 7, out = 0;
        std::uint64_t bytes = 0;
        const NtStatus status = handle_.DeviceIoControl(test::kEcho, &in, 1, &out, 1, &bytes);
        return status == STATUS_SUCCESS && (out != 7 || bytes != 1) ? STATUS_UNSUCCESSFUL : status;
    }

    test::TestRoot root_;
    test::TestService service_;
    DeviceHandle handle_;
};

// A synchronous caller that polls its socket takes the reader thread's watch away meanwhile (an
// answer would wake it otherwise); answers that come for requests nobody waits for, during the
// polls or after them, must still reach their records through the reader thread.
TEST_F(PollingClientTest, AnswersNobodyWaitsForArriveWhileAndAfterCallersPoll) {
    constexpr int kPended = 8;
    std::vector<Overlapped> records(kPended);
    std::vector<std::uint8_t> outputs(kPended, 0);
    for (int i = 0; i < kPended; ++i)
        ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, &outputs[i], 1, records[i]), STATUS_PENDING);
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), kPended));

    // Half complete while a caller reads echoes one after another (answered at once: it polls).
    std::atomic<bool> done{false};
    std::thread completer([&] {
        for (int i = 0; i < kPended / 2; ++i) {
            std::this_thread::sleep_for(2ms);
            service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {static_cast<std::uint8_t>(0x40 + i)});
        }
        done = true;
    });
    int calls = 0;
    while (!done.load() || calls < 200) {
        ASSERT_EQ(Echo(), STATUS_SUCCESS);
        ++calls;
    }
    completer.join();
    // The rest once nobody reads the socket but the reader thread.
    for (int i = kPended / 2; i < kPended; ++i)
        service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {static_cast<std::uint8_t>(0x40 + i)});
    for (int i = 0; i < kPended; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(records[i].CompletionEvent().Wait(5000)) << "an answer no caller waited for was stranded";
        EXPECT_EQ(records[i].Status(), STATUS_SUCCESS);
        EXPECT_EQ(outputs[i], 0x40 + i);
    }
}

// Several threads polling for their own answers on one handle each get theirs.
TEST_F(PollingClientTest, ThreadsPollingOnOneHandleEachGetTheirOwnAnswers) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const std::uint8_t in[2] = {static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(i)};
                std::uint8_t out[2] = {};
                std::uint64_t bytes = 0;
                if (handle_.DeviceIoControl(test::kEcho, in, 2, out, 2, &bytes) != STATUS_SUCCESS || bytes != 2 ||
                    out[0] != in[0] || out[1] != in[1])
                    ++failures;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

// A loop whose owner always says something is due polls after every turn: what it watches and the
// requests are still handled on it, the owner is asked on the loop itself, and Stop still ends it.
TEST(PollingServer, TheOwnersDueTimesArePolledForOnTheLoopAndStopStillEndsIt) {
    test::TestRoot root;
    std::mutex mutex;
    std::thread::id dispatchThread, dueThread;
    std::atomic<int> asked{0};
    RequestQueue waiting;
    DeviceServer server(
        [&](const RequestPtr& r) {
            {
                std::lock_guard lock(mutex);
                dispatchThread = std::this_thread::get_id();
            }
            if (r->Input().empty())
                waiting.Pend(r);
            else
                r->Complete(STATUS_SUCCESS);
        },
        {}, DispatchMode::NeverWaits);
    int pipe[2];
    ASSERT_EQ(pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0);
    ASSERT_NE(server.Watch(pipe[0],
                           [&] {
                               std::uint8_t byte;
                               while (read(pipe[0], &byte, 1) == 1)
                                   if (RequestPtr r = waiting.Next()) {
                                       if (!r->Output().empty()) r->Output()[0] = byte;
                                       r->Complete(STATUS_SUCCESS, 1);
                                   }
                               return true;
                           }),
              0u);
    server.SetDueRoutine([&] {
        ++asked;
        std::lock_guard lock(mutex);
        dueThread = std::this_thread::get_id();
        return std::chrono::steady_clock::now() + 1s; // polled for at most 100 us from then on
    });
    ASSERT_EQ(server.Start(DevicePath(kName)), STATUS_SUCCESS);
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
    for (std::uint8_t answer = 1; answer <= 20; ++answer) {
        std::uint8_t in = 1, out = 0;
        ASSERT_EQ(handle.DeviceIoControl(test::kEcho, &in, 1, nullptr, 0), STATUS_SUCCESS);
        Overlapped pended;
        ASSERT_EQ(handle.DeviceIoControl(test::kEcho, nullptr, 0, &out, 1, pended), STATUS_PENDING);
        for (int i = 0; i < 5000 && waiting.Size() == 0; ++i)
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(write(pipe[1], &answer, 1), 1);
        ASSERT_TRUE(pended.CompletionEvent().Wait(5000));
        EXPECT_EQ(out, answer);
    }
    EXPECT_GT(asked.load(), 0);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(dueThread, dispatchThread) << "the owner is asked on the loop";
    }
    handle.Close();
    const auto before = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    close(pipe[0]);
    close(pipe[1]);
}

} // namespace
} // namespace qorcam::devio
