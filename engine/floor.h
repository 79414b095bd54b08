// floor() for the per-sample loops.  The x86-64 baseline has no rounding
// instruction, so std::floor there is a library call per sample; this is the
// same function in a few inline operations, exact for every double.
#pragma once

#include <cmath>
#include <cstdint>

namespace vesk {

inline double floor_exact(double v)
{
    // From 2^52 on every double is a whole number (and infinities and NaN
    // are their own floor).
    if (!(std::fabs(v) < 4503599627370496.0))
        return v;
    // Below 2^52 the conversion to a 64-bit integer truncates exactly; one
    // step down turns truncation into floor for the negative fractions.
    // The step is taken in integers from the comparison's result, not by a
    // branch, which values of either sign would mispredict half the time.
    const int64_t truncated = static_cast<int64_t>(v);
    const double whole = static_cast<double>(truncated - (static_cast<double>(truncated) > v ? 1 : 0));
    // floor keeps the sign of its argument: -0.0 stays -0.0.
    return std::copysign(whole, v);
}

} // namespace vesk
