// Tests of device requests between DeviceHandle and DeviceServer: answers, pending, cancel, close, regions.
#include "TestRoot.h"
#include "TestService.h"
#include "devio/DeviceHandle.h"
#include "devio/DeviceName.h"
#include "devio/Protocol.h"
#include "devio/Region.h"
#include "os/WaitAny.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::devio {
namespace {

using test::Event;

constexpr const char* kName = "\\\\.\\DEVIOTEST";

class DeviceIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(service_.Start(DevicePath(kName)), STATUS_SUCCESS);
        ASSERT_EQ(handle_.Open(kName), STATUS_SUCCESS);
    }

    // Reading the status after the event orders the output bytes before the
    // caller's reads, as GetOverlappedResult does.
    static bool Completes(Overlapped& o) { return o.CompletionEvent().Wait(5000) && !o.IsPending(); }

    NtStatus Echo(DeviceHandle& handle) {
        const char text[] = "ping";
        char answer[8] = {};
        std::uint64_t bytes = 0;
        const NtStatus status =
            handle.DeviceIoControl(test::kEcho, text, sizeof text, answer, sizeof answer, &bytes);
        if (status == STATUS_SUCCESS && (bytes != sizeof text || std::strcmp(answer, "ping") != 0))
            return STATUS_UNSUCCESSFUL;
        return status;
    }

    test::TestRoot root_;
    test::TestService service_;
    DeviceHandle handle_;
};

struct AnswerCase {
    const char* what;
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    std::size_t room;
    NtStatus status;
    std::uint64_t information;
    std::size_t outputBytes;
    std::uint8_t firstByte;
};

std::vector<std::uint8_t> Words(std::uint32_t a, std::uint32_t b) {
    std::vector<std::uint8_t> v(8);
    std::memcpy(v.data(), &a, 4);
    std::memcpy(v.data() + 4, &b, 4);
    return v;
}

TEST_F(DeviceIoTest, RequestsCompletedAtOnceReturnTheirResultDirectly) {
    const std::vector<AnswerCase> cases = {
        {"echo", test::kEcho, {1, 2, 3, 4, 5}, 16, STATUS_SUCCESS, 5, 5, 1},
        {"output cut to the room, count as reported",
         test::kEcho,
         {9, 8, 7, 6, 5, 4, 3, 2},
         3,
         STATUS_SUCCESS,
         8,
         3,
         9},
        {"answer written, zero bytes reported", test::kAnswer, Words(0, 0), 24, STATUS_SUCCESS, 0, 24, 0xA5},
        {"error status with an answer", test::kAnswer, Words(0xE0000005, 7), 4, 0xE0000005, 7, 4, 0xA5},
        {"informational status", test::kAnswer, Words(0x40000001, 3), 8, 0x40000001, 3, 8, 0xA5},
        {"unknown code", test::Code(0x8FF), {}, 4, STATUS_INVALID_DEVICE_REQUEST, 0, 0, 0xEE},
        {"dispatch that throws", test::kThrow, {}, 4, STATUS_UNSUCCESSFUL, 0, 0, 0xEE},
        {"cancelable, completed in dispatch", test::kCancelableAtOnce, {}, 4, STATUS_SUCCESS, 0, 0, 0xEE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> out(c.room + 4, 0xEE);
        Overlapped o;
        EXPECT_EQ(handle_.DeviceIoControl(c.code, c.input.data(), c.input.size(), out.data(), c.room, o),
                  c.status);
        EXPECT_TRUE(o.CompletionEvent().IsSet());
        EXPECT_EQ(o.Status(), c.status);
        EXPECT_EQ(o.Information(), c.information);
        EXPECT_EQ(o.OutputBytes(), c.outputBytes);
        EXPECT_EQ(out[0], c.firstByte);
        // Nothing beyond the output bytes is touched.
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(c.outputBytes), out.end(),
                                [](auto b) { return b == 0xEE; }));

        std::vector<std::uint8_t> sync(c.room, 0xEE);
        std::uint64_t bytes = 99;
        EXPECT_EQ(
            handle_.DeviceIoControl(c.code, c.input.data(), c.input.size(), sync.data(), c.room, &bytes),
            c.status);
        EXPECT_EQ(bytes, c.information);
    }
}

