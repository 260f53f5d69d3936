// HandleCore: requests of one client connection, their first answers and completions.
#include "devio/HandleCore.h"

#include "devio/DeviceName.h"
#include "devio/UnixAddress.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <span>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace qorcam::devio::detail {
std::shared_ptr<HandleCore> HandleCore::Connect(std::string_view name, NtStatus* status) {
    const std::filesystem::path path = DevicePath(name);
    sockaddr_un address;
    if (!FillUnixAddress(path, address)) {
        *status = STATUS_OBJECT_NAME_INVALID;
        return nullptr;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *status = STATUS_INSUFFICIENT_RESOURCES;
        return nullptr;
    }
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        close(fd);
        *status = (error == EACCES || error == EPERM) ? STATUS_ACCESS_DENIED : STATUS_OBJECT_NAME_NOT_FOUND;
        return nullptr;
    }
    std::shared_ptr<HandleCore> core(new HandleCore(fd));
    if (!core->SetUpWatches()) {
        core->connected_ = false;
        *status = STATUS_INSUFFICIENT_RESOURCES;
        return nullptr;
    }
    try {
        core->reader_ = std::thread([raw = core.get()] { raw->ReaderLoop(); });
    } catch (const std::system_error&) {
        core->connected_ = false;
        *status = STATUS_INSUFFICIENT_RESOURCES;
        return nullptr;
    }
    *status = STATUS_SUCCESS;
    return core;
}

HandleCore::~HandleCore() {
    Close();
    close(fd_);
    for (const int watch : {waitWatch_, readerWatch_, wakeUp_, readerWake_})
        if (watch >= 0) close(watch);
}

bool HandleCore::SetUpWatches() {
    waitWatch_ = epoll_create1(EPOLL_CLOEXEC);
    readerWatch_ = epoll_create1(EPOLL_CLOEXEC);
    wakeUp_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    readerWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waitWatch_ < 0 || readerWatch_ < 0 || wakeUp_ < 0 || readerWake_ < 0) return false;
    // Exclusive watches are woken in the order they were added, and only
    // while a thread sleeps in them: waitWatch_ first.
    epoll_event socket{};
    socket.events = EPOLLIN | EPOLLEXCLUSIVE;
    socket.data.u32 = 0;
    epoll_event wakeUp{};
    wakeUp.events = EPOLLIN;
    wakeUp.data.u32 = 1;
    return epoll_ctl(waitWatch_, EPOLL_CTL_ADD, fd_, &socket) == 0 &&
           epoll_ctl(waitWatch_, EPOLL_CTL_ADD, wakeUp_, &wakeUp) == 0 &&
           epoll_ctl(readerWatch_, EPOLL_CTL_ADD, fd_, &socket) == 0 &&
           epoll_ctl(readerWatch_, EPOLL_CTL_ADD, readerWake_, &wakeUp) == 0;
}

bool HandleCore::UnwatchForReader() {
    // receiveMutex_ held. Not while the watch could not be given back before.
    if (readerUnwatched_.load(std::memory_order_acquire)) return false;
    return epoll_ctl(readerWatch_, EPOLL_CTL_DEL, fd_, nullptr) == 0;
}

void HandleCore::RewatchForReader() {
    // receiveMutex_ held. Whatever arrived meanwhile makes the socket ready at once.
    epoll_event socket{};
    socket.events = EPOLLIN | EPOLLEXCLUSIVE;
    socket.data.u32 = 0;
    if (epoll_ctl(readerWatch_, EPOLL_CTL_ADD, fd_, &socket) == 0) return;
    // No room for the watch now (the system is out of memory): the reader
    // thread reads at a slow pace and tries again until it is back.
    readerUnwatched_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(readerWake_, &one, sizeof one);
}

std::unique_ptr<Overlapped> HandleCore::TakeRecord() {
    {
        std::lock_guard lock(spareMutex_);
        if (!spare_.empty()) {
            auto record = std::move(spare_.back());
            spare_.pop_back();
            return record;
        }
    }
    auto record = std::make_unique<Overlapped>();
    record->silent_ = true;
    return record;
}

