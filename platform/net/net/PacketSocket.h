// PacketSocket: raw Ethernet frames in and out of one network interface.
#pragma once

#include "net/UniqueFd.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qorcam::net {

/// One AF_PACKET socket bound to one interface, receiving the frames on the
/// wire through a TPACKET_V3 ring, sending whole frames as built.
///
/// The ring hands a partly filled block over only when its retire timer
/// fires, which suits bulk stream data but delays a lone answer by up to
/// the timer. So a socket may take a share of the traffic: `Stream` takes
/// the UDP datagrams to the stream ports (a range of destination ports) that
/// are neither control (port 3956 on either side) nor DHCP (ports 67 and
/// 68), through the ring, the kernel leaving the rest out of it; `Control` takes every other
/// frame (ARP, ICMP, control and DHCP datagrams, fragments, other protocols)
/// one by one as it arrives, without a ring. A `Stream` and a `Control`
/// socket on the same interface see each frame exactly once between them.
///
/// Guarantees: the interface is put in promiscuous mode and joined to
/// multicast groups only through this socket's memberships, which the
/// kernel drops when the socket closes, so nothing outlives the socket on the
/// interface. Frames the socket sends itself are not received again. Each
/// received frame is handed over with exactly the bytes the kernel captured
/// (checked against the ring's block bounds); a frame is never passed with a
/// length that runs past its buffer. Not thread-safe for Receive; Send and
/// SetMulticastList may be called from other threads.
class PacketSocket {
public:
    enum class Traffic { All, Stream, Control };

    struct Options {
        /// Bytes per ring block (a power of two, page multiple) and blocks in the ring. The kernel hands
        /// a block over when it is full or when the retire time below has run out since it opened with
        /// packets in it, whichever comes first; the next block opens at once. So a stream that trickles
        /// (a few packets per retire time, as a camera's on a busy machine, or small frames at a high
        /// rate) takes a whole block per retire time however little is in it, and the ring holds
        /// blockCount retire times of it, not blockSize * blockCount bytes: 512 blocks of 128 KiB hold
        /// 2 s of such a stream (32 blocks of 2 MiB, the same memory, held 128 ms, less than a busy
        /// machine may keep the reader away). A stream at line rate fills blocks by bytes: 128 KiB is
        /// about 80 packets of 1500 bytes; what the ring holds of it is the memory, 64 MiB, a few of the
        /// largest frames (2048x2048 RGB8 in 1500-byte packets is about 14 MiB of ring).
        size_t blockSize = 128u << 10;
        size_t blockCount = 512;
        size_t frameSize = 2048; ///< largest capture per frame (bigger frames are cut)
        /// How long a partly filled block waits before it is handed over. Every hand-over wakes the
        /// reader, so a short time costs a wake-up every few milliseconds of a stream that doesn't
        /// fill a block as fast; a long one holds back the end of a frame (older kernels round it up
        /// to their timer tick).
        unsigned blockTimeoutMs = 4;
        Traffic traffic = Traffic::All; ///< `Control` receives without the ring (the sizes above unused)
        /// The destination ports of the stream share (`Stream` and `Control` alike).
        uint16_t streamPortFirst = 0;
        uint16_t streamPortLast = 0xFFFF;
    };

    PacketSocket() = default;
    ~PacketSocket();
    PacketSocket(const PacketSocket&) = delete;
    PacketSocket& operator=(const PacketSocket&) = delete;

    /// Opens, maps the ring and binds to the interface; errno-style error
    /// code (0 on success).
    int Open(int interfaceIndex, const Options& options);
    int Open(int interfaceIndex) { return Open(interfaceIndex, Options{}); }
    void Close();
    bool IsOpen() const { return fd_.IsValid(); }
    int Fd() const { return fd_.Get(); }

    /// Waits up to timeoutMs for frames and hands each to the callback;
    /// returns the number handed over, or -1 when the socket failed (the
    /// interface went away).
    int Receive(const std::function<void(std::span<const uint8_t>)>& frame, int timeoutMs);
    /// The same, handing the frames over together: those of one ring block
    /// at a time (one at a time without a ring), valid during the call, with
    /// the time the last of them reached the machine (steady clock, ns; the
    /// time of the call without a ring). A reader that is behind learns from
    /// it how old what it handles is. After a full ring block (a burst that fills blocks faster than
    /// their retire time) a call that finds nothing sleeps, within timeoutMs, until the block after it
    /// must have been handed over, instead of waking for every block the burst fills; it returns 0
    /// when nothing came by then.
    using BatchHandler = std::function<void(std::span<const std::span<const uint8_t>> frames, uint64_t arrivedNs)>;
    int ReceiveBatch(const BatchHandler& frames, int timeoutMs);

    /// Whether received frames wait for the reader: a ring block handed over
    /// and not yet taken, or one being handed out now. May be called from
    /// any thread; false without a ring.
    bool Backlog() const;

    struct Statistics {
        uint64_t packets = 0; ///< frames the socket took (dropped ones included)
        uint64_t drops = 0;   ///< frames dropped for want of room in the ring
        uint64_t freezes = 0; ///< times the ring filled up
    };
    /// The kernel's counts since the last call (each call starts them over).
    Statistics TakeStatistics();

    /// Sends one whole frame; false when the kernel refused it.
    bool Send(std::span<const uint8_t> frame);

    /// Makes exactly these Ethernet multicast addresses pass the interface's filter.
    bool SetMulticastList(const std::vector<std::array<uint8_t, 6>>& macs);

private:
    bool Membership(int type, const uint8_t* mac, bool add);
    int ReceiveDirect(const std::function<void(std::span<const uint8_t>)>& frame, int timeoutMs);
    // Waits for the socket to become readable: 1 ready, 0 nothing (or link down), -1 failed.
    int WaitReadable(int timeoutMs);

    UniqueFd fd_;
    int index_ = 0;
    uint8_t* ring_ = nullptr;
    size_t ringSize_ = 0;
    size_t blockSize_ = 0;
    size_t blockCount_ = 0;
    unsigned blockTimeoutMs_ = 0;
    uint64_t burstUntilNs_ = 0; // after a full block: when the block after it is handed over at the latest
    std::atomic<size_t> nextBlock_{0};
    std::atomic<bool> handing_{false}; // a block is being handed out
    std::vector<std::array<uint8_t, 6>> multicast_;
    std::vector<uint8_t> buffer_; // the receive buffer without a ring
    std::vector<std::span<const uint8_t>> batch_; // the frames of the block being handed over
};

} // namespace qorcam::net
