// The windowed-sinc interpolator against a direct evaluation of its kernel
// sum in long double: the taps are enumerated from the wanted position, the
// circular source is a periodic extension, and the kernel is written from its
// definition (Hann window over |d| < 16 times sin(pi d)/(pi d)).
//
// Tolerances.  Each weight is within a few tens of ulps of the exact kernel:
// the distance d = (center - i) + x rounds once (at most 8 ulps of 1 for
// |d| < 16), pi*d rounds once more, and the slope of sin(a)/a is below 1/a,
// so the weight moves by at most ~2^5 eps.  Adding up to 31 products adds at
// most 31 eps of the sum of magnitudes.  Hence
//   |out - ref| <= 64 * eps * sum over the taps of |source value|,
// which is what `tap_tolerance` returns.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using vesk::test::EngineRig;
using vesk::test::kernel_sum;
using vesk::test::KernelSum;
using vesk::test::reference_kernel;
using vesk::test::tap_tolerance;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double untouched = 12345.0; // marks destination entries no call may write

// The source seen as a periodic sequence of period n.
double periodic(const std::vector<double>& source, int64_t t)
{
    const int64_t n = static_cast<int64_t>(source.size());
    int64_t f = t % n;
    if (f < 0)
        f += n;
    return source[static_cast<std::size_t>(f)];
}

// An engine whose source is its current real part `re` (sigre) and whose
// destination is `out` (tmpre), with a parallel pair `values` / `out_im` for
// complex calls.
struct InterpRig : EngineRig {
    std::vector<double> values, out, out_im;

    explicit InterpRig(uint32_t n) : EngineRig(n), values(n, 0.0), out(n, untouched), out_im(n, untouched)
    {
        engine.tmpre = out.data();
    }
    double at(double x, int len, int center, int outidx = 0)
    {
        EXPECT_EQ(engine.sinc_interp(nullptr, nullptr, x, len, center, outidx), 0);
        return out[static_cast<std::size_t>(outidx)];
    }
    void fill_random(uint64_t seed)
    {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        for (double& v : re)
            v = uniform(rng);
        for (double& v : values)
            v = uniform(rng);
    }
};

const double fractions[] = {0.0, 1e-12, 0.125, 0.25, 0.5, 0.7071067811865476, 0.9, std::nextafter(1.0, 0.0)};

// ---- against the reference sum, over a grid of positions -----------------------

struct GridCase {
    uint32_t n;
    int len;
    int center_from, center_to;
    const char* name;
};

class InterpolatorGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(InterpolatorGrid, MatchesTheDirectKernelSum)
{
    const GridCase& c = GetParam();
    InterpRig rig(c.n);
    rig.fill_random(c.n * 31 + static_cast<uint64_t>(c.len));
    for (int center = c.center_from; center <= c.center_to; ++center) {
        for (double x : fractions) {
            const KernelSum ref = kernel_sum(rig.re, c.len, center, x);
            const double got = rig.at(x, c.len, center, 3);
            ASSERT_NEAR(got, static_cast<double>(ref.value), tap_tolerance(ref))
                << c.name << " center=" << center << " x=" << x;
            if (ref.magnitude == 0.0) {
                ASSERT_EQ(got, 0.0) << c.name << " center=" << center << " x=" << x;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, InterpolatorGrid,
    ::testing::Values(
        // Time signal, as rate conversion, vari-speed and jitter read it.
        GridCase{64, 32, -20, 50, "time_half"},
        // Spectrum with the Nyquist bin, as vari-speed in frequency reads it.
        GridCase{64, 33, -20, 50, "spectrum"},
        // Rate conversion of an input that fills the array.
        GridCase{64, 64, -20, 80, "full"},
        // Fewer samples than taps: the circle is read more than once.
        GridCase{16, 16, -20, 35, "short_circle"},
        GridCase{256, 100, 80, 120, "limit"},
        GridCase{1024, 200, -5, 230, "long"}),
    [](const ::testing::TestParamInfo<GridCase>& info) { return std::string(info.param.name); });

TEST(Interpolator, ComplexCallUsesTheSameWeightsForBothSequences)
{
    InterpRig rig(128);
    rig.fill_random(99);
    for (int center : {-4, 0, 7, 60, 64, 70}) {
        for (double x : fractions) {
            ASSERT_EQ(rig.engine.sinc_interp(rig.values.data(), rig.out_im.data(), x, 65, center, 11), 0);
            const KernelSum ref_re = kernel_sum(rig.re, 65, center, x);
            const KernelSum ref_im = kernel_sum(rig.values, 65, center, x);
            ASSERT_NEAR(rig.out[11], static_cast<double>(ref_re.value), tap_tolerance(ref_re)) << center << " " << x;
            ASSERT_NEAR(rig.out_im[11], static_cast<double>(ref_im.value), tap_tolerance(ref_im)) << center << " " << x;
        }
    }
    // Only entry 11 of either destination was written.
    for (std::size_t i = 0; i < rig.out.size(); ++i) {
        if (i == 11)
            continue;
        ASSERT_EQ(rig.out[i], untouched) << i;
        ASSERT_EQ(rig.out_im[i], untouched) << i;
    }
}

// ---- whole positions and single samples ---------------------------------------------

TEST(Interpolator, WholePositionsReproduceTheSample)
{
    const uint32_t n = 128;
    InterpRig rig(n);
    rig.fill_random(5);
    const int len = static_cast<int>(n / 2);
    for (int center = 1 - len; center <= len - 1; ++center) {
        const double want = periodic(rig.re, center);
        const KernelSum ref = kernel_sum(rig.re, len, center, 0.0);
        // The other taps have weights sin(pi n)/(pi n) * w, zero up to the
        // rounding of pi n: within the tap tolerance of the sample itself.
        ASSERT_NEAR(rig.at(0.0, len, center), want, tap_tolerance(ref)) << center;
    }
}

TEST(Interpolator, AnImpulseReturnsTheKernelAtItsDistance)
{
    const uint32_t n = 64;
    const int len = 32;
    for (int m : {0, 1, 5, 20, 31}) {
        InterpRig rig(n);
        rig.re[static_cast<std::size_t>(m)] = 1.0;
        for (int center = -18; center <= 50; ++center) {
            for (double x : fractions) {
                const double got = rig.at(x, len, center);
                const long double distance = static_cast<long double>(center) + x - m;
                const bool in_taps = m >= center - 15 && m <= center + 15;
                if (in_taps) {
                    ASSERT_NEAR(got, static_cast<double>(reference_kernel(distance)), 64.0 * eps)
                        << "m=" << m << " center=" << center << " x=" << x;
                } else {
                    ASSERT_EQ(got, 0.0) << "m=" << m << " center=" << center << " x=" << x;
                }
            }
        }
    }
}

TEST(Interpolator, KernelIsSymmetricInTheDistance)
{
    // Impulse at 20: reading at 20 - d and at 20 + d sees the same weight.
    InterpRig rig(64);
    rig.re[20] = 1.0;
    for (int whole = 0; whole <= 14; ++whole) {
        for (double x : {0.25, 0.5, 0.75}) {
            const double before = rig.at(1.0 - x, 32, 20 - whole - 1);
            const double after = rig.at(x, 32, 20 + whole);
            ASSERT_NEAR(before, after, 64.0 * eps) << whole << " " << x;
        }
    }
}

// ---- tap limits ----------------------------------------------------------------------

TEST(Interpolator, TapsStopAtTheLengthLimitOnBothSides)
{
    const uint32_t n = 64;
    const int len = 10;
    struct Case {
        int impulse;   // source index that holds 1.0 (negative: wrapped)
        int center;
        bool counted;  // whether that index is a tap
    };
    const Case cases[] = {
        {9, 5, true},    // len - 1: the last tap
        {10, 5, false},  // len: outside
        {-9, 5, true},   // 1 - len: the first tap, read from n - 9
        {-10, 5, false}, // -len: outside
        {9, 20, true},   // centre beyond the last sample, still within 15
        {9, 24, true},   // len + 14: the only tap left is len - 1
        {9, 25, false},  // len + 15: none left
        {-9, -24, true},
        {-9, -25, false},
    };
    for (const Case& c : cases) {
        for (double x : {0.0, 0.5}) {
            InterpRig rig(n);
            rig.re[static_cast<std::size_t>((c.impulse + 64) % 64)] = 1.0;
            const double got = rig.at(x, len, c.center);
            const long double distance = static_cast<long double>(c.center) + x - c.impulse;
            if (c.counted && std::fabs(distance) < 16) {
                ASSERT_NEAR(got, static_cast<double>(reference_kernel(distance)), 64.0 * eps)
                    << c.impulse << " " << c.center << " " << x;
            } else {
                ASSERT_EQ(got, 0.0) << c.impulse << " " << c.center << " " << x;
            }
        }
    }
}

TEST(Interpolator, NegativeTapsReadTheTopOfTheCircle)
{
    // center 0, x 0.5, len n/2: taps -15 .. 15, and -j reads entry n - j.
    const uint32_t n = 64;
    for (int j = 1; j <= 16; ++j) {
        InterpRig rig(n);
        rig.re[n - j] = 1.0;
        const double got = rig.at(0.5, static_cast<int>(n / 2), 0);
        if (j <= 15) {
            ASSERT_NEAR(got, static_cast<double>(reference_kernel(0.5L + j)), 64.0 * eps) << j;
        } else {
            ASSERT_EQ(got, 0.0) << j; // entry n-16 is not a tap
        }
    }
    // The top of the circle is read from its own entries, not from the
    // mirror-image entries at the bottom.
    InterpRig rig(n);
    rig.re[15] = 1.0;
    EXPECT_NEAR(rig.at(0.5, 32, 0), static_cast<double>(reference_kernel(-14.5L)), 64.0 * eps);
    rig.re[15] = 0.0;
    rig.re[16] = 1.0;
    EXPECT_EQ(rig.at(0.5, 32, 0), 0.0);
}

TEST(Interpolator, PositionsPastTheEndGiveZeroInBothOutputs)
{
    const uint32_t n = 64;
    for (int len : {1, 10, 32, 33}) {
        InterpRig rig(n);
        for (uint32_t i = 0; i < n; ++i)
            rig.re[i] = rig.values[i] = 1.0;
        for (int center : {len + 15, len + 16, len + 100, INT_MAX}) {
            rig.out[2] = rig.out_im[2] = untouched;
            ASSERT_EQ(rig.engine.sinc_interp(rig.values.data(), rig.out_im.data(), 0.5, len, center, 2), 0);
            EXPECT_EQ(rig.out[2], 0.0) << len << " " << center;
            EXPECT_EQ(rig.out_im[2], 0.0) << len << " " << center;
        }
        // One short of it the last sample is still a tap, at distance 15 + x.
        ASSERT_EQ(rig.engine.sinc_interp(rig.values.data(), rig.out_im.data(), 0.5, len, len + 14, 2), 0);
        EXPECT_NEAR(rig.out[2], static_cast<double>(reference_kernel(15.5L)), 64.0 * eps) << len;
        EXPECT_NEAR(rig.out_im[2], static_cast<double>(reference_kernel(15.5L)), 64.0 * eps) << len;
        EXPECT_NE(rig.out[2], 0.0) << len;
    }
}

TEST(Interpolator, LengthOneReadsOnlyIndexZero)
{
    const uint32_t n = 64;
    InterpRig rig(n);
    rig.fill_random(17);
    for (int center = -16; center <= 16; ++center) {
        for (double x : {0.0, 0.3, 0.5}) {
            const double got = rig.at(x, 1, center);
            const long double distance = static_cast<long double>(center) + x;
            if (std::fabs(distance) < 16 && center >= -15 && center <= 15) {
                ASSERT_NEAR(got, static_cast<double>(reference_kernel(distance) * rig.re[0]),
                            64.0 * eps * std::fabs(rig.re[0]))
                    << center << " " << x;
            } else {
                ASSERT_EQ(got, 0.0) << center << " " << x;
            }
        }
    }
    // No length, no taps.
    for (int len : {0, -1, INT_MIN}) {
        rig.out[0] = untouched;
        EXPECT_EQ(rig.at(0.0, len, 0), 0.0) << len;
    }
}

// ---- arguments and destinations ---------------------------------------------------------

TEST(Interpolator, WithoutSecondDestinationTheSecondSourceIsNotNeeded)
{
    InterpRig rig(32);
    rig.fill_random(3);
    // Both null: only the first sequence is interpolated.
    ASSERT_EQ(rig.engine.sinc_interp(nullptr, nullptr, 0.25, 16, 4, 1), 0);
    const KernelSum ref = kernel_sum(rig.re, 16, 4, 0.25);
    EXPECT_NEAR(rig.out[1], static_cast<double>(ref.value), tap_tolerance(ref));
    // A second source without a destination is ignored as well.
    const double first = rig.out[1];
    ASSERT_EQ(rig.engine.sinc_interp(rig.values.data(), nullptr, 0.25, 16, 4, 1), 0);
    EXPECT_EQ(rig.out[1], first);
    for (double v : rig.out_im)
        EXPECT_EQ(v, untouched);
}

TEST(Interpolator, ASecondCallToTheSameEntryReplacesTheFirst)
{
    InterpRig once(64);
    once.fill_random(23);
    InterpRig twice(64);
    twice.fill_random(23);

    ASSERT_EQ(once.engine.sinc_interp(once.values.data(), once.out_im.data(), 0.75, 32, 9, 4), 0);
    ASSERT_EQ(twice.engine.sinc_interp(twice.values.data(), twice.out_im.data(), 0.25, 32, 3, 4), 0);
    ASSERT_EQ(twice.engine.sinc_interp(twice.values.data(), twice.out_im.data(), 0.75, 32, 9, 4), 0);
    EXPECT_EQ(twice.out[4], once.out[4]);
    EXPECT_EQ(twice.out_im[4], once.out_im[4]);
}

TEST(Interpolator, FarPositionsWrapWithoutOverflow)
{
    // Centres near the ends of the int range on a short circle: the tap
    // limits are computed without overflow and wrapping is arithmetic, so
    // these return at once with the reference value.
    const uint32_t n = 16;
    InterpRig rig(n);
    rig.fill_random(41);
    const int far[] = {INT_MAX, INT_MAX - 1, INT_MAX - 15, INT_MAX - 20, INT_MIN, INT_MIN + 1, INT_MIN + 20,
                       1 << 30, -(1 << 30) - 7};
    for (int center : far) {
        for (double x : {0.0, 0.5}) {
            const KernelSum ref = kernel_sum(rig.re, INT_MAX, center, x);
            const double got = rig.at(x, INT_MAX, center);
            ASSERT_NEAR(got, static_cast<double>(ref.value), tap_tolerance(ref)) << center << " " << x;
        }
    }
}

} // namespace

// A stepped walk told where the source's zeros begin stops where every tap
// reads them; the outputs it gives up on are exactly the +0.0 the full walk
// computes there, and the ones before are the same bits.
TEST(Interpolator, SteppedWalkStopsWhereTheTapsReadOnlyKnownZeros)
{
    constexpr uint32_t n = 1u << 14;
    constexpr uint32_t signal = 5000; // nonzero samples 0 .. signal-1
    for (const double step : {0.75, 1.5, 2.9})
        for (const unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(step);
            std::vector<std::vector<double>> outputs;
            std::vector<uint32_t> ends;
            for (const uint32_t zeros_from : {0u, signal}) {
                vesk::test::ScratchRig rig(n, untouched);
                rig.engine.threads = threads;
                std::mt19937_64 random(3);
                std::uniform_real_distribution<double> value(-1.0, 1.0);
                for (uint32_t i = 0; i < signal; ++i)
                    rig.re[i] = value(random);
                ends.push_back(rig.engine.read_stepped(n / 2, step, n / 2, nullptr, nullptr, zeros_from));
                outputs.push_back(rig.scratch_re);
            }
            const uint32_t full = ends[0], early = ends[1];
            EXPECT_LT(early, full);
            EXPECT_EQ(early, static_cast<uint32_t>(std::ceil((signal + 15) / step)));
            for (uint32_t i = 0; i < early; ++i)
                ASSERT_EQ(std::signbit(outputs[1][i]), std::signbit(outputs[0][i])) << i;
            EXPECT_TRUE(std::equal(outputs[1].begin(), outputs[1].begin() + early, outputs[0].begin()));
            for (uint32_t i = early; i < full; ++i)
                ASSERT_TRUE(outputs[0][i] == 0.0 && !std::signbit(outputs[0][i])) << i;
            EXPECT_EQ(outputs[1][early], untouched); // left for the caller to clear
        }
}