void HandleCore::GiveBack(std::unique_ptr<Overlapped> record) {
    // A record still carrying a request (a call that ended without its
    // completion) is dropped: its destructor forgets the request.
    if (!record || record->IsPending()) return;
    // It keeps no reference to this connection while it waits here.
    record->core_.reset();
    std::lock_guard lock(spareMutex_);
    if (spare_.size() < kSpareRecords) spare_.push_back(std::move(record));
}

bool HandleCore::IsOpen() const {
    std::lock_guard lock(mutex_);
    return connected_ && !closing_;
}

void HandleCore::Finish(Overlapped& overlapped, NtStatus status) {
    overlapped.information_.store(0, std::memory_order_relaxed);
    overlapped.outputBytes_.store(0, std::memory_order_relaxed);
    overlapped.status_.store(status, std::memory_order_release);
    if (!overlapped.silent_) overlapped.event_.Set();
}

bool HandleCore::Send(std::uint16_t type, std::uint64_t id, std::span<const std::uint8_t> a,
                      std::span<const std::uint8_t> b, int passFd, std::uint16_t flags) {
    const auto message = BuildMessage(static_cast<wire::MessageType>(type), id, {a, b}, flags);
    std::lock_guard lock(sendMutex_);
    return SendAll(fd_, message, passFd);
}

NtStatus HandleCore::Enter(const std::shared_ptr<HandleCore>& self, std::uint32_t kind, std::uint32_t code,
                           const void* input, std::size_t inputLength, void* output, std::size_t outputLength,
                           const RegionSpan* region, Overlapped& overlapped, FirstAnswer* first,
                           wire::RequestBody* body) {
    // A record whose request is still in flight cannot carry a second one:
    // the first completion would land in the second request's place.
    if (overlapped.core_ && overlapped.IsPending()) {
        std::lock_guard lock(overlapped.core_->mutex_);
        const auto it = overlapped.core_->entries_.find(overlapped.id_);
        if (it != overlapped.core_->entries_.end() && it->second.overlapped == &overlapped)
            return STATUS_INVALID_PARAMETER;
    }
    NtStatus refused = STATUS_SUCCESS;
    *body = wire::RequestBody{kind, code, static_cast<std::uint32_t>(inputLength), 0, 0, 0, 0};
    if (inputLength > wire::kMaxInputLength || (input == nullptr && inputLength != 0)) {
        refused = STATUS_INVALID_PARAMETER;
    } else if (region != nullptr) {
        body->outputMode = static_cast<std::uint32_t>(wire::OutputMode::Region);
        body->regionId = region->region;
        body->outputOffset = region->offset;
        body->outputLength = region->length;
        std::lock_guard lock(mutex_);
        const auto it = regionSizes_.find(region->region);
        if (it == regionSizes_.end() || region->offset > it->second ||
            region->length > it->second - region->offset)
            refused = STATUS_INVALID_PARAMETER;
    } else if (outputLength > wire::kMaxInlineOutputLength || (output == nullptr && outputLength != 0)) {
        refused = STATUS_INVALID_PARAMETER;
    } else {
        body->outputLength = outputLength;
    }

    if (!overlapped.silent_) overlapped.event_.Reset();
    overlapped.information_ = 0;
    overlapped.outputBytes_ = 0;
    overlapped.status_.store(STATUS_PENDING, std::memory_order_release);
    overlapped.core_ = self;
    if (refused != STATUS_SUCCESS) {
        Finish(overlapped, refused);
        return refused;
    }

    std::lock_guard lock(mutex_);
    if (!connected_ || closing_) {
        const NtStatus status = closing_ || closed_ ? STATUS_INVALID_HANDLE : STATUS_DEVICE_NOT_CONNECTED;
        Finish(overlapped, status);
        return status;
    }
    const std::uint64_t id = nextId_++;
    entries_.emplace(id, Entry{&overlapped, region ? nullptr : static_cast<std::uint8_t*>(output),
                               region ? 0 : outputLength, std::this_thread::get_id(), first});
    overlapped.id_ = id;
    return STATUS_PENDING;
}

void HandleCore::SendRequests(std::span<const std::uint8_t> messages) {
    bool sent;
    {
        std::lock_guard lock(sendMutex_);
        sent = SendAll(fd_, messages);
    }
    if (!sent) SendFailed();
}

