// Vari-speed in time and in frequency against a direct kernel sum in long
// double at positions stepped as written down (add the step, take whole
// units off one at a time), plus the whole-position cases, the band edges,
// a tone burst measured on its spectrum and envelope, factors far outside
// the useful range, the exchanges and the log.
//
// Tolerances.  As in the interpolator's tests: each weight is within ~2^5
// eps of the exact kernel and the 31 additions add 31 eps, so an output is
// within 64 eps * (sum over its taps of |source|) of the reference.  The
// stepped positions are replayed with the same double additions, so they are
// identical, not approximate.  The tone-burst figures are measurements of a
// signal, with tolerances set by its shape (commented there).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using vesk::test::for_each_tap;
using vesk::test::kernel_sum;
using vesk::test::KernelSum;
using vesk::test::random_values;
using vesk::test::ScratchRig;
using vesk::test::stepped_positions;
using vesk::test::SteppedPosition;
using vesk::test::tap_tolerance;

constexpr double stale = 7.0;

struct SpectrumSum {
    long double re = 0, im = 0;
    double magnitude = 0; // sum of |source| over the taps (both parts)
};

// A circular spectrum (two parallel arrays) at center + x: both parts with
// the same weights, the magnitude over both.
SpectrumSum read_spectrum(const std::vector<double>& re, const std::vector<double>& im, int64_t len, int64_t center,
                          long double x)
{
    SpectrumSum sum;
    for_each_tap(static_cast<int64_t>(re.size()), len, center, x, [&](std::size_t f, long double k) {
        sum.re += k * re[f];
        sum.magnitude += std::fabs(re[f]);
        sum.im += k * im[f];
        sum.magnitude += std::fabs(im[f]);
    });
    return sum;
}

double tap_tolerance(const SpectrumSum& sum)
{
    return vesk::test::tap_tolerance(sum.magnitude);
}

// A real signal's spectrum: random bins 1 .. H-1, real DC and Nyquist, the
// negative frequencies the conjugates of the positive ones.
void hermitian_spectrum(uint32_t n, uint64_t seed, std::vector<double>& re, std::vector<double>& im)
{
    const uint32_t half = n / 2;
    re = random_values(n, seed);
    im = random_values(n, seed + 1000);
    im[0] = 0.0;
    im[half] = 0.0;
    for (uint32_t k = 1; k < half; ++k) {
        re[n - k] = re[k];
        im[n - k] = -im[k];
    }
}

struct VarispeedRig : ScratchRig {
    explicit VarispeedRig(uint32_t n) : ScratchRig(n, stale) {}
    // Time samples from index 0 (all n entries given).
    void load_time(const std::vector<double>& samples)
    {
        std::copy(samples.begin(), samples.end(), re.begin());
        std::fill(im.begin(), im.end(), 0.0);
        engine.timedomain = 1;
    }
    void load_spectrum(const std::vector<double>& spectrum_re, const std::vector<double>& spectrum_im)
    {
        re = spectrum_re;
        im = spectrum_im;
        engine.sigre = re.data();
        engine.sigim = im.data();
        engine.timedomain = 0;
    }
    void run_t(double factor)
    {
        engine.varispeedt = factor;
        ASSERT_EQ(engine.stage_varispeed_t(), 0);
    }
    void run_f(double factor)
    {
        engine.varispeedf = factor;
        ASSERT_EQ(engine.stage_varispeed_f(), 0);
    }
    const double* out_re() const { return engine.sigre; }
    const double* out_im() const { return engine.sigim; }
};

// The time variant's result for `source` (n samples) at `factor`.
void expect_time_result(const double* out, const std::vector<double>& source, double factor, const char* what)
{
    const uint32_t n = static_cast<uint32_t>(source.size()), half = n / 2;
    const std::vector<SteppedPosition> positions = stepped_positions(factor, half);
    for (uint32_t i = 0; i < half; ++i) {
        const KernelSum ref = kernel_sum(source, half, positions[i].center, positions[i].frac);
        ASSERT_NEAR(out[i], static_cast<double>(ref.value), tap_tolerance(ref))
            << what << " factor " << factor << ": output " << i;
        // Positions of H + 15 or more have no tap at all.
        if (positions[i].center >= int64_t{half} + 15) {
            ASSERT_EQ(out[i], 0.0) << what << " factor " << factor << ": output " << i;
        }
    }
    for (uint32_t i = half; i < n; ++i)
        ASSERT_EQ(out[i], 0.0) << what << ": output " << i;
}

