// TestService: a small device service for the devio tests: echo, pend, fill, register and read.
#pragma once

#include "devio/DeviceServer.h"
#include "devio/RequestQueue.h"
#include "devio/Status.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qorcam::devio::test {

constexpr std::uint32_t Code(std::uint32_t function, std::uint32_t method = METHOD_OUT_DIRECT) {
    return CTL_CODE(FILE_DEVICE_UNKNOWN, function, method, FILE_ANY_ACCESS);
}

/// Completes at once: output = input, information = input length.
inline constexpr std::uint32_t kEcho = Code(0x800);
/// Pended in the work queue until the test completes it.
inline constexpr std::uint32_t kPend = Code(0x801);
/// Completes at once with the status and information given as two u32 in
/// the input, writing the whole output room with 0xA5 bytes.
inline constexpr std::uint32_t kAnswer = Code(0x802);
/// Completes at once after turning every output byte into its complement
/// (so a region's contents travel both ways).
inline constexpr std::uint32_t kInvert = Code(0x803);
/// Pended for the life of the handle; its cancellation records the process.
inline constexpr std::uint32_t kRegister = Code(0x804, METHOD_IN_DIRECT);
/// Pended, then completed from another thread before the dispatch returns.
inline constexpr std::uint32_t kPendAndComplete = Code(0x805);
/// Cancelled by the service itself before it tries to pend it.
inline constexpr std::uint32_t kCancelThenPend = Code(0x806);
/// The dispatch routine throws.
inline constexpr std::uint32_t kThrow = Code(0x807);
/// Made cancelable, then completed before the dispatch returns.
inline constexpr std::uint32_t kCancelableAtOnce = Code(0x808);
/// The dispatch routine waits until the test releases it (at most 10 s),
/// then completes the request.
inline constexpr std::uint32_t kBlock = Code(0x809);

/// What happened in the service, in order, for the tests to check.
struct Event {
    enum Kind { CancelWork, CancelRegistration, Close } kind;
    std::uint32_t processId;
    std::uint64_t connection;
};

class TestService {
public:
    TestService()
        : server_([this](const RequestPtr& r) { Dispatch(r); },
                  [this](const ConnectionInfo& info) {
                      Record({Event::Close, info.processId, info.id});
                  }) {}

    NtStatus Start(const std::filesystem::path& path) { return server_.Start(path); }
    void Stop() { server_.Stop(); }
    DeviceServer& Server() { return server_; }
    RequestQueue& Work() { return work_; }
    RequestQueue& Reads() { return reads_; }
    RequestQueue& Registrations() { return registrations_; }

    /// Waits until pred holds (or 10 s pass). pred runs without the
    /// service's lock, so it may use the accessors below.
    bool WaitFor(const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
        return true;
    }
    bool WaitForQueued(RequestQueue& queue, std::size_t count) {
        return WaitFor([&] { return queue.Size() >= count; });
    }
    std::vector<Event> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::size_t CountEvents(Event::Kind kind, std::uint32_t pid) {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& e : events_)
            n += (e.kind == kind && e.processId == pid) ? 1 : 0;
        return n;
    }

    /// Close routines run so far, for every process.
    std::size_t Closes() {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& e : events_)
            n += e.kind == Event::Close ? 1 : 0;
        return n;
    }

    /// Dispatch routines waiting in kBlock now.
    std::size_t Blocked() {
        std::lock_guard lock(mutex_);
        return blocked_;
    }
    /// Lets every kBlock dispatch routine return, now and later.
    void Unblock() {
        std::lock_guard lock(mutex_);
        unblocked_ = true;
        changed_.notify_all();
    }

    /// Completes the oldest pended work request with the given bytes as output.
    bool CompleteNext(RequestQueue& queue, NtStatus status, const std::vector<std::uint8_t>& output = {}) {
        RequestPtr r = queue.Next();
        if (!r) return false;
        const std::size_t n = std::min(output.size(), r->OutputLength());
        if (n != 0) std::memcpy(r->Output().data(), output.data(), n);
        return r->Complete(status, n);
    }

private:
    void Record(Event e) {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
        changed_.notify_all();
    }
    void Notify() {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }

    void Dispatch(const RequestPtr& r) {
        if (r->Kind() == RequestKind::Read) {
            reads_.Pend(r);
            Notify();
            return;
        }
        switch (r->Code()) {
        case kEcho: {
            const auto in = r->Input();
            const std::size_t n = std::min(in.size(), r->OutputLength());
            if (n != 0) std::memcpy(r->Output().data(), in.data(), n);
            r->Complete(STATUS_SUCCESS, in.size());
            return;
        }
        case kPend:
            work_.Pend(r, [this](const RequestPtr& c) {
                Record({Event::CancelWork, c->ProcessId(), c->ConnectionId()});
            });
            Notify();
            return;
        case kAnswer: {
            std::uint32_t words[2] = {STATUS_INVALID_PARAMETER, 0};
            if (r->Input().size() >= sizeof words) std::memcpy(words, r->Input().data(), sizeof words);
            std::memset(r->Output().data(), 0xA5, r->OutputLength());
            r->Complete(words[0], words[1], r->OutputLength());
            return;
        }
        case kInvert:
            for (auto& b : r->Output())
                b = static_cast<std::uint8_t>(~b);
            r->Complete(STATUS_SUCCESS, r->OutputLength());
            return;
        case kRegister:
            registrations_.Pend(r, [this](const RequestPtr& c) {
                Record({Event::CancelRegistration, c->ProcessId(), c->ConnectionId()});
            });
            Notify();
            return;
        case kPendAndComplete: {
            r->MarkPending();
            std::thread([r] { r->Complete(STATUS_SUCCESS, 0); }).join();
            return;
        }
        case kCancelThenPend:
            r->Cancel();
            if (work_.Pend(r)) r->Complete(STATUS_UNSUCCESSFUL);
            return;
        case kCancelableAtOnce:
            if (r->SetCancelRoutine([](const RequestPtr&) {})) r->Complete(STATUS_SUCCESS, 0);
            return;
        case kBlock: {
            std::unique_lock lock(mutex_);
            ++blocked_;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(10), [this] { return unblocked_; });
            --blocked_;
            lock.unlock();
            r->Complete(STATUS_SUCCESS, 0);
            return;
        }
        case kThrow:
            throw std::runtime_error("dispatch failed");
        default:
            r->Complete(STATUS_INVALID_DEVICE_REQUEST);
            return;
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::size_t blocked_ = 0;
    bool unblocked_ = false;
    RequestQueue work_;
    RequestQueue reads_;
    RequestQueue registrations_;
    DeviceServer server_; // last: stopped (and its close routines run) before the queues go
};

} // namespace qorcam::devio::test
