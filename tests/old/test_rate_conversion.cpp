// Sample-rate conversion against two references evaluated in long double:
//  - positions stepped exactly as the stage steps them (add the ratio, take
//    whole units off one at a time), which must agree to rounding of the
//    kernel sum alone;
//  - exact rational positions i * fsinp / fs, which the accumulated position
//    may drift from by rounding only.  A wrong carry (x left at or above 1,
//    centre advanced by the wrong amount) is an error of a whole sample and
//    fails both.
// plus whole-sample cases, a 1 kHz tone across 44.1 kHz <-> 48 kHz, the
// silent upper half, the log and the bounded cost of huge ratios.
//
// Tolerances.  One output is a sum of at most 31 kernel weights times input
// samples; each weight is within ~2^5 eps of the exact kernel (one rounding
// of the distance, one of pi*d, slope of sin(a)/a below 1/a), and the
// additions add 31 eps, so |out - ref| <= 64 eps * sum|taps|.  Against exact
// positions the distance is also off by the drift of the accumulation: each
// step rounds x + ratio (half an ulp of 1 + ratio) and the ratio itself is
// rounded (half an ulp of ratio, i times), so after i steps the drift is
// below i * (1 + ratio) * eps; the kernel's slope is below 2, which turns it
// into 2 * drift * sum|taps| more.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using vesk::test::kernel_sum;
using vesk::test::KernelSum;
using vesk::test::random_values;
using vesk::test::ScratchRig;
using vesk::test::stepped_positions;
using vesk::test::SteppedPosition;
using vesk::test::tap_tolerance;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double stale = 7.0; // what the scratch array holds before a conversion

struct ExactPosition {
    int64_t center;
    long double x;
};

// Exact positions: i * fsinp / fs as whole part and remainder.
ExactPosition exact_position(uint32_t fsinp, uint32_t fs, uint32_t i)
{
    const uint64_t num = uint64_t{i} * fsinp;
    return {static_cast<int64_t>(num / fs), static_cast<long double>(num % fs) / fs};
}

double drift_tolerance(const KernelSum& ref, uint32_t fsinp, uint32_t fs, uint32_t i)
{
    const double ratio = static_cast<double>(fsinp) / fs;
    const double drift = static_cast<double>(i) * (1.0 + ratio) * eps;
    return tap_tolerance(ref) + 2.0 * drift * ref.magnitude;
}

// An engine holding one decoded channel: `input` in the current pair with
// zeros above it, a scratch pair full of stale values.
struct ConversionRig : ScratchRig {
    ConversionRig(uint32_t n, uint32_t fsinp, uint32_t fs, const std::vector<double>& input) : ScratchRig(n, stale)
    {
        std::copy(input.begin(), input.end(), re.begin());
        engine.fsinp = fsinp;
        engine.fs = fs;
        engine.sampnuminp = static_cast<uint32_t>(input.size());
        EXPECT_EQ(engine.fft_init(), 0);
    }
    // The converted channel (valid after convert()).
    const double* out() const { return engine.sigre; }
    void convert() { ASSERT_EQ(engine.src_resample(), 0); }
};

// ---- whole-sample ratios ---------------------------------------------------------------

TEST(RateConversion, DoublingTheRateKeepsEverySampleAndInterpolatesHalfway)
{
    const uint32_t n = 1024, count = 300;
    const std::vector<double> input = random_values(count, 1);
    ConversionRig rig(n, 24000, 48000, input);
    rig.convert();
    const double* out = rig.out();
    for (uint32_t i = 0; i < n / 2; ++i) {
        const KernelSum ref = kernel_sum(rig.re, count, i / 2, (i % 2) * 0.5L);
        if (i % 2 == 0) {
            // x is exactly 0: the sample itself, up to the near-zero weights
            // of the other taps.
            ASSERT_NEAR(out[i], input[i / 2], tap_tolerance(ref)) << i;
        } else {
            ASSERT_NEAR(out[i], static_cast<double>(ref.value), tap_tolerance(ref)) << i;
        }
    }
}

