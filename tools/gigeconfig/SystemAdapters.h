// The system's adapter table and the held host port of the IP configuration tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::gigeconfig {

/// An adapter the system itself gives an IPv4 address. Network order.
struct SystemAdapter {
    std::string name;
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};

/// The interfaces of this namespace that have an IPv4 address: the first
/// address with its mask, and the first gateway routed through it.
std::vector<SystemAdapter> SystemAdapterTable();

/// Holds a UDP port for the life of the object with a socket that receives
/// nothing, so the system neither queues the cameras' answers nor answers
/// them with port-unreachable; the GigE service receives them.
class CHostPortHolder {
public:
    explicit CHostPortHolder(std::uint16_t port);
    ~CHostPortHolder();
    CHostPortHolder(const CHostPortHolder&) = delete;
    CHostPortHolder& operator=(const CHostPortHolder&) = delete;
    bool IsBound() const { return bound_; }

private:
    int fd_ = -1;
    bool bound_ = false;
};

} // namespace qorcam::gigeconfig
