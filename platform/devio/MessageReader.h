// MessageReader: cuts the byte stream of a device socket into checked messages.
#pragma once

#include "devio/Protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <span>
#include <vector>

namespace qorcam::devio::detail {

/// One received message: its header and exactly header.bodyLength bytes.
struct Message {
    wire::MessageHeader header{};
    std::vector<std::uint8_t> body;

    wire::MessageType Type() const { return static_cast<wire::MessageType>(header.type); }
    /// By value: the packed field must not be bound to a reference.
    std::uint64_t Id() const { return header.id; }
};

/// Reads a socket into a buffer and hands out whole messages, with the
/// descriptors that came with them.
///
/// Guarantees: a header is checked (magic, flags (only a Request may carry
/// one, kFlagNoPending), body length within the
/// limit) as soon as its 20 bytes are in, before any room is made for its
/// body, so a peer can make this side hold at most one maximum body. Every
/// received descriptor is either handed out by TakeFd or closed by the
/// destructor; descriptors beyond kMaxHeldFds count as malformed input.
class MessageReader {
public:
    enum class ReceiveResult { Data, WouldBlock, Closed, Failed, Malformed };
    enum class PopResult { Message, NeedMore, Malformed };

    static constexpr std::size_t kMaxHeldFds = 4;

    explicit MessageReader(std::uint64_t maxBodyLength) : maxBody_(maxBodyLength) {}
    ~MessageReader();
    MessageReader(const MessageReader&) = delete;
    MessageReader& operator=(const MessageReader&) = delete;

    /// One recvmsg on fd (blocking or not, as the descriptor is; never
    /// blocking when wait is false).
    ReceiveResult Receive(int fd, bool wait = true);
    /// The next whole message, if one is in.
    PopResult Pop(Message& out);
    /// The oldest descriptor received and not yet taken, or -1.
    int TakeFd();
    /// True when bytes of an unfinished message are held.
    bool HasPartial() const { return end_ > begin_; }
    /// True when the last Receive filled all the room it offered: more may
    /// wait in the socket.
    bool LastFilled() const { return filled_; }

private:
    bool HeaderValid(const wire::MessageHeader& header) const;

    std::uint64_t maxBody_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool filled_ = false;
    std::deque<int> fds_;
};

/// Builds one message from a header's type and id and the parts of its body.
std::vector<std::uint8_t> BuildMessage(wire::MessageType type, std::uint64_t id,
                                       std::initializer_list<std::span<const std::uint8_t>> parts,
                                       std::uint16_t flags = 0);

/// Writes all of data to a blocking socket (one descriptor attached to the
/// first byte when passFd >= 0). False when the peer is gone.
bool SendAll(int socket, std::span<const std::uint8_t> data, int passFd = -1);

/// The record at the start of a body whose size the caller has checked.
template <typename T> T ReadBody(const std::vector<std::uint8_t>& body) {
    T value;
    std::memcpy(&value, body.data(), sizeof(T));
    return value;
}

template <typename T> std::span<const std::uint8_t> AsBytes(const T& value) {
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof(T)};
}

} // namespace qorcam::devio::detail