void HandleCore::SendFailed() {
    // The service is gone: the reader sees the connection end and
    // completes every request. (During Close the service still hands
    // back the requests it has; the reader ends when it is done.)
    std::unique_lock lock(mutex_);
    if (!closing_) {
        lock.unlock();
        shutdown(fd_, SHUT_RDWR);
    }
}

NtStatus HandleCore::Submit(const std::shared_ptr<HandleCore>& self, std::uint32_t kind, std::uint32_t code,
                            const void* input, std::size_t inputLength, void* output,
                            std::size_t outputLength, const RegionSpan* region, Overlapped& overlapped,
                            bool finalOnly, bool posted) {
    finalOnly = finalOnly || posted;
    FirstAnswer first = FirstAnswer::None;
    wire::RequestBody body{};
    const NtStatus entered = Enter(self, kind, code, input, inputLength, output, outputLength, region,
                                   overlapped, posted ? nullptr : &first, &body);
    if (entered != STATUS_PENDING) return entered;
    const std::uint64_t id = overlapped.id_;
    // A synchronous call that waits for its completion polls for it first
    // while calls of its code were answered that fast lately.
    const bool waitsForFinal = finalOnly && !posted;
    std::chrono::nanoseconds poll{};
    std::chrono::steady_clock::time_point sent{};
    if (waitsForFinal) {
        std::lock_guard lock(mutex_);
        if (!readerUnwatched_.load(std::memory_order_relaxed)) {
            poll = gauges_.try_emplace(code, CallerGauge()).first->second.Budget();
            sent = std::chrono::steady_clock::now();
        }
    }
    SendRequests(BuildMessage(wire::MessageType::Request, id,
                              {AsBytes(body), {static_cast<const std::uint8_t*>(input), inputLength}},
                              finalOnly ? wire::kFlagNoPending : 0));
    // A posted request's answer, whenever it comes, goes to its record only.
    if (posted) return STATUS_PENDING;
    std::unique_lock lock(mutex_);
    const bool whilePolling = WaitFor(lock, [&] { return first != FirstAnswer::None; }, poll);
    if (sent != std::chrono::steady_clock::time_point{})
        gauges_.try_emplace(code, CallerGauge()).first->second.Record(std::chrono::steady_clock::now() - sent,
                                                                       whilePolling);
    return first == FirstAnswer::Pending ? STATUS_PENDING : overlapped.Status();
}

void HandleCore::SubmitPosted(const std::shared_ptr<HandleCore>& self, std::uint32_t kind,
                              std::span<PostedRequest> requests) {
    std::vector<std::uint8_t> messages;
    bool sent = true;
    {
        // Held from the first request's entry to the write: a cancel of one of them, from whatever thread,
        // goes out behind it (a cancel the service gets before its request is lost).
        std::lock_guard sending(sendMutex_);
        for (PostedRequest& request : requests) {
            if (request.overlapped == nullptr) {
                request.status = STATUS_INVALID_PARAMETER;
                continue;
            }
            wire::RequestBody body{};
            request.status =
                Enter(self, kind, request.code, request.input, request.inputLength, request.output,
                      request.outputLength, request.region, *request.overlapped, nullptr, &body);
            if (request.status != STATUS_PENDING) continue;
            const auto message = BuildMessage(
                wire::MessageType::Request, request.overlapped->id_,
                {AsBytes(body), {static_cast<const std::uint8_t*>(request.input), request.inputLength}},
                wire::kFlagNoPending);
            messages.insert(messages.end(), message.begin(), message.end());
        }
        if (!messages.empty()) sent = SendAll(fd_, messages);
    }
    if (!sent) SendFailed();
}

NtStatus HandleCore::Result(Overlapped& overlapped, std::uint64_t* bytes, bool wait) {
    if (overlapped.IsPending()) {
        if (!wait) return STATUS_PENDING;
        std::unique_lock lock(mutex_);
        WaitFor(lock, [&] { return !overlapped.IsPending(); });
    }
    if (bytes != nullptr) *bytes = overlapped.Information();
    return overlapped.Status();
}

