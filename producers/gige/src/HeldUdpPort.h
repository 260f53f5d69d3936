// A UDP port held for the GigE network service: bound, but receiving nothing.
#pragma once

#include <cstdint>

namespace qorcam::gige {

// Owns one IPv4 UDP socket bound to a host port on all addresses. The socket carries a filter that
// accepts no packet, so the kernel neither queues the traffic for that port nor answers it with
// port-unreachable: the GigE network service receives it from the wire itself. Closed on destruction.
class HeldUdpPort {
public:
    HeldUdpPort() = default;
    ~HeldUdpPort();
    HeldUdpPort(HeldUdpPort&& other) noexcept;
    HeldUdpPort& operator=(HeldUdpPort&& other) noexcept;
    HeldUdpPort(const HeldUdpPort&) = delete;
    HeldUdpPort& operator=(const HeldUdpPort&) = delete;

    // A socket that could not be created gives an empty object; a failed bind keeps the socket
    // unbound (IsBound() false).
    static HeldUdpPort Hold(uint16_t port);
    // A port of the form prefix OR 13 random bits (from the system's secure random source), drawn
    // again until a bind succeeds. Gives up (an unbound or empty object) after a bounded number of
    // draws, so a host whose whole range is taken fails instead of spinning.
    static HeldUdpPort HoldRandom(uint16_t prefix);

    bool IsOpen() const { return m_fd >= 0; }
    bool IsBound() const { return m_bound; }
    uint16_t Port() const { return m_port; }
    void Close();

private:
    int m_fd = -1;
    bool m_bound = false;
    uint16_t m_port = 0;
};

} // namespace qorcam::gige
