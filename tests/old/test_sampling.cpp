// The sampling stage (spectral images) against the plain shift-by-shift image
// sum, and the hold and aperture responses against their closed forms.
//
// Tolerances.
// - Images: every result bin is a plain sum of T source bins (T <=
//   ceil((N-1)/M)).  Recursive summation in any order is within
//   (T-1) * u * sum|x_i| of the exact sum (u = eps/2, first order), so two
//   orders differ by at most 2 (T-1) u sum|x_i| < T * eps * sum|x_i|, which
//   is the per-bin bound used.  T = 1 is exact (0 + x), and so is T = 0.
// - Hold and aperture: each factor comes from a handful of correctly rounded
//   operations and sin/cos (within an ulp or so), so the product with a bin
//   is within a few eps of |bin| relative; 8 * eps * (|re| + |im|) covers
//   that with margin.  Against a long double closed form, x itself carries
//   the rounding of (k / M) * (pi * value), about 2u * x absolute, which
//   turns the phase by as much; the bound adds x * eps for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/engine_rig.h"

namespace {

using vesk::test::ScratchRig;

constexpr double eps = std::numeric_limits<double>::epsilon();

// An engine in the frequency domain whose working and scratch pairs are the
// bench's own vectors; the scratch halves hold stale values of opposite sign.
struct Bench : ScratchRig {
    Bench(uint32_t n, uint32_t m) : ScratchRig(n, 7.0)
    {
        std::fill(scratch_im.begin(), scratch_im.end(), -7.0);
        engine.fssim_idx = m;
        engine.timedomain = 0;
    }

