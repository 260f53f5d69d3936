// Descriptor: small helpers over the descriptors behind events and semaphores (internal).
#pragma once

#include <cstdint>

namespace qorcam::os::detail {

/// True when poll() reports the descriptor readable right now.
bool IsReadable(int fd);
/// Reads an eventfd counter without blocking; false when it was 0.
bool ReadCounter(int fd, std::uint64_t& value);
/// Adds to an eventfd counter; false when the kernel refused.
bool AddCounter(int fd, std::uint64_t value);

} // namespace qorcam::os::detail
