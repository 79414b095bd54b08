// The spectral transform against a plain O(N^2) DFT evaluated in long double,
// plus the exact cases (N = 2, impulses, integer-frequency cosines), the
// domain switch and the lifetime of the tables.
//
// Tolerances.  For a radix-2 FFT the error is bounded normwise:
//   ||X_fft - X||_2 <= log2(N) * eta * ||X||_2,  eta = mu + O(u),
// where u is the unit roundoff and mu the error of a twiddle factor (here a
// few u: the angle step * i is rounded once, then cos/sin of it).  Every
// component is at most the 2-norm of the error, and ||X||_2 = sqrt(N)
// ||x||_2, so a per-bin bound is  C * eps * log2(N) * sqrt(N) * ||x||_2.
// C = 8 covers eta with margin; typical errors stay far below the bound,
// while a wrong twiddle or a misplaced output exceeds it by many orders of
// magnitude.  The reference is long double and adds nothing at this scale.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
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
using cld = std::complex<long double>;

// The oracle: X[k] = sum_m x[m] e^(-/+ 2 pi i m k / N), unscaled both ways.
// The phase index m*k is reduced mod N before it becomes an angle, so the
// twiddles are as accurate as long double allows for every k.
std::vector<cld> direct_dft(const std::vector<double>& re, const std::vector<double>& im, bool inverse)
{
    const std::size_t n = re.size();
    const long double two_pi = 6.283185307179586476925286766559L;
    std::vector<cld> twiddle(n);
    for (std::size_t j = 0; j < n; ++j) {
        const long double angle = two_pi * static_cast<long double>(j) / static_cast<long double>(n);
        twiddle[j] = cld(std::cos(angle), inverse ? std::sin(angle) : -std::sin(angle));
    }
    std::vector<cld> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        cld sum = 0;
        for (std::size_t m = 0; m < n; ++m)
            sum += cld(re[m], im[m]) * twiddle[(m * k) % n];
        out[k] = sum;
    }
    return out;
}

double norm2(const std::vector<double>& re, const std::vector<double>& im)
{
    long double sum = 0;
    for (std::size_t i = 0; i < re.size(); ++i)
        sum += static_cast<long double>(re[i]) * re[i] + static_cast<long double>(im[i]) * im[i];
    return static_cast<double>(std::sqrt(sum));
}

// Per-bin bound of the header comment.
double fft_tolerance(uint32_t n, double input_norm2)
{
    return 8.0 * eps * log2_of(n) * std::sqrt(static_cast<double>(n)) * input_norm2;
}

// An engine with the transform set up for n, working on the test's vectors.
struct TransformRig : EngineRig {
    explicit TransformRig(uint32_t n) : EngineRig(n) { EXPECT_EQ(engine.fft_init(), 0); }
    void forward() { engine.fft(re.data(), im.data(), engine.sampnump, 0, 1, 0); }
    void inverse() { engine.fft(re.data(), im.data(), engine.sampnump, 0, 1, 1); }
};

std::vector<uint32_t> powers_of_two_up_to_1024()
{
    std::vector<uint32_t> sizes;
    for (uint32_t n = 2; n <= 1024; n *= 2)
        sizes.push_back(n);
    return sizes;
}

// ---- against the direct DFT ----------------------------------------------------

class TransformVsDirectDft : public ::testing::TestWithParam<uint32_t> {};