TEST(RateConversion, HalvingTheRateKeepsEverySecondSampleWithoutLowPass)
{
    const uint32_t n = 1024, count = 700;
    const std::vector<double> input = random_values(count, 2);
    ConversionRig rig(n, 96000, 48000, input);
    rig.convert();
    const double* out = rig.out();
    for (uint32_t i = 0; i < n / 2; ++i) {
        const KernelSum ref = kernel_sum(rig.re, count, 2 * i, 0.0L);
        if (2 * i < count) {
            ASSERT_NEAR(out[i], input[2 * i], tap_tolerance(ref)) << i;
        } else if (2 * i < count + 15) {
            // The tail past the last sample, from the taps still in range.
            ASSERT_NEAR(out[i], static_cast<double>(ref.value), tap_tolerance(ref)) << i;
        } else {
            ASSERT_EQ(out[i], 0.0) << i;
        }
    }
}

TEST(RateConversion, TheSameRateCopiesTheInput)
{
    const uint32_t n = 256, count = 100;
    const std::vector<double> input = random_values(count, 3);
    ConversionRig rig(n, 44100, 44100, input);
    rig.convert();
    for (uint32_t i = 0; i < count; ++i) {
        const KernelSum ref = kernel_sum(rig.re, count, i, 0.0L);
        ASSERT_NEAR(rig.out()[i], input[i], tap_tolerance(ref)) << i;
    }
}

// ---- arbitrary ratios against both references ----------------------------------------------

struct RatioCase {
    uint32_t fsinp, fs, n, count;
    const char* name;
};

class RateConversionRatios : public ::testing::TestWithParam<RatioCase> {};

TEST_P(RateConversionRatios, MatchesSteppedAndExactPositions)
{
    const RatioCase& c = GetParam();
    const std::vector<double> input = random_values(c.count, c.fsinp ^ c.fs);
    ConversionRig rig(c.n, c.fsinp, c.fs, input);
    rig.convert();
    const double* out = rig.out();
    const uint32_t half = c.n / 2;
    const std::vector<SteppedPosition> stepped =
        stepped_positions(static_cast<double>(c.fsinp) / static_cast<double>(c.fs), half);
    for (uint32_t i = 0; i < half; ++i) {
        // The carried position never leaves [0, 1) and, when the rate is
        // raised, the centre moves by at most one sample per output.
        ASSERT_GE(stepped[i].frac, 0.0L);
        ASSERT_LT(stepped[i].frac, 1.0L);
        if (i > 0 && c.fsinp < c.fs) {
            ASSERT_LE(stepped[i].center - stepped[i - 1].center, 1) << i;
        }

        const KernelSum same = kernel_sum(rig.re, c.count, stepped[i].center, stepped[i].frac);
        ASSERT_NEAR(out[i], static_cast<double>(same.value), tap_tolerance(same)) << c.name << " output " << i;

        const ExactPosition p = exact_position(c.fsinp, c.fs, i);
        const KernelSum exact = kernel_sum(rig.re, c.count, p.center, p.x);
        ASSERT_NEAR(out[i], static_cast<double>(exact.value), drift_tolerance(exact, c.fsinp, c.fs, i))
            << c.name << " output " << i;
    }
}

TEST_P(RateConversionRatios, LeavesTheUpperHalfExactlyZero)
{
    const RatioCase& c = GetParam();
    ConversionRig rig(c.n, c.fsinp, c.fs, random_values(c.count, 11));
    rig.convert();
    for (uint32_t i = c.n / 2; i < c.n; ++i) {
        ASSERT_EQ(rig.out()[i], 0.0) << i;
        ASSERT_FALSE(std::signbit(rig.out()[i])) << i;
    }
}

TEST_P(RateConversionRatios, IsSilentOnceNoInputSampleIsWithinReach)
{
    const RatioCase& c = GetParam();
    ConversionRig rig(c.n, c.fsinp, c.fs, random_values(c.count, 12));
    rig.convert();
    // Position count + 15 and beyond has no tap left; one output more of
    // margin covers an accumulated position a rounding short of it.
    const uint64_t first_silent = (uint64_t{c.count + 15} * c.fs + c.fsinp - 1) / c.fsinp + 1;
    for (uint64_t i = first_silent; i < c.n / 2; ++i)
        ASSERT_EQ(rig.out()[i], 0.0) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Rates, RateConversionRatios,
    ::testing::Values(RatioCase{44100, 48000, 2048, 900, "cd_to_dat"}, RatioCase{48000, 44100, 2048, 1000, "dat_to_cd"},
                      RatioCase{22050, 48000, 2048, 400, "up_2_18"}, RatioCase{48000, 8000, 4096, 3000, "down_by_6"},
                      RatioCase{8000, 44100, 4096, 300, "up_5_5"}, RatioCase{44100, 44101, 1024, 500, "almost_one"},
                      RatioCase{96000, 44100, 2048, 1900, "down_2_18"}, RatioCase{1, 3, 256, 40, "up_by_3"},
                      RatioCase{4294967295u, 4294967294u, 512, 200, "extreme_rates"},
                      RatioCase{48000000, 48000, 8192, 8192 - 15, "down_by_1000"}),
    [](const ::testing::TestParamInfo<RatioCase>& info) { return std::string(info.param.name); });

