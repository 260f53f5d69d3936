// Connection: serving one client handle: framing, dispatch, answers, cancellation at close.
#include "devio/Connection.h"

#include "devio/WorkPool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qorcam::devio {

bool ConnectionInfo::InGroup(std::uint32_t group) const {
    return groupId == group || std::find(groups.begin(), groups.end(), group) != groups.end();
}

namespace detail {
namespace {

// How long a closing connection keeps trying to hand its last answers to a
// client that does not read them.
constexpr int kFinalFlushMs = 2000;

// A sanitizer build has a heap of its own: the C library's is never set up there, and trimming it
// from two threads at once crashes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QORCAM_OWN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QORCAM_OWN_HEAP 1
#endif
#endif

// Gives the heap's free memory back to the system (the C library's heap only).
void TrimHeap() {
#ifndef QORCAM_OWN_HEAP
    malloc_trim(0);
#endif
}

} // namespace

bool UserLimits::AddConnection(std::uint32_t user) {
    std::lock_guard lock(mutex_);
    if (connections_ >= kMaxConnections) return false;
    if (user != 0) {
        if (connections_ >= kMaxConnections - kRootReservedConnections) return false;
        if (shares_[user].connections >= kMaxConnectionsPerUser) return false;
    }
    ++connections_;
    ++shares_[user].connections;
    return true;
}

void UserLimits::RemoveConnection(std::uint32_t user) {
    std::lock_guard lock(mutex_);
    --connections_;
    --shares_[user].connections;
    ForgetIfIdleLocked(user);
}

void UserLimits::ForgetIfIdleLocked(std::uint32_t user) {
    const auto it = shares_.find(user);
    if (it != shares_.end() && it->second.connections == 0 && it->second.requests == 0 && it->second.queued == 0)
        shares_.erase(it);
}

bool UserLimits::Charge(std::uint32_t user, std::size_t input, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    auto& share = shares_[user];
    // Unsent answers count against the same bytes as requests in flight.
    if (user != 0 && (share.requests >= kMaxRequestsPerUser || input > kMaxInputBytesPerUser - share.input ||
                      share.queued > kMaxQueuedBytesPerUser || share.bytes + share.queued > kMaxBytesPerUser ||
                      bytes > kMaxBytesPerUser - share.bytes - share.queued))
        return false;
    ++share.requests;
    share.input += input;
    share.bytes += bytes;
    return true;
}

void UserLimits::Release(std::uint32_t user, std::size_t input, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    auto& share = shares_[user];
    --share.requests;
    share.input -= input;
    share.bytes -= bytes;
    ForgetIfIdleLocked(user);
}

void UserLimits::Queue(std::uint32_t user, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    shares_[user].queued += bytes;
}

void UserLimits::Unqueue(std::uint32_t user, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    shares_[user].queued -= bytes;
    ForgetIfIdleLocked(user);
}

std::size_t UserLimits::Held(std::uint32_t user) const {
    std::lock_guard lock(mutex_);
    const auto it = shares_.find(user);
    return it == shares_.end() ? 0 : it->second.bytes + it->second.queued;
}

Connection::Connection(int fd, ConnectionInfo info, const Host* host)
    : fd_(fd), info_(std::make_shared<const ConnectionInfo>(std::move(info))), host_(host),
      reader_(sizeof(wire::RequestBody) + wire::kMaxInputLength) {}

Connection::~Connection() {
    if (!closed_ && fd_ >= 0) close(fd_);
    // A client that let many answers pile up leaves free memory in the heap;
    // it goes back to the system rather than staying with the service.
    if (peakOutBytes_ >= kPauseReadingBytes) TrimHeap();
}

bool Connection::Attach() {
    std::lock_guard lock(mutex_);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
    event.data.u64 = info_->id;
    if (epoll_ctl(host_->epollFd, EPOLL_CTL_ADD, fd_, &event) != 0) return false;
    armed_ = EPOLLIN | EPOLLRDHUP;
    return true;
}

void Connection::OnEvents(std::uint32_t events) {
    bool readHere = false;
    {
        std::lock_guard lock(mutex_);
        armed_ = 0; // one-shot: the socket is watched again only once rearmed
        if (phase_ == Phase::Finished) return;
        const bool gone = (events & (EPOLLERR | EPOLLHUP)) != 0;
        if (!out_.empty() && (events & EPOLLOUT) != 0) {
            if (!FlushLocked()) FlushFailedLocked();
        } else if (!out_.empty() && gone && phase_ == Phase::Closing) {
            DropOutLocked(); // nobody is left to read the last answers
        }
        if (phase_ == Phase::Open && paused_ && gone) {
            endRequested_ = true; // nobody is left to take the answers it waits for
            ScheduleLocked();
        } else if (phase_ == Phase::Open && (events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0) {
            inputReady_ = true;
            // Requests whose dispatch never waits are read and dispatched
            // right here, when no worker holds the connection; an end of
            // the connection (and anything after it) goes to a worker.
            if (host_->readOnLoop && !scheduled_ && !gone && !endRequested_ && !overflow_ && !paused_) {
                scheduled_ = true;
                readHere = true;
                inputReady_ = false;
                reading_ = true;
            } else {
                ScheduleLocked();
            }
        }
        if (CanFinishLocked()) ScheduleLocked();
        UpdateInterestLocked();
    }
    if (!readHere) return;
    const bool open = ReadAndHandle();
    std::lock_guard lock(mutex_);
    reading_ = false;
    if (!open) endRequested_ = true;
    // Whatever else came up meanwhile (an end, a close, input to go on with
    // after a pause) a worker carries out.
    if (endRequested_ || overflow_ || phase_ != Phase::Open || inputReady_) {
        scheduled_ = false;
        ScheduleLocked();
        return;
    }
    scheduled_ = false;
    UpdateInterestLocked();
}

void Connection::OnTimer() {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Closing) ScheduleLocked();
}

void Connection::End() {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::Open) return;
    endRequested_ = true;
    ScheduleLocked();
}

