// VirtualDevice: requests as records on the device socket, completions read back by one thread.
#include "usb/VirtualDevice.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qorcam::usb {

using sim::RecordHeader;
using sim::RecordType;

namespace {

bool ReadFull(int fd, void* data, std::size_t length) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (length > 0) {
        const ssize_t got = ::recv(fd, bytes, length, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

bool Discard(int fd, std::size_t length) {
    std::uint8_t sink[4096];
    while (length > 0) {
        const std::size_t chunk = std::min(length, sizeof(sink));
        if (!ReadFull(fd, sink, chunk)) return false;
        length -= chunk;
    }
    return true;
}

void SetSocketTimeouts(int fd, std::uint32_t ms) {
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

template <typename T> std::span<const std::uint8_t> Bytes(const T& value) {
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof(T)};
}

} // namespace

std::unique_ptr<VirtualDevice> VirtualDevice::Connect(const std::string& id, const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) return nullptr;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return nullptr;
    }
    SetSocketTimeouts(fd, kSocketTimeoutMs);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<VirtualDevice>(new VirtualDevice(id, fd, wake));
}

VirtualDevice::VirtualDevice(std::string id, int fd, int wake) : id_(std::move(id)), fd_(fd), wake_(wake) {
    io_ = std::thread([this] { IoLoop(); });
}

VirtualDevice::~VirtualDevice() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    // The completion thread sees the end of the connection and completes
    // what is left as cancelled.
    ::shutdown(fd_, SHUT_RDWR);
    Wake();
    if (io_.joinable()) io_.join();
    ::close(fd_);
    ::close(wake_);
}

bool VirtualDevice::SendRecord(RecordType type, std::uint64_t tag, std::span<const std::uint8_t> head,
                               std::span<const std::uint8_t> data) {
    RecordHeader header{sim::kRecordMagic, static_cast<std::uint16_t>(type), 0,
                        static_cast<std::uint32_t>(head.size() + data.size()), tag};
    iovec parts[3] = {{&header, sizeof(header)},
                      {const_cast<std::uint8_t*>(head.data()), head.size()},
                      {const_cast<std::uint8_t*>(data.data()), data.size()}};
    std::lock_guard lock(sendMutex_);
    int first = 0;
    while (first < 3) {
        msghdr message{};
        message.msg_iov = parts + first;
        message.msg_iovlen = static_cast<std::size_t>(3 - first);
        ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) return false;
        while (first < 3 && static_cast<std::size_t>(sent) >= parts[first].iov_len) {
            sent -= static_cast<ssize_t>(parts[first].iov_len);
            ++first;
        }
        if (first < 3) {
            parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + sent;
            parts[first].iov_len -= static_cast<std::size_t>(sent);
        }
    }
    return true;
}

void VirtualDevice::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_, &one, sizeof(one));
}

Status VirtualDevice::Submit(RecordType type, std::uint64_t tag, Pending pending,
                             std::span<const std::uint8_t> head, std::span<const std::uint8_t> data) {
    {
        std::lock_guard lock(mutex_);
        if (gone_ || closing_) return Status::NoDevice;
        pending.type = type;
        // Known before the request leaves, since the answer may come at once.
        pending_.emplace(tag, std::move(pending));
    }
    if (!SendRecord(type, tag, head, data)) {
        std::lock_guard lock(mutex_);
        // Already completed by the reader (the device went away): the
        // completion has run or will, so the submission stands.
        if (pending_.erase(tag) == 0) return Status::Success;
        return Status::NoDevice;
    }
    Wake(); // the reader recomputes its next deadline
    return Status::Success;
}

Status VirtualDevice::Wait(RecordType type, std::span<const std::uint8_t> head,
                           std::span<const std::uint8_t> data, std::span<std::uint8_t> buffer,
                           std::uint32_t timeoutMs, std::size_t& transferred, std::string* reply) {
    transferred = 0;
    if (OnCompletionThread()) return Status::Busy;
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;
    Status result = Status::IoError;
    Pending pending;
    pending.buffer = buffer;
    pending.sent = data.size();
    pending.reply = reply;
    if (timeoutMs != 0) pending.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pending.done = [&](Status status, std::size_t bytes) {
        std::lock_guard lock(mutex);
        result = status;
        transferred = bytes;
        finished = true;
        cv.notify_one();
    };
    std::uint64_t tag;
    {
        std::lock_guard lock(mutex_);
        tag = nextTag_++;
    }
    const Status submitted = Submit(type, tag, std::move(pending), head, data);
    if (submitted != Status::Success) return submitted;
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return finished; });
    return result;
}

