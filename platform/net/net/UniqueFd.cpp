// UniqueFd: an owned file descriptor.
#include "net/UniqueFd.h"

#include <unistd.h>

namespace qorcam::net {

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

} // namespace qorcam::net