TEST_F(DeviceIoTest, PendedRequestCompletesLaterIntoTheCallersBuffer) {
    std::vector<std::uint8_t> out(32, 0xEE);
    Overlapped o;
    ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, out.data(), out.size(), o), STATUS_PENDING);
    std::uint64_t bytes = 0;
    EXPECT_EQ(handle_.GetOverlappedResult(o, &bytes, false), STATUS_PENDING);
    EXPECT_FALSE(o.CompletionEvent().IsSet());
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 1));

    // The event works in WaitAny beside other events.
    os::Event other(os::ResetMode::Manual);
    std::thread completer([&] { service_.CompleteNext(service_.Work(), 0xE0000101, {1, 2, 3}); });
    EXPECT_EQ(os::WaitAny({&other, &o.CompletionEvent()}, 5000), 1);
    completer.join();
    EXPECT_EQ(handle_.GetOverlappedResult(o, &bytes, true), 0xE0000101u);
    EXPECT_EQ(bytes, 3u);
    EXPECT_EQ((std::vector<std::uint8_t>(out.begin(), out.begin() + 4)),
              (std::vector<std::uint8_t>{1, 2, 3, 0xEE}));

    // A synchronous request waits for its pended completion.
    std::thread later([&] {
        service_.WaitForQueued(service_.Work(), 1);
        service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {7});
    });
    std::uint8_t one = 0;
    EXPECT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, &one, 1, &bytes), STATUS_SUCCESS);
    later.join();
    EXPECT_EQ(one, 7);
    EXPECT_EQ(bytes, 1u);
}

TEST_F(DeviceIoTest, RequestMarkedPendingStaysPendingWhenCompletedDuringDispatch) {
    Overlapped o;
    EXPECT_EQ(handle_.DeviceIoControl(test::kPendAndComplete, nullptr, 0, nullptr, 0, o), STATUS_PENDING);
    EXPECT_EQ(handle_.GetOverlappedResult(o, nullptr, true), STATUS_SUCCESS);
}

TEST_F(DeviceIoTest, WaitingCallersEachGetTheirOwnAnswer) {
    // A synchronous call gets no "pending" answer; one marked pending and
    // completed during dispatch still returns its final status.
    EXPECT_EQ(handle_.DeviceIoControl(test::kPendAndComplete, nullptr, 0, nullptr, 0, nullptr), STATUS_SUCCESS);

    // Two threads wait in synchronous calls beside an overlapped request and
    // a service stop ends a third: whichever waiting thread reads the socket
    // hands every answer to its own caller, in whatever order they come.
    constexpr NtStatus kBase = 0xE0000100;
    std::uint8_t outs[3] = {};
    NtStatus statuses[2] = {STATUS_PENDING, STATUS_PENDING};
    std::thread a([&] { statuses[0] = handle_.DeviceIoControl(test::kPend, nullptr, 0, &outs[0], 1, nullptr); });
    std::thread b([&] { statuses[1] = handle_.DeviceIoControl(test::kPend, nullptr, 0, &outs[1], 1, nullptr); });
    Overlapped o;
    ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, &outs[2], 1, o), STATUS_PENDING);
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 3));
    for (std::uint8_t v = 1; v <= 3; ++v)
        ASSERT_TRUE(service_.CompleteNext(service_.Work(), kBase + v, {v}));
    a.join();
    b.join();
    ASSERT_TRUE(Completes(o));
    const NtStatus all[3] = {statuses[0], statuses[1], o.Status()};
    std::vector<std::uint8_t> seen;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(all[i], kBase + outs[i]) << "caller " << i << " got another's answer";
        seen.push_back(outs[i]);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2, 3}));

    NtStatus last = STATUS_PENDING;
    std::thread waiting([&] { last = handle_.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, nullptr); });
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 1));
    service_.Stop();
    waiting.join();
    EXPECT_EQ(last, STATUS_CANCELLED);
}

TEST_F(DeviceIoTest, RequestCancelledBeforeItIsPendedCompletesCancelledAndIsNeverQueued) {
    Overlapped o;
    EXPECT_EQ(handle_.DeviceIoControl(test::kCancelThenPend, nullptr, 0, nullptr, 0, o), STATUS_CANCELLED);
    EXPECT_EQ(service_.Work().Size(), 0u);
}

