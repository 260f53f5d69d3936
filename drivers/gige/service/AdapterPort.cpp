// AdapterPort: one bound network interface: its packet socket and receive thread.
#include "AdapterPort.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {
constexpr size_t kWireMinimum = 60;
// Stream data goes to ports of this range (the ports the producers take for their channels); the
// ring takes nothing else, whatever else crosses the interface.
constexpr uint16_t kStreamPortFirst = 0x8000;
constexpr uint16_t kStreamPortLast = 0xBFFF;
// How long a receive thread waits for frames at most before it looks at whether to stop.
constexpr int kIdleWaitMs = 50;
} // namespace

namespace qorcam::gige {

int AdapterPort::Open() {
    net::PacketSocket::Options stream;
    stream.traffic = net::PacketSocket::Traffic::Stream;
    stream.streamPortFirst = kStreamPortFirst;
    stream.streamPortLast = kStreamPortLast;
    if (int e = socket_.Open(index_, stream)) return e;
    net::PacketSocket::Options control = stream;
    control.traffic = net::PacketSocket::Traffic::Control;
    if (int e = control_.Open(index_, control)) {
        socket_.Close();
        return e;
    }
    return 0;
}

void AdapterPort::Start(GigeDriver& driver, uint32_t adapterNumber) {
    number = adapterNumber;
    driver_ = &driver;
    stop_ = false;
    thread_ = std::thread([this, &driver, adapterNumber] { ReceiveLoop(driver, adapterNumber); });
}

bool AdapterPort::ReceiveControl(int timeoutMs) {
    // What waits now, frame by frame as it came (no ring, so nothing is held back).
    std::array<uint8_t, kWireMinimum> padded;
    const int r = control_.ReceiveBatch(
        [&](std::span<const std::span<const uint8_t>> frames, uint64_t arrivedNs) {
            for (auto frame : frames) {
                // Padded to the wire's minimum as ReceiveLoop does.
                if (frame.size() < kWireMinimum) {
                    padded.fill(0);
                    std::memcpy(padded.data(), frame.data(), frame.size());
                    frame = std::span<const uint8_t>(padded.data(), padded.size());
                }
                driver_->ReceiveBatch(number, std::span(&frame, 1), arrivedNs);
            }
        },
        timeoutMs);
    return r >= 0;
}

void AdapterPort::StartControlThread() {
    controlThread_ = std::thread([this] {
        while (!stop_.load())
            if (!ReceiveControl(kIdleWaitMs)) break;
    });
}

void AdapterPort::ReceiveLoop(GigeDriver& driver, uint32_t adapterNumber) {
    // The logic takes the frames of a ring block in runs of this many per hold of its lock, so that
    // a control answer or a timer never waits for a whole block.
    constexpr size_t kRun = 64;
    std::vector<std::span<const uint8_t>> run;
    std::vector<std::array<uint8_t, kWireMinimum>> padded(kRun);
    run.reserve(kRun);
    int waitMs = kIdleWaitMs;
    while (!stop_.load()) {
        int r = socket_.ReceiveBatch(
            [&](std::span<const std::span<const uint8_t>> frames, uint64_t arrivedNs) {
                for (size_t first = 0; first < frames.size(); first += kRun) {
                    run.clear();
                    for (size_t i = first; i < std::min(frames.size(), first + kRun); ++i) {
                        const auto frame = frames[i];
                        // A wire pads every frame to 60 bytes; virtual links and
                        // frames sent from this host arrive unpadded, so they are
                        // padded here as the wire would have.
                        if (frame.size() >= kWireMinimum) {
                            run.push_back(frame);
                        } else {
                            auto& room = padded[run.size()];
                            room.fill(0);
                            std::memcpy(room.data(), frame.data(), frame.size());
                            run.emplace_back(room.data(), room.size());
                        }
                    }
                    driver.ReceiveBatch(adapterNumber, run, arrivedNs);
                }
            },
            waitMs);
        if (r < 0) break; // the socket failed; the link watcher unbinds the adapter
        const int due = driver.CheckStreamTimeouts(adapterNumber);
        waitMs = due < 0 ? kIdleWaitMs : std::min(due, kIdleWaitMs);
    }
}

void AdapterPort::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (controlThread_.joinable()) controlThread_.join();
}

} // namespace qorcam::gige