TEST_P(TransformVsDirectDft, ForwardAndInverseOfRandomComplexInputs)
{
    const uint32_t n = GetParam();
    std::mt19937_64 rng(1000 + n);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    // More trials for the small sizes, where they are cheap and where every
    // butterfly is close to the edge of the array.
    const int trials = n <= 64 ? 40 : (n <= 256 ? 12 : 4);
    double worst_ratio = 0.0;
    for (int trial = 0; trial < trials; ++trial) {
        for (int direction = 0; direction < 2; ++direction) {
            TransformRig rig(n);
            for (uint32_t i = 0; i < n; ++i) {
                rig.re[i] = uniform(rng);
                // Every third trial is a real input, the common case.
                rig.im[i] = trial % 3 == 0 ? 0.0 : uniform(rng);
            }
            const std::vector<cld> expected = direct_dft(rig.re, rig.im, direction == 1);
            const double tol = fft_tolerance(n, norm2(rig.re, rig.im));
            if (direction == 0)
                rig.forward();
            else
                rig.inverse();
            for (uint32_t k = 0; k < n; ++k) {
                const double err_re = std::fabs(rig.re[k] - static_cast<double>(expected[k].real()));
                const double err_im = std::fabs(rig.im[k] - static_cast<double>(expected[k].imag()));
                ASSERT_LE(err_re, tol) << "n=" << n << " bin " << k << " inverse=" << direction;
                ASSERT_LE(err_im, tol) << "n=" << n << " bin " << k << " inverse=" << direction;
                worst_ratio = std::max({worst_ratio, err_re / tol, err_im / tol});
            }
        }
    }
    // A bound that is loose by orders of magnitude would prove little.
    RecordProperty("worst_error_over_tolerance", std::to_string(worst_ratio));
}

TEST_P(TransformVsDirectDft, InverseOfForwardIsNTimesTheInput)
{
    const uint32_t n = GetParam();
    std::mt19937_64 rng(2000 + n);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    TransformRig rig(n);
    for (uint32_t i = 0; i < n; ++i) {
        rig.re[i] = uniform(rng);
        rig.im[i] = uniform(rng);
    }
    const std::vector<double> re0 = rig.re, im0 = rig.im;
    rig.forward();
    rig.inverse();
    // Two transforms, the second on a signal sqrt(N) larger in 2-norm: the
    // bound doubles and is scaled by N.
    const double tol = 2.0 * n * fft_tolerance(n, norm2(re0, im0)) / std::sqrt(static_cast<double>(n));
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_NEAR(rig.re[i], n * re0[i], tol) << "n=" << n << " i=" << i;
        ASSERT_NEAR(rig.im[i], n * im0[i], tol) << "n=" << n << " i=" << i;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPowerOfTwo, TransformVsDirectDft, ::testing::ValuesIn(powers_of_two_up_to_1024()),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return "N" + std::to_string(info.param);
                         });

TEST(TransformSubsequence, OffsetAndStrideTransformOnlyTheirSlice)
{
    // A length-64 transform at offset 128 of a 1024 table set-up uses every
    // 16th twiddle and must leave the rest of the arrays alone.
    const uint32_t n = 1024, sub = 64, offset = 128;
    TransformRig rig(n);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (uint32_t i = 0; i < n; ++i) {
        rig.re[i] = uniform(rng);
        rig.im[i] = uniform(rng);
    }
    const std::vector<double> re0 = rig.re, im0 = rig.im;
    const std::vector<double> slice_re(re0.begin() + offset, re0.begin() + offset + sub);
    const std::vector<double> slice_im(im0.begin() + offset, im0.begin() + offset + sub);
    const std::vector<cld> expected = direct_dft(slice_re, slice_im, false);
    rig.engine.fft(rig.re.data(), rig.im.data(), sub, offset, n / sub, 0);
    const double tol = fft_tolerance(sub, norm2(slice_re, slice_im));
    for (uint32_t i = 0; i < n; ++i) {
        if (i >= offset && i < offset + sub) {
            EXPECT_NEAR(rig.re[i], static_cast<double>(expected[i - offset].real()), tol) << i;
            EXPECT_NEAR(rig.im[i], static_cast<double>(expected[i - offset].imag()), tol) << i;
        } else {
            EXPECT_EQ(rig.re[i], re0[i]) << i;
            EXPECT_EQ(rig.im[i], im0[i]) << i;
        }
    }
}

// ---- known transforms -------------------------------------------------------------

