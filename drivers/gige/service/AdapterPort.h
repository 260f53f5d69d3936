// AdapterPort: one bound network interface: its packet socket and receive thread.
#pragma once

#include "FramePort.h"
#include "GigeDriver.h"
#include "net/PacketSocket.h"

#include <atomic>
#include <string>
#include <thread>

namespace qorcam::gige {

// The frame path of one bound interface. Received frames go to the
// service's logic from the port's own thread until Stop; sends and the
// multicast filter go straight to the socket.
class AdapterPort : public FramePort {
public:
    AdapterPort(int index, std::string name) : index_(index), name_(std::move(name)) {}
    ~AdapterPort() override { Stop(); }

    // Opens the socket; errno-style result.
    int Open() { return socket_.Open(index_); }
    // Starts delivering frames to the adapter with that number.
    void Start(GigeDriver& driver, uint32_t number);
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

private:
    int index_;
    std::string name_;
    net::PacketSocket socket_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace qorcam::gige
