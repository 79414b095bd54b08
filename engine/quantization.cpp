// Quantization: every sample of the channel is put on a grid of `bitnr` bits
// in two's complement, the way a converter of that word length would store
// it.  The first channel is brought to a peak just below full scale first (so
// that the grid is used fully without clipping), the later channels get the
// same gain, and the gain is undone afterwards so that the level of the chain
// is not changed by this stage.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/engine.h"
#include "engine/level.h"
#include "engine/parallel.h"

namespace vesk {

namespace {

// Peak of the first channel before it meets the grid: -1 dB of full scale.
constexpr double quant_peak = 0.891250938;

// 24-bit full scale: sample value 1.0 is 2^23 on the integer scale, whose
// range is -2^23 .. 2^23 - 1.
constexpr double full_scale = 8388608.0;
constexpr int32_t int24_min = -8388608;
constexpr int32_t int24_max = 8388607;
constexpr double lsb24 = 1.1920928955078125e-07; // 2^-23, exact

// One sample onto the grid whose steps are 2^drop on the 24-bit scale.
//
// A product far beyond full scale (later channels, or an infinity) must end
// at the nearer limit instead of overflowing a conversion: it is held within
// 2^30 first, far enough out that it still clips to the same limit once
// rounded and offset, and from there on every value is an exact integer in
// 32 bits.  A NaN sample has no nearer limit; it is taken as silence and
// comes out as 0.  Every step is a choice, an exact conversion or integer
// arithmetic, so the loop over the samples runs in vectors.
inline double quantize_sample(double sample, int32_t offset, uint32_t drop)
{
    double scaled = sample * full_scale + 0.5;
    scaled = scaled == scaled ? scaled : 0.0;
    scaled = std::min(std::max(scaled, -1073741824.0), 1073741824.0);
    // Truncation, one step down for the negative fractions: the floor, the
    // nearest 24-bit value with ties upward.
    const int32_t truncated = static_cast<int32_t>(scaled);
    const int32_t nearest = truncated - (static_cast<double>(truncated) > scaled ? 1 : 0);
    const int32_t y = std::min(std::max(nearest + offset, int24_min), int24_max);
    // The two's complement AND with "-1 shifted left by drop" floors to a
    // multiple of 2^drop.  The same floor is taken here on the value shifted
    // by 2^23 into 0 .. 2^24 - 1: unsigned, so no shift or AND ever touches a
    // negative number, and 2^23 is itself a multiple of 2^drop (drop <= 23),
    // so the shift does not move the grid.
    const uint32_t biased = static_cast<uint32_t>(y - int24_min);
    const uint32_t floored = biased & ~((uint32_t{1} << drop) - 1u);
    return static_cast<double>(static_cast<int32_t>(floored) + int24_min) * lsb24;
}

// Scaled by the gain, put on the grid and brought back to the level before
// the stage: each sample meets the same three operations as in three
// passes.  This unit is built without floating-point traps to keep in
// order (CMakeLists.txt), so that the loop runs in AVX2 vectors where the
// processor has them; every step is exact or one rounded product, so the
// bits are those of one sample at a time, in either build.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void quantize(double* samples, uint64_t first, uint64_t last, double gain, double undo, int32_t offset, uint32_t drop)
{
    for (uint64_t i = first; i < last; ++i)
        samples[i] = quantize_sample(samples[i] * gain, offset, drop) * undo;
}

} // namespace

void Engine::stage_quantization(int firstch)
{
    if (timedomain != 1)
        switch_domain();
    log_line("quantization ...\n");

    const uint32_t n = sampnump;
    // The peak is searched over the whole array, zero tail included; channel
    // 0 fixes the gain and the others follow it, so the balance between the
    // channels is kept and a louder later channel clips, as it would in a
    // converter set up on the first one.  A silent first channel keeps the
    // gain 1.
    double* samples = sigre;
    const unsigned workers = worker_count(threads);
    // A segment of a long file measures its share of the peak (its kept
    // samples, and at the file's end the tail after them), and then takes
    // the peak of the whole file.
    if (segment_pass_ == SegmentPass::quantization_peak) {
        const uint32_t first = keptfirst, end = keptfirst + keptnum == sampnumout ? n : keptfirst + keptnum;
        segment_peak_ = peak_magnitude(end - first, workers, [samples, first](uint64_t i) { return samples[first + i]; });
        return;
    }
    if (firstch)
        quantgain = level_gain(-quant_peak, fixed_quant_peak_ ? *fixed_quant_peak_
                                                             : peak_magnitude(n, workers, [samples](uint64_t i) { return samples[i]; }));

    // Bits dropped from the 24-bit word.  The chain skips the stage at 24
    // bits; a word length outside 1 .. 24 (refused by check_params) is taken
    // as the nearest valid one, so that the shift stays within 0 .. 23.
    const uint32_t bits = std::clamp<uint32_t>(params.bitnr, 1, 24);
    const uint32_t drop = 24 - bits;
    // With the offset 2^(drop-1) - 1 the floor to the grid lands on the
    // nearest grid level, a value exactly halfway going down.  Without
    // dropped bits the 24-bit rounding alone remains.
    const int32_t offset = drop > 0 ? (int32_t{1} << (drop - 1)) - 1 : 0;

    // One pass (see quantize_range).  A gain of 0 (possible only when the
    // first channel's peak was infinite) cannot be undone, and the samples
    // are left as quantized.
    const double gain = quantgain;
    const double undo = gain != 0 ? 1.0 / gain : 1.0;
    parallel_for(n, workers, uint64_t{1} << 16, [=](uint64_t first, uint64_t last) {
        quantize(samples, first, last, gain, undo, offset, drop);
    });
}

} // namespace vesk