TEST(TransformKnownCases, LengthTwoIsSumAndDifference)
{
    struct Case {
        double a, b;
    };
    const Case cases[] = {{1.0, 0.0}, {0.25, -0.75}, {-3.5, 2.0}, {1e300, -1e300}, {0.0, 0.0}};
    for (const Case& c : cases) {
        TransformRig rig(2);
        rig.re = {c.a, c.b};
        rig.engine.sigre = rig.re.data();
        rig.engine.timedomain = 1;
        rig.engine.switch_domain();
        EXPECT_EQ(rig.re[0], c.a + c.b);
        EXPECT_EQ(rig.re[1], c.a - c.b);
        EXPECT_EQ(rig.im[0], 0.0);
        EXPECT_EQ(rig.im[1], 0.0);
        rig.engine.switch_domain();
        // (a+b + a-b)/2 and (a+b - (a-b))/2 are exact for these values.
        EXPECT_EQ(rig.re[0], c.a);
        EXPECT_EQ(rig.re[1], c.b);
        EXPECT_EQ(rig.im[0], 0.0);
        EXPECT_EQ(rig.im[1], 0.0);
    }
}

TEST(TransformKnownCases, ImpulseAtZeroIsFlatAndExact)
{
    for (uint32_t n : powers_of_two_up_to_1024()) {
        TransformRig rig(n);
        rig.re[0] = 1.0;
        rig.forward();
        for (uint32_t k = 0; k < n; ++k) {
            // Only ones and zeros meet the twiddles, so nothing rounds.
            ASSERT_EQ(rig.re[k], 1.0) << "n=" << n << " k=" << k;
            ASSERT_EQ(rig.im[k], 0.0) << "n=" << n << " k=" << k;
        }
    }
}

TEST(TransformKnownCases, ImpulseAtOneIsTheUnitPhasor)
{
    for (uint32_t n : powers_of_two_up_to_1024()) {
        TransformRig rig(n);
        rig.re[1] = 1.0;
        rig.forward();
        // One twiddle per bin, each a few ulps off, multiplied by exact 0/1
        // values; log2(N) levels at most.
        const double tol = 4.0 * eps * (1 + log2_of(n));
        for (uint32_t k = 0; k < n; ++k) {
            const double angle = 2.0 * std::numbers::pi * k / n;
            ASSERT_NEAR(rig.re[k], std::cos(angle), tol) << "n=" << n << " k=" << k;
            ASSERT_NEAR(rig.im[k], -std::sin(angle), tol) << "n=" << n << " k=" << k;
        }
    }
}

TEST(TransformKnownCases, IntegerFrequencyCosineLandsOnTwoBins)
{
    struct Case {
        uint32_t n, m;
    };
    const Case cases[] = {{4, 1}, {8, 3}, {16, 1}, {64, 5}, {256, 100}, {1024, 1}, {1024, 511}, {1024, 300}};
    for (const Case& c : cases) {
        TransformRig rig(c.n);
        for (uint32_t i = 0; i < c.n; ++i) {
            // The phase is reduced mod N in integers before it is scaled, so
            // the input is a clean cosine of exactly m periods.
            rig.re[i] = std::cos(2.0 * std::numbers::pi * static_cast<double>((uint64_t{c.m} * i) % c.n) / c.n);
        }
        const double tol = fft_tolerance(c.n, norm2(rig.re, rig.im));
        rig.forward();
        for (uint32_t k = 0; k < c.n; ++k) {
            const double want = (k == c.m || k == c.n - c.m) ? c.n / 2.0 : 0.0;
            ASSERT_NEAR(rig.re[k], want, tol) << "n=" << c.n << " m=" << c.m << " k=" << k;
            ASSERT_NEAR(rig.im[k], 0.0, tol) << "n=" << c.n << " m=" << c.m << " k=" << k;
        }
    }
}

// ---- the domain switch --------------------------------------------------------------

