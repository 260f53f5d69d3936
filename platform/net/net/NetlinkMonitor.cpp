// NetlinkMonitor: the network adapters of this namespace and their changes.
#include "net/NetlinkMonitor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qorcam::net {

namespace {

UniqueFd OpenNetlink(uint32_t groups) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.IsValid()) return fd;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) fd.Reset();
    return fd;
}

// Walks the attributes after a fixed header, each checked against the message.
template <class F> void ForEachAttribute(const nlmsghdr* h, size_t fixed, F&& f) {
    if (h->nlmsg_len < NLMSG_LENGTH(fixed)) return;
    auto* rta =
        reinterpret_cast<const rtattr*>(reinterpret_cast<const uint8_t*>(NLMSG_DATA(h)) + NLMSG_ALIGN(fixed));
    int remaining = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(NLMSG_ALIGN(fixed)));
    for (; RTA_OK(rta, remaining); rta = RTA_NEXT(rta, remaining))
        f(rta->rta_type, static_cast<const uint8_t*>(RTA_DATA(rta)), RTA_PAYLOAD(rta));
}

uint32_t MaskOf(uint8_t prefix) {
    uint32_t hostOrder = prefix == 0 ? 0 : (prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1));
    uint8_t b[4] = {uint8_t(hostOrder >> 24), uint8_t(hostOrder >> 16), uint8_t(hostOrder >> 8),
                    uint8_t(hostOrder)};
    uint32_t v;
    std::memcpy(&v, b, 4);
    return v;
}

} // namespace

bool NetlinkMonitor::Open(bool watch) {
    requests_ = OpenNetlink(0);
    if (!requests_.IsValid()) return false;
    if (watch) {
        events_ = OpenNetlink(RTMGRP_LINK | RTMGRP_IPV4_IFADDR);
        if (!events_.IsValid()) return false;
    }
    return true;
}

template <class Visitor> bool NetlinkMonitor::Dump(uint16_t type, uint8_t family, Visitor&& visit) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++sequence_;
    request.body.rtgen_family = family;
    if (::send(requests_.Get(), &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request))
        return false;

    std::vector<uint8_t> buffer(64 * 1024);
    // A dump of any sane system ends long before this many reads.
    for (int reads = 0; reads < 100000; ++reads) {
        pollfd p{requests_.Get(), POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) return false;
        ssize_t n = ::recv(requests_.Get(), buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        int remaining = static_cast<int>(n);
        for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer.data()); NLMSG_OK(h, remaining);
             h = NLMSG_NEXT(h, remaining)) {
            if (h->nlmsg_seq != sequence_) continue;
            if (h->nlmsg_type == NLMSG_DONE) return true;
            if (h->nlmsg_type == NLMSG_ERROR) return false;
            visit(h);
        }
    }
    return false;
}

std::optional<std::vector<AdapterInfo>> NetlinkMonitor::ListAdapters() {
    if (!requests_.IsValid()) return std::nullopt;
    std::vector<AdapterInfo> adapters;
    bool ok = Dump(RTM_GETLINK, AF_UNSPEC, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
        auto* ifi = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        AdapterInfo a;
        a.index = ifi->ifi_index;
        a.hardwareType = ifi->ifi_type;
        a.up = (ifi->ifi_flags & IFF_UP) != 0;
        a.lowerUp = (ifi->ifi_flags & IFF_LOWER_UP) != 0;
        ForEachAttribute(h, sizeof(ifinfomsg), [&](unsigned short type, const uint8_t* data, size_t length) {
            if (type == IFLA_IFNAME)
                a.name.assign(reinterpret_cast<const char*>(data),
                              strnlen(reinterpret_cast<const char*>(data), length));
            else if (type == IFLA_ADDRESS && length == 6)
                std::memcpy(a.mac.data(), data, 6);
            else if (type == IFLA_MTU && length >= 4)
                std::memcpy(&a.mtu, data, 4);
        });
        adapters.push_back(std::move(a));
    });
    if (!ok) return std::nullopt;
    ok = Dump(RTM_GETADDR, AF_INET, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
        auto* ifa = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
        if (ifa->ifa_family != AF_INET) return;
        Ipv4Address address;
        address.prefixLength = static_cast<uint8_t>(std::min<int>(ifa->ifa_prefixlen, 32));
        address.mask = MaskOf(address.prefixLength);
        bool haveLocal = false;
        ForEachAttribute(h, sizeof(ifaddrmsg), [&](unsigned short type, const uint8_t* data, size_t length) {
            if (length != 4) return;
            if (type == IFA_LOCAL) {
                std::memcpy(&address.address, data, 4);
                haveLocal = true;
            } else if (type == IFA_ADDRESS && !haveLocal) {
                std::memcpy(&address.address, data, 4);
            }
        });
        for (auto& a : adapters)
            if (a.index == static_cast<int>(ifa->ifa_index)) a.addresses.push_back(address);
    });
    if (!ok) return std::nullopt;
    return adapters;
}

bool NetlinkMonitor::WaitChange(int timeoutMs) {
    if (!events_.IsValid()) return false;
    pollfd p{events_.Get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t buffer[16 * 1024];
    bool any = false;
    // Drain what is queued; the contents don't matter, the caller lists again.
    for (int i = 0; i < 1024; ++i) {
        ssize_t n = ::recv(events_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == ENOBUFS) { // notices were lost: still a change
            any = true;
            continue;
        }
        if (n <= 0) break;
        any = true;
    }
    return any;
}

std::optional<uint32_t> NetlinkMonitor::LinkSpeedMbps(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return std::nullopt;
    std::ifstream in("/sys/class/net/" + name + "/speed");
    long long speed = -1;
    if (!(in >> speed) || speed <= 0 || speed > 10000000) return std::nullopt;
    return static_cast<uint32_t>(speed);
}

} // namespace qorcam::net