TEST_F(DeviceIoTest, CancelIoCancelsOnlyTheCallingThreadsRequests) {
    Overlapped mine[2];
    Overlapped theirs;
    for (auto& o : mine)
        ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, o), STATUS_PENDING);
    std::thread([&] {
        EXPECT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, theirs), STATUS_PENDING);
    }).join();
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 3));

    EXPECT_EQ(handle_.CancelIo(), STATUS_SUCCESS);
    for (auto& o : mine) {
        ASSERT_TRUE(Completes(o));
        EXPECT_EQ(o.Status(), STATUS_CANCELLED);
    }
    EXPECT_TRUE(service_.WaitFor([&] { return service_.Work().Size() == 1; }));
    EXPECT_EQ(service_.CountEvents(Event::CancelWork, getpid()), 2u);
    EXPECT_TRUE(theirs.IsPending());

    // One request by its record, whoever started it; a record with nothing in flight has none.
    Overlapped other;
    std::thread([&] {
        EXPECT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, other), STATUS_PENDING);
    }).join();
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 2));
    EXPECT_EQ(handle_.CancelIoEx(other), STATUS_SUCCESS);
    ASSERT_TRUE(Completes(other));
    EXPECT_EQ(other.Status(), STATUS_CANCELLED);
    EXPECT_EQ(handle_.CancelIoEx(other), STATUS_NOT_FOUND);
    EXPECT_TRUE(theirs.IsPending());

    handle_.Close();
    EXPECT_EQ(theirs.Status(), STATUS_CANCELLED);
}

TEST_F(DeviceIoTest, CloseCancelsEveryRequestBeforeTheCloseRoutineRuns) {
    Overlapped registration, work[3], read;
    std::uint8_t buffers[4][16];
    const std::uint32_t pid = getpid();
    ASSERT_EQ(handle_.DeviceIoControl(test::kRegister, &pid, sizeof pid, nullptr, 0, registration),
              STATUS_PENDING);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, buffers[i], 16, work[i]), STATUS_PENDING);
    ASSERT_EQ(handle_.ReadFile(buffers[3], 16, read), STATUS_PENDING);

    handle_.Close();
    // Close returns once every request has completed: the buffers are free.
    for (Overlapped* o : {&registration, &work[0], &work[1], &work[2], &read}) {
        EXPECT_TRUE(o->CompletionEvent().IsSet());
        EXPECT_EQ(o->Status(), STATUS_CANCELLED);
    }
    ASSERT_TRUE(service_.WaitFor([&] { return service_.CountEvents(Event::Close, pid) == 1; }));
    const auto events = service_.Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events.front().kind, Event::CancelRegistration);
    EXPECT_EQ(events.back().kind, Event::Close);
    EXPECT_EQ(service_.Reads().Size() + service_.Work().Size() + service_.Registrations().Size(), 0u);

    Overlapped after;
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, nullptr, 0, after), STATUS_INVALID_HANDLE);
    EXPECT_EQ(handle_.CancelIo(), STATUS_INVALID_HANDLE);
    ASSERT_EQ(handle_.Open(kName), STATUS_SUCCESS);
    EXPECT_EQ(Echo(handle_), STATUS_SUCCESS);
}

TEST_F(DeviceIoTest, RequestsNeverWaitedForAreCancelledAndLeaveNothingBehind) {
    // Records destroyed while in flight: their requests are cancelled and
    // their buffers never written again.
    for (int i = 0; i < 50; ++i) {
        auto buffer = std::make_unique<std::uint8_t[]>(64);
        Overlapped o;
        ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, buffer.get(), 64, o), STATUS_PENDING);
    }
    EXPECT_TRUE(service_.WaitFor([&] { return service_.CountEvents(Event::CancelWork, getpid()) == 50; }));
    EXPECT_EQ(service_.Work().Size(), 0u);

    // A record destroyed while the service works on its request: the late
    // completion (with output) is dropped.
    {
        auto buffer = std::make_unique<std::uint8_t[]>(64);
        std::optional<Overlapped> o(std::in_place);
        ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, buffer.get(), 64, *o), STATUS_PENDING);
        ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 1));
        RequestPtr held = service_.Work().Next();
        ASSERT_TRUE(held);
        o.reset();
        buffer.reset();
        std::memset(held->Output().data(), 0x5A, 64);
        EXPECT_TRUE(held->Complete(STATUS_SUCCESS, 64));
    }
    EXPECT_EQ(Echo(handle_), STATUS_SUCCESS);

    // Handles closed with requests in flight, records outliving the handle
    // and the other way round.
    {
        std::deque<Overlapped> records(5);
        DeviceHandle handle;
        ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
        for (auto& o : records)
            ASSERT_EQ(handle.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, o), STATUS_PENDING);
    }
    {
        DeviceHandle handle;
        ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
        std::deque<Overlapped> records(5);
        for (auto& o : records)
            ASSERT_EQ(handle.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, o), STATUS_PENDING);
    }
    EXPECT_TRUE(service_.WaitFor([&] { return service_.CountEvents(Event::Close, getpid()) == 2; }));
    EXPECT_EQ(service_.Work().Size(), 0u);
    EXPECT_EQ(Echo(handle_), STATUS_SUCCESS);
}