void Connection::ScheduleLocked() {
    if (scheduled_ || phase_ == Phase::Finished) return;
    scheduled_ = true;
    host_->pool->Post([self = shared_from_this()] { self->Work(); });
}

void Connection::UpdateInterestLocked() {
    if (phase_ == Phase::Finished) return;
    std::uint32_t want = 0;
    // No more input is read while a worker handles the last of it, or once
    // the connection ends.
    if (phase_ == Phase::Open && !inputReady_ && !reading_ && !endRequested_ && !overflow_ && !paused_)
        want |= EPOLLIN | EPOLLRDHUP;
    if (!out_.empty()) want |= EPOLLOUT;
    // Armed for more than is wanted costs one idle wake-up at most; armed
    // for less would lose one.
    if ((want & ~armed_) == 0) return;
    epoll_event event{};
    event.events = want | EPOLLONESHOT;
    event.data.u64 = info_->id;
    if (epoll_ctl(host_->epollFd, EPOLL_CTL_MOD, fd_, &event) == 0) {
        armed_ = want;
    } else if (phase_ == Phase::Open) {
        endRequested_ = true; // a socket that cannot be watched cannot be served
        ScheduleLocked();
    } else {
        DropOutLocked();
    }
}

void Connection::BeginCloseLocked() {
    phase_ = Phase::Closing;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinalFlushMs);
    if (host_->wakeAt) host_->wakeAt(deadline_, weak_from_this());
}

void Connection::FlushFailedLocked() {
    // The client is gone: nothing more can reach it.
    DropOutLocked();
    if (phase_ == Phase::Open) {
        endRequested_ = true;
        ScheduleLocked();
    } else if (CanFinishLocked()) {
        ScheduleLocked();
    }
}

void Connection::RequestGoneLocked() {
    if (CanFinishLocked()) ScheduleLocked();
}

bool Connection::CanFinishLocked() const {
    // Requests without a cancel routine are completed by whoever holds them;
    // the close routine waits for that, as a handle's close does. The last
    // answers are given up when the client does not take them in time.
    return phase_ == Phase::Closing && cancelIssued_ && requests_.empty() &&
           (out_.empty() || overflow_ || std::chrono::steady_clock::now() > deadline_);
}

