// A slow, literal model of the conversion, for comparison with the kernels.
#pragma once

#include "ConvTypes.h"

#include <cstdint>
#include <random>
#include <vector>

namespace qorcam::conversion::test {

struct RefSettings {
    uint32_t storeMode = StoreMem;
    uint32_t dibMode = Dib32;
    uint32_t shift = 0; // effective shift, low 5 bits used
    bool revision = false;
    ConvValue value{};
};

// Converts the request's image into dst (already sized and filled with the
// caller's old content) pixel by pixel, the way the arithmetic is written
// down: generic formats pixel by pixel from their groups; Bayer mosaics by
// placement, interior interpolation, green revision and border completion,
// each step in place on the destination.
void RefConvert(const RefSettings& settings, const ConvRequest& request, std::vector<uint8_t>& dst);

// The YUV table entry of the model: (i - 128) x coefficient, truncated,
// held to +-32767, 0 for a coefficient that is not a number.
int32_t RefYuvEntry(int i, double coefficient);

uint64_t RefSourceBytes(int32_t id, uint32_t width, uint32_t height);
uint64_t RefDibBytes(uint32_t dibMode, uint32_t width, uint32_t height);

std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& rng);

} // namespace qorcam::conversion::test