TEST_F(DeviceIoTest, CancelsRacingCompletionsEndEachRequestExactlyOnce) {
    // Several threads pend requests and cancel them while the service
    // completes requests from its own thread: each request ends once, either
    // way, and nothing is left queued or waiting.
    constexpr int kThreads = 4, kRounds = 50, kPerRound = 4;
    std::atomic<bool> done{false};
    std::thread completer([&] {
        while (!done) {
            if (!service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {1})) std::this_thread::yield();
        }
    });
    std::atomic<int> succeeded{0}, cancelled{0}, other{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                Overlapped records[kPerRound];
                std::uint8_t out[kPerRound] = {};
                for (int i = 0; i < kPerRound; ++i) {
                    const NtStatus s =
                        handle_.DeviceIoControl(test::kPend, nullptr, 0, &out[i], 1, records[i]);
                    if (s != STATUS_PENDING && s != STATUS_SUCCESS) ++other;
                }
                handle_.CancelIo();
                for (auto& o : records) {
                    const NtStatus s = handle_.GetOverlappedResult(o, nullptr, true);
                    if (s == STATUS_SUCCESS) {
                        ++succeeded;
                    } else if (s == STATUS_CANCELLED) {
                        ++cancelled;
                    } else {
                        ++other;
                    }
                }
            }
        });
    }
    for (auto& c : clients)
        c.join();
    done = true;
    completer.join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(succeeded + cancelled, kThreads * kRounds * kPerRound);
    EXPECT_EQ(service_.Work().Size(), 0u);
    EXPECT_EQ(Echo(handle_), STATUS_SUCCESS);
}

