// The band filter on whole-bin signals and on hand-made spectra: what it
// keeps, what it clears, the conjugate-symmetric completion and its log.
//
// Tolerances.  A time signal that goes through the forward transform, the
// filter and the inverse transform carries the error of two transforms: per
// sample at most C * eps * log2(N) * ||x||_2 (normwise FFT bound, the 1/N of
// the inverse cancelling the sqrt(N) growth of each direction), C = 16 for
// both directions together.  Where the filter itself only copies or clears
// values, the checks are exact.
#include <gtest/gtest.h>

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
using vesk::test::log2_of;

constexpr double eps = std::numeric_limits<double>::epsilon();

double norm2(const std::vector<double>& v)
{
    long double sum = 0;
    for (double x : v)
        sum += static_cast<long double>(x) * x;
    return static_cast<double>(std::sqrt(sum));
}

double round_trip_tolerance(uint32_t n, const std::vector<double>& signal)
{
    return 16.0 * eps * log2_of(n) * norm2(signal);
}

// A sine of exactly `bin` periods over n samples (phase reduced in integers).
std::vector<double> bin_sine(uint32_t n, uint32_t bin, double amplitude)
{
    std::vector<double> v(n);
    for (uint32_t i = 0; i < n; ++i)
        v[i] = amplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>((uint64_t{bin} * i) % n) / n);
    return v;
}

struct FilterRig : EngineRig {
    explicit FilterRig(uint32_t n) : EngineRig(n) { EXPECT_EQ(engine.fft_init(), 0); }
    void set_time(const std::vector<double>& samples)
    {
        re = samples;
        im.assign(re.size(), 0.0);
        engine.sigre = re.data();
        engine.sigim = im.data();
        engine.timedomain = 1;
    }
    // A spectrum with no symmetry at all, straight into the working pair.
    void set_random_spectrum(uint64_t seed)
    {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        for (std::size_t k = 0; k < re.size(); ++k) {
            re[k] = uniform(rng);
            im[k] = uniform(rng);
        }
        engine.timedomain = 0;
    }
    void to_time()
    {
        if (engine.timedomain == 0)
            engine.switch_domain();
    }
};

// Every bin k in 1 .. n/2-1 is mirrored exactly into n-k; DC and Nyquist are real.
void expect_hermitian(const FilterRig& rig)
{
    const std::size_t n = rig.re.size(), h = n / 2;
    EXPECT_EQ(rig.im[0], 0.0);
    EXPECT_EQ(rig.im[h], 0.0);
    for (std::size_t k = 1; k < h; ++k) {
        ASSERT_EQ(rig.re[n - k], rig.re[k]) << k;
        ASSERT_EQ(rig.im[n - k], -rig.im[k]) << k;
    }
}

// ---- whole-bin sines ------------------------------------------------------------

struct SineCase {
    uint32_t n, lo, hi, bin;
    const char* name;
};

class BandFilterSine : public ::testing::TestWithParam<SineCase> {};

TEST_P(BandFilterSine, InsideTheBandPassesUnchanged)
{
    const SineCase& c = GetParam();
    ASSERT_LE(c.lo, c.bin);
    ASSERT_LE(c.bin, c.hi);
    FilterRig rig(c.n);
    const std::vector<double> input = bin_sine(c.n, c.bin, 0.5);
    rig.set_time(input);
    rig.engine.switch_domain();
    const std::vector<double> spectrum_re = rig.re, spectrum_im = rig.im;

    ASSERT_EQ(rig.engine.band_filter(nullptr, c.lo, c.hi), 0);
    // The passband is not touched at all (away from DC and Nyquist, which
    // the filter makes real).
    for (uint32_t k = std::max(c.lo, 1u); k <= std::min(c.hi, c.n / 2 - 1); ++k) {
        ASSERT_EQ(rig.re[k], spectrum_re[k]) << c.name << " bin " << k;
        ASSERT_EQ(rig.im[k], spectrum_im[k]) << c.name << " bin " << k;
    }
    rig.to_time();
    const double tol = round_trip_tolerance(c.n, input);
    for (uint32_t i = 0; i < c.n; ++i)
        ASSERT_NEAR(rig.re[i], input[i], tol) << c.name << " sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Bands, BandFilterSine,
    ::testing::Values(SineCase{64, 0, 10, 5, "lowpass_middle"}, SineCase{64, 0, 10, 10, "lowpass_at_corner"},
                      SineCase{64, 4, 31, 4, "highpass_at_corner"}, SineCase{64, 4, 20, 12, "bandpass"},
                      SineCase{64, 7, 7, 7, "single_bin"}, SineCase{64, 1, 30, 30, "one_below_nyquist"},
                      SineCase{1024, 100, 200, 150, "long_bandpass"}, SineCase{1024, 0, 1, 1, "long_lowest"},
                      SineCase{1024, 3, 511, 510, "long_top"}, SineCase{8, 1, 2, 2, "short"}),
    [](const ::testing::TestParamInfo<SineCase>& info) { return std::string(info.param.name); });