void Connection::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (phase_ == Phase::Open) {
            if (endRequested_ || overflow_) {
                BeginCloseLocked();
                continue;
            }
            if (inputReady_) {
                inputReady_ = false; // set again by whatever comes in (or resumes) meanwhile
                reading_ = true;
                lock.unlock();
                const bool open = ReadAndHandle();
                lock.lock();
                reading_ = false;
                if (!open) {
                    BeginCloseLocked();
                    continue;
                }
                UpdateInterestLocked();
                continue;
            }
        } else if (phase_ == Phase::Closing) {
            if (!cancelIssued_) {
                lock.unlock();
                CancelInFlight();
                lock.lock();
                cancelIssued_ = true;
                continue;
            }
            if (overflow_ || (!out_.empty() && !FlushLocked())) DropOutLocked();
            if (CanFinishLocked()) {
                phase_ = Phase::Finished;
                lock.unlock();
                Finish();
                return; // scheduled_ stays set: nothing runs for this connection again
            }
            UpdateInterestLocked(); // the last answers wait for room in the socket
        }
        scheduled_ = false;
        return;
    }
}

bool Connection::ReadAndHandle() {
    // What came in before a pause goes first, in order.
    if (!HandleReceived()) return false;
    {
        std::lock_guard lock(mutex_);
        if (paused_) return true;
    }
    switch (reader_.Receive(fd_)) {
    case MessageReader::ReceiveResult::Data:
        break;
    case MessageReader::ReceiveResult::WouldBlock:
        return true;
    default:
        return false; // closed, failed or malformed
    }
    return HandleReceived();
}

bool Connection::HandleReceived() {
    for (;;) {
        if (!held_) {
            Message message;
            const auto popped = reader_.Pop(message);
            if (popped == MessageReader::PopResult::NeedMore) return true;
            if (popped == MessageReader::PopResult::Malformed) return false;
            held_ = std::move(message);
        }
        {
            // The client takes its answers first; the message waits.
            std::lock_guard lock(mutex_);
            if (paused_) return true;
        }
        Message message = std::move(*held_);
        held_.reset();
        if (!Handle(message)) return false;
    }
}

void Connection::CancelInFlight() {
    std::vector<RequestPtr> inFlight;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, request] : requests_)
            inFlight.push_back(request);
    }
    // Oldest first, so a process's registration (its first request) is
    // cancelled before what it registered for.
    std::sort(inFlight.begin(), inFlight.end(),
              [](const RequestPtr& a, const RequestPtr& b) { return a->id_ < b->id_; });
    for (auto& request : inFlight)
        request->Cancel();
}

void Connection::Finish() {
    if (host_->close) {
        try {
            host_->close(*info_);
        } catch (...) {
            // A failing close routine must not take the service down with it.
        }
    }
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        DropOutLocked();
        regions_.clear();
        epoll_ctl(host_->epollFd, EPOLL_CTL_DEL, fd_, nullptr);
        close(fd_);
    }
    if (host_->limits) host_->limits->RemoveConnection(info_->userId);
    finished_ = true;
    if (host_->finished) host_->finished(*this);
}

void Connection::DropOutLocked() {
    if (host_->limits && outBytes_ != 0) host_->limits->Unqueue(info_->userId, outBytes_);
    out_.clear();
    outOffset_ = 0;
    outBytes_ = 0;
    paused_ = false;
}

bool Connection::Handle(Message& message) {
    switch (message.Type()) {
    case wire::MessageType::Request:
        return HandleRequest(message);
    case wire::MessageType::Cancel: {
        if (!message.body.empty()) return false;
        RequestPtr request;
        {
            std::lock_guard lock(mutex_);
            const auto it = requests_.find(message.Id());
            if (it != requests_.end()) request = it->second;
        }
        if (request) request->Cancel();
        return true;
    }
    case wire::MessageType::RegisterRegion:
        return HandleRegister(message);
    case wire::MessageType::UnregisterRegion: {
        if (!message.body.empty() || message.Id() > UINT32_MAX) return false;
        std::shared_ptr<Region> dropped;
        std::lock_guard lock(mutex_);
        const auto it = regions_.find(static_cast<std::uint32_t>(message.Id()));
        if (it != regions_.end()) {
            regionBytes_ -= it->second->Size();
            dropped = std::move(it->second);
            regions_.erase(it);
        }
        return true;
    }
    default:
        return false;
    }
}