TEST_F(DeviceIoTest, PostedRequestsReturnAtOnceAndEveryResultArrivesInTheRecord) {
    // Completed at once by the service, refused by it, pended: the call returns STATUS_PENDING each
    // time, and the result (output, count, status) reaches the record.
    char echoed[8] = {};
    Overlapped echo;
    ASSERT_EQ(handle_.PostDeviceIoControl(test::kEcho, "ping", 5, echoed, sizeof echoed, echo), STATUS_PENDING);
    std::uint64_t bytes = 0;
    EXPECT_EQ(handle_.GetOverlappedResult(echo, &bytes, true), STATUS_SUCCESS);
    EXPECT_EQ(bytes, 5u);
    EXPECT_STREQ(echoed, "ping");
    Overlapped refused;
    ASSERT_EQ(handle_.PostDeviceIoControl(test::Code(0x8FF), nullptr, 0, nullptr, 0, refused), STATUS_PENDING);
    ASSERT_TRUE(Completes(refused));
    EXPECT_EQ(refused.Status(), STATUS_INVALID_DEVICE_REQUEST);
    // A refusal before sending is returned as before.
    EXPECT_EQ(handle_.PostDeviceIoControl(test::kEcho, nullptr, 4, nullptr, 0, refused), STATUS_INVALID_PARAMETER);

    // Pended requests: a waiter that may be stopped gets its completion, or STATUS_PENDING once stopped
    // and woken; the request itself goes on and completes later.
    std::uint8_t outs[2] = {};
    Overlapped pended[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(handle_.PostDeviceIoControl(test::kPend, nullptr, 0, &outs[i], 1, pended[i]), STATUS_PENDING);
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 2));
    std::atomic<bool> stop{false};
    NtStatus first = STATUS_UNSUCCESSFUL;
    std::thread waiter([&] { first = handle_.GetOverlappedResult(pended[0], &bytes, stop); });
    ASSERT_TRUE(service_.CompleteNext(service_.Work(), 0xE0000101, {7}));
    waiter.join();
    EXPECT_EQ(first, 0xE0000101u);
    EXPECT_EQ(outs[0], 7);
    NtStatus second = STATUS_UNSUCCESSFUL;
    std::thread stopped([&] { second = handle_.GetOverlappedResult(pended[1], &bytes, stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let it wait, mostly; either way it must end
    stop = true;
    handle_.WakeWaiters();
    stopped.join();
    EXPECT_EQ(second, STATUS_PENDING);
    EXPECT_TRUE(pended[1].IsPending());
    // Waiters with a deadline give up once it has passed: the one reading the socket and the one
    // waiting behind it alike; the request goes on.
    stop = false;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(30);
    NtStatus timed[2] = {STATUS_UNSUCCESSFUL, STATUS_UNSUCCESSFUL};
    std::thread a([&] { timed[0] = handle_.GetOverlappedResult(pended[1], nullptr, stop, deadline); });
    std::thread b([&] { timed[1] = handle_.GetOverlappedResult(pended[1], nullptr, stop, deadline); });
    a.join();
    b.join();
    EXPECT_GE(std::chrono::steady_clock::now(), deadline);
    EXPECT_EQ(timed[0], STATUS_PENDING);
    EXPECT_EQ(timed[1], STATUS_PENDING);
    EXPECT_TRUE(pended[1].IsPending());
    ASSERT_TRUE(service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {9}));
    EXPECT_EQ(handle_.GetOverlappedResult(pended[1], &bytes, true), STATUS_SUCCESS);
    EXPECT_EQ(outs[1], 9);
}

TEST_F(DeviceIoTest, RequestsPostedTogetherGoInOrderAndARefusedOneLeavesTheOthersBe) {
    auto region = Region::Create(4096);
    ASSERT_TRUE(region);
    std::uint32_t id = 0;
    ASSERT_EQ(handle_.RegisterRegion(*region, &id), STATUS_SUCCESS);
    region->Data()[3] = 0x0F;
    const std::uint32_t first = 1, second = 2;
    std::uint32_t outs[2] = {0, 0};
    char echoed[8] = {};
    const RegionSpan inside{id, 0, 8}, outside{id, 4000, 200};
    Overlapped records[5];
    PostedRequest requests[5] = {
        {test::kPend, &first, sizeof first, &outs[0], sizeof outs[0], nullptr, &records[0]},
        {test::kEcho, "ping", 5, echoed, sizeof echoed, nullptr, &records[1]},
        {test::kInvert, nullptr, 0, nullptr, 0, &outside, &records[2]},
        {test::kInvert, nullptr, 0, nullptr, 0, &inside, &records[3]},
        {test::kPend, &second, sizeof second, &outs[1], sizeof outs[1], nullptr, &records[4]},
    };
    handle_.PostDeviceIoControls(requests);
    for (int i : {0, 1, 3, 4})
        EXPECT_EQ(requests[i].status, STATUS_PENDING) << i;
    // Refused before sending, its record finished; the others went.
    EXPECT_EQ(requests[2].status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(records[2].Status(), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(handle_.GetOverlappedResult(records[1], nullptr, true), STATUS_SUCCESS);
    EXPECT_STREQ(echoed, "ping");
    EXPECT_EQ(handle_.GetOverlappedResult(records[3], nullptr, true), STATUS_SUCCESS);
    EXPECT_EQ(region->Data()[3], 0xF0);
    // The pended ones reached the service in the order given.
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 2));
    for (const std::uint32_t expected : {first, second}) {
        RequestPtr r = service_.Work().Next();
        ASSERT_TRUE(r);
        std::uint32_t value = 0;
        ASSERT_EQ(r->Input().size(), sizeof value);
        std::memcpy(&value, r->Input().data(), sizeof value);
        EXPECT_EQ(value, expected);
        std::memcpy(r->Output().data(), &value, sizeof value);
        r->Complete(STATUS_SUCCESS, sizeof value);
    }
    for (int i : {0, 4})
        EXPECT_EQ(handle_.GetOverlappedResult(records[i], nullptr, true), STATUS_SUCCESS);
    EXPECT_EQ(outs[0], first);
    EXPECT_EQ(outs[1], second);
    // One without a record is refused; a closed handle sends none of them.
    Overlapped unsent;
    PostedRequest pair[2] = {{test::kEcho, "x", 2, echoed, sizeof echoed, nullptr, nullptr},
                             {test::kEcho, "y", 2, echoed, sizeof echoed, nullptr, &unsent}};
    handle_.PostDeviceIoControls(pair);
    EXPECT_EQ(pair[0].status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(pair[1].status, STATUS_PENDING);
    EXPECT_EQ(handle_.GetOverlappedResult(unsent, nullptr, true), STATUS_SUCCESS);
    EXPECT_STREQ(echoed, "y");
    DeviceHandle closed;
    PostedRequest one{test::kEcho, "x", 2, echoed, sizeof echoed, nullptr, &unsent};
    closed.PostDeviceIoControls(std::span(&one, 1));
    EXPECT_EQ(one.status, STATUS_INVALID_HANDLE);
}

TEST(DeviceIoBatch, RequestsPostedTogetherReachTheServiceInOneWrite) {
    // A peer already waiting in its read gets every request of the batch in that one read: a service
    // wakes once for them, not once each.
    test::TestRoot root;
    const char* name = "\\\\.\\DEVIOBATCH";
    const std::filesystem::path path = DevicePath(name);
    std::filesystem::create_directories(path.parent_path());
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(name), STATUS_SUCCESS);
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);
    std::vector<std::uint8_t> received(64 * 1024);
    ssize_t firstRead = -1;
    std::thread reader([&] { firstRead = recv(peer, received.data(), received.size(), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    constexpr std::uint32_t kCount = 4;
    Overlapped records[kCount];
    std::uint32_t inputs[kCount], outs[kCount];
    PostedRequest requests[kCount];
    for (std::uint32_t i = 0; i < kCount; ++i) {
        inputs[i] = 100 + i;
        requests[i] = {test::kPend,    &inputs[i], sizeof inputs[i], &outs[i],
                       sizeof outs[i], nullptr,    &records[i]};
    }
    handle.PostDeviceIoControls(requests);
    reader.join();
    constexpr std::size_t kEach =
        sizeof(wire::MessageHeader) + sizeof(wire::RequestBody) + sizeof(std::uint32_t);
    ASSERT_EQ(firstRead, static_cast<ssize_t>(kCount * kEach));
    std::uint64_t lastId = 0;
    for (std::uint32_t i = 0; i < kCount; ++i) {
        wire::MessageHeader header;
        wire::RequestBody body;
        std::uint32_t input;
        std::memcpy(&header, received.data() + i * kEach, sizeof header);
        std::memcpy(&body, received.data() + i * kEach + sizeof header, sizeof body);
        std::memcpy(&input, received.data() + i * kEach + sizeof header + sizeof body, sizeof input);
        EXPECT_EQ(header.type, static_cast<std::uint16_t>(wire::MessageType::Request));
        EXPECT_EQ(header.flags, wire::kFlagNoPending);
        EXPECT_GT(std::uint64_t{header.id}, lastId);
        lastId = header.id;
        EXPECT_EQ(body.code, test::kPend);
        EXPECT_EQ(input, 100 + i);
    }
    // The peer goes: every posted request ends.
    close(peer);
    for (Overlapped& record : records)
        EXPECT_EQ(handle.GetOverlappedResult(record, nullptr, true), STATUS_DEVICE_NOT_CONNECTED);
    close(listener);
}

TEST_F(DeviceIoTest, AWaiterLeavingAfterALargeAnswerStrandsNothingBehindIt) {
    // The waiting thread reads the socket itself and stops once its own answer is in: a small answer
    // right behind a large one must still reach its record (read by that thread or the reader thread).
    constexpr std::size_t kLarge = 3 << 20;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::uint8_t> large(kLarge), small(4);
        Overlapped big, little;
        ASSERT_EQ(handle_.PostDeviceIoControl(test::kPend, nullptr, 0, large.data(), kLarge, big), STATUS_PENDING);
        ASSERT_EQ(handle_.PostDeviceIoControl(test::kPend, nullptr, 0, small.data(), 4, little), STATUS_PENDING);
        ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 2));
        std::thread completer([&] {
            service_.CompleteNext(service_.Work(), STATUS_SUCCESS, std::vector<std::uint8_t>(kLarge, 0x5A));
            service_.CompleteNext(service_.Work(), STATUS_SUCCESS, {1, 2, 3, 4});
        });
        std::uint64_t bytes = 0;
        EXPECT_EQ(handle_.GetOverlappedResult(big, &bytes, true), STATUS_SUCCESS);
        EXPECT_EQ(bytes, kLarge);
        EXPECT_EQ(large.back(), 0x5A);
        // Nobody waits in the handle now: the reader thread must take it.
        EXPECT_TRUE(Completes(little));
        EXPECT_EQ(small[3], 4);
        completer.join();
    }
}