NtStatus HandleCore::Result(Overlapped& overlapped, std::uint64_t* bytes, const std::atomic<bool>& stop,
                           std::chrono::steady_clock::time_point deadline) {
    if (overlapped.IsPending()) {
        std::unique_lock lock(mutex_);
        const bool bounded = deadline != std::chrono::steady_clock::time_point::max();
        WaitFor(
            lock,
            [&] {
                return !overlapped.IsPending() || stop.load(std::memory_order_acquire) ||
                       (bounded && std::chrono::steady_clock::now() >= deadline);
            },
            std::chrono::nanoseconds::zero(), deadline);
    }
    if (overlapped.IsPending()) return STATUS_PENDING;
    if (bytes != nullptr) *bytes = overlapped.Information();
    return overlapped.Status();
}

void HandleCore::WakeWaiters() {
    {
        // Taken so that a waiter between its look and its sleep is not missed.
        std::lock_guard lock(mutex_);
    }
    changed_.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wakeUp_, &one, sizeof one);
}

void HandleCore::CancelThread(std::thread::id thread) {
    std::vector<std::uint64_t> ids;
    {
        std::lock_guard lock(mutex_);
        if (!connected_) return;
        for (const auto& [id, entry] : entries_)
            if (entry.thread == thread) ids.push_back(id);
    }
    for (const auto id : ids)
        Send(static_cast<std::uint16_t>(wire::MessageType::Cancel), id);
}

bool HandleCore::Cancel(Overlapped& overlapped) {
    bool inFlight = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(overlapped.id_);
        inFlight = connected_ && it != entries_.end() && it->second.overlapped == &overlapped;
    }
    if (inFlight) Send(static_cast<std::uint16_t>(wire::MessageType::Cancel), overlapped.id_);
    return inFlight;
}

void HandleCore::Forget(Overlapped& overlapped) {
    bool inFlight = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(overlapped.id_);
        if (it != entries_.end() && it->second.overlapped == &overlapped) {
            it->second.overlapped = nullptr;
            it->second.output = nullptr;
            it->second.outputLength = 0;
            inFlight = connected_;
        }
    }
    if (inFlight) Send(static_cast<std::uint16_t>(wire::MessageType::Cancel), overlapped.id_);
}

NtStatus HandleCore::RegisterRegion(const Region& region, std::uint32_t* regionId) {
    if (regionId == nullptr) return STATUS_INVALID_PARAMETER;
    std::uint32_t id;
    {
        std::lock_guard lock(mutex_);
        if (!connected_ || closing_) return STATUS_INVALID_HANDLE;
        id = nextRegion_++;
    }
    if (!Send(static_cast<std::uint16_t>(wire::MessageType::RegisterRegion), id, {}, {}, region.Fd())) {
        shutdown(fd_, SHUT_RDWR);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return regionAnswers_.count(id) != 0 || !connected_; });
    const auto it = regionAnswers_.find(id);
    if (it == regionAnswers_.end()) return STATUS_DEVICE_NOT_CONNECTED;
    const NtStatus status = it->second;
    regionAnswers_.erase(it);
    if (status == STATUS_SUCCESS) {
        regionSizes_[id] = region.Size();
        *regionId = id;
    }
    return status;
}

NtStatus HandleCore::UnregisterRegion(std::uint32_t regionId) {
    {
        std::lock_guard lock(mutex_);
        if (regionSizes_.erase(regionId) == 0) return STATUS_INVALID_PARAMETER;
    }
    Send(static_cast<std::uint16_t>(wire::MessageType::UnregisterRegion), regionId);
    return STATUS_SUCCESS;
}

void HandleCore::Close() {
    std::lock_guard closing(closeMutex_);
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closing_ = true;
    }
    // The service sees the end of our requests, cancels every one still in
    // flight, hands them back and closes its side; the reader then ends.
    shutdown(fd_, SHUT_WR);
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs), [&] { return !connected_; })) {
            lock.unlock();
            shutdown(fd_, SHUT_RDWR);
        }
    }
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
    std::lock_guard lock(mutex_);
    closed_ = true;
}

