// SimDeviceServer: one thread polls the listening socket, the hosts, signals and timers.
#include "SimDeviceServer.h"

#include "usb/Descriptors.h"
#include "usb/SimProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qorcam::usb::sim {

struct SimDeviceServer::Host {
    int fd = -1;
    std::vector<std::uint8_t> input;
    std::size_t begin = 0;
    std::size_t requests = 0; ///< IN requests parked on endpoints
    bool dead = false;
};

namespace {

bool BindUnix(int fd, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool SendAll(int fd, std::initializer_list<std::span<const std::uint8_t>> parts) {
    iovec vec[4];
    int count = 0;
    for (const auto& part : parts)
        if (!part.empty()) vec[count++] = {const_cast<std::uint8_t*>(part.data()), part.size()};
    int first = 0;
    while (first < count) {
        msghdr message{};
        message.msg_iov = vec + first;
        message.msg_iovlen = static_cast<std::size_t>(count - first);
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) return false;
        while (first < count && static_cast<std::size_t>(sent) >= vec[first].iov_len) {
            sent -= static_cast<ssize_t>(vec[first].iov_len);
            ++first;
        }
        if (first < count) {
            vec[first].iov_base = static_cast<std::uint8_t*>(vec[first].iov_base) + sent;
            vec[first].iov_len -= static_cast<std::size_t>(sent);
        }
    }
    return true;
}

template <typename T> std::span<const std::uint8_t> Bytes(const T& value) {
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof(T)};
}

} // namespace

SimDeviceServer::SimDeviceServer(std::string folder, std::string name, UsbFunction& function)
    : folder_(std::move(folder)), name_(std::move(name)), function_(function) {}

SimDeviceServer::~SimDeviceServer() {
    for (auto& host : hosts_)
        ::close(host->fd);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        ::unlink(lockPath_.c_str());
        ::close(lockFd_);
    }
    if (signalFd_ >= 0) ::close(signalFd_);
}

bool SimDeviceServer::Start() {
    lockPath_ = folder_ + "/" + name_ + ".lock";
    socketPath_ = folder_ + "/" + name_ + ".sock";
    lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        std::fprintf(stderr, "%s: the device name is taken or the lock can't be made\n", name_.c_str());
        if (lockFd_ >= 0) ::close(lockFd_);
        lockFd_ = -1;
        return false;
    }
    // What a killed device of this name left behind.
    ::unlink(socketPath_.c_str());

    // Bound under a hidden name and renamed, so the socket appears only once
    // it accepts connections.
    const std::string hidden = folder_ + "/." + name_ + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(hidden.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0 || !BindUnix(listenFd_, hidden) || ::listen(listenFd_, 16) != 0 ||
        ::rename(hidden.c_str(), socketPath_.c_str()) != 0) {
        std::fprintf(stderr, "%s: can't listen on %s: %s\n", name_.c_str(), socketPath_.c_str(),
                     std::strerror(errno));
        ::unlink(hidden.c_str());
        return false;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    signalFd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    const auto config = ParseConfiguration(function_.ConfigurationDescriptor());
    if (config) {
        for (const auto& interface : config->interfaces)
            for (const auto& endpoint : interface.endpoints)
                endpoints_[endpoint.address].maxPacket = endpoint.maxPacketSize;
    }
    return true;
}