Status VirtualDevice::Claim() {
    std::size_t ignored = 0;
    return Wait(RecordType::Claim, {}, {}, {}, kSocketTimeoutMs, ignored);
}

Status VirtualDevice::ControlTransfer(const SetupPacket& setup, std::span<std::uint8_t> data,
                                      std::uint32_t timeoutMs, std::size_t& transferred) {
    transferred = 0;
    if (data.size() < setup.length) return Status::InvalidParameter;
    const sim::ControlBody body{setup.requestType, setup.request, setup.value, setup.index, setup.length, 0};
    const bool toHost = (setup.requestType & 0x80) != 0;
    const auto payload = data.first(setup.length);
    return Wait(RecordType::Control, Bytes(body), toHost ? std::span<const std::uint8_t>{} : payload,
                toHost ? payload : std::span<std::uint8_t>{}, timeoutMs, transferred);
}

Status VirtualDevice::SubmitBulk(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                 std::uint32_t timeoutMs, Completion done, TransferId* id) {
    if (!done || (endpoint & 0x0F) == 0) return Status::InvalidParameter;
    const bool in = (endpoint & kEndpointDirectionIn) != 0;
    if (!in && buffer.size() > sim::kMaxTransferLength) return Status::InvalidParameter;
    // A read longer than a record can carry simply ends short.
    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(buffer.size(), sim::kMaxTransferLength));
    const sim::TransferBody body{endpoint, {0, 0, 0}, length};
    Pending pending;
    pending.endpoint = endpoint;
    pending.buffer = in ? buffer.first(length) : std::span<std::uint8_t>{};
    pending.sent = in ? 0 : buffer.size();
    pending.done = std::move(done);
    if (timeoutMs != 0) pending.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint64_t tag;
    {
        std::lock_guard lock(mutex_);
        tag = nextTag_++;
    }
    if (id != nullptr) *id = tag;
    return Submit(in ? RecordType::BulkIn : RecordType::BulkOut, tag, std::move(pending), Bytes(body),
                  in ? std::span<const std::uint8_t>{} : std::span<const std::uint8_t>(buffer));
}

void VirtualDevice::SendCancelLocked(Pending& pending, std::uint64_t tag) {
    if (pending.cancelSent) return;
    pending.cancelSent = true;
    pending.giveUpAt = Clock::now() + std::chrono::milliseconds(kCancelGraceMs);
    // A Cancel is 20 bytes and the device reads all the time; a failed send
    // shows up as the end of the connection.
    SendRecord(RecordType::Cancel, tag, {}, {});
}

void VirtualDevice::Cancel(TransferId id) {
    {
        std::lock_guard lock(mutex_);
        auto it = pending_.find(id);
        if (it == pending_.end()) return;
        SendCancelLocked(it->second, id);
    }
    Wake();
}

void VirtualDevice::AbortPipe(std::uint8_t endpoint) {
    {
        std::lock_guard lock(mutex_);
        for (auto& [tag, pending] : pending_) {
            if ((pending.type == RecordType::BulkIn || pending.type == RecordType::BulkOut) &&
                pending.endpoint == endpoint)
                SendCancelLocked(pending, tag);
        }
    }
    Wake();
}

Status VirtualDevice::ResetPipe(std::uint8_t endpoint) {
    AbortPipe(endpoint);
    std::size_t moved = 0;
    return ControlTransfer({kRecipientEndpoint, kRequestClearFeature, kFeatureEndpointHalt, endpoint, 0}, {},
                           kDescriptorTimeoutMs, moved);
}

bool VirtualDevice::OnCompletionThread() const {
    return std::this_thread::get_id() == io_.get_id();
}

std::optional<std::string> VirtualDevice::SimCommand(const std::string& text, std::uint32_t timeoutMs) {
    if (text.empty() || text.size() > sim::kMaxCommandText) return std::nullopt;
    std::string reply;
    std::size_t ignored = 0;
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (Wait(RecordType::SimCommand, {}, bytes, {}, timeoutMs, ignored, &reply) != Status::Success)
        return std::nullopt;
    return reply;
}