template <class Done>
bool HandleCore::WaitFor(std::unique_lock<std::mutex>& lock, Done done, std::chrono::nanoseconds poll,
                         std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point pollEnd = poll > Clock::duration::zero() ? Clock::now() + poll : Clock::time_point{};
    const bool bounded = deadline != Clock::time_point::max();
    // Sleeps on changed_ until pred holds (or the deadline passed: done() tells that then).
    auto sleep = [&](auto pred) {
        if (bounded)
            changed_.wait_until(lock, deadline, pred);
        else
            changed_.wait(lock, pred);
    };
    while (!done()) {
        const std::uint64_t idleSeen = readerIdle_;
        lock.unlock();
        std::unique_lock receive(receiveMutex_, std::try_to_lock);
        if (!receive.owns_lock()) {
            // Another thread reads the socket: one waiting for its own answer, which hands out ours
            // too, or the reader thread between two reads. Once the reader thread goes to sleep this
            // thread takes the socket over, to be woken by its answer itself rather than through the
            // reader thread (which would keep waking for every answer after this one).
            lock.lock();
            sleep([&] { return done() || readerIdle_ != idleSeen; });
            continue;
        }
        // Only a thread that holds receiveMutex_ hands out answers, and it
        // hands out every whole message it has read before it lets go: once
        // this thread holds it, what it waits for is still to come. It lets
        // go only with the socket read empty: what arrives later wakes the
        // reader thread, unless a waiting thread sleeps in waitWatch_.
        // While it polls, the sender of the answer wakes nobody: the reader
        // thread's watch is taken away meanwhile.
        const Clock::time_point start = Clock::now();
        bool polling = pollEnd != Clock::time_point{} && start < pollEnd && ClientPollGuard().Allowed(start) &&
                       UnwatchForReader();
        const bool unwatched = polling;
        bool endedPolling = false;
        bool more = false;
        while (receive.owns_lock()) {
            bool finished;
            {
                std::lock_guard check(mutex_);
                finished = done() || !connected_;
            }
            if (finished && !more) {
                endedPolling = polling;
                break;
            }
            if (!more && polling) {
                // One look without waiting, then the processor to whoever else is ready on it.
                const Clock::time_point turn = Clock::now();
                const ReadResult result = ReadAndHandle(&more);
                if (result == ReadResult::End) break;
                if (result == ReadResult::Data) continue;
                if (Clock::now() < pollEnd && ClientPollGuard().Pause(turn)) continue;
                polling = false;
            }
            if (!more) {
                int timeoutMs = -1;
                if (bounded) {
                    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                    timeoutMs = static_cast<int>(std::clamp<std::int64_t>(left, 0, 1000));
                }
                epoll_event events[2];
                const int n = epoll_wait(waitWatch_, events, 2, timeoutMs);
                if (n == 0) continue; // the deadline may have passed: done() says
                if (n < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                bool readable = false;
                for (int i = 0; i < n; ++i) {
                    if (events[i].data.u32 == 0) {
                        readable = true;
                    } else {
                        std::uint64_t count;
                        [[maybe_unused]] const auto read = ::read(wakeUp_, &count, sizeof count);
                    }
                }
                if (!readable) continue;
            }
            // The end of the connection is left to the reader thread, which
            // meets it too and completes whatever is still in flight.
            if (ReadAndHandle(&more) == ReadResult::End) break;
        }
        if (unwatched) RewatchForReader();
        receive.unlock();
        lock.lock();
        sleep(done);
        return endedPolling;
    }
    return false;
}

HandleCore::ReadResult HandleCore::ReadAndHandle(bool* more) {
    *more = false;
    const auto received = inbox_.Receive(fd_, false);
    if (received == MessageReader::ReceiveResult::WouldBlock) return ReadResult::Empty;
    if (received != MessageReader::ReceiveResult::Data) return ReadResult::End;
    if (!HandleReceived()) {
        shutdown(fd_, SHUT_RDWR);
        return ReadResult::End;
    }
    *more = inbox_.LastFilled();
    return ReadResult::Data;
}

bool HandleCore::HandleReceived() {
    Message message;
    for (;;) {
        const auto popped = inbox_.Pop(message);
        if (popped == MessageReader::PopResult::NeedMore) return true;
        if (popped == MessageReader::PopResult::Malformed || !HandleMessage(message)) return false;
    }
}

void HandleCore::ReaderLoop() {
    for (;;) {
        ReadResult result;
        {
            std::lock_guard receive(receiveMutex_);
            bool more;
            result = ReadAndHandle(&more);
        }
        if (result == ReadResult::End) break;
        if (result == ReadResult::Data) continue;
        // Nothing to read: wait for more without holding the socket, so a
        // thread waiting for its own answer may read it meanwhile. Such a
        // thread is woken first; this one only when none sleeps.
        {
            std::lock_guard lock(mutex_);
            ++readerIdle_;
        }
        changed_.notify_all();
        // Without its watch of the socket (it could not be given back) this
        // thread looks every few milliseconds and tries to get it back.
        const bool unwatched = readerUnwatched_.load(std::memory_order_acquire);
        epoll_event events[2];
        const int n = epoll_wait(readerWatch_, events, 2, unwatched ? kUnwatchedLookMs : -1);
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i)
            if (events[i].data.u32 == 1) {
                std::uint64_t count;
                [[maybe_unused]] const auto read = ::read(readerWake_, &count, sizeof count);
            }
        if (unwatched) {
            std::lock_guard receive(receiveMutex_);
            epoll_event socket{};
            socket.events = EPOLLIN | EPOLLEXCLUSIVE;
            socket.data.u32 = 0;
            if (epoll_ctl(readerWatch_, EPOLL_CTL_ADD, fd_, &socket) == 0 || errno == EEXIST)
                readerUnwatched_.store(false, std::memory_order_release);
        }
    }
    // Whatever ended the connection, nothing will answer the requests still
    // in flight: complete them here so no caller waits forever.
    shutdown(fd_, SHUT_RDWR);
    std::lock_guard lock(mutex_);
    const NtStatus status = closing_ ? STATUS_CANCELLED : STATUS_DEVICE_NOT_CONNECTED;
    for (auto& [id, entry] : entries_)
        CompleteLocked(entry, status, 0, nullptr, 0);
    entries_.clear();
    connected_ = false;
    changed_.notify_all();
}