// ---- a tone across 44.1 kHz <-> 48 kHz --------------------------------------------------------

struct ToneMeasure {
    double frequency; // Hz, from the upward zero crossings
    double amplitude; // least-squares fit at the expected frequency
    double residual;  // rms of what the fit leaves
};

// Measures a sine of about `expected` Hz at rate `fs` on out[from .. to).
ToneMeasure measure_tone(const double* out, uint32_t from, uint32_t to, double fs, double expected)
{
    ToneMeasure m{};
    // Zero crossings, located by linear interpolation between the samples
    // around them (a sine is straight at its zero crossings, so this is
    // accurate to far below a sample).
    double first = -1, last = -1;
    int crossings = 0;
    for (uint32_t i = from; i + 1 < to; ++i) {
        if (out[i] < 0.0 && out[i + 1] >= 0.0) {
            const double t = i + out[i] / (out[i] - out[i + 1]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    m.frequency = crossings > 1 ? (crossings - 1) * fs / (last - first) : 0.0;

    // a cos + b sin at the expected frequency, by the normal equations.
    const double w = 2.0 * std::numbers::pi * expected / fs;
    long double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (uint32_t i = from; i < to; ++i) {
        const long double c = std::cos(w * i), s = std::sin(w * i);
        cc += c * c;
        ss += s * s;
        cs += c * s;
        yc += out[i] * c;
        ys += out[i] * s;
    }
    const long double det = cc * ss - cs * cs;
    const long double a = (yc * ss - ys * cs) / det;
    const long double b = (ys * cc - yc * cs) / det;
    m.amplitude = static_cast<double>(std::sqrt(a * a + b * b));
    long double sq = 0;
    for (uint32_t i = from; i < to; ++i) {
        const long double e = out[i] - (a * std::cos(w * i) + b * std::sin(w * i));
        sq += e * e;
    }
    m.residual = static_cast<double>(std::sqrt(sq / (to - from)));
    return m;
}

struct ToneCase {
    uint32_t fsinp, fs;
    const char* name;
};

class RateConversionTone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(RateConversionTone, KeepsFrequencyAndLevelAwayFromTheEnds)
{
    const ToneCase& c = GetParam();
    const double amplitude = 0.5, tone = 1000.0;
    // 0.2 s of input; the output is ceil(count * fs / fsinp) samples and the
    // array is twice the power of two that holds it.
    const uint32_t count = c.fsinp / 5;
    const uint32_t out_len = static_cast<uint32_t>((uint64_t{count} * c.fs + c.fsinp - 1) / c.fsinp);
    uint32_t n = 2;
    while (n / 2 < out_len)
        n *= 2;
    n *= 2;
    std::vector<double> input(count);
    for (uint32_t i = 0; i < count; ++i)
        input[i] = amplitude * std::sin(2.0 * std::numbers::pi * tone * i / c.fsinp);
    ConversionRig rig(n, c.fsinp, c.fs, input);
    rig.convert();

    // The ends see the edge of the input within the kernel's reach (16
    // samples); 64 output samples stay clear of it at either rate.
    const ToneMeasure m = measure_tone(rig.out(), 64, out_len - 64, c.fs, tone);
    // Frequency: the crossings are located to far below 1e-6 of a sample
    // over about 180 periods.
    EXPECT_NEAR(m.frequency, tone, 1e-3) << c.name;
    // Level: the unnormalised 31-tap kernel passes 1 kHz at these rates
    // within 1e-4 of unity.
    EXPECT_NEAR(m.amplitude / amplitude, 1.0, 1e-4) << c.name;
    // And nothing but the tone: what the fit leaves is below -80 dB.
    EXPECT_LT(m.residual / amplitude, 1e-4) << c.name;
    // Past the converted length plus the kernel's reach there is silence.
    const uint32_t silent = static_cast<uint32_t>((uint64_t{count + 15} * c.fs + c.fsinp - 1) / c.fsinp + 1);
    for (uint32_t i = silent; i < n; ++i)
        ASSERT_EQ(rig.out()[i], 0.0) << i;
}

INSTANTIATE_TEST_SUITE_P(Tone, RateConversionTone,
                         ::testing::Values(ToneCase{44100, 48000, "up"}, ToneCase{48000, 44100, "down"}),
                         [](const ::testing::TestParamInfo<ToneCase>& info) { return std::string(info.param.name); });

// ---- pointers, log and domain -----------------------------------------------------------------

TEST(RateConversion, TheConvertedSignalBecomesCurrentByExchange)
{
    const uint32_t n = 256;
    ConversionRig rig(n, 44100, 48000, random_values(100, 4));
    rig.convert();
    EXPECT_EQ(rig.engine.sigre, rig.scratch_re.data());
    EXPECT_EQ(rig.engine.tmpre, rig.re.data());
    // The imaginary half stays where it was, all zero.
    EXPECT_EQ(rig.engine.sigim, rig.im.data());
    EXPECT_EQ(rig.engine.tmpim, rig.scratch_im.data());
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_EQ(rig.im[i], 0.0) << i;
    EXPECT_EQ(rig.engine.timedomain, 1);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"SRC ...\n"});
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(RateConversion, FromASpectrumItSwitchesToTimeFirst)
{
    const uint32_t n = 512, count = 200;
    const std::vector<double> input = random_values(count, 5);

    ConversionRig direct(n, 44100, 48000, input);
    direct.convert();

    ConversionRig spectral(n, 44100, 48000, input);
    spectral.engine.switch_domain();
    spectral.log.lines.clear();
    spectral.convert();
    EXPECT_EQ(spectral.log.lines, (std::vector<std::string>{"f->t ...\n", "SRC ...\n"}));
    EXPECT_EQ(spectral.engine.timedomain, 1);
    // Same result up to the round trip through the transform: per sample at
    // most 16 eps log2(N) ||x||_2 (normwise bound of two transforms), which
    // the kernel carries over with a sum of |weights| below 2.
    long double energy = 0;
    for (double v : input)
        energy += static_cast<long double>(v) * v;
    const double tol = 2.0 * 16.0 * eps * 9 * static_cast<double>(std::sqrt(energy)); // log2(512) = 9
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_NEAR(spectral.out()[i], direct.out()[i], tol) << i;
}

TEST(RateConversion, AnEmptyChannelConvertsToSilence)
{
    const uint32_t n = 64;
    ConversionRig rig(n, 48000, 44100, {});
    rig.convert();
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_EQ(rig.out()[i], 0.0) << i;
}

// ---- huge ratios --------------------------------------------------------------------------------

TEST(RateConversion, HugeRatiosFinishAtOnce)
{
    struct Case {
        uint32_t fsinp, fs;
    };
    // With stepping by single units these would take billions of steps per
    // output, and the centre would overflow an int after the first.
    const uint32_t n = 1u << 20;
    const std::vector<double> input = random_values(n - 15, 6);
    for (const Case& c : {Case{4000000000u, 1}, Case{4294967295u, 1}, Case{4000000000u, 3}, Case{4000000000u, 1000}}) {
        ConversionRig rig(n, c.fsinp, c.fs, input);
        const auto start = std::chrono::steady_clock::now();
        rig.convert();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The work is one interpolation and a fill of the array.
        EXPECT_LT(seconds, 2.0) << c.fsinp << "/" << c.fs;
        const KernelSum first = kernel_sum(rig.re, n - 15, 0, 0.0L);
        EXPECT_NEAR(rig.out()[0], input[0], tap_tolerance(first));
        for (uint32_t i = 1; i < n; ++i)
            ASSERT_EQ(rig.out()[i], 0.0) << c.fsinp << "/" << c.fs << " output " << i;
    }
}

} // namespace
