// PacketSocket: raw Ethernet frames in and out of one network interface.
#include "net/PacketSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <utility>

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace qorcam::net {

namespace {

// How much later than its retire time a block may be handed over: the kernel's timer fires a little late.
constexpr uint64_t kRetireSlackNs = 300000;

uint64_t ClockNs(clockid_t id) {
    timespec t{};
    ::clock_gettime(id, &t);
    return uint64_t(t.tv_sec) * 1000000000ull + uint64_t(t.tv_nsec);
}

// Classic BPF over the Ethernet frame: `stream` decides what an IPv4 UDP
// datagram (first or only fragment) is that has neither port 3956 nor 67/68
// on either side and goes to a port in [firstPort, lastPort]; every other
// frame gets the other answer.
std::vector<sock_filter> TrafficFilter(bool stream, uint16_t firstPort, uint16_t lastPort) {
    const uint32_t yes = 0xFFFFFFFFu, no = 0;
    const uint32_t streamAnswer = stream ? yes : no, otherAnswer = stream ? no : yes;
    constexpr uint8_t kOther = 18; // index of the "other" return
    std::vector<sock_filter> f;
    auto to = [&](uint8_t target) { return static_cast<uint8_t>(target - f.size() - 1); };
    auto jeqOther = [&](uint32_t k) { f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, to(kOther), 0)); };
    f.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12)); // EtherType
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, to(kOther)));
    f.push_back(BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23)); // IPv4 protocol
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 17, 0, to(kOther)));
    f.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20)); // flags and fragment offset
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1FFF, to(kOther), 0));
    f.push_back(BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14)); // IPv4 header length
    f.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_IND, 14));  // source port
    jeqOther(3956);
    jeqOther(67);
    jeqOther(68);
    f.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16)); // destination port
    jeqOther(3956);
    jeqOther(67);
    jeqOther(68);
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, firstPort, 0, to(kOther)));
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, lastPort, to(kOther), 0));
    f.push_back(BPF_STMT(BPF_RET | BPF_K, streamAnswer));
    f.push_back(BPF_STMT(BPF_RET | BPF_K, otherAnswer)); // kOther
    return f;
}

} // namespace

PacketSocket::~PacketSocket() {
    Close();
}

void PacketSocket::Close() {
    if (ring_) ::munmap(ring_, ringSize_);
    ring_ = nullptr;
    ringSize_ = 0;
    fd_.Reset();
    multicast_.clear();
    buffer_.clear();
}

int PacketSocket::Open(int interfaceIndex, const Options& o) {
    Close();
    // Protocol 0 receives nothing until the bind below, so no frame of
    // another interface, or one the filter would refuse, gets in first.
    UniqueFd fd(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) return errno;
    int one = 1;
    // Older kernels lack it; our own frames are then skipped by packet type.
    ::setsockopt(fd.Get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    if (o.traffic != Traffic::All) {
        auto program = TrafficFilter(o.traffic == Traffic::Stream, o.streamPortFirst, o.streamPortLast);
        sock_fprog fprog{static_cast<unsigned short>(program.size()), program.data()};
        if (::setsockopt(fd.Get(), SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) != 0) return errno;
    }
    if (o.traffic == Traffic::Control) {
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(ETH_P_ALL);
        address.sll_ifindex = interfaceIndex;
        if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return errno;
        fd_ = std::move(fd);
        index_ = interfaceIndex;
        buffer_.assign(65536, 0);
        return 0; // the promiscuous mode is the stream socket's to set
    }
    int version = TPACKET_V3;
    if (::setsockopt(fd.Get(), SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) return errno;

    tpacket_req3 req{};
    req.tp_block_size = static_cast<unsigned>(o.blockSize);
    req.tp_block_nr = static_cast<unsigned>(o.blockCount);
    req.tp_frame_size = static_cast<unsigned>(o.frameSize);
    req.tp_frame_nr = static_cast<unsigned>(o.blockSize / o.frameSize * o.blockCount);
    req.tp_retire_blk_tov = o.blockTimeoutMs;
    if (::setsockopt(fd.Get(), SOL_PACKET, PACKET_RX_RING, &req, sizeof req) != 0) return errno;
    size_t size = o.blockSize * o.blockCount;
    void* ring = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_LOCKED, fd.Get(), 0);
    if (ring == MAP_FAILED) ring = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (ring == MAP_FAILED) return errno;

    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = interfaceIndex;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        ::munmap(ring, size);
        return error;
    }
    fd_ = std::move(fd);
    index_ = interfaceIndex;
    ring_ = static_cast<uint8_t*>(ring);
    ringSize_ = size;
    blockSize_ = o.blockSize;
    blockCount_ = o.blockCount;
    blockTimeoutMs_ = o.blockTimeoutMs;
    burstUntilNs_ = 0;
    nextBlock_.store(0);
    if (!Membership(PACKET_MR_PROMISC, nullptr, true)) {
        int error = errno;
        Close();
        return error;
    }
    return 0;
}

