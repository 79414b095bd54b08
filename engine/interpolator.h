// Switches of the interpolator's machine code, for tests and measurements.
#pragma once

namespace vesk {

// Limits the interpolator to builds of at most `lanes` doubles per vector
// (8: AVX-512, 4: AVX2, 2: the x86-64 baseline); the widest build the
// processor runs within the limit serves.  All builds give the same bits.
// Returns the lanes of the build now in use.
int limit_interpolator_lanes(int lanes);

// The chain's windowed-sinc interpolation for a reader outside it (the
// player converts a rate the sound device does not take with it): the value
// at `frac` (0 <= frac < 1) past the sample `window[sinc_window_centre]` of
// a run of samples, zeros where the caller has none.
constexpr int sinc_window_length = 32;
constexpr int sinc_window_centre = 16;
double sinc_read(const double (&window)[sinc_window_length], double frac);

} // namespace vesk