TEST(TransformDomainSwitch, TimeToSpectrumToTimeRestoresTheSignal)
{
    for (uint32_t n : powers_of_two_up_to_1024()) {
        TransformRig rig(n);
        std::mt19937_64 rng(3000 + n);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        for (uint32_t i = 0; i < n; ++i)
            rig.re[i] = uniform(rng);
        const std::vector<double> re0 = rig.re;
        rig.engine.timedomain = 1;

        rig.engine.switch_domain();
        EXPECT_EQ(rig.engine.timedomain, 0);
        rig.engine.switch_domain();
        EXPECT_EQ(rig.engine.timedomain, 1);

        // Forward then inverse and the 1/N: twice the forward bound, divided
        // by sqrt(N) back to the scale of the samples.
        const double tol = 2.0 * fft_tolerance(n, norm2(re0, rig.im)) / std::sqrt(static_cast<double>(n));
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_NEAR(rig.re[i], re0[i], tol) << "n=" << n << " i=" << i;
            // Cleared, not computed: exactly +0.0.
            ASSERT_EQ(rig.im[i], 0.0) << "n=" << n << " i=" << i;
            ASSERT_FALSE(std::signbit(rig.im[i])) << "n=" << n << " i=" << i;
        }
        ASSERT_EQ(rig.log.lines, (std::vector<std::string>{"t->f ...\n", "f->t ...\n"}));
        EXPECT_TRUE(rig.messages.texts.empty());
    }
}

TEST(TransformDomainSwitch, SpectrumToTimeToSpectrumLogsTheOtherOrder)
{
    const uint32_t n = 32;
    TransformRig rig(n);
    for (uint32_t i = 0; i < n; ++i)
        rig.re[i] = static_cast<double>(i % 5) - 2.0;
    rig.engine.timedomain = 1;
    rig.engine.switch_domain();
    rig.log.lines.clear();

    rig.engine.switch_domain();
    rig.engine.switch_domain();
    EXPECT_EQ(rig.engine.timedomain, 0);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"f->t ...\n", "t->f ...\n"}));
}

TEST(TransformDomainSwitch, InverseOfNonHermitianSpectrumKeepsRealPartOverN)
{
    for (uint32_t n : powers_of_two_up_to_1024()) {
        TransformRig rig(n);
        std::mt19937_64 rng(4000 + n);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        for (uint32_t k = 0; k < n; ++k) {
            rig.re[k] = uniform(rng);
            rig.im[k] = uniform(rng);
        }
        const std::vector<cld> expected = direct_dft(rig.re, rig.im, true);
        const double tol = fft_tolerance(n, norm2(rig.re, rig.im)) / n;
        rig.engine.timedomain = 0;
        rig.engine.switch_domain();
        EXPECT_EQ(rig.engine.timedomain, 1);
        EXPECT_EQ(rig.log.lines, std::vector<std::string>{"f->t ...\n"});
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_NEAR(rig.re[i], static_cast<double>(expected[i].real() / n), tol) << "n=" << n << " i=" << i;
            ASSERT_EQ(rig.im[i], 0.0) << "n=" << n << " i=" << i;
        }
    }
}

// ---- table lifetime -------------------------------------------------------------------

