// ValueLimits: putting a typed or loaded value inside a feature's limits and on its increment grid.
#pragma once

#include <cstdint>

namespace qorcam::viewer {

/// The grid value at or below value: value - ((value - min) mod inc). The
/// distance from the minimum is taken unsigned, so no pair of 64-bit limits
/// can overflow; a zero increment keeps the value, a negative one counts by
/// its size. A value below the minimum is kept (callers clamp or refuse it).
int64_t SnapIntDown(int64_t value, int64_t min, int64_t inc);

/// Clamped to [min, max], then snapped down onto the increment grid.
int64_t CorrectInt(int64_t value, int64_t min, int64_t max, int64_t inc);

/// The grid value min + k * inc (k = (value - min) / inc truncated) or the
/// next one up, whichever is nearer; the lower one on a tie. A value, limit
/// or increment that is not a finite number, or an increment of 0 or below,
/// keeps the value.
double SnapFloatNearest(double value, double min, double inc);

} // namespace qorcam::viewer
