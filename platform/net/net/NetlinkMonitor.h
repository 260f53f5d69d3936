// NetlinkMonitor: the network adapters of this namespace and their changes.
#pragma once

#include "net/UniqueFd.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qorcam::net {

/// One IPv4 address of an adapter, network order (first byte lowest).
struct Ipv4Address {
    uint32_t address = 0;
    uint32_t mask = 0;
    uint8_t prefixLength = 0;
};

/// What the system tells of one network interface.
struct AdapterInfo {
    int index = 0;
    std::string name;
    std::array<uint8_t, 6> mac{};
    uint32_t mtu = 0;
    uint16_t hardwareType = 0; ///< ARPHRD_*; Ethernet is 1
    bool up = false;           ///< administratively up
    bool lowerUp = false;      ///< carrier: the link is connected
    std::vector<Ipv4Address> addresses;

    bool IsEthernet() const { return hardwareType == 1; }
    bool Connected() const { return up && lowerUp; }
};

/// Lists the interfaces of the calling thread's network namespace over
/// rtnetlink and tells when links or IPv4 addresses change.
///
/// Guarantees: every message from the kernel is checked against its
/// declared lengths before it is read; a listing either completes or fails
/// as a whole (empty result), it never returns a half-parsed interface.
/// Change notices are only a hint: the caller lists again to learn the new
/// state, so no notice that the kernel drops can leave it behind for long.
class NetlinkMonitor {
public:
    NetlinkMonitor() = default;

    /// Opens the request socket and, with watch, a socket subscribed to link
    /// and IPv4 address changes. False when netlink can't be had.
    bool Open(bool watch = true);

    /// Every interface with its IPv4 addresses; empty on failure.
    std::optional<std::vector<AdapterInfo>> ListAdapters();

    /// Waits up to timeoutMs for a change notice and drains every notice
    /// that is queued; true when at least one arrived.
    bool WaitChange(int timeoutMs);
    /// The descriptor that turns readable on a change (for poll).
    int ChangeFd() const { return events_.Get(); }

    /// Link speed in Mbit/s as the driver reports it; empty when unknown.
    static std::optional<uint32_t> LinkSpeedMbps(const std::string& name);

private:
    // Sends one dump request and hands every answered message (header
    // checked against the bytes received) to the visitor.
    template <class Visitor> bool Dump(uint16_t type, uint8_t family, Visitor&& visit);

    UniqueFd requests_;
    UniqueFd events_;
    uint32_t sequence_ = 1;
};

} // namespace qorcam::net
