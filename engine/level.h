// The pieces of level normalisation shared by the working-array form and the
// pass-through of an idle chain: the gain rule and a peak search split
// across threads.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "engine/parallel.h"

namespace vesk {

// Blocks at least this long are worth a thread of their own in the
// per-sample passes.
constexpr uint64_t sample_pass_min_block = uint64_t{1} << 18;

// x < 0 asks for the peak magnitude -x: the gain that gives it (1.0 for
// silence, which stays as it is).  x >= 0 is a fixed gain.
inline double level_gain(double x, double peak)
{
    if (x >= 0)
        return x;
    return peak > 0 ? -x / peak : 1.0;
}

// The largest |value(i)| for i < count.  Each block finds its own peak and
// the largest of them is the peak of all, whichever thread ran which block.
template <typename Value>
double peak_magnitude(uint64_t count, unsigned threads, const Value& value)
{
    constexpr unsigned max_blocks = 64;
    const uint64_t most = std::min<uint64_t>(std::max(threads, 1u), max_blocks);
    const unsigned blocks = static_cast<unsigned>(std::clamp<uint64_t>(count / sample_pass_min_block, 1, most));
    std::array<double, max_blocks> peaks{};
    parallel_for(blocks, blocks, 1, [&](uint64_t first, uint64_t last) {
        for (uint64_t b = first; b < last; ++b) {
            double peak = 0.0;
            for (uint64_t i = count * b / blocks; i < count * (b + 1) / blocks; ++i) {
                const double magnitude = std::fabs(value(i));
                // A NaN never counts as larger, as with fmax.
                peak = magnitude > peak ? magnitude : peak;
            }
            peaks[b] = peak;
        }
    });
    return *std::max_element(peaks.begin(), peaks.begin() + blocks);
}

} // namespace vesk
