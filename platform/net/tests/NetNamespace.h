// A private network namespace with a veth pair, for tests that run as root.
#pragma once

#include <cstdlib>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace qorcam::net::test {

// Moves the calling thread into a new, empty network namespace (it vanishes
// with the process, so nothing is left on the machine) and creates a veth
// pair "qa0"/"qb0" there. Skip() says why it can't.
class NetNamespace {
public:
    NetNamespace() {
        if (::geteuid() != 0) {
            reason_ = "needs root (network namespaces and raw sockets)";
            return;
        }
        if (::unshare(CLONE_NEWNET) != 0) {
            reason_ = "unshare(CLONE_NEWNET) refused";
            return;
        }
        if (!Run("ip link add qa0 type veth peer name qb0") || !Run("ip link set qa0 up") ||
            !Run("ip link set qb0 up")) {
            reason_ = "ip link could not create a veth pair";
            return;
        }
        ok_ = true;
    }
    bool Ok() const { return ok_; }
    const std::string& Reason() const { return reason_; }
    static bool Run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }

private:
    bool ok_ = false;
    std::string reason_;
};

} // namespace qorcam::net::test
