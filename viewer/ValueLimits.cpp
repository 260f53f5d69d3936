// ValueLimits: putting a typed or loaded value inside a feature's limits and on its increment grid.
#include "ValueLimits.h"

#include <algorithm>
#include <cmath>

namespace qorcam::viewer {

int64_t SnapIntDown(int64_t value, int64_t min, int64_t inc) {
    if (inc == 0 || value < min) return value;
    const uint64_t step = inc > 0 ? static_cast<uint64_t>(inc) : 0 - static_cast<uint64_t>(inc);
    const uint64_t offset = static_cast<uint64_t>(value) - static_cast<uint64_t>(min);
    return static_cast<int64_t>(static_cast<uint64_t>(value) - offset % step);
}

int64_t CorrectInt(int64_t value, int64_t min, int64_t max, int64_t inc) {
    if (value < min)
        value = min;
    else
        value = std::min(value, max);
    return SnapIntDown(value, min, inc);
}

double SnapFloatNearest(double value, double min, double inc) {
    if (!(inc > 0) || !std::isfinite(inc) || !std::isfinite(value) || !std::isfinite(min)) return value;
    const double lo = min + inc * std::trunc((value - min) / inc);
    const double hi = lo + inc;
    return std::fabs(value - hi) < std::fabs(value - lo) ? hi : lo;
}

} // namespace qorcam::viewer
