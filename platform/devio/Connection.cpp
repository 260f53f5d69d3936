// Connection: serving one client handle: framing, dispatch, answers, cancellation at close.
#include "devio/Connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
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
constexpr int kDrainPollMs = 200;

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
    auto& share = shares_[user];
    if (--share.connections == 0 && share.requests == 0) shares_.erase(user);
}

bool UserLimits::Charge(std::uint32_t user, std::size_t input, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    auto& share = shares_[user];
    if (user != 0 && (share.requests >= kMaxRequestsPerUser || input > kMaxInputBytesPerUser - share.input ||
                      bytes > kMaxBytesPerUser - share.bytes))
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
    if (share.connections == 0 && share.requests == 0) shares_.erase(user);
}

Connection::Connection(int fd, ConnectionInfo info, const Host* host)
    : fd_(fd), info_(std::make_shared<const ConnectionInfo>(std::move(info))), host_(host), reader_(sizeof(wire::RequestBody) + wire::kMaxInputLength) {}

Connection::~Connection() {
    if (thread_.joinable()) thread_.detach();
    if (!closed_ && fd_ >= 0) close(fd_);
}

bool Connection::Start() {
    try {
        thread_ = std::thread([self = shared_from_this()] { self->Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Connection::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Connection::Run() {
    Serve();
    Drain();
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
        close(fd_);
    }
    if (host_->limits) host_->limits->RemoveConnection(info_->userId);
    finished_ = true;
}

bool Connection::Serve() {
    for (;;) {
        pollfd fds[3] = {{fd_, POLLIN, 0}, {wake_.PollFd(), POLLIN, 0}, {host_->stop->PollFd(), POLLIN, 0}};
        {
            std::lock_guard lock(mutex_);
            if (overflow_) return false;
            if (!out_.empty()) fds[0].events |= POLLOUT;
        }
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[2].revents != 0 && host_->stop->IsSet()) return true;
        if (fds[1].revents != 0) wake_.TryAcquire();
        if ((fds[0].revents & POLLOUT) != 0) {
            std::lock_guard lock(mutex_);
            if (!FlushLocked()) return false;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        switch (reader_.Receive(fd_)) {
        case MessageReader::ReceiveResult::Data:
            break;
        case MessageReader::ReceiveResult::WouldBlock:
            continue;
        default:
            return false; // closed, failed or malformed
        }
        Message message;
        for (;;) {
            const auto popped = reader_.Pop(message);
            if (popped == MessageReader::PopResult::NeedMore) break;
            if (popped == MessageReader::PopResult::Malformed || !Handle(message)) return false;
        }
    }
}

void Connection::Drain() {
    std::vector<RequestPtr> inFlight;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        for (auto& [id, request] : requests_)
            inFlight.push_back(request);
    }
    // Oldest first, so a process's registration (its first request) is
    // cancelled before what it registered for.
    std::sort(inFlight.begin(), inFlight.end(),
              [](const RequestPtr& a, const RequestPtr& b) { return a->id_ < b->id_; });
    for (auto& request : inFlight)
        request->Cancel();
    inFlight.clear();

    // Requests without a cancel routine are completed by whoever holds them;
    // the close routine waits for that, as a handle's close does.
    const auto finalDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinalFlushMs);
    for (;;) {
        pollfd fds[2] = {{fd_, 0, 0}, {wake_.PollFd(), POLLIN, 0}};
        {
            std::lock_guard lock(mutex_);
            if (overflow_ || !FlushLocked()) DropOutLocked();
            if (requests_.empty() && (out_.empty() || std::chrono::steady_clock::now() > finalDeadline))
                break;
            if (out_.empty()) {
                fds[0].fd = -1;
            } else {
                fds[0].events = POLLOUT;
            }
        }
        const int polled = poll(fds, 2, kDrainPollMs);
        if (polled > 0 && fds[1].revents != 0) wake_.TryAcquire();
        if (polled > 0 && (fds[0].revents & (POLLERR | POLLHUP)) != 0 && (fds[0].revents & POLLOUT) == 0) {
            std::lock_guard lock(mutex_);
            DropOutLocked();
        }
    }
}

void Connection::DropOutLocked() {
    out_.clear();
    outOffset_ = 0;
    outBytes_ = 0;
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
    if (request->completed_ && !request->pending_) {
        EnqueueLocked(CompletionMessageLocked(*request));
    } else {
        EnqueueLocked(BuildMessage(wire::MessageType::Pending, id, {}));
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
    out_.push_back(std::move(message));
    if (outBytes_ > kMaxQueuedBytes) {
        overflow_ = true;
        wake_.Set();
        return;
    }
    if (wasEmpty && FlushLocked() && out_.empty()) return;
    wake_.Set(); // the thread waits for room in the socket
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
            out_.pop_front();
            outOffset_ = 0;
        }
    }
    return true;
}

void Connection::ReleaseChargeLocked(Request& request) {
    bytesInFlight_ -= request.charge_;
    if (request.userCharged_) host_->limits->Release(info_->userId, request.input_.size(), request.charge_);
    request.userCharged_ = false;
    request.charge_ = 0;
}

} // namespace detail
} // namespace qorcam::devio