// The frequency variant's result for the spectrum (re, im) at `factor`:
// the lower half against the kernel sum, the rest its exact mirror.
void expect_frequency_result(const double* out_re, const double* out_im, const std::vector<double>& re,
                             const std::vector<double>& im, double factor, const char* what)
{
    const uint32_t n = static_cast<uint32_t>(re.size()), half = n / 2;
    const std::vector<SteppedPosition> positions = stepped_positions(1.0 / factor, half + 1);
    for (uint32_t k = 0; k <= half; ++k) {
        const SpectrumSum ref = read_spectrum(re, im, half + 1, positions[k].center, positions[k].frac);
        ASSERT_NEAR(out_re[k], static_cast<double>(ref.re), tap_tolerance(ref))
            << what << " factor " << factor << ": bin " << k;
        if (k != 0 && k != half) {
            ASSERT_NEAR(out_im[k], static_cast<double>(ref.im), tap_tolerance(ref))
                << what << " factor " << factor << ": bin " << k;
        }
        if (positions[k].center >= int64_t{half} + 16) {
            ASSERT_EQ(out_re[k], 0.0) << what << " factor " << factor << ": bin " << k;
            ASSERT_EQ(out_im[k], 0.0) << what << " factor " << factor << ": bin " << k;
        }
    }
    EXPECT_EQ(out_im[0], 0.0) << what;
    EXPECT_EQ(out_im[half], 0.0) << what;
    for (uint32_t k = 1; k < half; ++k) {
        ASSERT_EQ(out_re[n - k], out_re[k]) << what << ": bin " << n - k;
        ASSERT_EQ(out_im[n - k], -out_im[k]) << what << ": bin " << n - k;
    }
}

// ---- time: whole positions -------------------------------------------------------------

TEST(VarispeedTime, FactorTwoReadsEverySecondSampleAndThenSilence)
{
    const uint32_t n = 1024, half = n / 2;
    std::vector<double> input = random_values(half, 1);
    input.resize(n, 0.0);
    VarispeedRig rig(n);
    rig.load_time(input);
    rig.run_t(2.0);
    for (uint32_t i = 0; 2 * i <= half - 1; ++i) {
        const KernelSum ref = kernel_sum(input, half, 2 * int64_t{i}, 0.0);
        ASSERT_NEAR(rig.out_re()[i], input[2 * i], tap_tolerance(ref)) << i;
    }
    // From H/2 on the positions are H or beyond: only the near-zero weights
    // of the taps below H, and from H + 15 on nothing.
    for (uint32_t i = half / 2; i < half; ++i) {
        const KernelSum ref = kernel_sum(input, half, 2 * int64_t{i}, 0.0);
        ASSERT_NEAR(rig.out_re()[i], 0.0, tap_tolerance(ref)) << i;
    }
    expect_time_result(rig.out_re(), input, 2.0, "whole");
}

TEST(VarispeedTime, FactorOneHalfKeepsEverySampleAndInterpolatesHalfway)
{
    const uint32_t n = 1024, half = n / 2;
    std::vector<double> input = random_values(half, 2);
    input.resize(n, 0.0);
    VarispeedRig rig(n);
    rig.load_time(input);
    rig.run_t(0.5);
    for (uint32_t m = 0; 2 * m + 1 < half; ++m) {
        const KernelSum even = kernel_sum(input, half, m, 0.0);
        ASSERT_NEAR(rig.out_re()[2 * m], input[m], tap_tolerance(even)) << m;
        const KernelSum odd = kernel_sum(input, half, m, 0.5);
        ASSERT_NEAR(rig.out_re()[2 * m + 1], static_cast<double>(odd.value), tap_tolerance(odd)) << m;
    }
}

// ---- time: any factor ---------------------------------------------------------------------

class VarispeedTimeFactor : public ::testing::TestWithParam<double> {};

TEST_P(VarispeedTimeFactor, MatchesSteppedPositionsAndADirectKernelSum)
{
    const double factor = GetParam();
    const uint32_t n = 2048;
    // The signal fills the lower half; the top holds values too, so that the
    // circular reads below index 0 are checked against something.
    std::vector<double> input = random_values(n, 3);
    VarispeedRig rig(n);
    rig.load_time(input);
    rig.run_t(factor);
    expect_time_result(rig.out_re(), input, factor, "time");
}

