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
            // Eight running peaks side by side, in vectors: one chain of
            // comparisons would wait on itself at every sample.  The
            // largest of them is the same whichever way the samples are
            // dealt out.  A NaN never counts as larger, as with fmax.
            typedef double Pair __attribute__((vector_size(16)));
            typedef int64_t Bits __attribute__((vector_size(16)));
            constexpr unsigned pairs = 4;
            Pair peak[pairs] = {};
            const uint64_t begin = count * b / blocks, end = count * (b + 1) / blocks;
            uint64_t i = begin;
            for (; end - i >= 2 * pairs; i += 2 * pairs) {
                for (unsigned p = 0; p < pairs; ++p) {
                    const Pair values = {value(i + 2 * p), value(i + 2 * p + 1)};
                    const Pair magnitude = (Pair)((Bits)values & INT64_MAX); // sign bit cleared
                    peak[p] = magnitude > peak[p] ? magnitude : peak[p];
                }
            }
            double most = 0.0;
            for (; i < end; ++i) {
                const double magnitude = std::fabs(value(i));
                most = magnitude > most ? magnitude : most;
            }
            for (const Pair& p : peak)
                most = std::max({most, p[0], p[1]});
            peaks[b] = most;
        }
    });
    return *std::max_element(peaks.begin(), peaks.begin() + blocks);
}

} // namespace vesk
