// MessageReader: checked framing of the device socket stream, and sending whole messages.
#include "devio/MessageReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace qorcam::devio::detail {
namespace {

constexpr std::size_t kMinRead = 64 * 1024;
constexpr std::size_t kMaxRead = 16 * 1024 * 1024;
constexpr std::size_t kHeaderSize = sizeof(wire::MessageHeader);

} // namespace

MessageReader::~MessageReader() {
    for (int fd : fds_)
        close(fd);
}

bool MessageReader::HeaderValid(const wire::MessageHeader& header) const {
    const bool flagsValid =
        header.flags == 0 || (header.type == static_cast<std::uint16_t>(wire::MessageType::Request) &&
                              header.flags == wire::kFlagNoPending);
    return header.magic == wire::kMagic && flagsValid && header.bodyLength <= maxBody_;
}

MessageReader::ReceiveResult MessageReader::Receive(int fd, bool wait) {
    // Room for the rest of the message at hand (its header is checked
    // already, so its length is trusted to be within the limit), at least
    // kMinRead, at most kMaxRead at a time.
    std::size_t want = kMinRead;
    if (end_ - begin_ >= kHeaderSize) {
        wire::MessageHeader header;
        std::memcpy(&header, buffer_.data() + begin_, kHeaderSize);
        if (!HeaderValid(header)) return ReceiveResult::Malformed;
        const std::size_t total = kHeaderSize + header.bodyLength;
        if (total > end_ - begin_) want = std::clamp(total - (end_ - begin_), kMinRead, kMaxRead);
    }
    if (begin_ > 0 && (begin_ == end_ || buffer_.size() - end_ < want)) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() - end_ < want) buffer_.resize(end_ + want);

    iovec iov{buffer_.data() + end_, want};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = recvmsg(fd, &msg, MSG_CMSG_CLOEXEC | (wait ? 0 : MSG_DONTWAIT));
    } while (n < 0 && errno == EINTR);
    filled_ = false;
    if (n < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? ReceiveResult::WouldBlock : ReceiveResult::Failed;

    bool tooManyFds = (msg.msg_flags & MSG_CTRUNC) != 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            if (fds_.size() < kMaxHeldFds) {
                fds_.push_back(received);
            } else {
                close(received);
                tooManyFds = true;
            }
        }
    }
    if (tooManyFds) return ReceiveResult::Malformed;
    if (n == 0) return ReceiveResult::Closed;
    end_ += static_cast<std::size_t>(n);
    // A read also stops short at a message that carries descriptors.
    filled_ = static_cast<std::size_t>(n) == want || msg.msg_controllen != 0;
    return ReceiveResult::Data;
}

MessageReader::PopResult MessageReader::Pop(Message& out) {
    if (end_ - begin_ < kHeaderSize) return PopResult::NeedMore;
    wire::MessageHeader header;
    std::memcpy(&header, buffer_.data() + begin_, kHeaderSize);
    if (!HeaderValid(header)) return PopResult::Malformed;
    if (end_ - begin_ < kHeaderSize + header.bodyLength) return PopResult::NeedMore;
    const std::uint8_t* body = buffer_.data() + begin_ + kHeaderSize;
    out.header = header;
    out.body.assign(body, body + header.bodyLength);
    begin_ += kHeaderSize + header.bodyLength;
    if (begin_ == end_) begin_ = end_ = 0;
    return PopResult::Message;
}

int MessageReader::TakeFd() {
    if (fds_.empty()) return -1;
    const int fd = fds_.front();
    fds_.pop_front();
    return fd;
}

std::vector<std::uint8_t> BuildMessage(wire::MessageType type, std::uint64_t id,
                                       std::initializer_list<std::span<const std::uint8_t>> parts,
                                       std::uint16_t flags) {
    std::size_t bodyLength = 0;
    for (const auto& part : parts)
        bodyLength += part.size();
    wire::MessageHeader header{wire::kMagic, static_cast<std::uint16_t>(type), flags,
                               static_cast<std::uint32_t>(bodyLength), id};
    std::vector<std::uint8_t> message(kHeaderSize + bodyLength);
    std::memcpy(message.data(), &header, kHeaderSize);
    std::size_t at = kHeaderSize;
    for (const auto& part : parts) {
        if (!part.empty()) std::memcpy(message.data() + at, part.data(), part.size());
        at += part.size();
    }
    return message;
}

bool SendAll(int socket, std::span<const std::uint8_t> data, int passFd) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        iovec iov{const_cast<std::uint8_t*>(data.data() + sent), data.size() - sent};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        if (passFd >= 0 && sent == 0) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
        }
        const ssize_t n = sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace qorcam::devio::detail