INSTANTIATE_TEST_SUITE_P(Factors, VarispeedTimeFactor,
                         ::testing::Values(1.0, 1.5, 0.75, 1.0594630943592953, 0.9438743126816935, 3.3, 0.1,
                                           7.0, 0.3333333333333333, 29.5));

// ---- frequency: whole positions -------------------------------------------------------------

TEST(VarispeedFrequency, FactorOneHalfTakesEverySecondBinAndClearsTheUpperBand)
{
    const uint32_t n = 1024, half = n / 2;
    std::vector<double> re, im;
    hermitian_spectrum(n, 4, re, im);
    VarispeedRig rig(n);
    rig.load_spectrum(re, im);
    rig.run_f(0.5);
    for (uint32_t k = 0; k <= half / 2; ++k) {
        const SpectrumSum ref = read_spectrum(re, im, half + 1, 2 * int64_t{k}, 0.0);
        ASSERT_NEAR(rig.out_re()[k], re[2 * k], tap_tolerance(ref)) << k;
        if (k != 0 && k != half) {
            ASSERT_NEAR(rig.out_im()[k], im[2 * k], tap_tolerance(ref)) << k;
        }
    }
    for (uint32_t k = half / 2 + 1; k <= half; ++k) {
        const SpectrumSum ref = read_spectrum(re, im, half + 1, 2 * int64_t{k}, 0.0);
        ASSERT_NEAR(rig.out_re()[k], 0.0, tap_tolerance(ref)) << k;
        ASSERT_NEAR(rig.out_im()[k], 0.0, tap_tolerance(ref)) << k;
    }
    expect_frequency_result(rig.out_re(), rig.out_im(), re, im, 0.5, "whole");
}

TEST(VarispeedFrequency, FactorTwoSpreadsTheBinsAndIgnoresTheTopOfTheOldBand)
{
    const uint32_t n = 1024, half = n / 2;
    std::vector<double> re, im;
    hermitian_spectrum(n, 5, re, im);
    VarispeedRig rig(n);
    rig.load_spectrum(re, im);
    rig.run_f(2.0);
    for (uint32_t m = 0; 2 * m <= half; ++m) {
        const SpectrumSum ref = read_spectrum(re, im, half + 1, m, 0.0);
        ASSERT_NEAR(rig.out_re()[2 * m], re[m], tap_tolerance(ref)) << m;
        if (m != 0 && 2 * m != half) {
            ASSERT_NEAR(rig.out_im()[2 * m], im[m], tap_tolerance(ref)) << m;
        }
    }
    expect_frequency_result(rig.out_re(), rig.out_im(), re, im, 2.0, "whole");
    const std::vector<double> first_re(rig.out_re(), rig.out_re() + n), first_im(rig.out_im(), rig.out_im() + n);

    // Old bins above H/2 + 15 (and their mirrors) are never reached by a tap.
    std::vector<double> other_re = re, other_im = im;
    for (uint32_t k = half / 2 + 16; k < half; ++k) {
        other_re[k] = other_re[n - k] = 100.0 + k;
        other_im[k] = 50.0 - k;
        other_im[n - k] = -other_im[k];
    }
    other_re[half] = -3.0;
    VarispeedRig other(n);
    other.load_spectrum(other_re, other_im);
    other.run_f(2.0);
    for (uint32_t k = 0; k < n; ++k) {
        ASSERT_EQ(other.out_re()[k], first_re[k]) << k;
        ASSERT_EQ(other.out_im()[k], first_im[k]) << k;
    }
}

TEST(VarispeedFrequency, BinZeroIsTheOldBinZeroAndReal)
{
    const uint32_t n = 512, half = n / 2;
    std::vector<double> re, im;
    hermitian_spectrum(n, 6, re, im);
    for (double factor : {0.5, 0.8, 1.5, 2.0, 3.7}) {
        VarispeedRig rig(n);
        rig.load_spectrum(re, im);
        rig.run_f(factor);
        // Position 0: the weight of bin 0 is 1, the others sin(pi k)/(pi k).
        const SpectrumSum ref = read_spectrum(re, im, half + 1, 0, 0.0);
        EXPECT_NEAR(rig.out_re()[0], re[0], tap_tolerance(ref)) << factor;
        EXPECT_EQ(rig.out_im()[0], 0.0) << factor;
    }
}

// ---- frequency: any factor ----------------------------------------------------------------

class VarispeedFrequencyFactor : public ::testing::TestWithParam<double> {};

