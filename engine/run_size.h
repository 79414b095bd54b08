// How long a run's working arrays must be for an input of a given length:
// shared by the sizing of a run and the planning of its segments.
#pragma once

#include <cmath>
#include <cstdint>

namespace vesk {

struct WorkingExtent {
    double out_length = 0; // output samples per channel
    double samples = 0;    // the longest signal a stage makes (before padding to the working length)
};

// For `n` input samples per channel, the output rate over the input's
// (`ratio`) and the vari-speed factors; `same_length` when neither the rate
// nor the speed changes.  NaN where the factors are not numbers.
inline WorkingExtent working_extent(double n, double ratio, double vt, double vf, bool same_length)
{
    WorkingExtent e;
    e.out_length = same_length ? n : std::ceil((ratio * n) / (vt * vf));
    const double after_src = std::ceil(n * ratio);
    const double after_varispeed_t = std::ceil(n * ratio / vt);
    const double after_varispeed_f = std::ceil(n * ratio / vf);
    e.samples = std::fmax(std::fmax(e.out_length, after_src), std::fmax(after_varispeed_t, after_varispeed_f));
    if (std::isnan(e.out_length + after_varispeed_t + after_varispeed_f))
        e.samples = NAN;
    // The rate conversion reads every input sample from the working arrays,
    // and its taps reach 15 samples below index 0, which wraps to the top of
    // the arrays: those must hold zeros, also when the rate is lowered.  An
    // input without samples has nothing to hold and stays without a length,
    // so it ends as "sampnump too small" whatever the rate.
    if (ratio != 1.0 && n > 0)
        e.samples = std::fmax(e.samples, std::ceil((n + 15.0) / 2.0));
    return e;
}

// Smallest power of two >= m, for 1 <= m <= 2^62.
inline uint64_t power_of_two_at_least(uint64_t m)
{
    uint64_t p = 1;
    while (p < m)
        p *= 2;
    return p;
}

} // namespace vesk
