// Request: one client request as a service sees it, from dispatch to completion.
#pragma once

#include "devio/Status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace qorcam::devio {

namespace detail {
class Connection;
}
class Region;
class Request;

/// What a request asks for.
enum class RequestKind : std::uint32_t {
    DeviceControl = 1, ///< DeviceIoControl with Code()
    Read = 2,          ///< ReadFile (Code() is 0)
};

using RequestPtr = std::shared_ptr<Request>;

/// Who a connection (one client handle) belongs to, as the kernel told the
/// service when the client connected (SO_PEERCRED, SO_PEERGROUPS); nothing a
/// client sends changes it.
struct ConnectionInfo {
    std::uint64_t id = 0;        ///< as Request::ConnectionId
    std::uint32_t processId = 0; ///< from the socket's peer credentials
    std::uint32_t userId = 0;
    std::uint32_t groupId = 0;
    std::vector<std::uint32_t> groups; ///< supplementary groups
    /// The process had CAP_NET_ADMIN when it connected, held in the
    /// service's own user namespace (one a process made for itself grants
    /// nothing outside it).
    bool netAdmin = false;

    bool IsRoot() const { return userId == 0; }
    bool InGroup(std::uint32_t group) const;
};

/// Runs when a request is cancelled (the client's CancelIo, its handle
/// closing, its process ending, or the service stopping). It is called on
/// the cancelling thread with no lock of this layer held; it may complete
/// the request itself; otherwise the request completes with STATUS_CANCELLED
/// as soon as it returns.
using CancelRoutine = std::function<void(const RequestPtr&)>;

/// One request of one connection.
///
/// Guarantees:
/// - Input() and Output() stay valid for the object's life. Output() is the
///   room the client gave: either zero-filled memory of that size whose first
///   bytes are sent back on completion, or the client's own region memory,
///   which the client sees in place.
/// - A request completes exactly once: the first Complete wins, later ones
///   return false and change nothing. Complete may be called from any
///   thread, also while the dispatch routine still runs; the client sees
///   "pending" whenever the request was marked pending (or was not completed
///   when the dispatch routine returned) and "completed at once" otherwise.
/// - Completions reach the client in the order in which Complete was called
///   on the requests of one connection.
/// - Completing a request of a connection that is gone is harmless.
class Request : public std::enable_shared_from_this<Request> {
public:
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    RequestKind Kind() const { return kind_; }
    std::uint32_t Code() const { return code_; }
    std::span<const std::uint8_t> Input() const { return input_; }
    std::span<std::uint8_t> Output() { return {outputData_, outputLength_}; }
    std::size_t OutputLength() const { return outputLength_; }
    bool OutputInRegion() const { return region_ != nullptr; }

    /// The client's process id, from the connection's peer credentials.
    std::uint32_t ProcessId() const { return caller_->processId; }
    /// The client's user id, from the connection's peer credentials.
    std::uint32_t UserId() const { return caller_->userId; }
    /// Everything the kernel told of the client.
    const ConnectionInfo& Caller() const { return *caller_; }
    /// Identifies the connection (handle) the request came on; unique for the
    /// server's life.
    std::uint64_t ConnectionId() const { return connectionId_; }

    /// Completes the request. information is the byte count the client sees;
    /// outputBytes is how much of Output() goes back to it (ignored for a
    /// region, cut to the output length). The first form sends back
    /// min(information, output length) bytes.
    bool Complete(NtStatus status, std::uint64_t information = 0);
    bool Complete(NtStatus status, std::uint64_t information, std::size_t outputBytes);
    bool IsCompleted() const;

    /// Marks the request pending: the client will see STATUS_PENDING even if
    /// it is completed before the dispatch routine returns.
    void MarkPending();

    /// Makes the request cancelable (it does not mark it pending: a request
    /// completed before its dispatch returns is still "completed at once").
    /// False when it has been cancelled already: the routine is not kept and
    /// the caller should complete the request with STATUS_CANCELLED instead
    /// of keeping it.
    bool SetCancelRoutine(CancelRoutine routine);
    /// Makes the request no longer cancelable. True when the caller now owns
    /// the request (it must complete it); false when a cancellation has
    /// already claimed it (its routine completes it, the caller must let go).
    bool ClearCancelRoutine();
    /// True once a cancellation was asked for, whether or not a routine ran.
    bool IsCancelled() const;

    /// Asks for cancellation: runs the cancel routine if one is set (see
    /// CancelRoutine). A request with no routine is only flagged; whoever
    /// holds it completes it.
    void Cancel();

private:
    friend class detail::Connection;
    Request() = default;

    std::shared_ptr<detail::Connection> connection_;
    std::uint64_t id_ = 0;
    RequestKind kind_ = RequestKind::DeviceControl;
    std::uint32_t code_ = 0;
    std::shared_ptr<const ConnectionInfo> caller_;
    std::uint64_t connectionId_ = 0;
    std::vector<std::uint8_t> input_;
    struct FreeMemory {
        void operator()(std::uint8_t* p) const;
    };
    // From calloc: a large room costs no memory until the service writes it.
    std::unique_ptr<std::uint8_t, FreeMemory> inlineOutput_;
    // Input and inline output bytes counted against the connection's budget.
    std::size_t charge_ = 0;
    bool userCharged_ = false; // the charge is also held against the user's share
    std::shared_ptr<Region> region_;
    std::uint8_t* outputData_ = nullptr;
    std::size_t outputLength_ = 0;
    // State below is guarded by the connection's lock.
    bool dispatching_ = false;
    bool pending_ = false;
    bool noPendingAnswer_ = false; // the client asked for the Completion only
    bool completed_ = false;
    bool cancelled_ = false;
    bool cancelClaimed_ = false;
    CancelRoutine cancelRoutine_;
    NtStatus status_ = STATUS_SUCCESS;
    std::uint64_t information_ = 0;
    std::size_t outputBytes_ = 0;
};

} // namespace qorcam::devio
