// DeviceServer: the service side of a device: its socket, connections and requests.
#pragma once

#include "devio/Request.h"
#include "devio/Status.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace qorcam::devio {

/// Receives every request. It either completes the request before returning
/// or pends it (RequestQueue::Pend, or keeps it with a cancel routine) and
/// completes it later from any thread. Requests of one connection are
/// dispatched one after another; requests of different connections may be
/// dispatched at the same time, on the server's workers (at most 16 at once,
/// so a routine that waits holds up only its own connection, not the others),
/// or, for a routine that never waits (DispatchMode::NeverWaits), on the loop
/// that watches the sockets.
using DispatchRoutine = std::function<void(const RequestPtr&)>;

/// Runs once per connection after the client closed it (or its process
/// ended, or the server stops), once every request of that connection has
/// been cancelled and has completed.
using CloseRoutine = std::function<void(const ConnectionInfo&)>;

/// Where the dispatch routine runs.
enum class DispatchMode {
    /// On the server's workers: a routine may wait.
    Workers,
    /// A routine that never waits (it completes or pends at once) runs on
    /// the loop that watches the sockets, as soon as the loop sees the
    /// request: no hand-over to a worker. The close routine and cancel
    /// routines stay on the workers.
    NeverWaits,
};

/// Serves one device on a Unix-domain stream socket.
///
/// Guarantees:
/// - Each accepted connection is one client handle. Connections hold no
///   thread: one loop watches every socket and a pool of workers (one when
///   idle, more while dispatch routines are busy, at most 16) reads, checks
///   and dispatches what arrives. The client's process id, user and groups
///   come from SO_PEERCRED and
///   SO_PEERGROUPS, never from the client. Each user other than root has a
///   share (64 connections; 4096 requests, 16 MiB of their input and 1 GiB
///   of input, inline output and unsent answers in flight, of which at most
///   64 MiB unsent answers); at most 1024 connections are served at a time,
///   the last 64 of them for root only. A connection past a limit is closed
///   at once, a request past one is refused with
///   STATUS_INSUFFICIENT_RESOURCES.
/// - Answers a client does not read are charged to its user until sent;
///   while more than 2 MiB of them wait on one connection, nothing more of
///   that connection's input is handled (it waits in the socket) until the
///   client has read them down to 512 KiB. Memory such a client made the
///   service hold goes back to the system when its connection closes.
/// - Every message is checked against its declared sizes and the limits of
///   the wire protocol before anything is read from it; a malformed message,
///   or a client that floods the connection without reading its answers,
///   closes that connection only (its requests are cancelled and the close
///   routine runs as for any close). The server and its other connections
///   go on.
/// - Region outputs are checked against the region's real size and stay
///   mapped as long as a request uses them, whatever the client does.
/// - Stop (and the destructor) stops accepting, closes every connection as
///   above, waits for every close routine, and removes the socket file.
class DeviceServer {
public:
    DeviceServer(DispatchRoutine dispatch, CloseRoutine close = {}, DispatchMode mode = DispatchMode::Workers);
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    /// Creates the socket at path (its folder is created; mode 0666, as any
    /// process may open the device), listens and starts serving. The
    /// process's descriptor limit is raised to what it may hold: every
    /// connection and every registered region is a descriptor. When none is
    /// left, new clients wait in the socket's backlog until one is free.
    /// STATUS_OBJECT_NAME_COLLISION when another server answers there (a
    /// stale socket file is replaced); STATUS_INVALID_HANDLE when already
    /// started; STATUS_UNSUCCESSFUL for other socket errors.
    NtStatus Start(const std::filesystem::path& socketPath);
    /// Called from a dispatch or close routine of this server, Stop only
    /// starts the stop (it cannot wait for its own routines); a later Stop
    /// or the destructor waits for it.
    void Stop();

    /// Watches another descriptor on the loop that watches the sockets, so
    /// that what it delivers is handled by the thread that dispatches the
    /// requests (an answer a request waits for completes it without a hand-over
    /// to another thread). `ready` runs on the loop whenever fd is readable (or
    /// reports an error) and must never wait; it reads what it can, and the
    /// loop calls it again while more is left. When it returns false the
    /// descriptor is no longer watched. Watches may be added before Start and
    /// last over a Stop and a new Start; the descriptor stays the caller's.
    /// Returns an id for Unwatch, 0 when fd can't be watched.
    using WatchRoutine = std::function<bool()>;
    std::uint64_t Watch(int fd, WatchRoutine ready);
    /// Ends a watch: once it returns `ready` no longer runs (it waits for a
    /// call under way, unless called from the loop itself).
    void Unwatch(std::uint64_t id);

    /// Before the loop that watches the sockets sleeps, it asks `due` until
    /// when something it watches is due shortly (an answer to a command the
    /// dispatch routine sent, say), and polls its descriptors until then
    /// instead of sleeping (at most 100 us from then on; a time past: it
    /// sleeps at once). Polling costs the loop's processor meanwhile but spares
    /// the sender of what comes a wake-up, and the loop the time to wake. Runs
    /// on the loop and must never wait. Set before Start.
    ///
    /// Besides, a server whose dispatch routine never waits polls for a
    /// client's next request after a turn of its loop in which it answered
    /// one, while clients recently sent their next request that soon (see
    /// SpinGauge): a client reading registers one after another finds the
    /// loop awake.
    using DueRoutine = std::function<std::chrono::steady_clock::time_point()>;
    void SetDueRoutine(DueRoutine due);

    /// Connections currently open (their close routine not yet finished).
    std::size_t ConnectionCount() const;
    /// Bytes the server holds for a user's connections now: the input and
    /// inline output room of its requests in flight and its answers not yet
    /// sent.
    std::size_t BytesHeldFor(std::uint32_t user) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace qorcam::devio
