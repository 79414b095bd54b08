// Switches of the interpolator's machine code, for tests and measurements.
#pragma once

namespace vesk {

// Limits the interpolator to builds of at most `lanes` doubles per vector
// (8: AVX-512, 4: AVX2, 2: the x86-64 baseline); the widest build the
// processor runs within the limit serves.  All builds give the same bits.
// Returns the lanes of the build now in use.
int limit_interpolator_lanes(int lanes);

} // namespace vesk
