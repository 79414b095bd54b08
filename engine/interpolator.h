// Switches of the interpolator's machine code, for tests and measurements.
#pragma once

namespace vesk {

// Whether the interpolator may use its AVX2 build (where the processor has
// AVX2; the baseline build serves otherwise).  Both builds give the same
// bits; returns whether the AVX2 build is now in use.
bool allow_wide_interpolator(bool allowed);

} // namespace vesk
