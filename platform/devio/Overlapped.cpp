// Overlapped: a completion record that lets go of its request when it is destroyed.
#include "devio/Overlapped.h"

#include "devio/HandleCore.h"

namespace qorcam::devio {

Overlapped::Overlapped() : event_(os::ResetMode::Manual) {}

Overlapped::~Overlapped() {
    if (core_) core_->Forget(*this);
}

} // namespace qorcam::devio