bool Connection::HandleRegister(const Message& message) {
    if (!message.body.empty() || message.Id() > UINT32_MAX) return false;
    const int fd = reader_.TakeFd();
    if (fd < 0) return false;
    const auto id = static_cast<std::uint32_t>(message.Id());
    std::shared_ptr<Region> region = Region::Adopt(fd);
    wire::RegionStatusBody answer{STATUS_SUCCESS, 0};
    std::lock_guard lock(mutex_);
    if (!region) {
        answer.status = STATUS_INVALID_PARAMETER;
    } else if (regions_.count(id) != 0) {
        answer.status = STATUS_OBJECT_NAME_COLLISION;
    } else if (regions_.size() >= wire::kMaxRegionsPerConnection ||
               region->Size() > wire::kMaxRegionBytesPerConnection - regionBytes_) {
        answer.status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
        answer.size = region->Size();
        regionBytes_ += region->Size();
        regions_.emplace(id, std::move(region));
    }
    EnqueueLocked(BuildMessage(wire::MessageType::RegionStatus, id, {AsBytes(answer)}));
    return true;
}

bool Connection::HandleRequest(Message& message) {
    if (message.body.size() < sizeof(wire::RequestBody)) return false;
    const auto body = ReadBody<wire::RequestBody>(message.body);
    if (body.inputLength > wire::kMaxInputLength ||
        message.body.size() != sizeof(wire::RequestBody) + body.inputLength)
        return false;
    const auto kind = static_cast<RequestKind>(body.kind);
    if (kind != RequestKind::DeviceControl && kind != RequestKind::Read) return false;
    const auto mode = static_cast<wire::OutputMode>(body.outputMode);
    if (mode != wire::OutputMode::Inline && mode != wire::OutputMode::Region) return false;
    const std::uint64_t id = message.Id();

    auto request = RequestPtr(new Request());
    request->connection_ = shared_from_this();
    request->id_ = id;
    request->kind_ = kind;
    request->code_ = kind == RequestKind::Read ? 0 : body.code;
    request->caller_ = info_;
    request->connectionId_ = info_->id;
    request->input_.assign(message.body.begin() + sizeof(wire::RequestBody), message.body.end());
    request->noPendingAnswer_ = (message.header.flags & wire::kFlagNoPending) != 0;

    NtStatus refused = STATUS_SUCCESS;
    {
        std::lock_guard lock(mutex_);
        // A client that reuses an id in flight is broken; its answers could
        // no longer be told apart.
        if (requests_.count(id) != 0) return false;
        const std::size_t charge =
            request->input_.size() +
            (mode == wire::OutputMode::Inline ? static_cast<std::size_t>(body.outputLength) : 0);
        if (mode == wire::OutputMode::Region) {
            const auto it = regions_.find(body.regionId);
            if (it == regions_.end() || body.outputOffset > it->second->Size() ||
                body.outputLength > it->second->Size() - body.outputOffset) {
                refused = STATUS_INVALID_PARAMETER;
            } else {
                request->region_ = it->second;
                request->outputData_ = it->second->Data() + body.outputOffset;
                request->outputLength_ = static_cast<std::size_t>(body.outputLength);
            }
        } else if (body.outputLength > wire::kMaxInlineOutputLength || body.outputOffset != 0) {
            refused = STATUS_INVALID_PARAMETER;
        }
        if (refused == STATUS_SUCCESS && (requests_.size() >= wire::kMaxRequestsPerConnection ||
                                          charge > wire::kMaxBytesInFlightPerConnection - bytesInFlight_)) {
            refused = STATUS_INSUFFICIENT_RESOURCES;
        }
        if (refused == STATUS_SUCCESS) {
            if (host_->limits && !host_->limits->Charge(info_->userId, request->input_.size(), charge)) {
                refused = STATUS_INSUFFICIENT_RESOURCES;
            } else {
                bytesInFlight_ += charge;
                request->charge_ = charge;
                request->userCharged_ = host_->limits != nullptr;
            }
        }
    }
    if (refused == STATUS_SUCCESS && mode == wire::OutputMode::Inline && body.outputLength != 0) {
        const auto length = static_cast<std::size_t>(body.outputLength);
        request->inlineOutput_.reset(static_cast<std::uint8_t*>(std::calloc(length, 1)));
        if (request->inlineOutput_) {
            request->outputData_ = request->inlineOutput_.get();
            request->outputLength_ = length;
        } else {
            refused = STATUS_INSUFFICIENT_RESOURCES;
            std::lock_guard lock(mutex_);
            ReleaseChargeLocked(*request);
        }
    }
    if (refused != STATUS_SUCCESS) {
        AnswerAtOnce(id, refused);
        return true;
    }

    {
        std::lock_guard lock(mutex_);
        request->dispatching_ = true;
        requests_.emplace(id, request);
    }
    try {
        host_->dispatch(request);
    } catch (...) {
        request->Complete(STATUS_UNSUCCESSFUL);
    }
    std::lock_guard lock(mutex_);
    request->dispatching_ = false;
    if (request->completed_ && (!request->pending_ || request->noPendingAnswer_)) {
        EnqueueLocked(CompletionMessageLocked(*request));
    } else {
        if (!request->noPendingAnswer_) EnqueueLocked(BuildMessage(wire::MessageType::Pending, id, {}));
        if (request->completed_) EnqueueLocked(CompletionMessageLocked(*request));
    }
    return true;
}

