// DeviceServer: the listening socket of a device and the connections accepted on it.
#include "devio/DeviceServer.h"

#include "devio/Connection.h"
#include "devio/SpinGauge.h"
#include "devio/UnixAddress.h"
#include "devio/WorkPool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <linux/capability.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <cstring>
#include <map>
#include <optional>
#include <chrono>
#include <unordered_map>
#include <mutex>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qorcam::devio {
namespace {

// The supplementary groups of the peer when it connected.
std::vector<std::uint32_t> PeerGroups(int fd) {
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < 4; ++attempt) {
        socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return {groups.begin(), groups.end()};
        }
        if (errno != ERANGE) break;
        groups.resize(std::max<std::size_t>(length / sizeof(gid_t), groups.size() * 2));
    }
    return {};
}

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

// A descriptor of the peer process itself (not of its pid, which may be
// reused): the one the kernel took when the peer connected, or, on kernels
// without it, one opened for the pid SO_PEERCRED gave. -1 when the process
// is gone.
int PeerProcess(int socketFd, pid_t pid) {
    int pidfd = -1;
    socklen_t length = sizeof pidfd;
    if (getsockopt(socketFd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0) return pidfd;
    if (errno != ENOPROTOOPT) return -1; // the peer is gone
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// Whether two /proc namespace links name the same namespace.
bool SameNamespace(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether /proc/<pid>/uid_map (read through the process's folder) maps
// every uid onto itself, as the initial user namespace does.
bool IdentityUidMap(int procFd) {
    const int fd = openat(procFd, "uid_map", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[256];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return false;
    text[n] = '\0';
    unsigned long long inside = 1, outside = 1, count = 0;
    int used = 0;
    if (std::sscanf(text, " %llu %llu %llu %n", &inside, &outside, &count, &used) != 3) return false;
    return inside == 0 && outside == 0 && count == 4294967295ull && text[used] == '\0';
}

// Whether the peer holds CAP_NET_ADMIN where it counts: in its effective
// set and in the service's own user namespace. Any user may make a user
// namespace and hold every capability inside it; those grant nothing here,
// so a process in another user namespace has none. Read once when it
// connects, through a descriptor of the process, and only believed when
// that same process is still alive after the reading (so a pid reused by
// another process meanwhile lends nothing), and only when it still runs as
// the user the socket's credentials named (where the kernel can't name the
// peer's process itself, a pid reused before the descriptor was taken is
// another process, almost always of another user). A process already gone
// has none.
bool HasNetAdmin(int socketFd, pid_t pid, uid_t uid) {
    if (pid <= 0) return false;
    const int pidfd = PeerProcess(socketFd, pid);
    if (pidfd < 0) return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
    const int procFd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool admin = false;
    if (procFd >= 0) {
        // The service's own user namespace stays what it was at the first client.
        static const std::optional<struct stat> own = []() -> std::optional<struct stat> {
            struct stat st {};
            if (stat("/proc/self/ns/user", &st) != 0) return std::nullopt;
            return st;
        }();
        struct stat theirs {};
        bool sameUsers = false;
        if (own && fstatat(procFd, "ns/user", &theirs, 0) == 0)
            sameUsers = SameNamespace(*own, theirs);
        else // the namespace link may be closed to a service without ptrace rights; the map is not
            sameUsers = IdentityUidMap(procFd);
        const int statusFd = sameUsers ? openat(procFd, "status", O_RDONLY | O_CLOEXEC) : -1;
        if (std::FILE* file = statusFd >= 0 ? fdopen(statusFd, "re") : nullptr) {
            char line[256];
            bool sameUser = false;
            while (std::fgets(line, sizeof line, file)) {
                unsigned long long caps = 0;
                unsigned realUid = 0, effectiveUid = 0;
                if (std::sscanf(line, "Uid: %u %u", &realUid, &effectiveUid) == 2) {
                    sameUser = effectiveUid == uid;
                } else if (std::sscanf(line, "CapEff: %llx", &caps) == 1) {
                    admin = sameUser && ((caps >> CAP_NET_ADMIN) & 1);
                    break;
                }
            }
            std::fclose(file);
        } else if (statusFd >= 0) {
            close(statusFd);
        }
        close(procFd);
    }
    // Still the process the socket's credentials named: what was read is its own.
    if (admin && syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) != 0) admin = false;
    close(pidfd);
    return admin;
}

// Jobs of the server's connections that may run at the same time: dispatch
// routines that wait for something hold a worker each; the rest queue.
constexpr std::size_t kMaxWorkers = 16;
constexpr std::chrono::seconds kWorkerIdleExit{10};
// Connections accepted per turn of the loop, so a crowd connecting at once
// does not keep answers of the others waiting.
constexpr int kAcceptsPerTurn = 64;
// How long accepting pauses when the process is out of descriptors.
constexpr std::chrono::milliseconds kAcceptPause{100};
// Keys of the loop's own descriptors; connections use their ids (from 1).
constexpr std::uint64_t kWakeKey = 0;
constexpr std::uint64_t kListenKey = UINT64_MAX;
// The longest the loop polls for something its owner says is due.
constexpr std::chrono::microseconds kMaxDuePoll{100};
// Descriptors watched for the server's owner: this bit and the watch's id.
constexpr std::uint64_t kWatchBit = 1ull << 62;

// Lets the process hold as many descriptors as it may: every connection is
// one, and every region it registers another.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

struct DeviceServer::State {
    using Clock = std::chrono::steady_clock;

    struct WatchEntry {
        int fd = -1;
        WatchRoutine ready;
        std::mutex running;               // held while `ready` runs
        std::atomic<bool> active{true};   // false once unwatched or given up
    };

    detail::Connection::Host host;
    detail::UserLimits limits;
    std::unique_ptr<detail::WorkPool> pool;
    mutable std::mutex mutex;
    bool running = false;  // from Start until a Stop has waited for everything
    bool stopping = false; // Stop asked for: the loop stops accepting and ends every connection
    bool joining = false;  // a Stop waits for the loop and the workers
    int listenFd = -1;
    int epollFd = -1;
    int wakeFd = -1;
    std::filesystem::path path;
    ino_t inode = 0;
    std::thread loop;
    std::unordered_map<std::uint64_t, std::shared_ptr<detail::Connection>> connections;
    std::multimap<Clock::time_point, std::weak_ptr<detail::Connection>> timers;
    std::unordered_map<std::uint64_t, std::shared_ptr<WatchEntry>> watches;
    std::uint64_t nextWatchId = 1;
    Clock::time_point acceptPausedUntil{};
    bool acceptPaused = false;
    std::uint64_t nextConnectionId = 1;
    DueRoutine due; // set before Start; used by the loop only

    ~State();
    void Loop();
    void Wake();
    void Accept();
    void StopAccepting();
    int TimeoutLocked() const;
    void RunTimers();
    void RunWatch(std::uint64_t id);
    bool AddWatchLocked(std::uint64_t id, const WatchEntry& watch) const;
    void CloseDescriptors();
};

namespace {
// The state whose loop runs on this thread, if any.
thread_local const void* tLoopOf = nullptr;
} // namespace

DeviceServer::State::~State() {
    // Only when the server was let go of after a Stop from one of its own
    // routines: the loop, whose end this is, cannot wait for itself.
    if (pool) pool->Shutdown();
    if (loop.joinable()) loop.detach();
    CloseDescriptors();
}

void DeviceServer::State::CloseDescriptors() {
    for (int* fd : {&listenFd, &epollFd, &wakeFd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void DeviceServer::State::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
}

int DeviceServer::State::TimeoutLocked() const {
    std::optional<Clock::time_point> next;
    if (!timers.empty()) next = timers.begin()->first;
    if (acceptPaused && (!next || acceptPausedUntil < *next)) next = acceptPausedUntil;
    if (!next) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

void DeviceServer::State::RunTimers() {
    std::vector<std::shared_ptr<detail::Connection>> due;
    bool resumeAccept = false;
    {
        std::lock_guard lock(mutex);
        const auto now = Clock::now();
        while (!timers.empty() && timers.begin()->first <= now) {
            if (auto connection = timers.begin()->second.lock()) due.push_back(std::move(connection));
            timers.erase(timers.begin());
        }
        if (acceptPaused && acceptPausedUntil <= now && !stopping) {
            acceptPaused = false;
            resumeAccept = true;
        }
    }
    if (resumeAccept) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kListenKey;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, listenFd, &event);
    }
    for (auto& connection : due)
        connection->OnTimer();
}

bool DeviceServer::State::AddWatchLocked(std::uint64_t id, const WatchEntry& watch) const {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWatchBit | id;
    return epoll_ctl(epollFd, EPOLL_CTL_ADD, watch.fd, &event) == 0;
}

void DeviceServer::State::RunWatch(std::uint64_t id) {
    std::shared_ptr<WatchEntry> watch;
    {
        std::lock_guard lock(mutex);
        const auto it = watches.find(id);
        if (it == watches.end()) return;
        watch = it->second;
    }
    std::lock_guard running(watch->running);
    if (!watch->active.load()) return;
    bool keep = false;
    try {
        keep = watch->ready();
    } catch (...) {
        // A failing routine gives its descriptor up, not the server.
    }
    if (keep) return;
    watch->active = false;
    std::lock_guard lock(mutex);
    if (watches.count(id) != 0 && epollFd >= 0) epoll_ctl(epollFd, EPOLL_CTL_DEL, watch->fd, nullptr);
}

void DeviceServer::State::StopAccepting() {
    epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
    close(listenFd);
    listenFd = -1;
    // Remove the socket only while it is still ours: a new service may have
    // taken the name meanwhile.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && st.st_ino == inode) unlink(path.c_str());
}

void DeviceServer::State::Accept() {
    for (int turn = 0; turn < kAcceptsPerTurn; ++turn) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The client waits in the backlog; the listening socket stays
                // readable, so it is not watched until descriptors may be free.
                epoll_event event{};
                event.data.u64 = kListenKey;
                epoll_ctl(epollFd, EPOLL_CTL_MOD, listenFd, &event);
                std::lock_guard lock(mutex);
                acceptPaused = true;
                acceptPausedUntil = Clock::now() + kAcceptPause;
            }
            return; // none waiting, or the client gave up: keep serving the others
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
            close(fd);
            continue;
        }
        ConnectionInfo info;
        info.processId = static_cast<std::uint32_t>(credentials.pid);
        info.userId = credentials.uid;
        info.groupId = credentials.gid;
        info.groups = PeerGroups(fd);
        info.netAdmin = HasNetAdmin(fd, credentials.pid, credentials.uid);
        // Past a user's share (or the device's limit) a new client is turned
        // away rather than the service running out of memory or descriptors.
        if (!host.limits->AddConnection(info.userId)) {
            close(fd);
            continue;
        }
        std::shared_ptr<detail::Connection> connection;
        {
            std::lock_guard lock(mutex);
            info.id = nextConnectionId++;
            connection = std::make_shared<detail::Connection>(fd, info, &host);
            connections.emplace(info.id, connection);
        }
        if (!connection->Attach()) {
            {
                std::lock_guard lock(mutex);
                connections.erase(info.id);
            }
            host.limits->RemoveConnection(info.userId);
        }
    }
}

void DeviceServer::State::Loop() {
    tLoopOf = this;
    epoll_event events[64];
    // How soon clients sent their next request after the loop answered one.
    SpinGauge nextRequest = ServiceGauge();
    PollGuard guard;
    std::uint64_t answered = detail::AnswersSentOnThisThread();
    // After a turn in which the loop answered, when: the next request's time is learnt (none: epoch).
    Clock::time_point answeredAt{};
    for (;;) {
        int timeout;
        {
            std::unique_lock lock(mutex);
            if (stopping && listenFd >= 0) {
                lock.unlock();
                StopAccepting();
                std::vector<std::shared_ptr<detail::Connection>> open;
                lock.lock();
                for (auto& [id, connection] : connections)
                    open.push_back(connection);
                lock.unlock();
                for (auto& connection : open)
                    connection->End();
                lock.lock();
            }
            // Stopped once every connection has run its close routine.
            if (stopping && connections.empty()) return;
            timeout = TimeoutLocked();
        }
        // Something due shortly is polled for rather than slept for.
        const Clock::time_point now = Clock::now();
        Clock::time_point pollEnd{};
        if (host.readOnLoop && detail::AnswersSentOnThisThread() != answered) {
            answered = detail::AnswersSentOnThisThread();
            answeredAt = now;
            pollEnd = now + nextRequest.Budget();
        }
        if (due) pollEnd = std::max(pollEnd, std::min(due(), now + kMaxDuePoll));
        int count = 0;
        bool polled = false;
        while (pollEnd > now && guard.Allowed(now)) {
            const Clock::time_point turn = Clock::now();
            count = epoll_wait(epollFd, events, 64, 0);
            if (count != 0) {
                polled = count > 0;
                break;
            }
            if (Clock::now() >= pollEnd || !guard.Pause(turn)) break;
        }
        if (count == 0) count = epoll_wait(epollFd, events, 64, timeout);
        if (answeredAt != Clock::time_point{} && count > 0) {
            nextRequest.Record(Clock::now() - answeredAt, polled);
            answeredAt = {};
        }
        if (count < 0 && errno != EINTR) {
            // Nothing sensible is left to wait on; do not spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        for (int i = 0; i < count; ++i) {
            const std::uint64_t key = events[i].data.u64;
            if (key == kWakeKey) {
                std::uint64_t value;
                [[maybe_unused]] const ssize_t got = read(wakeFd, &value, sizeof value);
            } else if (key == kListenKey) {
                if (listenFd >= 0) Accept();
            } else if ((key & kWatchBit) != 0) {
                RunWatch(key & ~kWatchBit);
            } else {
                std::shared_ptr<detail::Connection> connection;
                {
                    std::lock_guard lock(mutex);
                    const auto it = connections.find(key);
                    if (it != connections.end()) connection = it->second;
                }
                if (connection) connection->OnEvents(events[i].events);
            }
        }
        RunTimers();
    }
}

DeviceServer::DeviceServer(DispatchRoutine dispatch, CloseRoutine close, DispatchMode mode)
    : state_(std::make_shared<State>()) {
    State& s = *state_;
    s.host.dispatch = std::move(dispatch);
    s.host.readOnLoop = mode == DispatchMode::NeverWaits;
    s.host.close = std::move(close);
    s.host.limits = &s.limits;
    // The state outlives every connection's work: Stop waits for them.
    s.host.finished = [&s](const detail::Connection& connection) {
        std::lock_guard lock(s.mutex);
        s.connections.erase(connection.Info().id);
        if (s.connections.empty() && s.stopping) s.Wake();
    };
    s.host.wakeAt = [&s](std::chrono::steady_clock::time_point when, std::weak_ptr<detail::Connection> connection) {
        {
            std::lock_guard lock(s.mutex);
            s.timers.emplace(when, std::move(connection));
        }
        s.Wake();
    };
}

DeviceServer::~DeviceServer() {
    Stop();
}

NtStatus DeviceServer::Start(const std::filesystem::path& socketPath) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    // Also while a stop is under way.
    if (s.running) return STATUS_INVALID_HANDLE;
    sockaddr_un address;
    if (!detail::FillUnixAddress(socketPath, address)) return STATUS_OBJECT_NAME_INVALID;
    std::error_code ignored;
    std::filesystem::create_directories(socketPath.parent_path(), ignored);

    struct stat st {};
    if (lstat(address.sun_path, &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return STATUS_OBJECT_NAME_COLLISION;
        if (detail::SocketAnswers(socketPath)) return STATUS_OBJECT_NAME_COLLISION;
        unlink(address.sun_path); // left behind by a service that ended without cleaning up
    }
    // The socket is bound and listening under a private name first and only then
    // linked under the device's name, so a client that sees the name can connect.
    static std::atomic<unsigned> serial{0};
    // The private name lies one folder up, so a walk of the device's folder never meets it.
    const auto folder = socketPath.parent_path();
    const auto stagingFolder = folder.has_parent_path() && folder.parent_path() != folder ? folder.parent_path() : folder;
    const auto staging = stagingFolder /
                         (".b" + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1)));
    sockaddr_un stagingAddress;
    if (!detail::FillUnixAddress(staging, stagingAddress)) return STATUS_OBJECT_NAME_INVALID;
    unlink(stagingAddress.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return STATUS_INSUFFICIENT_RESOURCES;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&stagingAddress), sizeof stagingAddress) != 0) {
        close(fd);
        return STATUS_UNSUCCESSFUL;
    }
    // Any process may open the device, as any process may open the device
    // object of a driver; the service decides per request.
    chmod(stagingAddress.sun_path, 0666);
    if (listen(fd, 128) != 0) {
        close(fd);
        unlink(stagingAddress.sun_path);
        return STATUS_UNSUCCESSFUL;
    }
    if (link(stagingAddress.sun_path, address.sun_path) != 0) {
        const NtStatus status = errno == EEXIST ? STATUS_OBJECT_NAME_COLLISION : STATUS_UNSUCCESSFUL;
        close(fd);
        unlink(stagingAddress.sun_path);
        return status;
    }
    unlink(stagingAddress.sun_path);
    if (lstat(address.sun_path, &st) != 0) {
        close(fd);
        unlink(address.sun_path);
        return STATUS_UNSUCCESSFUL;
    }
    RaiseDescriptorLimit();
    s.listenFd = fd;
    s.path = socketPath;
    s.inode = st.st_ino;
    s.epollFd = epoll_create1(EPOLL_CLOEXEC);
    s.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    auto pool = std::make_unique<detail::WorkPool>(kMaxWorkers, kWorkerIdleExit);
    bool ready = s.epollFd >= 0 && s.wakeFd >= 0;
    for (auto [watched, key] : {std::pair{s.listenFd, kListenKey}, std::pair{s.wakeFd, kWakeKey}}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = key;
        ready = ready && epoll_ctl(s.epollFd, EPOLL_CTL_ADD, watched, &event) == 0;
    }
    for (const auto& [id, watch] : s.watches)
        if (ready && watch->active.load()) ready = s.AddWatchLocked(id, *watch);
    ready = ready && pool->Start();
    if (ready) {
        s.host.pool = pool.get();
        s.host.epollFd = s.epollFd;
        s.stopping = false;
        s.acceptPaused = false;
        try {
            // The loop keeps the state alive in case the last owner lets go
            // of it from a dispatch or close routine.
            s.loop = std::thread([self = state_] { self->Loop(); });
        } catch (const std::system_error&) {
            ready = false;
        }
    }
    if (!ready) {
        pool.reset();
        s.host.pool = nullptr;
        unlink(address.sun_path);
        s.CloseDescriptors();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    s.pool = std::move(pool);
    s.running = true;
    return STATUS_SUCCESS;
}