TEST_P(VarispeedFrequencyFactor, MatchesSteppedPositionsAndADirectKernelSum)
{
    const double factor = GetParam();
    const uint32_t n = 2048;
    std::vector<double> re, im;
    hermitian_spectrum(n, 7, re, im);
    VarispeedRig rig(n);
    rig.load_spectrum(re, im);
    rig.run_f(factor);
    expect_frequency_result(rig.out_re(), rig.out_im(), re, im, factor, "frequency");
}

INSTANTIATE_TEST_SUITE_P(Factors, VarispeedFrequencyFactor,
                         ::testing::Values(1.0, 1.5, 0.75, 1.0594630943592953, 0.9438743126816935, 3.3, 0.1,
                                           7.0, 0.3333333333333333, 29.5));

// ---- a tone burst --------------------------------------------------------------------------

// A burst of peak level 1: a Hann envelope over samples 0 .. 2045 around
// sample 1023 (a multiple of 3, so that a factor of 1.5 lands its centre on
// sample 682 exactly), filled with a cosine of bin 400 peaking there.
constexpr uint32_t burst_n = 8192;
constexpr uint32_t burst_length = 2046;
constexpr uint32_t burst_center = 1023;
constexpr uint32_t burst_bin = 400;

std::vector<double> tone_burst()
{
    const double pi = std::numbers::pi;
    std::vector<double> x(burst_n, 0.0);
    for (uint32_t t = 0; t <= burst_length; ++t) {
        const double envelope = 0.5 * (1.0 - std::cos(2.0 * pi * t / burst_length));
        const double phase = 2.0 * pi * burst_bin * (static_cast<double>(t) - burst_center) / burst_n;
        x[t] = envelope * std::cos(phase);
    }
    return x;
}

struct BurstShape {
    double peak = 0;       // largest |sample|
    uint32_t at = 0;       // where
    uint32_t first = 0;    // first and last sample at or above 5% of the peak
    uint32_t last = 0;
    uint32_t bin = 0;      // strongest bin of the positive half
};

// Measures a time signal; `spectrum` is its transform.
BurstShape measure(const double* time, const double* spectrum_re, const double* spectrum_im, uint32_t n)
{
    BurstShape shape;
    for (uint32_t i = 0; i < n; ++i) {
        if (std::fabs(time[i]) > shape.peak) {
            shape.peak = std::fabs(time[i]);
            shape.at = i;
        }
    }
    bool seen = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (std::fabs(time[i]) >= 0.05 * shape.peak) {
            if (!seen)
                shape.first = i;
            seen = true;
            shape.last = i;
        }
    }
    double strongest = 0;
    for (uint32_t k = 1; k <= n / 2; ++k) {
        const double magnitude = std::hypot(spectrum_re[k], spectrum_im[k]);
        if (magnitude > strongest) {
            strongest = magnitude;
            shape.bin = k;
        }
    }
    return shape;
}

BurstShape original_shape()
{
    VarispeedRig rig(burst_n);
    rig.load_time(tone_burst());
    EXPECT_EQ(rig.engine.fft_init(), 0);
    const std::vector<double> time(rig.out_re(), rig.out_re() + burst_n);
    rig.engine.switch_domain();
    return measure(time.data(), rig.out_re(), rig.out_im(), burst_n);
}

TEST(VarispeedBurst, FrequencyVariantRaisesPitchAndLevelAndShortens)
{
    const BurstShape before = original_shape();
    ASSERT_EQ(before.bin, burst_bin);
    ASSERT_EQ(before.at, burst_center);

    VarispeedRig rig(burst_n);
    rig.load_time(tone_burst());
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.run_f(1.5);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"t->f ...\n", "vari-speed (f) ...\n"}));
    EXPECT_EQ(rig.engine.timedomain, 0);
    const std::vector<double> spectrum_re(rig.out_re(), rig.out_re() + burst_n);
    const std::vector<double> spectrum_im(rig.out_im(), rig.out_im() + burst_n);
    rig.engine.switch_domain();
    const BurstShape after = measure(rig.out_re(), spectrum_re.data(), spectrum_im.data(), burst_n);

    // The strongest bin moves from 400 to 600 (a Hann burst's main lobe is
    // symmetric, so interpolation keeps its maximum on the whole bin).
    EXPECT_EQ(after.bin, 600u);
    // Level times 1.5: the sum of the kernel's weights is within 5e-5 of 1
    // at any fraction, and the bins beyond the 31 taps carry a Hann burst's
    // far sidelobes only; 0.1% covers both with room (1.5001 measured).
    EXPECT_NEAR(after.peak, 1.5, 1.5e-3);
    EXPECT_EQ(after.at, burst_center * 2 / 3);
    // Two thirds as long, measured between the first and last samples at 5%
    // of the peak (152 .. 1894 before).  The carrier is stretched with its
    // envelope, so those samples keep their place on it; rounding to whole
    // samples at both ends of a span of ~1160 allows 0.2%, and 0.5% is set.
    const double ratio = static_cast<double>(after.last - after.first) / (before.last - before.first);
    EXPECT_NEAR(ratio, 2.0 / 3.0, 0.005) << after.first << " .. " << after.last;
}

