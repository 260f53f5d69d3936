// The host adapters whose IPv4 address a DHCP server gave them, as the producer reports them to the service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::gige {

// One adapter with a leased IPv4 address: its interface name and that address and mask, network order.
struct DhcpAdapter {
    std::string name;
    uint32_t ip = 0;
    uint32_t mask = 0;
};

// The interfaces of the calling thread's network namespace that hold a dynamic IPv4 address (one with
// a lifetime, as DHCP clients add them; addresses set by hand are permanent), each once, with its first
// dynamic address. Read over rtnetlink; every message is checked against its lengths before it is read.
// Empty when netlink can't be had.
std::vector<DhcpAdapter> ListDhcpAdapters();

} // namespace qorcam::gige
