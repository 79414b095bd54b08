// The windowed-sinc interpolator that every stage reading "between samples"
// goes through: rate conversion, vari-speed and jitter.  One output value is
// a weighted sum of at most 31 neighbours of the wanted position, with a
// Hann-windowed sinc kernel; the source is circular, so taps below index 0
// reach the top of the array (the zero tail of a time buffer, or the
// negative-frequency bins of a spectrum).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/position.h"

namespace vesk {

namespace {

constexpr double pi = 3.141592653589793;

// Taps on each side of the centre tap.  The window below reaches zero at a
// distance of 16, so the taps up to 15 are exactly the ones it keeps.
constexpr int64_t half_taps = 15;

// Brings a tap index onto the circular source 0 .. n-1.  Positions far
// outside the array (jitter near the start, spectra near DC, or simply large
// centres) must cost the same as near ones, hence one remainder instead of
// stepping by n.
inline int64_t wrap_index(int64_t i, int64_t n)
{
    int64_t f = i % n;
    if (f < 0)
        f += n;
    return f;
}

} // namespace

int Engine::sinc_interp(const double* values, double* outim, double x, int len, int center, int outidx)
{
    const int64_t n = sampnump;
    // 64-bit limits: center +/- 15 and 1 - len must not overflow for any int
    // argument.
    const int64_t hi = std::min(int64_t{center} + half_taps, int64_t{len} - 1);
    const int64_t lo = std::max(int64_t{center} - half_taps, int64_t{1} - len);

    // The sums start from zero in locals and are stored once; this replaces
    // whatever the destination held, and the additions happen in the same
    // order as accumulating in place would, so the result is the same.
    double sum_re = 0.0;
    double sum_im = 0.0;
    for (int64_t i = lo; i <= hi; ++i) {
        const int64_t f = wrap_index(i, n);
        // The integer distance is exact; only adding the fraction rounds.
        const double d = static_cast<double>(int64_t{center} - i) + x;
        const double a = std::fabs(pi * d);
        // sin(a)/a tends to 1; below 1e-10 the quotient is 1 to double
        // precision and the division would only add noise (or fail at 0).
        const double s = a > 1e-10 ? std::sin(a) / a : 1.0;
        // Hann window over |d| < 16: (1 + cos(pi d / 16)) / 2.
        const double w = (1.0 + std::cos(a * 0.0625)) * 0.5;
        // Not normalised to unit sum: at whole positions the centre weight
        // is already exactly 1 and the others vanish.
        const double k = w * s;
        sum_re += k * sigre[f];
        if (outim != nullptr)
            sum_im += k * values[f];
    }
    tmpre[outidx] = sum_re;
    if (outim != nullptr)
        outim[outidx] = sum_im;
    return 0;
}

void Engine::read_time_stretched(double step, int len)
{
    const uint32_t n = sampnump;
    const uint32_t half = n / 2;
    // From this centre on no tap is within the source and every output is 0.
    const int64_t silent_from = int64_t{len} + 15;
    ReadPosition position;
    uint32_t i = 0;
    while (i < half) {
        sinc_interp(nullptr, nullptr, position.frac, len, static_cast<int>(position.center), static_cast<int>(i));
        ++i;
        if (!position.advance(step, silent_from))
            break;
    }
    // The outputs past the end of the source, then the upper half, which
    // stays silent as the zero extension (and as the circular continuation
    // before index 0 for any later reader).
    for (; i < n; ++i)
        tmpre[i] = 0.0;
    // sigim is untouched: it holds the zeros of the time domain.
    std::swap(sigre, tmpre);
}

} // namespace vesk