void SimDeviceServer::Run() {
    running_ = true;
    while (running_) {
        int timeout = -1;
        if (!timers_.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                timers_.begin()->first - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
        }
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {signalFd_, POLLIN, 0}};
        for (const auto& host : hosts_)
            fds.push_back({host->fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) running_ = false;
        if (fds[0].revents & POLLIN) Accept();
        const std::size_t polled = fds.size() - 2;
        for (std::size_t i = 0; i < polled && i < hosts_.size(); ++i) {
            if ((fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) && !hosts_[i]->dead &&
                !Receive(*hosts_[i]))
                hosts_[i]->dead = true;
        }
        RunTimers();
        for (std::size_t i = 0; i < hosts_.size();) {
            if (hosts_[i]->dead) {
                DropHost(*hosts_[i]);
                hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
}

void SimDeviceServer::Accept() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        auto host = std::make_unique<Host>();
        host->fd = fd;
        hosts_.push_back(std::move(host));
    }
}

bool SimDeviceServer::Receive(Host& host) {
    std::uint8_t chunk[65536];
    const ssize_t got = ::recv(host.fd, chunk, sizeof(chunk), MSG_DONTWAIT);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (got == 0) return false;
    host.input.insert(host.input.end(), chunk, chunk + got);
    while (!host.dead && host.input.size() - host.begin >= sizeof(RecordHeader)) {
        RecordHeader header;
        std::memcpy(&header, host.input.data() + host.begin, sizeof(header));
        // Checked before any room is made for the body.
        if (!DeviceAccepts(header)) {
            std::fprintf(stderr, "%s: malformed record from a host, connection closed\n", name_.c_str());
            return false;
        }
        const std::size_t whole = sizeof(header) + header.bodyLength;
        if (host.input.size() - host.begin < whole) break;
        const auto body =
            std::span<const std::uint8_t>(host.input).subspan(host.begin + sizeof(header), header.bodyLength);
        if (!Handle(host, header.type, header.id, body)) {
            std::fprintf(stderr, "%s: malformed record from a host, connection closed\n", name_.c_str());
            return false;
        }
        host.begin += whole;
    }
    if (host.begin == host.input.size()) {
        host.input.clear();
        host.begin = 0;
    } else if (host.begin > (1u << 20)) {
        host.input.erase(host.input.begin(), host.input.begin() + static_cast<std::ptrdiff_t>(host.begin));
        host.begin = 0;
    }
    return true;
}

bool SimDeviceServer::Handle(Host& host, std::uint16_t type, std::uint64_t id,
                             std::span<const std::uint8_t> body) {
    switch (static_cast<RecordType>(type)) {
    case RecordType::Control: {
        ControlBody setup;
        std::memcpy(&setup, body.data(), sizeof(setup));
        const bool toHost = (setup.requestType & 0x80) != 0;
        const std::size_t expected = sizeof(setup) + (toHost ? 0 : setup.length);
        if (body.size() != expected) return false;
        HandleControl(host, id, body);
        return true;
    }
    case RecordType::BulkOut:
    case RecordType::BulkIn: {
        TransferBody transfer;
        std::memcpy(&transfer, body.data(), sizeof(transfer));
        const bool in = static_cast<RecordType>(type) == RecordType::BulkIn;
        if (!in && body.size() != sizeof(transfer) + transfer.length) return false;
        Endpoint* endpoint = FindEndpoint(transfer.endpoint);
        if (&host != claimer_) {
            Complete(host, id, Status::Busy, 0);
        } else if (endpoint == nullptr || ((transfer.endpoint & kEndpointDirectionIn) != 0) != in) {
            Complete(host, id, Status::InvalidParameter, 0);
        } else if (endpoint->halted) {
            Complete(host, id, Status::Stall, 0);
        } else if (!in) {
            Complete(host, id, Status::Success, transfer.length);
            function_.OnBulkOut(transfer.endpoint, body.subspan(sizeof(transfer)));
        } else if (transfer.length == 0) {
            Complete(host, id, Status::Success, 0);
        } else if (host.requests >= kMaxRequestsPerHost) {
            Complete(host, id, Status::Busy, 0);
        } else {
            endpoint->requests.push_back({&host, id, transfer.length});
            ++host.requests;
            Pump(transfer.endpoint);
        }
        return true;
    }
    case RecordType::Cancel:
        for (auto& [address, endpoint] : endpoints_) {
            auto it = std::find_if(endpoint.requests.begin(), endpoint.requests.end(),
                                   [&](const InRequest& r) { return r.host == &host && r.tag == id; });
            if (it != endpoint.requests.end()) {
                endpoint.requests.erase(it);
                --host.requests;
                Complete(host, id, Status::Cancelled, 0);
                break;
            }
        }
        return true;
    case RecordType::Claim:
        if (claimer_ == nullptr || claimer_ == &host) {
            claimer_ = &host;
            Complete(host, id, Status::Success, 0);
        } else {
            Complete(host, id, Status::Busy, 0);
        }
        return true;
    case RecordType::SimCommand:
        Reply(host, id, function_.OnCommand(std::string(body.begin(), body.end())));
        return true;
    default:
        return false;
    }
}

void SimDeviceServer::HandleControl(Host& host, std::uint64_t id, std::span<const std::uint8_t> body) {
    ControlBody setup;
    std::memcpy(&setup, body.data(), sizeof(setup));
    auto answer = [&](std::vector<std::uint8_t> data) {
        if (data.size() > setup.length) data.resize(setup.length);
        Complete(host, id, Status::Success, static_cast<std::uint32_t>(data.size()), data);
    };
    const std::uint8_t index = static_cast<std::uint8_t>(setup.value & 0xFF);
    const std::uint8_t endpointAddress = static_cast<std::uint8_t>(setup.index & 0xFF);

    if (setup.requestType == 0x80 && setup.request == kRequestGetDescriptor) {
        switch (setup.value >> 8) {
        case kDescriptorDevice:
            return answer(function_.DeviceDescriptor());
        case kDescriptorConfiguration:
            if (index == 0) return answer(function_.ConfigurationDescriptor());
            break;
        case kDescriptorString: {
            if (index == 0) return answer({4, kDescriptorString, 0x09, 0x04});
            const auto text = function_.String(index);
            if (!text) break;
            std::vector<std::uint8_t> descriptor{0, kDescriptorString};
            for (char16_t c : text->substr(0, 126)) {
                descriptor.push_back(static_cast<std::uint8_t>(c & 0xFF));
                descriptor.push_back(static_cast<std::uint8_t>(c >> 8));
            }
            descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
            return answer(descriptor);
        }
        default:
            break;
        }
        return Complete(host, id, Status::Stall, 0);
    }
    if (setup.requestType == 0x80 && setup.request == kRequestGetStatus) return answer({0, 0});
    if (setup.requestType == 0x80 && setup.request == kRequestGetConfiguration) return answer({1});
    if (setup.requestType == 0x00 && setup.request == kRequestSetConfiguration && setup.value <= 1)
        return Complete(host, id, Status::Success, 0);
    if ((setup.requestType & 0x1F) == kRecipientEndpoint) {
        Endpoint* endpoint = FindEndpoint(endpointAddress);
        if (endpoint == nullptr) return Complete(host, id, Status::Stall, 0);
        if (setup.requestType == (0x80 | kRecipientEndpoint) && setup.request == kRequestGetStatus)
            return answer({static_cast<std::uint8_t>(endpoint->halted ? 1 : 0), 0});
        if (setup.requestType == kRecipientEndpoint && setup.value == kFeatureEndpointHalt) {
            if (setup.request == kRequestSetFeature) {
                Halt(endpointAddress);
                return Complete(host, id, Status::Success, 0);
            }
            if (setup.request == kRequestClearFeature) {
                endpoint->halted = false;
                Complete(host, id, Status::Success, 0);
                function_.OnHaltCleared(endpointAddress);
                return;
            }
        }
    }
    Complete(host, id, Status::Stall, 0);
}

void SimDeviceServer::Complete(Host& host, std::uint64_t id, Status status, std::uint32_t length,
                               std::span<const std::uint8_t> data) {
    if (host.dead) return;
    const CompletionBody body{ToWire(status), length};
    const RecordHeader header{kRecordMagic, static_cast<std::uint16_t>(RecordType::Completion), 0,
                              static_cast<std::uint32_t>(sizeof(body) + data.size()), id};
    if (!SendAll(host.fd, {Bytes(header), Bytes(body), data})) host.dead = true;
}

void SimDeviceServer::Reply(Host& host, std::uint64_t id, const std::string& text) {
    if (host.dead) return;
    const auto length = std::min<std::size_t>(text.size(), kMaxCommandText);
    const RecordHeader header{kRecordMagic, static_cast<std::uint16_t>(RecordType::SimReply), 0,
                              static_cast<std::uint32_t>(length), id};
    if (!SendAll(host.fd,
                 {Bytes(header), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), length)}))
        host.dead = true;
}

