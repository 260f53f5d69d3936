// NamedEvent: stub.
#include "os/NamedEvent.h"

#include <cerrno>
#include <utility>

namespace qorcam::os {

NamedEvent::NamedEvent(std::string_view, ResetMode mode, bool) : mode_(mode) { error_ = ENOSYS; }
NamedEvent::~NamedEvent() { Close(); }
NamedEvent::NamedEvent(NamedEvent&& o) noexcept { *this = std::move(o); }
NamedEvent& NamedEvent::operator=(NamedEvent&&) noexcept { return *this; }
void NamedEvent::Set() {}
void NamedEvent::Reset() {}
bool NamedEvent::IsSet() const { return false; }
bool NamedEvent::TryAcquire() { return false; }
void NamedEvent::Close() {}

} // namespace qorcam::os
