// NamedObjectFile: stub.
#include "os/NamedObjectFile.h"

#include <cerrno>

namespace qorcam::os::detail {

NamedObjectFile OpenNamedObject(std::string_view, std::string_view, std::size_t,
                                const std::function<bool(int fd)>&) {
    NamedObjectFile f;
    f.error = ENOSYS;
    return f;
}

void CloseNamedObject(int, const std::string&, const std::string&) {}

std::string EscapeName(std::string_view name) { return std::string(name); }

} // namespace qorcam::os::detail
