// AdapterPort: one bound network interface: its packet socket and receive thread.
#include "AdapterPort.h"

#include <cstring>

namespace {
constexpr size_t kWireMinimum = 60;
}

namespace qorcam::gige {

int AdapterPort::Open() {
    net::PacketSocket::Options stream;
    stream.traffic = net::PacketSocket::Traffic::Stream;
    if (int e = socket_.Open(index_, stream)) return e;
    net::PacketSocket::Options control;
    control.traffic = net::PacketSocket::Traffic::Control;
    if (int e = control_.Open(index_, control)) {
        socket_.Close();
        return e;
    }
    return 0;
}

void AdapterPort::Start(GigeDriver& driver, uint32_t adapterNumber) {
    number = adapterNumber;
    stop_ = false;
    thread_ = std::thread([this, &driver, adapterNumber] { ReceiveLoop(socket_, driver, adapterNumber); });
    controlThread_ =
        std::thread([this, &driver, adapterNumber] { ReceiveLoop(control_, driver, adapterNumber); });
}

void AdapterPort::ReceiveLoop(net::PacketSocket& socket, GigeDriver& driver, uint32_t adapterNumber) {
    while (!stop_.load()) {
        int r = socket.Receive(
            [&](std::span<const uint8_t> frame) {
                // A wire pads every frame to 60 bytes; virtual links and
                // frames sent from this host arrive unpadded, so they are
                // padded here as the wire would have.
                if (frame.size() >= kWireMinimum) {
                    driver.Receive(adapterNumber, frame);
                } else {
                    uint8_t padded[kWireMinimum] = {};
                    std::memcpy(padded, frame.data(), frame.size());
                    driver.Receive(adapterNumber, padded);
                }
            },
            50);
        if (r < 0) break; // the socket failed; the link watcher unbinds the adapter
    }
}

void AdapterPort::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (controlThread_.joinable()) controlThread_.join();
}

} // namespace qorcam::gige