TEST_F(DeviceIoTest, RecordInFlightCannotCarryASecondRequest) {
    Overlapped o;
    ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, o), STATUS_PENDING);
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, nullptr, 0, o), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(o.IsPending());
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), 1));
    service_.CompleteNext(service_.Work(), STATUS_SUCCESS);
    ASSERT_EQ(handle_.GetOverlappedResult(o, nullptr, true), STATUS_SUCCESS);
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, nullptr, 0, o), STATUS_SUCCESS);
}

TEST_F(DeviceIoTest, CompletionsArriveInTheOrderTheServiceCompletedThem) {
    constexpr std::uint32_t kCount = 64;
    std::deque<Overlapped> records(kCount);
    std::vector<std::uint32_t> answers(kCount, 0xFFFFFFFF);
    for (std::uint32_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(handle_.DeviceIoControl(test::kPend, &i, sizeof i, &answers[i], sizeof(std::uint32_t),
                                          records[i]),
                  STATUS_PENDING);
    }
    ASSERT_TRUE(service_.WaitForQueued(service_.Work(), kCount));
    std::vector<RequestPtr> requests;
    while (auto r = service_.Work().Next())
        requests.push_back(r);
    std::shuffle(requests.begin(), requests.end(), std::mt19937(1234));

    std::vector<std::uint32_t> order;
    std::thread completer([&] {
        for (auto& r : requests) {
            std::uint32_t index;
            std::memcpy(&index, r->Input().data(), sizeof index);
            std::memcpy(r->Output().data(), &index, sizeof index);
            r->Complete(STATUS_SUCCESS, sizeof index);
        }
    });
    for (auto& r : requests) {
        std::uint32_t index;
        std::memcpy(&index, r->Input().data(), sizeof index);
        order.push_back(index);
    }
    for (std::size_t k = 0; k < order.size(); ++k) {
        ASSERT_TRUE(Completes(records[order[k]]));
        EXPECT_EQ(answers[order[k]], order[k]);
        for (std::size_t j = 0; j < k; ++j)
            ASSERT_FALSE(records[order[j]].IsPending()) << "completion " << j << " after " << k;
    }
    completer.join();
}

