// The windowed-sinc interpolator that every stage reading "between samples"
// goes through: rate conversion, vari-speed and jitter.  One output value is
// a weighted sum of at most 31 neighbours of the wanted position, with a
// Hann-windowed sinc kernel; the source is circular, so taps below index 0
// reach the top of the array (the zero tail of a time buffer, or the
// negative-frequency bins of a spectrum).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/parallel.h"
#include "engine/position.h"

namespace vesk {

namespace {

constexpr double pi = 3.141592653589793;

// Taps on each side of the centre tap.  The window reaches zero at a
// distance of 16, so the taps up to 15 are exactly the ones it keeps.
constexpr int half_taps = 15;
constexpr int max_taps = 2 * half_taps + 1;

// Per-tap constants for the tap offsets n = center - i = 15 - t, t = 0 .. 30,
// padded to 32 entries so the weight loop runs in whole vectors (entry 31
// has sign 0 and so weight 0).  cos and sin of pi n / 16 give the window's
// cosine at n + x by the angle-sum rule from cos and sin of pi x / 16, so no
// tap needs a trigonometric call.
constexpr int padded_taps = 32;
struct KernelTable {
    alignas(64) std::array<double, padded_taps> offset{}; // n
    alignas(64) std::array<double, padded_taps> sign{};   // (-1)^n, 0 for the padding
    alignas(64) std::array<double, padded_taps> cos_n{};  // cos(pi n / 16)
    alignas(64) std::array<double, padded_taps> sin_n{};  // sin(pi n / 16)
    KernelTable()
    {
        for (int t = 0; t < padded_taps; ++t) {
            const int n = half_taps - t;
            offset[t] = n;
            sign[t] = t < max_taps ? ((n & 1) ? -1.0 : 1.0) : 0.0;
            cos_n[t] = std::cos(pi * n / 16.0);
            sin_n[t] = std::sin(pi * n / 16.0);
        }
    }
};
const KernelTable kernel_table;

// Brings a tap index onto the circular source 0 .. n-1 with one remainder,
// so positions far outside the array cost the same as near ones.
inline int64_t wrap_index(int64_t i, int64_t n)
{
    int64_t f = i % n;
    if (f < 0)
        f += n;
    return f;
}

// Sines and cosines of the few angles one output needs, as their Taylor
// series in Horner form: on these short ranges the series converges to
// within a fraction of a double's last place (the first term left out is
// below 2e-18 of the value), and polynomials cost a fraction of a library
// call.

// sin(y) for 0 <= y <= pi / 2; the terms up to y^21.
inline double sine_to_half_pi(double y)
{
    const double y2 = y * y;
    double sum = 1.0 / 51090942171709440000.0; // 1/21!
    sum = sum * y2 - 1.0 / 121645100408832000.0;
    sum = sum * y2 + 1.0 / 355687428096000.0;
    sum = sum * y2 - 1.0 / 1307674368000.0;
    sum = sum * y2 + 1.0 / 6227020800.0;
    sum = sum * y2 - 1.0 / 39916800.0;
    sum = sum * y2 + 1.0 / 362880.0;
    sum = sum * y2 - 1.0 / 5040.0;
    sum = sum * y2 + 1.0 / 120.0;
    sum = sum * y2 - 1.0 / 6.0;
    return y + y * y2 * sum;
}

// sin(t) for 0 <= t <= pi / 16; the terms up to t^13.
inline double sine_to_pi_16(double t)
{
    const double t2 = t * t;
    double sum = 1.0 / 6227020800.0;
    sum = sum * t2 - 1.0 / 39916800.0;
    sum = sum * t2 + 1.0 / 362880.0;
    sum = sum * t2 - 1.0 / 5040.0;
    sum = sum * t2 + 1.0 / 120.0;
    sum = sum * t2 - 1.0 / 6.0;
    return t + t * t2 * sum;
}

// cos(t) for 0 <= t <= pi / 16; the terms up to t^14.
inline double cosine_to_pi_16(double t)
{
    const double t2 = t * t;
    double sum = -1.0 / 87178291200.0;
    sum = sum * t2 + 1.0 / 479001600.0;
    sum = sum * t2 - 1.0 / 3628800.0;
    sum = sum * t2 + 1.0 / 40320.0;
    sum = sum * t2 - 1.0 / 720.0;
    sum = sum * t2 + 1.0 / 24.0;
    sum = sum * t2 - 0.5;
    return 1.0 + t2 * sum;
}

// The kernel weights of all 31 taps around one position center + x:
// weights[t] belongs to tap center - 15 + t.  sin(pi (n + x)) is
// (-1)^n sin(pi x): one sine per output.  The weights are not normalised:
// at whole positions the centre weight is 1 and the others vanish.
inline void kernel_weights(double x, double* weights)
{
    // sin(pi x) = sin(pi (1 - x)); near x = 1 the second form keeps its
    // relative accuracy (1 - x is exact there, pi x is not close enough to pi).
    const double sin_pi_x = sine_to_half_pi(pi * (x <= 0.5 ? x : 1.0 - x));
    const double theta = pi * x / 16.0;
    const double sin_x16 = sine_to_pi_16(theta);
    const double cos_x16 = cosine_to_pi_16(theta);
    const KernelTable& k = kernel_table;
    // No branch inside: the compiler runs this loop in vectors.
    for (int t = 0; t < padded_taps; ++t) {
        const double a = pi * (k.offset[t] + x);
        const double cos_window = k.cos_n[t] * cos_x16 - k.sin_n[t] * sin_x16;
        weights[t] = (1.0 + cos_window) * 0.5 * (k.sign[t] * sin_pi_x / a);
    }
    // sin(a)/a tends to 1; within 1e-10 of 0 the quotient is 1 to double
    // precision and the division only adds noise (or gives 0/0).  Only the
    // taps n = 0 (x near 0) and n = -1 (x near 1) can come that close.
    for (const int t : {half_taps, half_taps + 1}) {
        if (std::fabs(pi * (k.offset[t] + x)) <= 1e-10)
            weights[t] = (1.0 + (k.cos_n[t] * cos_x16 - k.sin_n[t] * sin_x16)) * 0.5;
    }
}

// The weighted sum of 31 consecutive source values, in four interleaved
// partial sums that the compiler keeps in vector registers.
inline double dot_taps(const double* weights, const double* source)
{
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    for (int t = 0; t < 28; t += 4)
        for (int k = 0; k < 4; ++k)
            partial[k] += weights[t + k] * source[t + k];
    return (partial[0] + partial[1]) + (partial[2] + partial[3]) + weights[28] * source[28] +
           weights[29] * source[29] + weights[30] * source[30];
}

} // namespace

int Engine::sinc_interp(const double* values, double* outim, double x, int len, int center, int outidx)
{
    const int64_t n = sampnump;
    // 64-bit limits: center +/- 15 and 1 - len must not overflow for any int
    // argument.
    const int64_t hi = std::min(int64_t{center} + half_taps, int64_t{len} - 1);
    const int64_t lo = std::max(int64_t{center} - half_taps, int64_t{1} - len);
    if (lo > hi) {
        tmpre[outidx] = 0.0;
        if (outim != nullptr)
            outim[outidx] = 0.0;
        return 0;
    }
    alignas(64) double weights[padded_taps];
    kernel_weights(x, weights);
    const int64_t first_tap = int64_t{center} - half_taps; // the tap of weights[0]

    double sum_re = 0.0;
    double sum_im = 0.0;
    if (lo == first_tap && hi == first_tap + max_taps - 1 && lo >= 0 && hi < n) {
        // Every tap present and inside the array: the common case.
        sum_re = dot_taps(weights, sigre + lo);
        if (outim != nullptr)
            sum_im = dot_taps(weights, values + lo);
    } else {
        for (int64_t i = lo; i <= hi; ++i) {
            const double w = weights[i - first_tap];
            const int64_t f = wrap_index(i, n);
            sum_re += w * sigre[f];
            if (outim != nullptr)
                sum_im += w * values[f];
        }
    }
    tmpre[outidx] = sum_re;
    if (outim != nullptr)
        outim[outidx] = sum_im;
    return 0;
}

uint32_t Engine::read_stepped(uint32_t count, double step, int len, const double* values, double* outim)
{
    // From this centre on no tap is within the source and every output is 0.
    const int64_t silent_from = int64_t{len} + 15;
    // Block boundaries and the position at each, found by one cheap
    // sequential walk: the positions stay accumulated step by step, exactly
    // as one pass over all outputs would have them, whoever reads a block.
    constexpr unsigned max_blocks = 64;
    const unsigned blocks = static_cast<unsigned>(
        std::clamp<uint64_t>(std::min<uint64_t>(worker_count(threads), count / 4096), 1, max_blocks));
    std::array<ReadPosition, max_blocks> starts{};
    const auto bound = [count, blocks](uint64_t b) { return static_cast<uint32_t>(count * b / blocks); };
    uint32_t end = count;
    {
        ReadPosition position;
        unsigned b = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (b < blocks && i == bound(b))
                starts[b++] = position;
            if (!position.advance(step, silent_from)) {
                end = i + 1;
                break;
            }
        }
    }
    parallel_for(blocks, blocks, 1, [&](uint64_t first_block, uint64_t last_block) {
        for (uint64_t b = first_block; b < last_block; ++b) {
            ReadPosition position = starts[b];
            const uint32_t stop = std::min(bound(b + 1), end);
            for (uint32_t i = bound(b); i < stop; ++i) {
                sinc_interp(values, outim, position.frac, len, static_cast<int>(position.center), static_cast<int>(i));
                position.advance(step, silent_from);
            }
        }
    });
    return end;
}

void Engine::read_time_stretched(double step, int len)
{
    const uint32_t n = sampnump;
    // The outputs past the end of the source, then the upper half, stay
    // silent: the zero extension (and the circular continuation before
    // index 0 for any later reader).
    for (uint32_t i = read_stepped(n / 2, step, len, nullptr, nullptr); i < n; ++i)
        tmpre[i] = 0.0;
    // sigim is untouched: it holds the zeros of the time domain.
    std::swap(sigre, tmpre);
}

} // namespace vesk