SimDeviceServer::Endpoint* SimDeviceServer::FindEndpoint(std::uint8_t address) {
    auto it = endpoints_.find(address);
    return it == endpoints_.end() ? nullptr : &it->second;
}

void SimDeviceServer::Send(std::uint8_t endpoint, std::vector<std::uint8_t> message) {
    Endpoint* target = FindEndpoint(endpoint);
    if (target == nullptr || message.empty()) return;
    target->messages.push_back({std::move(message), 0});
    Pump(endpoint);
}

std::size_t SimDeviceServer::Queued(std::uint8_t endpoint) const {
    auto it = endpoints_.find(endpoint);
    return it == endpoints_.end() ? 0 : it->second.messages.size();
}

void SimDeviceServer::Flush(std::uint8_t endpoint) {
    if (Endpoint* target = FindEndpoint(endpoint)) target->messages.clear();
}

void SimDeviceServer::Halt(std::uint8_t address) {
    Endpoint* endpoint = FindEndpoint(address);
    if (endpoint == nullptr) return;
    endpoint->halted = true;
    while (!endpoint->requests.empty()) {
        const InRequest request = endpoint->requests.front();
        endpoint->requests.pop_front();
        --request.host->requests;
        Complete(*request.host, request.tag, Status::Stall, 0);
    }
}