void DeviceServer::Stop() {
    State& s = *state_;
    std::thread loop;
    {
        std::lock_guard lock(s.mutex);
        if (!s.running) return;
        s.stopping = true;
        s.Wake();
        // From a dispatch or close routine the stop goes on without this
        // thread: it cannot wait for the routines of its own server.
        if (s.joining || std::this_thread::get_id() == s.loop.get_id() || s.pool->OnPoolThread()) return;
        s.joining = true;
        loop = std::move(s.loop);
    }
    loop.join();
    s.pool->Shutdown();
    std::lock_guard lock(s.mutex);
    s.pool.reset();
    s.host.pool = nullptr;
    s.timers.clear();
    s.CloseDescriptors();
    s.joining = false;
    s.running = false;
}

std::uint64_t DeviceServer::Watch(int fd, WatchRoutine ready) {
    if (fd < 0 || !ready) return 0;
    State& s = *state_;
    auto watch = std::make_shared<State::WatchEntry>();
    watch->fd = fd;
    watch->ready = std::move(ready);
    std::lock_guard lock(s.mutex);
    const std::uint64_t id = s.nextWatchId++;
    // Before Start (or after a Stop) the watch waits for the next Start.
    if (s.epollFd >= 0 && !s.AddWatchLocked(id, *watch)) return 0;
    s.watches.emplace(id, std::move(watch));
    return id;
}

