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

// cos and sin of pi n / 16 for the tap offsets n = -15 .. 15 (index n + 15):
// the window's cosine at n + x follows from them and from cos and sin of
// pi x / 16 by the angle-sum rule, so no tap needs a trigonometric call.
struct WindowTable {
    std::array<double, max_taps> cos_n{};
    std::array<double, max_taps> sin_n{};
    WindowTable()
    {
        for (int n = -half_taps; n <= half_taps; ++n) {
            cos_n[n + half_taps] = std::cos(pi * n / 16.0);
            sin_n[n + half_taps] = std::sin(pi * n / 16.0);
        }
    }
};
const WindowTable window_table;

// Brings a tap index onto the circular source 0 .. n-1 with one remainder,
// so positions far outside the array cost the same as near ones.
inline int64_t wrap_index(int64_t i, int64_t n)
{
    int64_t f = i % n;
    if (f < 0)
        f += n;
    return f;
}

// The kernel weights for the tap offsets n = center - i of one position
// center + x, n from `first` down to `last` (weights[0] belongs to `first`).
// sin(pi (n + x)) is (-1)^n sin(pi x): one sine per output.  The window
// (1 + cos(pi (n + x) / 16)) / 2 takes its cosine from the table.  The
// weights are not normalised: at whole positions the centre weight is 1 and
// the others vanish.
inline int kernel_weights(double x, int first, int last, double* weights)
{
    // sin(pi x) = sin(pi (1 - x)); near x = 1 the second form keeps its
    // relative accuracy (1 - x is exact there, pi x is not close enough to pi).
    const double sin_pi_x = x <= 0.5 ? std::sin(pi * x) : std::sin(pi * (1.0 - x));
    const double cos_x16 = std::cos(pi * x / 16.0);
    const double sin_x16 = std::sin(pi * x / 16.0);
    int count = 0;
    for (int n = first; n >= last; --n, ++count) {
        const double d = n + x;
        const double a = pi * d;
        // sin(a)/a tends to 1; within 1e-10 of 0 the quotient is 1 to double
        // precision and the division would only add noise (or fail at 0).
        const double sinc = std::fabs(a) > 1e-10 ? ((n & 1) ? -sin_pi_x : sin_pi_x) / a : 1.0;
        const double cos_window = window_table.cos_n[n + half_taps] * cos_x16 - window_table.sin_n[n + half_taps] * sin_x16;
        weights[count] = (1.0 + cos_window) * 0.5 * sinc;
    }
    return count;
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
    double weights[max_taps];
    const int taps = kernel_weights(x, static_cast<int>(center - lo), static_cast<int>(center - hi), weights);

    double sum_re = 0.0;
    double sum_im = 0.0;
    if (lo >= 0 && hi < n) {
        // Every tap inside the array: a straight run the compiler vectorises.
        const double* re = sigre + lo;
        for (int t = 0; t < taps; ++t)
            sum_re += weights[t] * re[t];
        if (outim != nullptr) {
            const double* im = values + lo;
            for (int t = 0; t < taps; ++t)
                sum_im += weights[t] * im[t];
        }
    } else {
        for (int t = 0; t < taps; ++t) {
            const int64_t f = wrap_index(lo + t, n);
            sum_re += weights[t] * sigre[f];
            if (outim != nullptr)
                sum_im += weights[t] * values[f];
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
