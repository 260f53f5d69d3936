// UnixAddress: socket addresses of device paths, and whether something listens there.
#pragma once

#include <filesystem>
#include <sys/un.h>

namespace qorcam::devio::detail {

/// Fills a Unix-domain address for path; false when the path is empty or
/// longer than such an address holds.
bool FillUnixAddress(const std::filesystem::path& path, sockaddr_un& address);

/// True when a stream socket at path accepts a connection.
bool SocketAnswers(const std::filesystem::path& path);

} // namespace qorcam::devio::detail