bool HandleCore::HandleMessage(const Message& message) {
    switch (message.Type()) {
    case wire::MessageType::Pending: {
        if (!message.body.empty()) return false;
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(message.Id());
        if (it != entries_.end() && it->second.first != nullptr) {
            *it->second.first = FirstAnswer::Pending;
            it->second.first = nullptr;
            changed_.notify_all();
        }
        return true;
    }
    case wire::MessageType::Completion: {
        if (message.body.size() < sizeof(wire::CompletionBody)) return false;
        const auto body = ReadBody<wire::CompletionBody>(message.body);
        if (message.body.size() != sizeof(wire::CompletionBody) + body.outputLength) return false;
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(message.Id());
        if (it == entries_.end()) return true; // its record was forgotten, or an id we never used
        CompleteLocked(it->second, body.status, body.information, message.body.data() + sizeof body,
                       body.outputLength);
        entries_.erase(it);
        changed_.notify_all();
        return true;
    }
    case wire::MessageType::RegionStatus: {
        if (message.body.size() != sizeof(wire::RegionStatusBody) || message.Id() > UINT32_MAX) return false;
        const auto body = ReadBody<wire::RegionStatusBody>(message.body);
        std::lock_guard lock(mutex_);
        regionAnswers_[static_cast<std::uint32_t>(message.Id())] = body.status;
        changed_.notify_all();
        return true;
    }
    default:
        return false;
    }
}

void HandleCore::CompleteLocked(Entry& entry, NtStatus status, std::uint64_t information,
                                const std::uint8_t* data, std::size_t length) {
    // STATUS_PENDING is no final status; a service that sends it as one
    // would leave the caller waiting forever.
    if (status == STATUS_PENDING) status = STATUS_UNSUCCESSFUL;
    if (Overlapped* overlapped = entry.overlapped) {
        const std::size_t copied = std::min(length, entry.outputLength);
        if (copied != 0) std::memcpy(entry.output, data, copied);
        overlapped->information_.store(information, std::memory_order_relaxed);
        overlapped->outputBytes_.store(copied, std::memory_order_relaxed);
        overlapped->status_.store(status, std::memory_order_release);
        if (!overlapped->silent_) overlapped->event_.Set();
    }
    if (entry.first != nullptr) {
        *entry.first = FirstAnswer::Completed;
        entry.first = nullptr;
    }
}

} // namespace qorcam::devio::detail
