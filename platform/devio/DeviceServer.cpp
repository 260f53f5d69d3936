// DeviceServer: the listening socket of a device and the connections accepted on it.
#include "devio/DeviceServer.h"

#include "devio/Connection.h"
#include "devio/UnixAddress.h"
#include "os/Event.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <linux/capability.h>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <poll.h>
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

// Whether the process holds CAP_NET_ADMIN in its effective set. Read once
// when it connects; a process that is already gone has none.
bool HasNetAdmin(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    std::FILE* file = std::fopen(path, "re");
    if (!file) return false;
    char line[256];
    bool admin = false;
    while (std::fgets(line, sizeof line, file)) {
        unsigned long long caps = 0;
        if (std::sscanf(line, "CapEff: %llx", &caps) == 1) {
            admin = (caps >> CAP_NET_ADMIN) & 1;
            break;
        }
    }
    std::fclose(file);
    return admin;
}

} // namespace

struct DeviceServer::State {
    detail::Connection::Host host;
    detail::UserLimits limits;
    os::Event stop{os::ResetMode::Manual};
    std::mutex mutex;
    bool started = false;
    int listenFd = -1;
    std::filesystem::path path;
    ino_t inode = 0;
    std::thread acceptThread;
    std::list<std::shared_ptr<detail::Connection>> connections;
    std::uint64_t nextConnectionId = 1;

    void AcceptLoop();
    void ReapFinished();
};

void DeviceServer::State::ReapFinished() {
    std::list<std::shared_ptr<detail::Connection>> finished;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->IsFinished()) {
                finished.push_back(*it);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : finished)
        connection->Join();
}

void DeviceServer::State::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stop.PollFd(), POLLIN, 0}};
        // Finished connections are joined at the latest a second later.
        const int polled = poll(fds, 2, 1000);
        if (polled < 0 && errno != EINTR) return;
        if (stop.IsSet()) return;
        ReapFinished();
        if (polled <= 0 || (fds[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue; // the client gave up, or descriptors ran out: keep serving the others
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
        info.netAdmin = HasNetAdmin(credentials.pid);
        // Each connection has a thread; past a user's share (or the device's
        // limit) a new client is turned away rather than the service running
        // out of threads.
        if (!host.limits->AddConnection(info.userId)) {
            close(fd);
            continue;
        }
        std::shared_ptr<detail::Connection> connection;
        {
            std::lock_guard lock(mutex);
            info.id = nextConnectionId++;
            connection = std::make_shared<detail::Connection>(fd, info, &host);
            connections.push_back(connection);
        }
        if (!connection->Start()) {
            std::lock_guard lock(mutex);
            connections.remove(connection);
            host.limits->RemoveConnection(info.userId);
        }
    }
}

DeviceServer::DeviceServer(DispatchRoutine dispatch, CloseRoutine close) : state_(std::make_shared<State>()) {
    state_->host.dispatch = std::move(dispatch);
    state_->host.close = std::move(close);
    state_->host.stop = &state_->stop;
    state_->host.limits = &state_->limits;
}

DeviceServer::~DeviceServer() {
    Stop();
}

NtStatus DeviceServer::Start(const std::filesystem::path& socketPath) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.started) return STATUS_INVALID_HANDLE;
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
    s.stop.Reset();
    s.listenFd = fd;
    s.path = socketPath;
    s.inode = st.st_ino;
    try {
        s.acceptThread = std::thread([&s] { s.AcceptLoop(); });
    } catch (const std::system_error&) {
        close(fd);
        unlink(address.sun_path);
        s.listenFd = -1;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    s.started = true;
    return STATUS_SUCCESS;
}

void DeviceServer::Stop() {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        if (!s.started) return;
        s.started = false;
    }
    s.stop.Set();
    if (s.acceptThread.joinable()) s.acceptThread.join();
    close(s.listenFd);
    s.listenFd = -1;
    // Remove the socket only while it is still ours: a new service may have
    // taken the name meanwhile.
    struct stat st {};
    if (lstat(s.path.c_str(), &st) == 0 && st.st_ino == s.inode) unlink(s.path.c_str());

    std::list<std::shared_ptr<detail::Connection>> connections;
    {
        std::lock_guard lock(s.mutex);
        connections.swap(s.connections);
    }
    for (auto& connection : connections)
        connection->Join();
}

std::size_t DeviceServer::ConnectionCount() const {
    std::lock_guard lock(state_->mutex);
    std::size_t count = 0;
    for (const auto& connection : state_->connections)
        count += connection->IsFinished() ? 0 : 1;
    return count;
}

} // namespace qorcam::devio