    // The current pair after a stage, which has exchanged it with the scratch.
    std::vector<double> out_re() const { return {engine.sigre, engine.sigre + re.size()}; }
    std::vector<double> out_im() const { return {engine.sigim, engine.sigim + im.size()}; }
};

void fill_random(std::vector<double>& v, std::mt19937& gen)
{
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (double& x : v)
        x = dist(gen);
}

// A random spectrum that is conjugate-symmetric apart from the imaginary
// parts of DC and Nyquist, which are left non-zero on purpose.
void fill_symmetric(std::vector<double>& re, std::vector<double>& im, std::mt19937& gen)
{
    fill_random(re, gen);
    fill_random(im, gen);
    const std::size_t n = re.size();
    for (std::size_t k = 1; k < n / 2; ++k) {
        re[n - k] = re[k];
        im[n - k] = -im[k];
    }
}

// ---------------------------------------------------------------------------
// The oracle: the image sum exactly as the stage is defined, shift by shift.

struct Images {
    std::vector<double> re, im;
    std::vector<double> abssum;  // per result bin: sum of |re| + |im| of its terms
    std::vector<unsigned> terms; // per result bin: number of source bins added
    unsigned count = 0;          // shifts that placed at least one bin
};

Images direct_images(uint32_t n, uint32_t m, const std::vector<double>& sre, const std::vector<double>& sim)
{
    const int64_t h = n / 2;
    Images out;
    out.re.assign(n, 0.0);
    out.im.assign(n, 0.0);
    out.abssum.assign(n, 0.0);
    out.terms.assign(n, 0);
    const int64_t c = int64_t{m} * ((int64_t{m} + n - 1) / m);
    for (int64_t d = -c; d <= c; d += m) {
        bool hit = false;
        for (int64_t i = -(h - 1); i <= h - 1; ++i) {
            const int64_t j = i + d;
            if (j >= 0 && j < h) {
                const std::size_t idx = static_cast<std::size_t>(i >= 0 ? i : i + n);
                out.re[j] += sre[idx];
                out.im[j] += sim[idx];
                out.abssum[j] += std::fabs(sre[idx]) + std::fabs(sim[idx]);
                ++out.terms[j];
                hit = true;
            }
        }
        if (hit)
            ++out.count;
    }
    // Conjugate-symmetric completion of the result.
    out.im[0] = 0.0;
    out.im[h] = 0.0;
    for (int64_t k = 1; k < h; ++k) {
        out.re[n - k] = out.re[k];
        out.im[n - k] = -out.im[k];
        out.abssum[n - k] = out.abssum[k];
        out.terms[n - k] = out.terms[k];
    }
    return out;
}

std::string count_line(unsigned count)
{
    return std::to_string(count) + " image(s)\n";
}

// ---------------------------------------------------------------------------
// Image counts and bin sums.

struct CountCase {
    uint32_t n, m;
    unsigned count;
};

class ImageCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(ImageCount, DependsOnSizeAndRateOnly)
{
    const CountCase& tc = GetParam();
    Bench bench(tc.n, tc.m);
    std::mt19937 gen(tc.m);
    fill_random(bench.re, gen);
    fill_random(bench.im, gen);
    EXPECT_EQ(bench.engine.stage_sampling(), 0);
    const std::vector<std::string> expected{"sampling ...\n", count_line(tc.count)};
    EXPECT_EQ(bench.log.lines, expected);
}

INSTANTIATE_TEST_SUITE_P(N16, ImageCount,
                         ::testing::Values(CountCase{16, 4, 5}, CountCase{16, 5, 4}, CountCase{16, 8, 2},
                                           CountCase{16, 15, 1}, CountCase{16, 16, 1}, CountCase{16, 17, 1},
                                           CountCase{16, 35, 1}, CountCase{16, UINT32_MAX, 1},
                                           // every shift from -7 to 14
                                           CountCase{16, 1, 22}));

TEST(Sampling, N16M8AddsTheImageOfTheNegativeBins)
{
    Bench bench(16, 8);
    // Small distinct integers: every sum is exact.
    for (uint32_t k = 0; k < 16; ++k) {
        bench.re[k] = 1.0 + k;
        bench.im[k] = -100.0 - 10.0 * k;
    }
    const std::vector<double> src_re = bench.re, src_im = bench.im;
    bench.engine.stage_sampling();
    const std::vector<double> re = bench.out_re(), im = bench.out_im();

    EXPECT_EQ(re[1], src_re[1] + src_re[9]);
    EXPECT_EQ(im[1], src_im[1] + src_im[9]);
    EXPECT_EQ(re[7], src_re[7] + src_re[15]);
    EXPECT_EQ(im[7], src_im[7] + src_im[15]);
    // Bin 0 has no partner within -(H-1) .. H-1: the source Nyquist bin
    // (index 8, bin +-8) takes no part.
    EXPECT_EQ(re[0], src_re[0]);
    EXPECT_EQ(im[0], 0.0);
    EXPECT_EQ(re[8], 0.0);
    EXPECT_EQ(im[8], 0.0);
    // The upper half mirrors the lower one.
    EXPECT_EQ(re[15], re[1]);
    EXPECT_EQ(im[15], -im[1]);
}

TEST(Sampling, ForAConjugateSymmetricInputBin7IsBin7PlusConjugateOfBin1)
{
    Bench bench(16, 8);
    std::mt19937 gen(16);
    fill_symmetric(bench.re, bench.im, gen);
    const std::complex<double> b1(bench.re[1], bench.im[1]), b7(bench.re[7], bench.im[7]);
    bench.engine.stage_sampling();
    const std::complex<double> expected = b7 + std::conj(b1);
    EXPECT_EQ(bench.engine.sigre[7], expected.real());
    EXPECT_EQ(bench.engine.sigim[7], expected.imag());
}

// ---------------------------------------------------------------------------
// The folded computation against the direct image sum.

std::vector<uint32_t> rates_for(uint32_t n, std::mt19937& gen)
{
    const uint32_t h = n / 2;
    std::set<uint32_t> rates{1, 2, 3, h - 1, h, h + 1, n - 1, n, 2 * n + 3};
    std::uniform_int_distribution<uint32_t> dist(1, 2 * n + 3);
    for (int r = 0; r < 4; ++r)
        rates.insert(dist(gen));
    rates.erase(0); // h - 1 at n = 2; fs-sim is at least one bin
    return {rates.begin(), rates.end()};
}

TEST(Sampling, FoldedSumEqualsDirectImageSum)
{
    std::mt19937 gen(20240607);
    int pairs = 0;
    for (uint32_t n = 2; n <= 1024; n *= 2) {
        for (uint32_t m : rates_for(n, gen)) {
            SCOPED_TRACE("n=" + std::to_string(n) + " m=" + std::to_string(m));
            Bench bench(n, m);
            fill_random(bench.re, gen);
            fill_random(bench.im, gen);
            const Images want = direct_images(n, m, bench.re, bench.im);

            EXPECT_EQ(bench.engine.stage_sampling(), 0);
            EXPECT_EQ(bench.engine.timedomain, 0);
            ASSERT_EQ(bench.log.lines.size(), 2u);
            EXPECT_EQ(bench.log.lines[1], count_line(want.count));

            const std::vector<double> re = bench.out_re(), im = bench.out_im();
            for (uint32_t k = 0; k < n; ++k) {
                const double tol = want.terms[k] * eps * want.abssum[k];
                ASSERT_NEAR(re[k], want.re[k], tol) << "bin " << k;
                ASSERT_NEAR(im[k], want.im[k], tol) << "bin " << k;
            }
            ++pairs;
        }
    }
    EXPECT_GT(pairs, 80);
}

TEST(Sampling, ExchangesThePairs)
{
    Bench bench(64, 5);
    bench.engine.stage_sampling();
    EXPECT_EQ(bench.engine.sigre, bench.scratch_re.data());
    EXPECT_EQ(bench.engine.sigim, bench.scratch_im.data());
    EXPECT_EQ(bench.engine.tmpre, bench.re.data());
    EXPECT_EQ(bench.engine.tmpim, bench.im.data());
}

class SamplingAnyRate : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SamplingAnyRate, ClearsNyquistAndImaginaryDc)
{
    const uint32_t n = 256, m = GetParam();
    Bench bench(n, m);
    std::mt19937 gen(m);
    fill_random(bench.re, gen);
    fill_random(bench.im, gen);
    bench.engine.stage_sampling();
    EXPECT_EQ(bench.engine.sigre[n / 2], 0.0);
    EXPECT_EQ(bench.engine.sigim[n / 2], 0.0);
    EXPECT_EQ(bench.engine.sigim[0], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, SamplingAnyRate, ::testing::Values(1u, 2u, 7u, 64u, 127u, 128u, 129u, 255u, 256u, 1000u));

class SamplingAboveWorkingRate : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SamplingAboveWorkingRate, LeavesASymmetricSpectrumAlone)
{
    const uint32_t n = 128, m = GetParam();
    Bench bench(n, m);
    std::mt19937 gen(m);
    fill_symmetric(bench.re, bench.im, gen);
    const std::vector<double> src_re = bench.re, src_im = bench.im;
    bench.engine.stage_sampling();
    EXPECT_EQ(bench.log.lines.back(), "1 image(s)\n");
    const std::vector<double> re = bench.out_re(), im = bench.out_im();
    for (uint32_t k = 0; k < n; ++k) {
        if (k == n / 2) {
            EXPECT_EQ(re[k], 0.0);
            EXPECT_EQ(im[k], 0.0);
        } else {
            EXPECT_EQ(re[k], src_re[k]) << "bin " << k;
            EXPECT_EQ(im[k], k == 0 ? 0.0 : src_im[k]) << "bin " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SamplingAboveWorkingRate, ::testing::Values(128u, 129u, 259u, 100000u, UINT32_MAX));

TEST(Sampling, SwitchesFromTimeFirst)
{
    const uint32_t n = 64;
    std::mt19937 gen(3);
    Bench from_time(n, 6), from_spectrum(n, 6);
    fill_random(from_time.re, gen);
    std::fill(from_time.im.begin(), from_time.im.end(), 0.0);
    from_spectrum.re = from_time.re;
    from_spectrum.im = from_time.im;
    for (Bench* bench : {&from_time, &from_spectrum})
        ASSERT_EQ(bench->engine.fft_init(), 0);

    from_time.engine.timedomain = 1;
    from_time.engine.stage_sampling();
    const std::vector<std::string> expected{"t->f ...\n", "sampling ...\n", "16 image(s)\n"};
    EXPECT_EQ(from_time.log.lines, expected);
    EXPECT_EQ(from_time.engine.timedomain, 0);

    // The same as switching by hand and then sampling the spectrum.
    from_spectrum.engine.timedomain = 1;
    from_spectrum.engine.switch_domain();
    from_spectrum.engine.stage_sampling();
    EXPECT_EQ(from_time.out_re(), from_spectrum.out_re());
    EXPECT_EQ(from_time.out_im(), from_spectrum.out_im());
}

// ---------------------------------------------------------------------------
// Hold and aperture.

constexpr int hold = 0;
constexpr int aperture_mode = 1;

double x_of(uint32_t k, uint32_t m, double value)
{
    return (static_cast<double>(k) / static_cast<double>(m)) * (std::numbers::pi * value);
}

double bin_tol(double re, double im)
{
    return 8.0 * eps * (std::fabs(re) + std::fabs(im));
}

struct ResponseCase {
    uint32_t n, m;
};

class HoldAperture : public ::testing::TestWithParam<ResponseCase> {
protected:
    // Runs one stage on a fresh random spectrum (the same one for a given
    // case) and returns the bench.
    static void run(Bench& bench, int mode, double value)
    {
        std::mt19937 gen(bench.engine.sampnump * 31 + bench.engine.fssim_idx);
        fill_symmetric(bench.re, bench.im, gen);
        bench.im[0] = 0.0;
        EXPECT_EQ(bench.engine.stage_hold_aperture(nullptr, mode, value), 0);
        EXPECT_TRUE(bench.log.lines.empty());
        EXPECT_EQ(bench.engine.timedomain, 0);
    }
};

TEST_P(HoldAperture, HoldAtChosenBins)
{
    const auto [n, m] = GetParam();
    Bench bench(n, m);
    run(bench, hold, 1.0);
    const std::vector<double> re = bench.out_re(), im = bench.out_im();
    const uint32_t h = n / 2;

    EXPECT_EQ(re[0], bench.re[0]);
    EXPECT_EQ(im[0], 0.0);
    if (m % 2 == 0 && m / 2 < h) {
        const double g = 2.0 / std::numbers::pi;
        EXPECT_NEAR(re[m / 2], bench.re[m / 2] * g, bin_tol(bench.re[m / 2], 0.0));
        EXPECT_NEAR(im[m / 2], bench.im[m / 2] * g, bin_tol(0.0, bench.im[m / 2]));
    }
    if (m <= h) {
        // sin(pi) / pi in doubles is about 4e-17.
        EXPECT_LE(std::fabs(re[m]), eps * std::fabs(bench.re[m]));
        EXPECT_LE(std::fabs(im[m]), eps * std::fabs(bench.im[m]));
    }
    // Nyquist: processed like every other bin, then made real.
    const double x = x_of(h, m, 1.0);
    EXPECT_NEAR(re[h], bench.re[h] * (std::sin(x) / x), bin_tol(bench.re[h], 0.0));
    EXPECT_EQ(im[h], 0.0);
    // Conjugate-symmetric result.
    for (uint32_t k = 1; k < h; ++k) {
        EXPECT_EQ(re[n - k], re[k]);
        EXPECT_EQ(im[n - k], -im[k]);
    }
}

TEST_P(HoldAperture, ApertureAtChosenBins)
{
    const auto [n, m] = GetParam();
    Bench bench(n, m);
    run(bench, aperture_mode, 1.0);
    const std::vector<double> re = bench.out_re(), im = bench.out_im();
    const uint32_t h = n / 2;

    EXPECT_EQ(re[0], bench.re[0]);
    EXPECT_EQ(im[0], 0.0);
    if (m % 2 == 0 && m / 2 < h) {
        // Multiplied by -j 2/pi: (re + j im)(-j g) = g im - j g re.
        const uint32_t k = m / 2;
        const double g = 2.0 / std::numbers::pi;
        const double tol = bin_tol(bench.re[k], bench.im[k]);
        EXPECT_NEAR(re[k], g * bench.im[k], tol);
        EXPECT_NEAR(im[k], -g * bench.re[k], tol);
    }
    // Nyquist: re * a - im * b, imaginary part cleared.
    const double x = x_of(h, m, 1.0);
    const double s = std::sin(x) / x;
    const double a = s * std::cos(x), b = -s * std::sin(x);
    EXPECT_NEAR(re[h], bench.re[h] * a - bench.im[h] * b, bin_tol(bench.re[h], bench.im[h]));
    EXPECT_EQ(im[h], 0.0);
    for (uint32_t k = 1; k < h; ++k) {
        EXPECT_EQ(re[n - k], re[k]);
        EXPECT_EQ(im[n - k], -im[k]);
    }
}

TEST_P(HoldAperture, ApertureIsHoldDelayedByHalfAPeriod)
{
    const auto [n, m] = GetParam();
    Bench held(n, m), windowed(n, m);
    run(held, hold, 1.0);
    run(windowed, aperture_mode, 1.0);
    ASSERT_EQ(held.re, windowed.re);
    for (uint32_t k = 1; k < n / 2; ++k) {
        const std::complex<double> h(held.engine.sigre[k], held.engine.sigim[k]);
        const std::complex<double> w(windowed.engine.sigre[k], windowed.engine.sigim[k]);
        const double tol = bin_tol(held.re[k], held.im[k]);
        EXPECT_NEAR(std::abs(w), std::abs(h), tol) << "bin " << k;
        const std::complex<double> delayed = h * std::polar(1.0, -x_of(k, m, 1.0));
        EXPECT_NEAR(w.real(), delayed.real(), tol) << "bin " << k;
        EXPECT_NEAR(w.imag(), delayed.imag(), tol) << "bin " << k;
    }
}

// Needs bins between DC and Nyquist, so no N = 2 here.
class QuarterAperture : public HoldAperture {};

TEST_P(QuarterAperture, AgainstClosedFormAtRandomBins)
{
    const auto [n, m] = GetParam();
    Bench bench(n, m);
    run(bench, aperture_mode, 0.25);
    const uint32_t h = n / 2;
    std::mt19937 gen(n + m);
    std::uniform_int_distribution<uint32_t> pick(1, h - 1);
    for (int t = 0; t < 20; ++t) {
        const uint32_t k = pick(gen);
        const long double x = std::numbers::pi_v<long double> * 0.25L * k / m;
        const std::complex<long double> factor = std::polar(std::sin(x) / x, -x);
        const std::complex<long double> want = std::complex<long double>(bench.re[k], bench.im[k]) * factor;
        const double tol = (8.0 + static_cast<double>(x)) * eps * (std::fabs(bench.re[k]) + std::fabs(bench.im[k]));
        EXPECT_NEAR(bench.engine.sigre[k], static_cast<double>(want.real()), tol) << "bin " << k;
        EXPECT_NEAR(bench.engine.sigim[k], static_cast<double>(want.imag()), tol) << "bin " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HoldAperture,
                         ::testing::Values(ResponseCase{16, 8}, ResponseCase{64, 8}, ResponseCase{64, 7},
                                           ResponseCase{256, 2}, ResponseCase{256, 3}, ResponseCase{256, 128},
                                           ResponseCase{256, 300}, ResponseCase{1024, 10},
                                           ResponseCase{1024, 4096}, ResponseCase{2, 1}, ResponseCase{2, 2}));

INSTANTIATE_TEST_SUITE_P(Sizes, QuarterAperture,
                         ::testing::Values(ResponseCase{4, 1}, ResponseCase{16, 8}, ResponseCase{64, 7},
                                           ResponseCase{256, 3}, ResponseCase{1024, 10}, ResponseCase{1024, 4096},
                                           ResponseCase{65536, 5}));

TEST(HoldAperture, ExchangesThePairs)
{
    Bench bench(32, 4);
    bench.engine.stage_hold_aperture(nullptr, hold, 1.0);
    EXPECT_EQ(bench.engine.sigre, bench.scratch_re.data());
    EXPECT_EQ(bench.engine.sigim, bench.scratch_im.data());
    EXPECT_EQ(bench.engine.tmpre, bench.re.data());
    EXPECT_EQ(bench.engine.tmpim, bench.im.data());
}

TEST(HoldAperture, LogsItsLabelVerbatim)
{
    for (const char* label : {"hold ...\n", "aperture ...\n", "50% ...\n"}) {
        Bench bench(32, 4);
        bench.engine.stage_hold_aperture(label, aperture_mode, 0.5);
        const std::vector<std::string> expected{label};
        EXPECT_EQ(bench.log.lines, expected);
    }
}

TEST(HoldAperture, SwitchesFromTimeBeforeTheLabel)
{
    const uint32_t n = 64;
    std::mt19937 gen(9);
    Bench from_time(n, 8), from_spectrum(n, 8);
    fill_random(from_time.re, gen);
    std::fill(from_time.im.begin(), from_time.im.end(), 0.0);
    from_spectrum.re = from_time.re;
    from_spectrum.im = from_time.im;
    for (Bench* bench : {&from_time, &from_spectrum}) {
        ASSERT_EQ(bench->engine.fft_init(), 0);
        bench->engine.timedomain = 1;
    }

    from_time.engine.stage_hold_aperture("hold ...\n", hold, 1.0);
    const std::vector<std::string> expected{"t->f ...\n", "hold ...\n"};
    EXPECT_EQ(from_time.log.lines, expected);
    EXPECT_EQ(from_time.engine.timedomain, 0);

    from_spectrum.engine.switch_domain();
    from_spectrum.engine.stage_hold_aperture(nullptr, hold, 1.0);
    EXPECT_EQ(from_time.out_re(), from_spectrum.out_re());
    EXPECT_EQ(from_time.out_im(), from_spectrum.out_im());
}

} // namespace