TEST_F(DeviceIoTest, RegionOutputsAreWrittenInPlaceAndSeenBothWays) {
    auto region = Region::Create(4096);
    ASSERT_TRUE(region);
    std::memset(region->Data(), 0xFF, 4096);
    std::uint32_t id = 0;
    ASSERT_EQ(handle_.RegisterRegion(*region, &id), STATUS_SUCCESS);

    // The service sees what the client put there and the client sees what
    // the service wrote, with no output bytes travelling.
    Overlapped o;
    ASSERT_EQ(handle_.DeviceIoControl(test::kInvert, nullptr, 0, RegionSpan{id, 1024, 512}, o),
              STATUS_SUCCESS);
    EXPECT_EQ(o.Information(), 512u);
    EXPECT_EQ(o.OutputBytes(), 0u);
    for (std::size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(region->Data()[i], (i >= 1024 && i < 1536) ? 0x00 : 0xFF) << i;
    }

    // A pended read into the region, completed after the region was
    // unregistered: the service's mapping stays valid for the request.
    Overlapped read;
    ASSERT_EQ(handle_.ReadFile(RegionSpan{id, 4000, 96}, read), STATUS_PENDING);
    EXPECT_EQ(handle_.UnregisterRegion(id), STATUS_SUCCESS);
    ASSERT_TRUE(service_.WaitForQueued(service_.Reads(), 1));
    RequestPtr r = service_.Reads().Next();
    ASSERT_TRUE(r->OutputInRegion());
    ASSERT_EQ(r->OutputLength(), 96u);
    std::memset(r->Output().data(), 0x11, 96);
    r->Complete(STATUS_SUCCESS, 96);
    EXPECT_EQ(handle_.GetOverlappedResult(read, nullptr, true), STATUS_SUCCESS);
    EXPECT_EQ(region->Data()[3999], 0xFF);
    EXPECT_EQ(region->Data()[4000], 0x11);
    EXPECT_EQ(region->Data()[4095], 0x11);
}

TEST_F(DeviceIoTest, RegionSpansOutsideTheRegionAreRefused) {
    auto region = Region::Create(4096);
    ASSERT_TRUE(region);
    std::uint32_t id = 0;
    ASSERT_EQ(handle_.RegisterRegion(*region, &id), STATUS_SUCCESS);
    const RegionSpan spans[] = {
        {id, 4096, 1}, {id, 4000, 200}, {id, ~0ull, 2}, {id, 1, ~0ull}, {id + 100, 0, 1},
    };
    for (const auto& span : spans) {
        Overlapped o;
        EXPECT_EQ(handle_.DeviceIoControl(test::kInvert, nullptr, 0, span, o), STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(o.CompletionEvent().IsSet());
    }
    Overlapped whole;
    EXPECT_EQ(handle_.DeviceIoControl(test::kInvert, nullptr, 0, RegionSpan{id, 0, 4096}, whole),
              STATUS_SUCCESS);
    EXPECT_EQ(handle_.UnregisterRegion(id), STATUS_SUCCESS);
    EXPECT_EQ(handle_.UnregisterRegion(id), STATUS_INVALID_PARAMETER);
    Overlapped gone;
    EXPECT_EQ(handle_.DeviceIoControl(test::kInvert, nullptr, 0, RegionSpan{id, 0, 1}, gone),
              STATUS_INVALID_PARAMETER);
}

TEST_F(DeviceIoTest, ReadIntoTheCallersBufferCompletesWithTheReportedCount) {
    std::vector<std::uint8_t> buffer(100, 0xEE);
    Overlapped o;
    ASSERT_EQ(handle_.ReadFile(buffer.data(), buffer.size(), o), STATUS_PENDING);
    ASSERT_TRUE(service_.WaitForQueued(service_.Reads(), 1));
    RequestPtr r = service_.Reads().Next();
    EXPECT_EQ(r->Kind(), RequestKind::Read);
    EXPECT_EQ(r->OutputLength(), 100u);
    std::memset(r->Output().data(), 0x42, 40);
    r->Complete(STATUS_SUCCESS, 40);
    std::uint64_t bytes = 0;
    EXPECT_EQ(handle_.GetOverlappedResult(o, &bytes, true), STATUS_SUCCESS);
    EXPECT_EQ(bytes, 40u);
    EXPECT_EQ(buffer[39], 0x42);
    EXPECT_EQ(buffer[40], 0xEE);
}

TEST_F(DeviceIoTest, OversizedRequestsAreRefusedBeforeSending) {
    std::vector<std::uint8_t> big(wire::kMaxInputLength + 1);
    Overlapped o;
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, big.data(), big.size(), nullptr, 0, o),
              STATUS_INVALID_PARAMETER);
    std::uint8_t one;
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, &one, wire::kMaxInlineOutputLength + 1, o),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 4, nullptr, 0, o), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Echo(handle_), STATUS_SUCCESS);
}

