// SharedMemory: stub.
#include "os/SharedMemory.h"

#include <cerrno>
#include <utility>

namespace qorcam::os {

SharedMemory::SharedMemory(std::string_view, std::size_t) { error_ = ENOSYS; }
SharedMemory::~SharedMemory() { Close(); }
SharedMemory::SharedMemory(SharedMemory&& o) noexcept { *this = std::move(o); }
SharedMemory& SharedMemory::operator=(SharedMemory&&) noexcept { return *this; }
void SharedMemory::Close() {}

} // namespace qorcam::os
