// Connection: the service side of one client handle: its socket, requests and regions.
#pragma once

#include "devio/DeviceServer.h"
#include "devio/MessageReader.h"
#include "devio/Region.h"
#include "devio/Request.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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
    // Answers queued for a user's connections and not yet taken by them:
    // past this a user's new requests are refused until the client reads.
    static constexpr std::size_t kMaxQueuedBytesPerUser = 64u << 20;

    /// False when the user (or the device) has no connection left.
    bool AddConnection(std::uint32_t user);
    void RemoveConnection(std::uint32_t user);
    /// Takes one request with its bytes from the user's share; false (and
    /// nothing taken) when that would pass a limit.
    bool Charge(std::uint32_t user, std::size_t input, std::size_t bytes);
    void Release(std::uint32_t user, std::size_t input, std::size_t bytes);
    /// Answers queued for the user's connections and not yet sent: charged
    /// from the moment they are queued until they are sent or dropped.
    void Queue(std::uint32_t user, std::size_t bytes);
    void Unqueue(std::uint32_t user, std::size_t bytes);
    /// What the service holds for the user now: the input and inline room
    /// of its requests in flight and its answers not yet sent.
    std::size_t Held(std::uint32_t user) const;

private:
    struct Share {
        std::size_t connections = 0;
        std::size_t requests = 0;
        std::size_t input = 0;
        std::size_t bytes = 0;
        std::size_t queued = 0;
    };
    void ForgetIfIdleLocked(std::uint32_t user);
    mutable std::mutex mutex_;
    std::unordered_map<std::uint32_t, Share> shares_;
    std::size_t connections_ = 0;
};

class WorkPool;

/// Answers (first answers, completions) this thread has put into client
/// sockets so far: the server's loop polls for a client's next request
/// after a turn in which it answered one.
std::uint64_t AnswersSentOnThisThread();

/// One accepted client connection. It holds no thread of its own: the
/// server's loop watches its socket and hands it to a worker of the server's
/// pool whenever there is something to do (input to read, an end to carry
/// out), one worker at a time.
///
/// Guarantees: messages are read and handled in order, and requests
/// dispatched one at a time, never two of one connection at once; while one
/// batch of input is handled nothing more is read, so a client that sends
/// faster than the service answers waits in its socket. Answers (first
/// answers and completions) go out in the order they are queued, without
/// ever blocking the thread that completes a request. While more than
/// kPauseReadingBytes of answers wait for a client that does not read them,
/// nothing more of its input is handled (the rest waits in the socket) until
/// it has taken them down to kResumeReadingBytes: a client can't make the
/// service hold more than that, plus the answers of the requests it has in
/// flight. Unsent answers are charged to the user until they are sent. On the way out every
/// request still in flight is cancelled and waited for, the close routine
/// runs, and only then is the socket closed.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    /// What the connection needs of its server; outlives the connection's work.
    struct Host {
        DispatchRoutine dispatch;
        CloseRoutine close;
        UserLimits* limits = nullptr;
        WorkPool* pool = nullptr;
        int epollFd = -1;
        /// The dispatch routine never waits: the loop reads and dispatches
        /// an open connection's requests itself.
        bool readOnLoop = false;
        /// Called once, on a worker, when the connection has ended (close
        /// routine run, socket closed).
        std::function<void(const Connection&)> finished;
        /// Asks the loop to call OnTimer of the connection at that time.
        std::function<void(std::chrono::steady_clock::time_point, std::weak_ptr<Connection>)> wakeAt;
    };

    Connection(int fd, ConnectionInfo info, const Host* host);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Registers the socket with the loop (keyed by Info().id). False when
    /// it cannot be watched.
    bool Attach();
    /// From the loop: the socket reported these epoll events.
    void OnEvents(std::uint32_t events);
    /// From the loop: a time asked for by wakeAt has come.
    void OnTimer();
    /// Ends the connection as a client's close does (the server stops).
    void End();

    bool IsFinished() const { return finished_.load(); }
    const ConnectionInfo& Info() const { return *info_; }

private:
    friend class devio::Request;

    // Unsent answers at which the connection's input stops being handled,
    // and at which it goes on again.
    static constexpr std::size_t kPauseReadingBytes = 2u << 20;
    static constexpr std::size_t kResumeReadingBytes = 512u << 10;
    // Bytes queued for a client that does not read before it counts as gone
    // (only answers of requests already in flight can come this far).
    static constexpr std::size_t kMaxQueuedBytes = 256u << 20;

    enum class Phase { Open, Closing, Finished };

    // Runs on a worker: whatever the flags below ask for, until nothing is left.
    void Work();
    // Every whole message received before, then one receive and every whole
    // message in it; stops early while the answers wait over the share.
    // False when the connection ends.
    bool ReadAndHandle();
    // Handles the whole messages already received, up to a pause. False
    // when the connection ends.
    bool HandleReceived();

    void CancelInFlight();
    void Finish();
    bool Handle(Message& message);
    bool HandleRequest(Message& message);
    bool HandleRegister(const Message& message);

    // All below with mutex_ held.
    void ScheduleLocked();
    void UpdateInterestLocked();
    void BeginCloseLocked();
    void FlushFailedLocked();
    // A request left requests_: a closing connection may now finish.
    void RequestGoneLocked();
    bool CanFinishLocked() const;
    void EnqueueLocked(std::vector<std::uint8_t> message);
    bool FlushLocked();
    // The client took enough of its answers: its input is handled again.
    void ResumeIfTakenLocked();
    void DropOutLocked();
    // Gives a request's bytes back to the connection's and the user's budget.
    void ReleaseChargeLocked(Request& request);
    std::vector<std::uint8_t> CompletionMessageLocked(const Request& request) const;
    void AnswerAtOnce(std::uint64_t id, NtStatus status);

    int fd_;
    std::shared_ptr<const ConnectionInfo> info_;
    const Host* host_;
    std::atomic<bool> finished_{false};
    MessageReader reader_; // used by the worker that holds the connection only
    std::optional<Message> held_; // popped and not handled while paused; as reader_

    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, RequestPtr> requests_;
    std::unordered_map<std::uint32_t, std::shared_ptr<Region>> regions_;
    std::deque<std::vector<std::uint8_t>> out_;
    std::size_t outOffset_ = 0;
    std::size_t outBytes_ = 0;
    std::size_t bytesInFlight_ = 0; // input and inline output of requests in flight
    std::uint64_t regionBytes_ = 0;
    Phase phase_ = Phase::Open;
    bool scheduled_ = false;     // a worker holds the connection, or a job for it waits
    bool inputReady_ = false;    // the socket has input (or an end) that no worker has read yet
    bool endRequested_ = false;  // the server stops, or the client can no longer be answered
    bool cancelIssued_ = false;  // closing: every request in flight was asked to cancel
    std::uint32_t armed_ = 0;    // epoll events the socket is armed for (one-shot)
    std::chrono::steady_clock::time_point deadline_{}; // closing: last answers given up after it
    bool closed_ = false;
    bool overflow_ = false;
    bool paused_ = false;        // input waits until the client takes its answers
    bool reading_ = false;       // a thread reads and handles input now
    std::size_t peakOutBytes_ = 0; // the most ever queued, to give memory back at the end
};

} // namespace qorcam::devio::detail