// A sine on a bin just outside the band: the one above hi or below lo.
class BandFilterStopband : public ::testing::TestWithParam<SineCase> {};

TEST_P(BandFilterStopband, ASineJustOutsideTheBandVanishes)
{
    const SineCase& c = GetParam();
    ASSERT_TRUE(c.bin == c.hi + 1 || c.bin + 1 == c.lo);
    FilterRig rig(c.n);
    const std::vector<double> input = bin_sine(c.n, c.bin, 0.5);
    rig.set_time(input);
    ASSERT_EQ(rig.engine.band_filter(nullptr, c.lo, c.hi), 0);
    // Cleared, not attenuated.
    EXPECT_EQ(rig.re[c.bin], 0.0);
    EXPECT_EQ(rig.im[c.bin], 0.0);
    EXPECT_EQ(rig.re[c.n - c.bin], 0.0);
    EXPECT_EQ(rig.im[c.n - c.bin], 0.0);
    rig.to_time();
    // What remains is the transform's rounding noise in the passband.
    const double tol = round_trip_tolerance(c.n, input);
    for (uint32_t i = 0; i < c.n; ++i)
        ASSERT_NEAR(rig.re[i], 0.0, tol) << c.name << " sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Bands, BandFilterStopband,
    ::testing::Values(SineCase{64, 0, 10, 11, "above_lowpass"}, SineCase{64, 4, 20, 21, "above_bandpass"},
                      SineCase{64, 4, 20, 3, "below_bandpass"}, SineCase{64, 7, 7, 8, "above_single_bin"},
                      SineCase{64, 7, 7, 6, "below_single_bin"}, SineCase{64, 0, 30, 31, "last_below_nyquist"},
                      SineCase{64, 2, 31, 1, "lowest_bin"}, SineCase{1024, 100, 200, 201, "long_above"},
                      SineCase{1024, 100, 200, 99, "long_below"}, SineCase{8, 2, 2, 3, "short"}),
    [](const ::testing::TestParamInfo<SineCase>& info) { return std::string(info.param.name); });

// ---- hand-made spectra ------------------------------------------------------------

TEST(BandFilter, FullBandOnlyMakesDcAndNyquistRealAndMirrors)
{
    const uint32_t n = 32, h = n / 2;
    FilterRig rig(n);
    rig.set_random_spectrum(1);
    const std::vector<double> re0 = rig.re, im0 = rig.im;
    ASSERT_EQ(rig.engine.band_filter(nullptr, 0, h), 0);
    for (uint32_t k = 0; k <= h; ++k) {
        ASSERT_EQ(rig.re[k], re0[k]) << k;
        if (k != 0 && k != h) {
            ASSERT_EQ(rig.im[k], im0[k]) << k;
        }
    }
    expect_hermitian(rig);
    EXPECT_EQ(rig.engine.timedomain, 0);
}

TEST(BandFilter, LowCornerOneRemovesTheOffset)
{
    const uint32_t n = 256;
    FilterRig rig(n);
    std::vector<double> input = bin_sine(n, 9, 0.25);
    for (double& v : input)
        v += 0.3;
    rig.set_time(input);
    ASSERT_EQ(rig.engine.band_filter(nullptr, 1, n / 2), 0);
    EXPECT_EQ(rig.re[0], 0.0);
    EXPECT_EQ(rig.im[0], 0.0);
    rig.to_time();
    const std::vector<double> sine = bin_sine(n, 9, 0.25);
    const double tol = round_trip_tolerance(n, input);
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_NEAR(rig.re[i], sine[i], tol) << i;
}

TEST(BandFilter, LowAndHighCornerZeroKeepOnlyDcAndNyquist)
{
    const uint32_t n = 32, h = n / 2;
    FilterRig rig(n);
    rig.set_random_spectrum(2);
    const std::vector<double> re0 = rig.re;
    ASSERT_EQ(rig.engine.band_filter(nullptr, 0, 0), 0);
    EXPECT_EQ(rig.re[0], re0[0]);
    EXPECT_EQ(rig.re[h], re0[h]);
    for (uint32_t k = 0; k < n; ++k) {
        ASSERT_EQ(rig.im[k], 0.0) << k;
        if (k != 0 && k != h) {
            ASSERT_EQ(rig.re[k], 0.0) << k;
        }
    }
}