int PacketSocket::WaitReadable(int timeoutMs) {
    pollfd p{fd_.Get(), POLLIN | POLLERR, 0};
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) return errno == EINTR ? 0 : -1;
    if (p.revents & (POLLERR | POLLNVAL | POLLHUP)) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error == ENETDOWN) return 0; // link down: frames resume when it comes back
        if (error != 0 || (p.revents & (POLLNVAL | POLLHUP))) return -1;
    }
    return r > 0 ? 1 : 0;
}

int PacketSocket::ReceiveDirect(const std::function<void(std::span<const uint8_t>)>& frame, int timeoutMs) {
    // Without a wait the reads below tell all a poll would (nothing queued, the link down, the
    // socket failed), one system call fewer for a caller that knows the socket is readable.
    if (timeoutMs != 0) {
        int r = WaitReadable(timeoutMs);
        if (r <= 0) return r;
    }
    int handed = 0;
    // What is queued now, bounded so a flood can't hold the caller forever.
    for (int i = 0; i < 256; ++i) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = ::recvfrom(fd_.Get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT | MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENETDOWN) break;
            return handed > 0 ? handed : -1;
        }
        if (from.sll_pkttype == PACKET_OUTGOING) continue;
        // A frame bigger than the buffer is cut to it, as the ring cuts to its frame size.
        frame(std::span<const uint8_t>(buffer_.data(), std::min(static_cast<size_t>(n), buffer_.size())));
        ++handed;
    }
    return handed;
}

int PacketSocket::Receive(const std::function<void(std::span<const uint8_t>)>& frame, int timeoutMs) {
    return ReceiveBatch(
        [&](std::span<const std::span<const uint8_t>> frames, uint64_t) {
            for (const auto f : frames)
                frame(f);
        },
        timeoutMs);
}

int PacketSocket::ReceiveBatch(const BatchHandler& frames, int timeoutMs) {
    if (!fd_.IsValid()) return -1;
    if (!ring_)
        return ReceiveDirect(
            [&](std::span<const uint8_t> one) { frames(std::span(&one, 1), ClockNs(CLOCK_MONOTONIC)); },
            timeoutMs);
    size_t next = nextBlock_.load(std::memory_order_relaxed);
    auto* block = reinterpret_cast<tpacket_block_desc*>(ring_ + next * blockSize_);
    auto ready = [&] {
        return (__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) != 0;
    };
    if (!ready()) {
        const uint64_t burstUntil = std::exchange(burstUntilNs_, 0);
        const uint64_t now = burstUntil ? ClockNs(CLOCK_MONOTONIC) : 0;
        if (burstUntil > now) {
            // The last block handed over was full: a burst goes on, and the blocks it fills would wake
            // the reader one by one. It sleeps instead until what came after that block has been
            // handed over in any case (the next block's retire time), and takes together all the
            // burst filled meanwhile; a wait of the caller's that ends sooner ends it.
            uint64_t until = burstUntil;
            if (timeoutMs >= 0) until = std::min(until, now + uint64_t(timeoutMs) * 1000000u);
            const timespec t{time_t(until / 1000000000u), long(until % 1000000000u)};
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
            }
            if (!ready()) return 0; // the caller's wait is over; the next call waits on the socket
        } else if (WaitReadable(timeoutMs) < 0) {
            return -1;
        }
    }
    int handed = 0;
    bool lastFull = false;
    uint64_t lastArrived = 0;
    // The ring stamps its blocks in real time; the steady clock is what the reader counts in.
    int64_t realToSteady = 0;
    bool offsetTaken = false;
    // Every block the kernel has handed over, in ring order.
    for (size_t visited = 0; visited < blockCount_; ++visited) {
        block = reinterpret_cast<tpacket_block_desc*>(ring_ + next * blockSize_);
        if ((__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) break;
        handing_.store(true, std::memory_order_relaxed);
        if (!offsetTaken) {
            realToSteady = int64_t(ClockNs(CLOCK_MONOTONIC)) - int64_t(ClockNs(CLOCK_REALTIME));
            offsetTaken = true;
        }
        const uint8_t* base = reinterpret_cast<const uint8_t*>(block);
        size_t offset = block->hdr.bh1.offset_to_first_pkt;
        const uint32_t packets = block->hdr.bh1.num_pkts;
        const auto& last = block->hdr.bh1.ts_last_pkt;
        const int64_t stamped = int64_t(last.ts_sec) * 1000000000 + int64_t(last.ts_nsec) + realToSteady;
        // A clock set back or forth while the block filled gives no sensible time: it counts as now.
        const uint64_t steadyNow = ClockNs(CLOCK_MONOTONIC);
        const uint64_t arrived =
            stamped > 0 && uint64_t(stamped) <= steadyNow && steadyNow - uint64_t(stamped) < 10000000000ull
                ? uint64_t(stamped)
                : steadyNow;
        batch_.clear();
        for (uint32_t i = 0; i < packets; ++i) {
            if (offset < sizeof(tpacket_block_desc) || offset + sizeof(tpacket3_hdr) > blockSize_) break;
            auto* h = reinterpret_cast<const tpacket3_hdr*>(base + offset);
            const size_t mac = offset + h->tp_mac;
            const size_t llOffset = offset + TPACKET_ALIGN(sizeof(tpacket3_hdr));
            bool outgoing = false;
            if (llOffset + sizeof(sockaddr_ll) <= blockSize_)
                outgoing =
                    reinterpret_cast<const sockaddr_ll*>(base + llOffset)->sll_pkttype == PACKET_OUTGOING;
            if (!outgoing && mac <= blockSize_ && h->tp_snaplen <= blockSize_ - mac)
                batch_.emplace_back(base + mac, h->tp_snaplen);
            const uint32_t step = h->tp_next_offset;
            if (step == 0) break;
            // Each header tells where the next one is, so a walk through a block the kernel wrote
            // a while ago waits for one cache miss after another. The frames of a stream are mostly
            // of one size: the headers (with the protocol headers after them) some frames ahead are
            // fetched now, on that guess, so that their misses overlap.
            const size_t ahead = offset + size_t(step) * 8;
            if (ahead + 192 <= blockSize_) {
                __builtin_prefetch(base + ahead);
                __builtin_prefetch(base + ahead + 64);
                __builtin_prefetch(base + ahead + 128);
            }
            offset += step;
        }
        // Handed over full, not because its retire time ran out: the stream fills blocks faster than
        // the retire time, and the next one follows soon.
        lastFull = (block->hdr.bh1.block_status & TP_STATUS_BLK_TMO) == 0;
        lastArrived = arrived;
        if (!batch_.empty()) frames(batch_, arrived);
        handed += static_cast<int>(batch_.size());
        __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        next = (next + 1) % blockCount_;
        nextBlock_.store(next, std::memory_order_release);
        handing_.store(false, std::memory_order_release);
    }
    // The block after a full one is handed over at the latest its retire time after that one closed
    // (a little later for the kernel's timer); a reader behind by more than that finds it at once.
    if (lastFull) burstUntilNs_ = lastArrived + uint64_t(blockTimeoutMs_) * 1000000u + kRetireSlackNs;
    return handed;
}

