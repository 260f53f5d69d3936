// UnixAddress: filling sockaddr_un from a path, and probing a socket.
#include "devio/UnixAddress.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace qorcam::devio::detail {

bool FillUnixAddress(const std::filesystem::path& path, sockaddr_un& address) {
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof(address.sun_path)) return false;
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

bool SocketAnswers(const std::filesystem::path& path) {
    sockaddr_un address;
    if (!FillUnixAddress(path, address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answered = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answered;
}

} // namespace qorcam::devio::detail