TEST(VarispeedBurst, TimeVariantRaisesPitchAndShortensAtTheSameLevel)
{
    const BurstShape before = original_shape();

    VarispeedRig rig(burst_n);
    rig.load_time(tone_burst());
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.run_t(1.5);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"vari-speed (t) ...\n"});
    const std::vector<double> time(rig.out_re(), rig.out_re() + burst_n);
    rig.engine.switch_domain();
    const BurstShape after = measure(time.data(), rig.out_re(), rig.out_im(), burst_n);

    EXPECT_EQ(after.bin, 600u);
    // Output 682 reads input 1023 at a whole position: the peak itself.
    EXPECT_NEAR(after.peak, 1.0, 1e-12);
    EXPECT_EQ(after.at, burst_center * 2 / 3);
    // As for the frequency variant.
    const double ratio = static_cast<double>(after.last - after.first) / (before.last - before.first);
    EXPECT_NEAR(ratio, 2.0 / 3.0, 0.005) << after.first << " .. " << after.last;
}

// ---- factors far outside the useful range ---------------------------------------------------

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(VarispeedTime, HugeAndTinyFactorsFinishAtOnce)
{
    const uint32_t n = 1u << 16, half = n / 2;
    std::vector<double> input = random_values(half, 8);
    input.resize(n, 0.0);
    const KernelSum first = kernel_sum(input, half, 0, 0.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();

    // Faster than the signal is long: position 0, then nothing.  A factor
    // that is not a number >= 0 reads the same way.
    for (double factor : {1e300, std::numeric_limits<double>::max(), nan, -2.0}) {
        VarispeedRig rig(n);
        rig.load_time(input);
        const auto start = std::chrono::steady_clock::now();
        rig.run_t(factor);
        EXPECT_LT(seconds_since(start), 1.0) << factor;
        EXPECT_NEAR(rig.out_re()[0], input[0], tap_tolerance(first)) << factor;
        for (uint32_t i = 1; i < n; ++i)
            ASSERT_EQ(rig.out_re()[i], 0.0) << factor << ": output " << i;
    }

    // So slow that every position stays within 1e-295 of 0, where the kernel
    // is exactly the one of position 0: every output is the first.
    VarispeedRig rig(n);
    rig.load_time(input);
    const auto start = std::chrono::steady_clock::now();
    rig.run_t(1e-300);
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_NEAR(rig.out_re()[0], input[0], tap_tolerance(first));
    for (uint32_t i = 1; i < half; ++i)
        ASSERT_EQ(rig.out_re()[i], rig.out_re()[0]) << i;
    for (uint32_t i = half; i < n; ++i)
        ASSERT_EQ(rig.out_re()[i], 0.0) << i;
}

TEST(VarispeedFrequency, HugeAndTinyFactorsFinishAtOnce)
{
    const uint32_t n = 1u << 16, half = n / 2;
    std::vector<double> re, im;
    hermitian_spectrum(n, 9, re, im);
    const SpectrumSum first = read_spectrum(re, im, half + 1, 0, 0.0);

    // Step 1e300, or an infinite step (1 / 1e-310 overflows): bin 0 only.
    for (double factor : {1e-300, 1e-310, std::numeric_limits<double>::denorm_min()}) {
        VarispeedRig rig(n);
        rig.load_spectrum(re, im);
        const auto start = std::chrono::steady_clock::now();
        rig.run_f(factor);
        EXPECT_LT(seconds_since(start), 1.0) << factor;
        EXPECT_NEAR(rig.out_re()[0], re[0], tap_tolerance(first)) << factor;
        EXPECT_EQ(rig.out_im()[0], 0.0) << factor;
        for (uint32_t k = 1; k < n; ++k) {
            ASSERT_EQ(rig.out_re()[k], 0.0) << factor << ": bin " << k;
            ASSERT_EQ(rig.out_im()[k], 0.0) << factor << ": bin " << k;
        }
    }

    // Step 1e-300: every bin reads position 0, i.e. the old DC, and the
    // imaginary parts cancel to rounding (conjugate taps, equal weights).
    VarispeedRig rig(n);
    rig.load_spectrum(re, im);
    const auto start = std::chrono::steady_clock::now();
    rig.run_f(1e300);
    EXPECT_LT(seconds_since(start), 5.0);
    for (uint32_t k = 0; k < n; ++k) {
        ASSERT_EQ(rig.out_re()[k], rig.out_re()[0]) << k;
        ASSERT_NEAR(rig.out_im()[k], 0.0, tap_tolerance(first)) << k;
    }
    EXPECT_NEAR(rig.out_re()[0], re[0], tap_tolerance(first));
}

// ---- exchanges, domains, log -----------------------------------------------------------------

TEST(VarispeedTime, ExchangesOnlyTheRealArraysAndLogs)
{
    const uint32_t n = 256;
    VarispeedRig rig(n);
    std::vector<double> input = random_values(n / 2, 10);
    input.resize(n, 0.0);
    rig.load_time(input);
    rig.run_t(1.25);
    EXPECT_EQ(rig.engine.sigre, rig.scratch_re.data());
    EXPECT_EQ(rig.engine.tmpre, rig.re.data());
    EXPECT_EQ(rig.engine.sigim, rig.im.data());
    EXPECT_EQ(rig.engine.tmpim, rig.scratch_im.data());
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(rig.im[i], 0.0) << i;
        ASSERT_EQ(rig.scratch_im[i], stale) << i;
    }
    EXPECT_EQ(rig.engine.timedomain, 1);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"vari-speed (t) ...\n"});
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(VarispeedTime, OnASpectrumItSwitchesToTimeFirst)
{
    const uint32_t n = 512;
    std::vector<double> input = random_values(n / 2, 11);
    input.resize(n, 0.0);

    VarispeedRig twin(n);
    twin.load_time(input);
    ASSERT_EQ(twin.engine.fft_init(), 0);
    twin.engine.switch_domain();
    twin.engine.switch_domain();
    const std::vector<double> time_samples(twin.out_re(), twin.out_re() + n);

    VarispeedRig rig(n);
    rig.load_time(input);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.engine.switch_domain();
    rig.log.lines.clear();
    rig.run_t(0.8);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"f->t ...\n", "vari-speed (t) ...\n"}));
    EXPECT_EQ(rig.engine.timedomain, 1);
    expect_time_result(rig.out_re(), time_samples, 0.8, "from a spectrum");
}

