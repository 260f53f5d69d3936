// The host adapters whose IPv4 address a DHCP server gave them, as the producer reports them to the service.
#include "AdapterAddresses.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cstring>

namespace qorcam::gige {
namespace {

class Socket {
public:
    Socket() : fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

// Reads one address message; false when it is not a usable dynamic IPv4 address.
bool ParseAddress(const nlmsghdr* header, DhcpAdapter& out) {
    if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return false;
    const auto* message = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
    if (message->ifa_family != AF_INET || message->ifa_prefixlen > 32) return false;
    uint32_t flags = message->ifa_flags;
    uint32_t address = 0;
    bool haveAddress = false;
    int remaining = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ifaddrmsg)));
    for (const rtattr* a = IFA_RTA(message); RTA_OK(a, remaining); a = RTA_NEXT(a, remaining)) {
        const size_t length = RTA_PAYLOAD(a);
        if (a->rta_type == IFA_FLAGS && length >= 4) std::memcpy(&flags, RTA_DATA(a), 4);
        // IFA_LOCAL is the interface's own address; IFA_ADDRESS differs from it only on point-to-point links.
        if ((a->rta_type == IFA_LOCAL || (a->rta_type == IFA_ADDRESS && !haveAddress)) && length >= 4) {
            std::memcpy(&address, RTA_DATA(a), 4);
            haveAddress = true;
        }
    }
    if (!haveAddress || (flags & IFA_F_PERMANENT)) return false;
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(message->ifa_index, name)) return false;
    out.name = name;
    out.ip = address;
    out.mask = message->ifa_prefixlen == 0 ? 0 : htonl(~uint32_t(0) << (32 - message->ifa_prefixlen));
    return true;
}

} // namespace

std::vector<DhcpAdapter> ListDhcpAdapters() {
    std::vector<DhcpAdapter> adapters;
    Socket s;
    if (s.fd < 0) return adapters;
    timeval limit{1, 0};
    ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    struct {
        nlmsghdr header;
        ifaddrmsg message;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.ifa_family = AF_INET;
    if (::send(s.fd, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return adapters;

    std::vector<char> buffer(32768);
    for (int round = 0; round < 1024; ++round) {
        const ssize_t received = ::recv(s.fd, buffer.data(), buffer.size(), 0);
        if (received <= 0) return {};
        int remaining = static_cast<int>(received);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, remaining);
             h = NLMSG_NEXT(h, remaining)) {
            if (h->nlmsg_type == NLMSG_DONE) return adapters;
            if (h->nlmsg_type == NLMSG_ERROR) return {};
            if (h->nlmsg_type != RTM_NEWADDR) continue;
            DhcpAdapter adapter;
            if (!ParseAddress(h, adapter)) continue;
            bool known = false;
            for (const auto& a : adapters)
                known = known || a.name == adapter.name;
            if (!known) adapters.push_back(adapter);
        }
    }
    return {};
}

} // namespace qorcam::gige