TEST(TransformTables, SecondInitOfTheSameSizeBuildsNothing)
{
    EngineRig rig(256);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    EXPECT_EQ(rig.engine.fft_tabsize, 256u);
    double* const coeff_re = rig.engine.fft_coeff_re;
    double* const coeff_im = rig.engine.fft_coeff_im;
    double* const tmp_re = rig.engine.fft_tmpbuf_re;
    double* const tmp_im = rig.engine.fft_tmpbuf_im;
    ASSERT_NE(coeff_re, nullptr);
    ASSERT_NE(coeff_im, nullptr);
    ASSERT_NE(tmp_re, nullptr);
    ASSERT_NE(tmp_im, nullptr);
    EXPECT_EQ(coeff_re[0], 1.0);
    EXPECT_EQ(coeff_im[0], 0.0);
    EXPECT_NEAR(coeff_re[64], 0.0, eps);
    EXPECT_EQ(coeff_im[64], 1.0);

    // A marker in the table would be overwritten by any rebuild, and the
    // same addresses show that nothing was freed and obtained again.
    coeff_re[3] = 42.0;
    ASSERT_EQ(rig.engine.fft_init(), 0);
    EXPECT_EQ(rig.engine.fft_coeff_re, coeff_re);
    EXPECT_EQ(rig.engine.fft_coeff_im, coeff_im);
    EXPECT_EQ(rig.engine.fft_tmpbuf_re, tmp_re);
    EXPECT_EQ(rig.engine.fft_tmpbuf_im, tmp_im);
    EXPECT_EQ(rig.engine.fft_coeff_re[3], 42.0);
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(TransformTables, FreeReleasesAndTheNextInitBuildsAgain)
{
    EngineRig rig(128);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.engine.fft_coeff_re[3] = 42.0;

    EXPECT_EQ(rig.engine.fft_free(), 0);
    EXPECT_EQ(rig.engine.fft_coeff_re, nullptr);
    EXPECT_EQ(rig.engine.fft_coeff_im, nullptr);
    EXPECT_EQ(rig.engine.fft_tmpbuf_re, nullptr);
    EXPECT_EQ(rig.engine.fft_tmpbuf_im, nullptr);
    EXPECT_EQ(rig.engine.fft_tabsize, 0u);
    // Freeing twice is harmless.
    EXPECT_EQ(rig.engine.fft_free(), 0);

    ASSERT_EQ(rig.engine.fft_init(), 0);
    EXPECT_EQ(rig.engine.fft_tabsize, 128u);
    ASSERT_NE(rig.engine.fft_coeff_re, nullptr);
    ASSERT_NE(rig.engine.fft_tmpbuf_im, nullptr);
    EXPECT_EQ(rig.engine.fft_coeff_re[3], std::cos(6.283185307179586 / 128 * 3));
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(TransformTables, ANewSizeRebuildsTheTables)
{
    EngineRig rig(64);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.engine.sampnump = 512;
    ASSERT_EQ(rig.engine.fft_init(), 0);
    EXPECT_EQ(rig.engine.fft_tabsize, 512u);
    // Every entry as built from the one angle step.
    const double step = 6.283185307179586 / 512;
    for (uint32_t i = 0; i < 512; ++i) {
        ASSERT_EQ(rig.engine.fft_coeff_re[i], std::cos(step * i)) << i;
        ASSERT_EQ(rig.engine.fft_coeff_im[i], std::sin(step * i)) << i;
    }
    // The scratch halves must be usable over their whole new length.
    rig.engine.fft_tmpbuf_re[255] = 1.0;
    rig.engine.fft_tmpbuf_im[255] = 1.0;
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(TransformTables, TooShortALengthFailsSilently)
{
    for (uint32_t n : {0u, 1u}) {
        EngineRig rig(n);
        EXPECT_EQ(rig.engine.fft_init(), -1) << n;
        EXPECT_TRUE(rig.messages.texts.empty()) << n;
        EXPECT_TRUE(rig.log.lines.empty()) << n;
        EXPECT_EQ(rig.engine.fft_tabsize, 0u) << n;
        EXPECT_EQ(rig.engine.fft_coeff_re, nullptr) << n;
    }
}

TEST(TransformTables, ALengthBelowTwoKeepsExistingTables)
{
    EngineRig rig(16);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    double* const coeff_re = rig.engine.fft_coeff_re;
    rig.engine.sampnump = 1;
    EXPECT_EQ(rig.engine.fft_init(), -1);
    EXPECT_EQ(rig.engine.fft_tabsize, 16u);
    EXPECT_EQ(rig.engine.fft_coeff_re, coeff_re);
    EXPECT_TRUE(rig.messages.texts.empty());
}

} // namespace
