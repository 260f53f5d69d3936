// Descriptor: poll and eventfd counter helpers that retry on interruption.
#include "os/Descriptor.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace qorcam::os::detail {

bool IsReadable(int fd) {
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r == 1 && (p.revents & POLLIN);
}

bool ReadCounter(int fd, std::uint64_t& value) {
    if (fd < 0) return false;
    ssize_t r;
    do {
        r = read(fd, &value, sizeof value);
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(sizeof value);
}

bool AddCounter(int fd, std::uint64_t value) {
    if (fd < 0) return false;
    ssize_t r;
    do {
        r = write(fd, &value, sizeof value);
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(sizeof value);
}

} // namespace qorcam::os::detail
