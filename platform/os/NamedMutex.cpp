// NamedMutex: stub.
#include "os/NamedMutex.h"

#include <cerrno>
#include <utility>

namespace qorcam::os {

NamedMutex::NamedMutex(std::string_view) { error_ = ENOSYS; }
NamedMutex::~NamedMutex() { Close(); }
NamedMutex::NamedMutex(NamedMutex&& o) noexcept { *this = std::move(o); }
NamedMutex& NamedMutex::operator=(NamedMutex&&) noexcept { return *this; }
LockResult NamedMutex::Lock(std::uint32_t) { return LockResult::Failed; }
bool NamedMutex::Unlock() { return false; }
void NamedMutex::Close() {}

} // namespace qorcam::os