bool PacketSocket::Backlog() const {
    if (!ring_) return false;
    if (handing_.load(std::memory_order_acquire)) return true;
    const size_t next = nextBlock_.load(std::memory_order_acquire);
    auto* block = reinterpret_cast<tpacket_block_desc*>(ring_ + next * blockSize_);
    return (__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) != 0;
}

PacketSocket::Statistics PacketSocket::TakeStatistics() {
    Statistics s;
    if (!fd_.IsValid()) return s;
    tpacket_stats_v3 v3{};
    socklen_t length = sizeof v3;
    if (::getsockopt(fd_.Get(), SOL_PACKET, PACKET_STATISTICS, &v3, &length) != 0) return s;
    s.packets = v3.tp_packets;
    s.drops = v3.tp_drops;
    if (ring_ && length >= sizeof v3) s.freezes = v3.tp_freeze_q_cnt;
    return s;
}

bool PacketSocket::Send(std::span<const uint8_t> frame) {
    if (!fd_.IsValid()) return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t n = ::send(fd_.Get(), frame.data(), frame.size(), MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(frame.size())) return true;
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != ENOBUFS) return false;
    }
    return false;
}

bool PacketSocket::Membership(int type, const uint8_t* mac, bool add) {
    packet_mreq m{};
    m.mr_ifindex = index_;
    m.mr_type = static_cast<unsigned short>(type);
    if (mac) {
        m.mr_alen = 6;
        std::memcpy(m.mr_address, mac, 6);
    }
    return ::setsockopt(fd_.Get(), SOL_PACKET, add ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP, &m,
                        sizeof m) == 0;
}

bool PacketSocket::SetMulticastList(const std::vector<std::array<uint8_t, 6>>& macs) {
    if (!fd_.IsValid()) return false;
    bool ok = true;
    for (const auto& old : multicast_)
        if (std::find(macs.begin(), macs.end(), old) == macs.end())
            ok = Membership(PACKET_MR_MULTICAST, old.data(), false) && ok;
    for (const auto& mac : macs)
        if (std::find(multicast_.begin(), multicast_.end(), mac) == multicast_.end())
            ok = Membership(PACKET_MR_MULTICAST, mac.data(), true) && ok;
    multicast_ = macs;
    return ok;
}

} // namespace qorcam::net
