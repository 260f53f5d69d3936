// Waitable: the single-object wait shared by every Waitable.
#include "os/Waitable.h"

#include "os/WaitAny.h"

namespace qorcam::os {

bool Waitable::Wait(std::uint32_t timeoutMs) {
    Waitable* self = this;
    return WaitAny(std::span<Waitable* const>(&self, 1), timeoutMs) == 0;
}

} // namespace qorcam::os
