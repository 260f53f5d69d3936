// SimDeviceServer: the device side of a simulated USB device: its socket, its endpoints and the standard
// requests.
#pragma once

#include "UsbFunction.h"

#include "usb/Status.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace qorcam::usb::sim {

/// Serves one simulated device at <folder>/<name>.sock to any number of
/// hosts, one of which at a time may claim it for bulk transfers.
///
/// Guarantees: each host request gets exactly one answer; an IN endpoint
/// hands out its messages in order, each to as many IN transfers as it
/// takes (a transfer ends at the end of a message, as at a short packet);
/// a record that breaks the protocol closes only that host's connection;
/// a host that does not take its answers within kSendTimeoutMs is dropped.
/// The socket and lock files are removed when the server ends normally; a
/// killed server leaves them with the lock free, which the bus reads as gone.
class SimDeviceServer {
public:
    static constexpr int kSendTimeoutMs = 5000;
    static constexpr std::size_t kMaxRequestsPerHost = 4096;

    SimDeviceServer(std::string folder, std::string name, UsbFunction& function);
    ~SimDeviceServer();
    SimDeviceServer(const SimDeviceServer&) = delete;
    SimDeviceServer& operator=(const SimDeviceServer&) = delete;

    /// Takes the lock and starts listening; false (with a reason on stderr)
    /// when the name is taken or the socket can't be made.
    bool Start();
    /// Serves until Stop or SIGTERM/SIGINT.
    void Run();
    void Stop() { running_ = false; }

    /// Queues one message on IN endpoint.
    void Send(std::uint8_t endpoint, std::vector<std::uint8_t> message);
    /// Messages waiting on endpoint (not yet wholly taken by the host).
    std::size_t Queued(std::uint8_t endpoint) const;
    /// Drops what waits on endpoint.
    void Flush(std::uint8_t endpoint);
    void Halt(std::uint8_t endpoint);
    bool Halted(std::uint8_t endpoint) const;
    /// True while a host holds the claim.
    bool Claimed() const { return claimer_ != nullptr; }
    /// Runs action after delayMs on the server's thread.
    void Schedule(std::uint32_t delayMs, std::function<void()> action);

private:
    struct Host;
    struct InRequest {
        Host* host;
        std::uint64_t tag;
        std::uint32_t capacity;
    };
    struct Message {
        std::vector<std::uint8_t> bytes;
        std::size_t offset = 0;
    };
    struct Endpoint {
        std::uint16_t maxPacket = 512;
        bool halted = false;
        std::deque<Message> messages;
        std::deque<InRequest> requests;
    };

    void Accept();
    /// Reads what host sent; false when the connection is to be closed.
    bool Receive(Host& host);
    bool Handle(Host& host, std::uint16_t type, std::uint64_t id, std::span<const std::uint8_t> body);
    void HandleControl(Host& host, std::uint64_t id, std::span<const std::uint8_t> body);
    void Complete(Host& host, std::uint64_t id, Status status, std::uint32_t length,
                  std::span<const std::uint8_t> data = {});
    void Reply(Host& host, std::uint64_t id, const std::string& text);
    void Pump(std::uint8_t address);
    void DropHost(Host& host);
    Endpoint* FindEndpoint(std::uint8_t address);
    void RunTimers();

    const std::string folder_;
    const std::string name_;
    UsbFunction& function_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    int signalFd_ = -1;
    bool running_ = false;
    std::string socketPath_;
    std::string lockPath_;
    std::vector<std::unique_ptr<Host>> hosts_;
    Host* claimer_ = nullptr;
    std::map<std::uint8_t, Endpoint> endpoints_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers_;
};

} // namespace qorcam::usb::sim
