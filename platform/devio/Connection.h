// Connection: the service side of one client handle: its socket, requests, regions and thread.
#pragma once

#include "devio/DeviceServer.h"
#include "devio/MessageReader.h"
#include "devio/Region.h"
#include "devio/Request.h"
#include "os/Event.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qorcam::devio::detail {

/// What the connections of each user hold together, so that one user can't
/// take the whole service from the others. Root's connections are counted
/// against the device's limits only. Thread-safe; shared by a server's
/// connections.
class UserLimits {
public:
    // A user's connections at a time, and the slots of the device that only
    // root may take (so a crowd of users still leaves root a way in).
    static constexpr std::size_t kMaxConnectionsPerUser = 64;
    static constexpr std::size_t kMaxConnections = 1024;
    static constexpr std::size_t kRootReservedConnections = 64;
    // Requests in flight over all of a user's connections, the input bytes
    // they hold (the service keeps them in memory), and input plus the room
    // of inline outputs (memory taken only as the service writes it).
    static constexpr std::size_t kMaxRequestsPerUser = 4096;
    static constexpr std::size_t kMaxInputBytesPerUser = 16u << 20;
    static constexpr std::size_t kMaxBytesPerUser = 1ull << 30;

    /// False when the user (or the device) has no connection left.
    bool AddConnection(std::uint32_t user);
    void RemoveConnection(std::uint32_t user);
    /// Takes one request with its bytes from the user's share; false (and
    /// nothing taken) when that would pass a limit.
    bool Charge(std::uint32_t user, std::size_t input, std::size_t bytes);
    void Release(std::uint32_t user, std::size_t input, std::size_t bytes);

private:
    struct Share {
        std::size_t connections = 0;
        std::size_t requests = 0;
        std::size_t input = 0;
        std::size_t bytes = 0;
    };
    std::mutex mutex_;
    std::unordered_map<std::uint32_t, Share> shares_;
    std::size_t connections_ = 0;
};

/// One accepted client connection and the thread that serves it.
///
/// Guarantees: requests are dispatched one at a time on the connection's own
/// thread; answers (first answers and completions) go out in the order they
/// are queued, without ever blocking the thread that completes a request; on
/// the way out every request still in flight is cancelled and waited for,
/// the close routine runs, and only then is the socket closed.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    /// What the connection needs of its server; outlives the connection's thread.
    struct Host {
        DispatchRoutine dispatch;
        CloseRoutine close;
        os::Event* stop = nullptr;
        UserLimits* limits = nullptr;
    };

    Connection(int fd, ConnectionInfo info, const Host* host);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Start();
    void Join();
    bool IsFinished() const { return finished_.load(); }
    const ConnectionInfo& Info() const { return *info_; }

private:
    friend class devio::Request;

    // Bytes queued for a client that does not read before it counts as gone.
    static constexpr std::size_t kMaxQueuedBytes = 256u << 20;

    void Run();
    bool Serve();
    void Drain();
    bool Handle(Message& message);
    bool HandleRequest(Message& message);
    bool HandleRegister(const Message& message);

    // Both below with mutex_ held.
    void EnqueueLocked(std::vector<std::uint8_t> message);
    bool FlushLocked();
    void DropOutLocked();
    // Gives a request's bytes back to the connection's and the user's budget.
    void ReleaseChargeLocked(Request& request);
    std::vector<std::uint8_t> CompletionMessageLocked(const Request& request) const;
    void AnswerAtOnce(std::uint64_t id, NtStatus status);

    int fd_;
    std::shared_ptr<const ConnectionInfo> info_;
    const Host* host_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    MessageReader reader_;
    os::Event wake_{os::ResetMode::Auto};

    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, RequestPtr> requests_;
    std::unordered_map<std::uint32_t, std::shared_ptr<Region>> regions_;
    std::deque<std::vector<std::uint8_t>> out_;
    std::size_t outOffset_ = 0;
    std::size_t outBytes_ = 0;
    std::size_t bytesInFlight_ = 0; // input and inline output of requests in flight
    std::uint64_t regionBytes_ = 0;
    bool closing_ = false;
    bool closed_ = false;
    bool overflow_ = false;
};

} // namespace qorcam::devio::detail