TEST_F(DeviceIoTest, ServiceStopCompletesRequestsInFlightAndLaterOnesFail) {
    Overlapped o;
    ASSERT_EQ(handle_.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, o), STATUS_PENDING);
    service_.Stop();
    ASSERT_TRUE(Completes(o));
    EXPECT_EQ(o.Status(), STATUS_CANCELLED);
    EXPECT_TRUE(service_.WaitFor([&] { return service_.CountEvents(Event::Close, getpid()) == 1; }));
    for (int i = 0; i < 500 && handle_.IsOpen(); ++i)
        usleep(10000);
    EXPECT_FALSE(handle_.IsOpen());
    Overlapped after;
    EXPECT_EQ(handle_.DeviceIoControl(test::kEcho, nullptr, 0, nullptr, 0, after),
              STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(DeviceIoTest, KilledClientProcessHasItsRequestsCancelledAndTheServiceGoesOn) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = DEVIO_TEST_CLIENT, name = kName, count = "3";
    char* argv[] = {program.data(), name.data(), count.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char ready[6] = {};
    ASSERT_EQ(read(out[0], ready, 6), 6) << "the test client did not get its requests pending";
    close(out[0]);
    const auto pid = static_cast<std::uint32_t>(child);
    ASSERT_EQ(service_.Registrations().Size(), 1u);
    ASSERT_EQ(service_.Work().Size(), 3u);

    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(service_.WaitFor([&] { return service_.CountEvents(Event::Close, pid) == 1; }));
    EXPECT_EQ(service_.CountEvents(Event::CancelRegistration, pid), 1u);
    EXPECT_EQ(service_.CountEvents(Event::CancelWork, pid), 3u);
    EXPECT_EQ(service_.Events().back().kind, Event::Close);
    EXPECT_EQ(service_.Registrations().Size() + service_.Work().Size(), 0u);

    EXPECT_EQ(Echo(handle_), STATUS_SUCCESS);
    EXPECT_TRUE(service_.WaitFor([&] { return service_.Server().ConnectionCount() == 1; }));
}

} // namespace
} // namespace qorcam::devio

namespace qorcam::devio {
namespace {

// A client that polls for a device's name connects as soon as the name is there: the
// name appears only once the socket listens, and no other entry shows up in the folder.
TEST(DeviceNameAppears, AClientThatSeesTheNameCanConnect) {
    test::TestRoot root;
    for (int round = 0; round < 100; ++round) {
        const std::string name = "\\\\.\\DEVIORACE" + std::to_string(round);
        const std::filesystem::path path = DevicePath(name);
        test::TestService service;
        std::atomic<bool> started{false};
        std::thread starter([&] {
            EXPECT_EQ(service.Start(path), STATUS_SUCCESS);
            started = true;
        });
        bool seen = false;
        for (int spin = 0; spin < 5'000'000 && !seen; ++spin) {
            std::error_code ignored;
            seen = std::filesystem::exists(path, ignored);
            if (!seen && started) break;
        }
        ASSERT_TRUE(seen || started.load());
        DeviceHandle handle;
        EXPECT_EQ(handle.Open(name), STATUS_SUCCESS) << "round " << round;
        starter.join();
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), ignored))
            EXPECT_EQ(entry.path().filename().string().rfind(".b", 0), std::string::npos) << entry.path();
        service.Stop();
    }
}

} // namespace
} // namespace qorcam::devio
