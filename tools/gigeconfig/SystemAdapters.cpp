// The system's adapter table and the held host port of the IP configuration tool.
#include "SystemAdapters.h"

#include "net/NetlinkMonitor.h"

#include <fstream>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace qorcam::gigeconfig {

std::vector<SystemAdapter> SystemAdapterTable() {
    std::vector<SystemAdapter> table;
    net::NetlinkMonitor netlink;
    if (!netlink.Open(false)) return table;
    auto list = netlink.ListAdapters();
    if (!list) return table;
    for (const auto& a : *list) {
        if (a.addresses.empty() || a.hardwareType == 772) continue; // loopback
        table.push_back({a.name, a.addresses[0].address, a.addresses[0].mask, 0});
    }
    // /proc/net/route: interface, destination, gateway (hex, as stored), flags ...
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);
    while (std::getline(routes, line)) {
        std::istringstream in(line);
        std::string name, destination, gateway;
        if (!(in >> name >> destination >> gateway)) continue;
        const std::uint32_t g = static_cast<std::uint32_t>(std::strtoul(gateway.c_str(), nullptr, 16));
        for (auto& a : table)
            if (a.name == name && a.gateway == 0) a.gateway = g;
    }
    return table;
}

CHostPortHolder::CHostPortHolder(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sock_filter dropAll = BPF_STMT(BPF_RET | BPF_K, 0);
    sock_fprog program{1, &dropAll};
    setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

CHostPortHolder::~CHostPortHolder() {
    if (fd_ >= 0) close(fd_);
}

} // namespace qorcam::gigeconfig
