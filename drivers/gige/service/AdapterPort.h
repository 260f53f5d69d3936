// AdapterPort: one bound network interface: its packet socket and receive thread.
#pragma once

#include "FramePort.h"
#include "GigeDriver.h"
#include "net/PacketSocket.h"

#include <atomic>
#include <string>
#include <thread>

namespace qorcam::gige {

// The frame path of one bound interface. Two packet sockets share the
// received frames: stream data comes in batches through a ring, everything
// else (control answers, ARP, ICMP, DHCP) one by one as it arrives, so an
// answer never waits for a ring block to be handed over. The stream socket
// has its own thread delivering to the service's logic until Stop; it also
// times out the blocks in progress, waiting for packets no longer than until
// the next may time out, so no other thread wakes for them. The control
// socket is read by whoever watches it (ReceiveControl: the service's
// request loop, so an answer completes its request on the thread that sent
// the command, without waking another), or by a thread of its own
// (StartControlThread). Sends and the multicast filter go straight to the
// stream socket.
class AdapterPort : public FramePort {
public:
    AdapterPort(int index, std::string name) : index_(index), name_(std::move(name)) {}
    ~AdapterPort() override { Stop(); }

    // Opens the socket; errno-style result.
    int Open();
    // Starts delivering stream frames to the adapter with that number.
    void Start(GigeDriver& driver, uint32_t number);
    // After Start: the control socket, readable when control frames wait, and what hands them over
    // to the adapter (waiting at most timeoutMs for the first); false when the socket failed (the
    // link watcher then unbinds the adapter).
    int ControlFd() const { return control_.Fd(); }
    bool ReceiveControl(int timeoutMs = 0);
    // After Start: control frames delivered by a thread of the port's own instead.
    void StartControlThread();
    void Stop();

    bool SendFrame(std::span<const uint8_t> frame) override { return socket_.Send(frame); }
    bool SetMulticastList(const std::vector<std::array<uint8_t, 6>>& macs) override {
        return socket_.SetMulticastList(macs);
    }
    bool QueryLink(uint32_t& maxFrameSize, uint32_t& linkSpeed) override {
        maxFrameSize = mtu.load();
        linkSpeed = speed.load();
        return maxFrameSize != 0;
    }

    bool StreamBacklog() const override { return socket_.Backlog(); }
    bool TimesOutBlocks() const override { return true; }

    int Index() const { return index_; }
    const std::string& Name() const { return name_; }

    // The link figures the service last read, for QueryLink.
    std::atomic<uint32_t> mtu{0};
    std::atomic<uint32_t> speed{0};
    // What the service last told the logic.
    bool connected = false;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t number = 0;
    // The service's watch of the control socket (0: none).
    uint64_t controlWatch = 0;

private:
    // The stream socket's receive thread.
    void ReceiveLoop(GigeDriver& driver, uint32_t adapterNumber);

    int index_;
    std::string name_;
    net::PacketSocket socket_;  // stream data, through the ring
    net::PacketSocket control_; // every other frame, at once
    GigeDriver* driver_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::thread controlThread_;
};

} // namespace qorcam::gige
