// A UDP port held for the GigE network service: bound, but receiving nothing.
#include "HeldUdpPort.h"

#include <linux/filter.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace qorcam::gige {

HeldUdpPort::~HeldUdpPort() {
    Close();
}

HeldUdpPort::HeldUdpPort(HeldUdpPort&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_bound(std::exchange(other.m_bound, false)),
      m_port(std::exchange(other.m_port, 0)) {}

HeldUdpPort& HeldUdpPort::operator=(HeldUdpPort&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_bound = std::exchange(other.m_bound, false);
        m_port = std::exchange(other.m_port, 0);
    }
    return *this;
}

HeldUdpPort HeldUdpPort::Hold(uint16_t port) {
    HeldUdpPort held;
    held.m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (held.m_fd < 0) return held;
    held.m_port = port;
    // Attached before the bind, so not a single packet is queued.
    sock_filter dropAll[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
    sock_fprog program{1, dropAll};
    ::setsockopt(held.m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    held.m_bound = ::bind(held.m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    return held;
}

HeldUdpPort HeldUdpPort::HoldRandom(uint16_t prefix) {
    std::random_device random;
    HeldUdpPort held;
    // Four times the range: every free port is met with near certainty before giving up.
    for (int attempt = 0; attempt < 4 * 8192; ++attempt) {
        held = Hold(static_cast<uint16_t>(prefix | (random() & 0x1FFFu)));
        if (!held.IsOpen() || held.IsBound()) break;
    }
    return held;
}

void HeldUdpPort::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_bound = false;
}

} // namespace qorcam::gige