void Connection::AnswerAtOnce(std::uint64_t id, NtStatus status) {
    const wire::CompletionBody body{status, 0, 0};
    std::lock_guard lock(mutex_);
    EnqueueLocked(BuildMessage(wire::MessageType::Completion, id, {AsBytes(body)}));
}

std::vector<std::uint8_t> Connection::CompletionMessageLocked(const Request& request) const {
    const wire::CompletionBody body{request.status_, request.information_,
                                    static_cast<std::uint32_t>(request.outputBytes_)};
    return BuildMessage(
        wire::MessageType::Completion, request.id_,
        {AsBytes(body), std::span<const std::uint8_t>(request.outputData_, request.outputBytes_)});
}

void Connection::EnqueueLocked(std::vector<std::uint8_t> message) {
    if (closed_ || overflow_) return;
    const bool wasEmpty = out_.empty();
    outBytes_ += message.size();
    // Charged to the user until sent: memory an unread answer holds is the user's.
    if (host_->limits) host_->limits->Queue(info_->userId, message.size());
    out_.push_back(std::move(message));
    peakOutBytes_ = std::max(peakOutBytes_, outBytes_);
    if (outBytes_ > kPauseReadingBytes) paused_ = true;
    if (outBytes_ > kMaxQueuedBytes) {
        overflow_ = true;
        ScheduleLocked();
        return;
    }
    if (wasEmpty && !FlushLocked()) {
        FlushFailedLocked();
        return;
    }
    if (!out_.empty()) UpdateInterestLocked(); // the loop sends the rest when there is room
}

namespace {
thread_local std::uint64_t tAnswersSent = 0;
} // namespace

std::uint64_t AnswersSentOnThisThread() {
    return tAnswersSent;
}

bool Connection::FlushLocked() {
    while (!out_.empty()) {
        const auto& front = out_.front();
        const ssize_t n =
            send(fd_, front.data() + outOffset_, front.size() - outOffset_, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        outOffset_ += static_cast<std::size_t>(n);
        if (outOffset_ == front.size()) {
            outBytes_ -= front.size();
            if (host_->limits) host_->limits->Unqueue(info_->userId, front.size());
            out_.pop_front();
            outOffset_ = 0;
            ++tAnswersSent;
            ResumeIfTakenLocked();
        }
    }
    return true;
}

void Connection::ResumeIfTakenLocked() {
    if (!paused_ || outBytes_ > kResumeReadingBytes) return;
    paused_ = false;
    // Whatever waited (a message held, bytes in the reader, the socket) is
    // looked at again by a worker.
    if (phase_ == Phase::Open && !endRequested_ && !overflow_) {
        inputReady_ = true;
        ScheduleLocked();
    }
}

void Connection::ReleaseChargeLocked(Request& request) {
    bytesInFlight_ -= request.charge_;
    if (request.userCharged_) host_->limits->Release(info_->userId, request.input_.size(), request.charge_);
    request.userCharged_ = false;
    request.charge_ = 0;
}

} // namespace detail
} // namespace qorcam::devio