bool SimDeviceServer::Halted(std::uint8_t endpoint) const {
    auto it = endpoints_.find(endpoint);
    return it != endpoints_.end() && it->second.halted;
}

void SimDeviceServer::Pump(std::uint8_t address) {
    Endpoint* endpoint = FindEndpoint(address);
    if (endpoint == nullptr) return;
    while (!endpoint->halted && !endpoint->messages.empty() && !endpoint->requests.empty()) {
        const InRequest request = endpoint->requests.front();
        endpoint->requests.pop_front();
        --request.host->requests;
        // Bytes handed to a host that is gone would be lost.
        if (request.host->dead) continue;
        Message& message = endpoint->messages.front();
        const std::size_t left = message.bytes.size() - message.offset;
        const std::size_t length = std::min<std::size_t>(left, request.capacity);
        // A transfer that is no whole number of packets can't take the rest
        // of a longer message: the host sees an overflow and the rest is lost.
        const bool overflow = left > request.capacity && request.capacity % endpoint->maxPacket != 0;
        Complete(*request.host, request.tag, overflow ? Status::Overflow : Status::Success,
                 static_cast<std::uint32_t>(length),
                 std::span<const std::uint8_t>(message.bytes).subspan(message.offset, length));
        message.offset += length;
        if (overflow || message.offset == message.bytes.size()) endpoint->messages.pop_front();
    }
}

void SimDeviceServer::DropHost(Host& host) {
    for (auto& [address, endpoint] : endpoints_) {
        std::erase_if(endpoint.requests, [&](const InRequest& r) { return r.host == &host; });
    }
    ::close(host.fd);
    host.fd = -1;
    if (claimer_ == &host) {
        claimer_ = nullptr;
        // As at a bus reset: nothing queued for the old host reaches the next.
        for (auto& [address, endpoint] : endpoints_) {
            endpoint.messages.clear();
            endpoint.halted = false;
        }
        function_.OnReleased();
    }
}

void SimDeviceServer::Schedule(std::uint32_t delayMs, std::function<void()> action) {
    timers_.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), std::move(action));
}

void SimDeviceServer::RunTimers() {
    const auto now = std::chrono::steady_clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        auto action = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        action();
    }
}

} // namespace qorcam::usb::sim
