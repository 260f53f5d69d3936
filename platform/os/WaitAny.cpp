// WaitAny: poll() over the objects' descriptors, then a non-blocking claim in list order.
#include "os/WaitAny.h"

#include <cerrno>
#include <ctime>
#include <iterator>
#include <poll.h>
#include <vector>

namespace qorcam::os {
namespace {

std::uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

} // namespace

int WaitAny(std::span<Waitable* const> objects, std::uint32_t timeoutMs) {
    if (objects.empty()) return kWaitFailed;
    // Most waits are on one to a few objects: no allocation for those.
    pollfd local[8];
    std::vector<pollfd> many;
    pollfd* fds = local;
    if (objects.size() > std::size(local)) {
        many.resize(objects.size());
        fds = many.data();
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i] == nullptr || objects[i]->PollFd() < 0) return kWaitFailed;
        fds[i] = pollfd{objects[i]->PollFd(), POLLIN, 0};
    }
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        // Claim in list order so that the lowest signalled index wins, and
        // only that one object is consumed.
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->TryAcquire()) return static_cast<int>(i);
        }
        int wait = -1;
        if (timeoutMs != kInfinite) {
            const std::uint64_t elapsed = MonotonicMs() - start;
            if (elapsed >= timeoutMs) return kWaitTimeout;
            // poll takes an int: long time-outs are waited in slices.
            const std::uint64_t left = timeoutMs - elapsed;
            wait = left > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(left);
        }
        const int n = poll(fds, objects.size(), wait);
        if (n < 0 && errno != EINTR) return kWaitFailed;
        // A descriptor that reports an error or hang-up would spin; such an
        // object can't be signalled any more.
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL)) return kWaitFailed;
        }
        // n == 0: the time-out; the loop re-checks the objects once more and
        // then reports it, so a signal that arrived at the last moment counts.
    }
}

int WaitAny(std::initializer_list<Waitable*> objects, std::uint32_t timeoutMs) {
    return WaitAny(std::span<Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}

} // namespace qorcam::os
