// Reading a field of a record a producer or a service wrote, for the tests' checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qorcam::testing {

// The little-endian field at `offset`; a field past the record's end reads as zero.
template <class T> T Field(const std::vector<uint8_t>& bytes, size_t offset) {
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

} // namespace qorcam::testing