void VirtualDevice::IoLoop() {
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(mutex_);
            if (closing_) break;
            auto next = Clock::time_point::max();
            for (const auto& [tag, pending] : pending_)
                next = std::min(next, pending.cancelSent ? pending.giveUpAt : pending.deadline);
            if (next != Clock::time_point::max()) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
                timeout = static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
            }
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t ignored = ::read(wake_, &count, sizeof(count));
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!ReadRecord()) break;
        }
        CompleteExpired();
    }
    std::unique_lock lock(mutex_);
    const bool closing = closing_;
    lock.unlock();
    Finish(closing ? Status::Cancelled : Status::NoDevice);
}

bool VirtualDevice::ReadRecord() {
    RecordHeader header;
    if (!ReadFull(fd_, &header, sizeof(header)) || !sim::HostAccepts(header)) return false;
    // By value: a packed field must not be bound to a reference.
    const std::uint64_t tag = header.id;
    const std::uint32_t bodyLength = header.bodyLength;

    if (static_cast<RecordType>(header.type) == RecordType::SimReply) {
        std::string text(bodyLength, '\0');
        if (!ReadFull(fd_, text.data(), text.size())) return false;
        std::unique_lock lock(mutex_);
        auto it = pending_.find(tag);
        if (it == pending_.end() || it->second.type != RecordType::SimCommand) return true;
        Pending pending = std::move(it->second);
        pending_.erase(it);
        lock.unlock();
        if (pending.reply != nullptr) *pending.reply = std::move(text);
        pending.done(Status::Success, bodyLength);
        return true;
    }

    sim::CompletionBody body;
    if (!ReadFull(fd_, &body, sizeof(body))) return false;
    const std::size_t dataLength = bodyLength - sizeof(body);
    const auto status = sim::FromWire(body.status);
    if (!status) return false;

    std::unique_lock lock(mutex_);
    auto it = pending_.find(tag);
    // The answer of a request given up on: its bytes go nowhere.
    if (it == pending_.end() || it->second.type == RecordType::SimCommand) {
        lock.unlock();
        return Discard(fd_, dataLength);
    }
    Pending& pending = it->second;
    const bool carriesData =
        pending.type == RecordType::BulkIn ||
        (pending.type == RecordType::Control && pending.sent == 0 && !pending.buffer.empty());
    if (carriesData) {
        if (body.length != dataLength || dataLength > pending.buffer.size()) return false;
    } else if (dataLength != 0 || body.length > pending.sent) {
        return false;
    }
    // The reader is the only thread that touches the buffer or erases the
    // entry besides a failed submission, which can't happen any more here.
    const std::span<std::uint8_t> target = pending.buffer.first(carriesData ? dataLength : 0);
    lock.unlock();
    if (!ReadFull(fd_, target.data(), target.size())) return false;
    lock.lock();
    it = pending_.find(tag);
    if (it == pending_.end()) return true;
    Pending done = std::move(it->second);
    pending_.erase(it);
    lock.unlock();
    Status result = *status;
    if (done.timedOut && result == Status::Cancelled) result = Status::Timeout;
    done.done(result, body.length);
    return true;
}

void VirtualDevice::CompleteExpired() {
    std::vector<Pending> expired;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        for (auto it = pending_.begin(); it != pending_.end();) {
            Pending& pending = it->second;
            if (!pending.cancelSent && now >= pending.deadline) {
                pending.timedOut = true;
                SendCancelLocked(pending, it->first);
            } else if (pending.cancelSent && now >= pending.giveUpAt) {
                expired.push_back(std::move(pending));
                it = pending_.erase(it);
                continue;
            }
            ++it;
        }
    }
    for (auto& pending : expired)
        pending.done(pending.timedOut ? Status::Timeout : Status::Cancelled, 0);
}

void VirtualDevice::Finish(Status status) {
    std::map<std::uint64_t, Pending> left;
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
        left.swap(pending_);
    }
    MarkRemoved(status == Status::NoDevice);
    for (auto& [tag, pending] : left)
        pending.done(status, 0);
}

} // namespace qorcam::usb
