// Plain forms of the interpolator's kernel and read positions, and seeded
// random signals, for tests.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace vesk::test {

// The level channel 0 is normalised to (-3 dB of full scale), written out
// here rather than taken from the engine, so that a wrong constant there
// fails the tests instead of moving their expectations with it.
constexpr double normalised_peak = 0.707106781;

// The interpolator's kernel from its definition, in long double: a sinc
// under a Hann window that reaches zero at a distance of 16 samples.
inline long double reference_kernel(long double d)
{
    const long double pi = std::numbers::pi_v<long double>, sinc = d == 0 ? 1 : std::sin(pi * d) / (pi * d);
    return std::fabs(d) >= 16 ? 0 : 0.5L * (1 + std::cos(pi * d / 16)) * sinc;
}

struct KernelSum {
    long double value = 0;
    double magnitude = 0; // sum of |sample| over the taps
};

// The direct kernel sum: `source` read at center + x, where the source is
// circular (index t is entry t mod size) and holds a sequence of length len:
// every tap t within 15 of center and within 1-len .. len-1 adds
// reference_kernel(center - t + x) * source[t mod size].
inline KernelSum kernel_sum(const std::vector<double>& source, int64_t len, int64_t center, long double x)
{
    const auto n = static_cast<int64_t>(source.size());
    KernelSum sum;
    for (int64_t t = center - 15; t <= center + 15; ++t) {
        if (t < 1 - len || t > len - 1)
            continue;
        const double v = source[static_cast<std::size_t>(((t % n) + n) % n)];
        sum.value += reference_kernel(static_cast<long double>(center - t) + x) * v;
        sum.magnitude += std::fabs(v);
    }
    return sum;
}

// How far the engine's sum may be from the direct one when the taps' |values|
// add up to `magnitude`: each weight is within ~2^5 eps of the exact kernel
// and the 31 additions add 31 eps, so 64 eps * magnitude.
inline double tap_tolerance(double magnitude) { return 64.0 * std::numeric_limits<double>::epsilon() * magnitude; }

inline double tap_tolerance(const KernelSum& sum) { return tap_tolerance(sum.magnitude); }

struct SteppedPosition { int64_t center; double frac; };

// `count` read positions from 0 as written down: add `step` to the fraction,
// then take whole units off it one at a time.  Only for moderate steps (the
// loop is as slow as the step is large).
inline std::vector<SteppedPosition> stepped_positions(double step, uint32_t count)
{
    std::vector<SteppedPosition> positions;
    int64_t center = 0;
    double frac = 0.0;
    for (uint32_t i = 0; i < count; ++i) {
        positions.push_back({center, frac});
        frac += step;
        while (frac >= 1.0) {
            frac -= 1.0;
            ++center;
        }
    }
    return positions;
}

// The smallest b with 2^b >= n: log2(n) for a power of two.
inline unsigned log2_of(uint32_t n)
{
    unsigned bits = 0;
    while ((uint32_t{1} << bits) < n)
        ++bits;
    return bits;
}

// `count` values drawn uniformly from [-limit, limit), reproducible by seed.
inline std::vector<double> random_values(std::size_t count, uint64_t seed, double limit = 1.0)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uniform(-limit, limit);
    std::vector<double> v(count);
    for (double& s : v)
        s = uniform(rng);
    return v;
}

// Whether two results agree to the last bit (a -0.0 for a +0.0 counts).
inline bool same_bits(const double* a, const double* b, std::size_t n) { return !std::memcmp(a, b, n * sizeof *a); }
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && same_bits(a.data(), b.data(), a.size());
}

} // namespace vesk::test
