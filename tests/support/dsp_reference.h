// Plain, obviously correct forms of the engine's kernels, for tests.
#pragma once

#include <cmath>
#include <numbers>

namespace vesk::test {

// The interpolator's kernel from its definition, in long double: a sinc
// under a Hann window that reaches zero at a distance of 16 samples.
inline long double reference_kernel(long double d)
{
    const long double pi = std::numbers::pi_v<long double>;
    if (std::fabs(d) >= 16.0L)
        return 0.0L;
    const long double window = 0.5L * (1.0L + std::cos(pi * d / 16.0L));
    const long double sinc = d == 0.0L ? 1.0L : std::sin(pi * d) / (pi * d);
    return window * sinc;
}

} // namespace vesk::test
