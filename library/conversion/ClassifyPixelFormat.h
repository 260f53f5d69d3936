// Translation of a GenICam pixel format code into the conversion's format id.
#pragma once

#include "ConvTypes.h"

#include <cstdint>

namespace qorcam::conversion {

// Returns the ConvFormatId of a camera pixel format code, or -1 for a code
// the conversion does not know. The phase is always set (0, or the Bayer
// phase 0 RG, 1 GB, 2 GR, 3 BG); the bits (significant bits per pixel) are
// set for every known code and left as they were for an unknown one.
// A pure function: any thread may call it at any time.
int32_t ClassifyPixelFormat(uint32_t pixelFormat, uint32_t* phase, uint32_t* bits);

// The right shift that turns the 16-bit samples of a format into 8 bits when
// the shift is automatic: significant bits - 8 for mono and Bayer samples,
// a third of the bits - 8 for RGB and BGR samples, 8 when the bits are not
// known; 0 for formats without 16-bit samples.
uint32_t AutoShiftFor(int32_t convFormatId, uint32_t bits);

} // namespace qorcam::conversion
