// The pixel pattern rig_camera_peer streams, for tests that check delivered frames byte by byte.
#pragma once

#include <cstdint>

namespace qorcam::rig {

// Byte k of the streamed frame with block id b: it changes with both, so a byte of another frame or of
// another place in the frame does not pass for it.
inline uint8_t PatternByte(uint64_t block, uint64_t k) {
    return static_cast<uint8_t>(k * 7 + (k >> 8) * 3 + block * 29);
}

} // namespace qorcam::rig
