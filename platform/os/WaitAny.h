// WaitAny: waiting for the first of several Waitables, with a time-out.
#pragma once

#include "os/Waitable.h"

#include <cstdint>
#include <initializer_list>
#include <span>

namespace qorcam::os {

/// Result of WaitAny when the time-out passed before any object was signalled.
inline constexpr int kWaitTimeout = -1;
/// Result of WaitAny for an empty list, a null entry or an invalid object.
inline constexpr int kWaitFailed = -2;

/// Waits until at least one of the objects is signalled and returns the index
/// of the first signalled one in list order (lower index wins when several
/// are). Only that object is consumed; the others keep their state. Local
/// events, named events from other processes, semaphores and thread ends may
/// be mixed freely. Returns kWaitTimeout after timeoutMs milliseconds
/// (kInfinite: no limit; 0: just test), kWaitFailed for bad arguments.
int WaitAny(std::span<Waitable* const> objects, std::uint32_t timeoutMs);
int WaitAny(std::initializer_list<Waitable*> objects, std::uint32_t timeoutMs);

} // namespace qorcam::os