void DeviceServer::Unwatch(std::uint64_t id) {
    State& s = *state_;
    std::shared_ptr<State::WatchEntry> watch;
    {
        std::lock_guard lock(s.mutex);
        const auto it = s.watches.find(id);
        if (it == s.watches.end()) return;
        watch = std::move(it->second);
        s.watches.erase(it);
        if (s.epollFd >= 0 && watch->active.load()) epoll_ctl(s.epollFd, EPOLL_CTL_DEL, watch->fd, nullptr);
    }
    // From the loop (a routine of this server) nothing runs the watch now but
    // maybe the caller itself.
    if (tLoopOf == &s) {
        watch->active = false;
        return;
    }
    std::lock_guard running(watch->running);
    watch->active = false;
}

void DeviceServer::SetDueRoutine(DueRoutine due) {
    std::lock_guard lock(state_->mutex);
    state_->due = std::move(due);
}

std::size_t DeviceServer::ConnectionCount() const {
    std::lock_guard lock(state_->mutex);
    std::size_t count = 0;
    for (const auto& [id, connection] : state_->connections)
        count += connection->IsFinished() ? 0 : 1;
    return count;
}

std::size_t DeviceServer::BytesHeldFor(std::uint32_t user) const {
    return state_->limits.Held(user);
}

} // namespace qorcam::devio