TEST(VarispeedFrequency, ExchangesBothArraysAndLogs)
{
    const uint32_t n = 256;
    std::vector<double> re, im;
    hermitian_spectrum(n, 12, re, im);
    VarispeedRig rig(n);
    rig.load_spectrum(re, im);
    rig.run_f(1.25);
    EXPECT_EQ(rig.engine.sigre, rig.scratch_re.data());
    EXPECT_EQ(rig.engine.sigim, rig.scratch_im.data());
    EXPECT_EQ(rig.engine.tmpre, rig.re.data());
    EXPECT_EQ(rig.engine.tmpim, rig.im.data());
    EXPECT_EQ(rig.engine.timedomain, 0);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"vari-speed (f) ...\n"});
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(VarispeedFrequency, OnTimeSamplesItSwitchesToTheSpectrumFirst)
{
    const uint32_t n = 512;
    std::vector<double> input = random_values(n / 2, 13);
    input.resize(n, 0.0);

    VarispeedRig twin(n);
    twin.load_time(input);
    ASSERT_EQ(twin.engine.fft_init(), 0);
    twin.engine.switch_domain();
    const std::vector<double> re(twin.out_re(), twin.out_re() + n), im(twin.out_im(), twin.out_im() + n);

    VarispeedRig rig(n);
    rig.load_time(input);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.run_f(1.2);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"t->f ...\n", "vari-speed (f) ...\n"}));
    EXPECT_EQ(rig.engine.timedomain, 0);
    expect_frequency_result(rig.out_re(), rig.out_im(), re, im, 1.2, "from time");
}

} // namespace