TEST(BandFilter, InvertedCornersClearEverythingButTheNyquistRealPart)
{
    struct Case {
        uint32_t lo, hi;
    };
    const uint32_t n = 64, h = n / 2;
    for (const Case& c : {Case{10, 5}, Case{1, 0}, Case{h, 0}, Case{h, h - 1}, Case{20, 19}}) {
        FilterRig rig(n);
        rig.set_random_spectrum(3 + c.lo);
        const double nyquist = rig.re[h];
        ASSERT_EQ(rig.engine.band_filter(nullptr, c.lo, c.hi), 0);
        for (uint32_t k = 0; k < n; ++k) {
            if (k == h) {
                ASSERT_EQ(rig.re[k], nyquist) << c.lo << "/" << c.hi;
            } else {
                ASSERT_EQ(rig.re[k], 0.0) << c.lo << "/" << c.hi << " bin " << k;
            }
            ASSERT_EQ(rig.im[k], 0.0) << c.lo << "/" << c.hi << " bin " << k;
        }
    }
}

TEST(BandFilter, CompletesAnyInputToAConjugateSymmetricSpectrum)
{
    const uint32_t n = 128;
    struct Case {
        uint32_t lo, hi;
    };
    for (const Case& c : {Case{0, 64}, Case{0, 63}, Case{3, 40}, Case{0, 0}, Case{64, 64}}) {
        FilterRig rig(n);
        rig.set_random_spectrum(100 + c.hi);
        const std::vector<double> positive_re(rig.re.begin(), rig.re.begin() + n / 2);
        ASSERT_EQ(rig.engine.band_filter(nullptr, c.lo, c.hi), 0);
        expect_hermitian(rig);
        // The negative half came from the positive one, not from what the
        // upper entries held before.
        for (uint32_t k = std::max(c.lo, 1u); k <= std::min(c.hi, n / 2 - 1); ++k)
            ASSERT_EQ(rig.re[n - k], positive_re[k]) << k;

        // Hence the unscaled inverse is real: its imaginary part is rounding
        // noise of one transform of the filtered spectrum.
        std::vector<double> re = rig.re, im = rig.im;
        rig.engine.fft(re.data(), im.data(), n, 0, 1, 1);
        std::vector<double> both = rig.re;
        both.insert(both.end(), rig.im.begin(), rig.im.end());
        const double tol = 8.0 * eps * log2_of(n) * std::sqrt(static_cast<double>(n)) * norm2(both);
        for (uint32_t i = 0; i < n; ++i)
            ASSERT_NEAR(im[i], 0.0, tol) << c.lo << "/" << c.hi << " sample " << i;
    }
}

TEST(BandFilter, CornerNearTheTopOfTheUnsignedRangeClearsNothingAbove)
{
    // hi + 1 must not wrap to 0 and be taken for a corner below the band.
    const uint32_t n = 16;
    FilterRig rig(n);
    rig.set_random_spectrum(4);
    const std::vector<double> re0 = rig.re;
    ASSERT_EQ(rig.engine.band_filter(nullptr, 0, UINT32_MAX), 0);
    for (uint32_t k = 0; k <= n / 2; ++k)
        ASSERT_EQ(rig.re[k], re0[k]) << k;
}

// ---- log ---------------------------------------------------------------------------------

TEST(BandFilter, FromTimeItLogsTheSwitchBeforeItsLabel)
{
    FilterRig rig(64);
    rig.set_time(bin_sine(64, 3, 0.5));
    ASSERT_EQ(rig.engine.band_filter("input filter ...\n", 0, 10), 0);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"t->f ...\n", "input filter ...\n"}));
    EXPECT_EQ(rig.engine.timedomain, 0);
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(BandFilter, OnASpectrumItLogsOnlyItsLabel)
{
    FilterRig rig(64);
    rig.set_random_spectrum(5);
    ASSERT_EQ(rig.engine.band_filter("output filter ...\n", 2, 10), 0);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"output filter ...\n"});
    EXPECT_EQ(rig.engine.timedomain, 0);
}

TEST(BandFilter, WithoutLabelItLogsNothingOfItsOwn)
{
    FilterRig rig(64);
    rig.set_time(bin_sine(64, 3, 0.5));
    ASSERT_EQ(rig.engine.band_filter(nullptr, 0, 10), 0);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"t->f ...\n"});
    rig.log.lines.clear();
    ASSERT_EQ(rig.engine.band_filter(nullptr, 0, 10), 0);
    EXPECT_TRUE(rig.log.lines.empty());
}

TEST(BandFilter, TheLabelIsLoggedVerbatim)
{
    FilterRig rig(16);
    rig.set_random_spectrum(6);
    ASSERT_EQ(rig.engine.band_filter("100% %s %d filter\n", 0, 8), 0);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"100% %s %d filter\n"});
}

} // namespace
