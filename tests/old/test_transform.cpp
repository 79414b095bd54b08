// The spectral transform against a plain O(N^2) DFT evaluated in long double,
// plus the exact cases (N = 2, impulses, integer-frequency cosines), the
// domain switch and the lifetime of the tables.  The fast transform is also
// held against the plain recursive form with a perfect shuffle at every
// level, which lives here as the oracle: at larger sizes than the direct DFT
// reaches, for both kernel widths, for sub-transforms, for the real-signal
// paths of the domain switch, and across thread counts, which must not
// change a single bit.
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
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/fft_kernels.h"
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
                             // Appended, not "N" + ...: GCC 12 warns
                             // (-Wrestrict) on the inlined operator+.
                             std::string name = "N";
                             name += std::to_string(info.param);
                             return name;
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
    // Every entry within an ulp of the exact cosine and sine of 2 pi i / 512
    // (and exact where they are 0 or 1): the lower half (all a domain switch
    // reads) at once, the rest with the first full-length complex transform.
    const auto check = [&rig](uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            const long double angle = 2.0L * std::numbers::pi_v<long double> * i / 512.0L;
            ASSERT_NEAR(rig.engine.fft_coeff_re[i], static_cast<double>(std::cos(angle)), 1.2e-16) << i;
            ASSERT_NEAR(rig.engine.fft_coeff_im[i], static_cast<double>(std::sin(angle)), 1.2e-16) << i;
        }
        for (const uint32_t i : {0u, 128u, 256u, 384u}) {
            if (i >= count)
                continue;
            EXPECT_EQ(std::fabs(rig.engine.fft_coeff_re[i]), i % 256 == 0 ? 1.0 : 0.0) << i;
            EXPECT_EQ(std::fabs(rig.engine.fft_coeff_im[i]), i % 256 == 0 ? 0.0 : 1.0) << i;
        }
    };
    check(257);
    std::vector<double> re(512, 0.0), im(512, 0.0);
    rig.engine.fft(re.data(), im.data(), 512, 0, 1, 0);
    check(512);
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

// ---- against the plain recursive form ------------------------------------------------

// The plain form: a recursive radix-2 decimation in frequency that brings
// each level's outputs into natural order with a perfect shuffle, on a
// table of its own (cos and sin of 2 pi i / size, from the one angle step).
class PlainTransform {
public:
    explicit PlainTransform(uint32_t size) : cos_(size), sin_(size), tmp_re_(size / 2 + 1), tmp_im_(size / 2 + 1)
    {
        const double step = 6.283185307179586 / size;
        for (uint32_t i = 0; i < size; ++i) {
            cos_[i] = std::cos(step * i);
            sin_[i] = std::sin(step * i);
        }
    }

    // n points at offset; stride = size / n.
    void fft(double* re, double* im, uint32_t n, uint32_t offset, uint32_t stride, bool inverse)
    {
        if (n < 2)
            return;
        const uint32_t h = n / 2;
        const double sign = inverse ? -1.0 : 1.0;
        for (uint32_t j = 0; j < h; ++j) {
            const uint32_t k = offset + j;
            const uint64_t t = uint64_t{j} * stride;
            const double cr = cos_[t];
            const double ci = sign * sin_[t];
            const double dr = re[k] - re[k + h];
            const double di = im[k] - im[k + h];
            re[k] = re[k] + re[k + h];
            im[k] = im[k] + im[k + h];
            re[k + h] = dr * cr + di * ci;
            im[k + h] = di * cr - dr * ci;
        }
        fft(re, im, h, offset, 2 * stride, inverse);
        fft(re, im, h, offset + h, 2 * stride, inverse);
        interleave(h, re, im, offset);
    }

private:
    // The first half holds the even outputs, the second half the odd ones.
    void interleave(uint32_t n, double* re, double* im, uint32_t offset)
    {
        for (uint32_t j = 0; j < n; ++j) {
            tmp_re_[j] = re[offset + j];
            tmp_im_[j] = im[offset + j];
        }
        // Ascending j never overwrites an odd output still to be moved.
        for (uint32_t j = 0; j < n; ++j) {
            re[offset + 2 * j + 1] = re[offset + n + j];
            im[offset + 2 * j + 1] = im[offset + n + j];
        }
        for (uint32_t j = 0; j < n; ++j) {
            re[offset + 2 * j] = tmp_re_[j];
            im[offset + 2 * j] = tmp_im_[j];
        }
    }

    std::vector<double> cos_, sin_, tmp_re_, tmp_im_;
};

// Two transforms that each meet the normwise bound of the header comment
// differ by at most twice that bound per bin.
double oracle_tolerance(uint32_t n, double input_norm2)
{
    return 2.0 * fft_tolerance(n, input_norm2);
}

std::vector<uint32_t> powers_of_two_up_to(uint32_t top)
{
    std::vector<uint32_t> sizes;
    for (uint32_t n = 2; n <= top; n *= 2)
        sizes.push_back(n);
    return sizes;
}

void fill_uniform(std::vector<double>& values, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (double& v : values)
        v = uniform(rng);
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Runs a test body once with the 4-lane kernels (where the processor has
// them) and once with the 2-lane kernels every x86-64 has.
class BothKernelWidths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        wide_ = vesk::fft::allow_wide_kernels(GetParam());
        if (GetParam() && !wide_)
            GTEST_SKIP() << "this processor has no AVX2/FMA: the 2-lane run covers it";
    }
    void TearDown() override { vesk::fft::allow_wide_kernels(true); }
    bool wide_ = false;
};

using TransformVsPlainForm = BothKernelWidths;

TEST_P(TransformVsPlainForm, FullLengthForwardAndInverse)
{
    for (uint32_t n : powers_of_two_up_to(uint32_t{1} << 16)) {
        for (int direction = 0; direction < 2; ++direction) {
            TransformRig rig(n);
            fill_uniform(rig.re, 5000 + n);
            fill_uniform(rig.im, 6000 + n);
            std::vector<double> want_re = rig.re, want_im = rig.im;
            PlainTransform plain(n);
            plain.fft(want_re.data(), want_im.data(), n, 0, 1, direction == 1);
            const double tol = oracle_tolerance(n, norm2(rig.re, rig.im));
            if (direction == 0)
                rig.forward();
            else
                rig.inverse();
            for (uint32_t k = 0; k < n; ++k) {
                ASSERT_NEAR(rig.re[k], want_re[k], tol) << "n=" << n << " k=" << k << " inverse=" << direction;
                ASSERT_NEAR(rig.im[k], want_im[k], tol) << "n=" << n << " k=" << k << " inverse=" << direction;
            }
        }
    }
}

TEST_P(TransformVsPlainForm, SubTransformsOfEveryLengthAtOffsets)
{
    // Lengths below the table's take their twiddles by the stride, from the
    // per-pass runs or from the table itself; odd and even log2 alike.
    const uint32_t size = 4096;
    for (uint32_t sub = 2; sub <= size; sub *= 2) {
        for (uint32_t offset : {0u, sub, size - sub, 3u}) {
            if (offset + sub > size)
                continue;
            for (int direction = 0; direction < 2; ++direction) {
                TransformRig rig(size);
                fill_uniform(rig.re, 7000 + sub + offset);
                fill_uniform(rig.im, 8000 + sub + offset);
                const std::vector<double> re0 = rig.re, im0 = rig.im;
                std::vector<double> want_re = rig.re, want_im = rig.im;
                PlainTransform plain(size);
                plain.fft(want_re.data(), want_im.data(), sub, offset, size / sub, direction == 1);
                rig.engine.fft(rig.re.data(), rig.im.data(), sub, offset, size / sub, direction);
                const std::vector<double> slice_re(re0.begin() + offset, re0.begin() + offset + sub);
                const std::vector<double> slice_im(im0.begin() + offset, im0.begin() + offset + sub);
                const double tol = oracle_tolerance(sub, norm2(slice_re, slice_im));
                for (uint32_t i = 0; i < size; ++i) {
                    if (i >= offset && i < offset + sub) {
                        ASSERT_NEAR(rig.re[i], want_re[i], tol) << "sub=" << sub << " offset=" << offset << " i=" << i;
                        ASSERT_NEAR(rig.im[i], want_im[i], tol) << "sub=" << sub << " offset=" << offset << " i=" << i;
                    } else {
                        ASSERT_EQ(rig.re[i], re0[i]) << "sub=" << sub << " offset=" << offset << " i=" << i;
                        ASSERT_EQ(rig.im[i], im0[i]) << "sub=" << sub << " offset=" << offset << " i=" << i;
                    }
                }
            }
        }
    }
}

TEST_P(TransformVsPlainForm, SwitchToSpectrumIsTheFullComplexTransformOfTheSamples)
{
    for (uint32_t n : powers_of_two_up_to(uint32_t{1} << 16)) {
        TransformRig rig(n);
        fill_uniform(rig.re, 9000 + n);
        std::vector<double> want_re = rig.re, want_im(n, 0.0);
        PlainTransform plain(n);
        plain.fft(want_re.data(), want_im.data(), n, 0, 1, false);
        const double tol = oracle_tolerance(n, norm2(rig.re, rig.im));
        rig.engine.timedomain = 1;
        rig.engine.switch_domain();
        EXPECT_EQ(rig.engine.timedomain, 0);
        for (uint32_t k = 0; k < n; ++k) {
            ASSERT_NEAR(rig.re[k], want_re[k], tol) << "n=" << n << " k=" << k;
            ASSERT_NEAR(rig.im[k], want_im[k], tol) << "n=" << n << " k=" << k;
        }
        // Both halves are filled, the negative frequencies as exact
        // conjugates; DC and Nyquist are real.
        EXPECT_EQ(rig.im[0], 0.0) << n;
        EXPECT_EQ(rig.im[n / 2], 0.0) << n;
        for (uint32_t k = 1; k < n / 2; ++k) {
            ASSERT_EQ(rig.re[n - k], rig.re[k]) << "n=" << n << " k=" << k;
            ASSERT_EQ(rig.im[n - k], -rig.im[k]) << "n=" << n << " k=" << k;
        }
    }
}

TEST_P(TransformVsPlainForm, SwitchToTimeIsTheRealPartOfTheComplexInverseOverN)
{
    // A Hermitian spectrum (that of a real signal) and one that is not: the
    // samples are the real part of the full complex inverse, over N, either
    // way, and the imaginary array is cleared to +0.0.
    for (uint32_t n : powers_of_two_up_to(uint32_t{1} << 16)) {
        for (bool hermitian : {true, false}) {
            TransformRig rig(n);
            fill_uniform(rig.re, 10000 + n);
            fill_uniform(rig.im, 11000 + n);
            if (hermitian) {
                rig.im[0] = 0.0;
                rig.im[n / 2] = 0.0;
                for (uint32_t k = 1; k < n / 2; ++k) {
                    rig.re[n - k] = rig.re[k];
                    rig.im[n - k] = -rig.im[k];
                }
            }
            std::vector<double> want_re = rig.re, want_im = rig.im;
            PlainTransform plain(n);
            plain.fft(want_re.data(), want_im.data(), n, 0, 1, true);
            const double tol = oracle_tolerance(n, norm2(rig.re, rig.im)) / n;
            rig.engine.timedomain = 0;
            rig.engine.switch_domain();
            EXPECT_EQ(rig.engine.timedomain, 1);
            for (uint32_t i = 0; i < n; ++i) {
                ASSERT_NEAR(rig.re[i], want_re[i] / n, tol) << "n=" << n << " i=" << i << " hermitian=" << hermitian;
                ASSERT_EQ(rig.im[i], 0.0) << "n=" << n << " i=" << i;
                ASSERT_FALSE(std::signbit(rig.im[i])) << "n=" << n << " i=" << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(KernelWidth, TransformVsPlainForm, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("FourLanes") : std::string("TwoLanes");
                         });

TEST(TransformSmallLengths, SwitchOfTwoFourAndEightPoints)
{
    // Small enough to check by hand: the split step meets its edge cases
    // (DC, Nyquist and the middle bin are all there is).
    {
        TransformRig rig(4);
        rig.re = {1.0, 2.0, 3.0, 4.0};
        rig.engine.sigre = rig.re.data();
        rig.engine.timedomain = 1;
        rig.engine.switch_domain();
        EXPECT_EQ(rig.re, (std::vector<double>{10.0, -2.0, -2.0, -2.0}));
        EXPECT_EQ(rig.im, (std::vector<double>{0.0, 2.0, 0.0, -2.0}));
        rig.engine.switch_domain();
        EXPECT_EQ(rig.re, (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
        EXPECT_EQ(rig.im, (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
    }
    {
        // A non-Hermitian spectrum of 4 bins: x[m] = Re(sum_k X[k] i^(mk)) / 4.
        TransformRig rig(4);
        rig.re = {1.0, 2.0, 0.0, 0.0};
        rig.im = {0.0, 0.0, 0.0, 4.0};
        rig.engine.timedomain = 0;
        rig.engine.switch_domain();
        // X[1] = 2 gives 2 i^m, X[3] = 4i gives 4i (-i)^m: real parts
        // m=0: 1 + 2 + 0 = 3; m=1: 1 + 0 + 4 = 5; m=2: 1 - 2 + 0 = -1;
        // m=3: 1 + 0 - 4 = -3.
        EXPECT_EQ(rig.re, (std::vector<double>{0.75, 1.25, -0.25, -0.75}));
        EXPECT_EQ(rig.im, (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
    }
    for (uint32_t n : {2u, 4u, 8u}) {
        TransformRig rig(n);
        fill_uniform(rig.re, 12000 + n);
        const std::vector<double> re0 = rig.re;
        std::vector<double> want_re = rig.re, want_im(n, 0.0);
        PlainTransform plain(n);
        plain.fft(want_re.data(), want_im.data(), n, 0, 1, false);
        rig.engine.timedomain = 1;
        rig.engine.switch_domain();
        const double tol = oracle_tolerance(n, norm2(re0, std::vector<double>(n, 0.0)));
        for (uint32_t k = 0; k < n; ++k) {
            EXPECT_NEAR(rig.re[k], want_re[k], tol) << "n=" << n << " k=" << k;
            EXPECT_NEAR(rig.im[k], want_im[k], tol) << "n=" << n << " k=" << k;
        }
        rig.engine.switch_domain();
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_NEAR(rig.re[i], re0[i], 2.0 * tol) << "n=" << n << " i=" << i;
            EXPECT_EQ(rig.im[i], 0.0) << "n=" << n << " i=" << i;
        }
    }
}

// ---- threads --------------------------------------------------------------------------

// Every result with threads = 1 and with 2 and 3 threads, bit for bit, at
// lengths where the passes are split (the threads take over from 2^20
// points, for the switch in its half-length transform; odd and even log2 for
// each), for the complex transform both ways and for both directions of the
// switch.
TEST(TransformThreads, ResultsDoNotDependOnTheThreadCount)
{
    for (uint32_t n : {uint32_t{1} << 21, uint32_t{1} << 22}) {
        std::vector<double> re0(n), im0(n);
        fill_uniform(re0, 13000 + n);
        fill_uniform(im0, 14000 + n);
        TransformRig rig(n);
        // The four operations on the rig's arrays, from the starting values.
        const std::vector<double> zeros(n, 0.0);
        const auto operate = [&](int op) {
            rig.re = re0;
            rig.im = op == 2 ? zeros : im0;
            switch (op) {
            case 0:
                rig.forward();
                break;
            case 1:
                rig.inverse();
                break;
            case 2:
                // The switch on a real signal.
                rig.engine.timedomain = 1;
                rig.engine.switch_domain();
                break;
            default:
                // Back to time from a spectrum that is not Hermitian.
                rig.engine.timedomain = 0;
                rig.engine.switch_domain();
                break;
            }
        };
        std::vector<double> one_re[4], one_im[4];
        rig.engine.threads = 1;
        for (int op = 0; op < 4; ++op) {
            operate(op);
            one_re[op] = rig.re;
            one_im[op] = rig.im;
        }
        for (unsigned threads : {2u, 3u}) {
            rig.engine.threads = threads;
            for (int op = 0; op < 4; ++op) {
                operate(op);
                EXPECT_TRUE(same_bits(one_re[op], rig.re) && same_bits(one_im[op], rig.im))
                    << "n=" << n << " threads=" << threads << " operation " << op;
            }
        }
        if (n != (uint32_t{1} << 21))
            continue;
        // And at this length, where nothing smaller reaches, the plain form
        // agrees with the transform and with the switch.
        std::vector<double> want_re = re0, want_im = im0;
        PlainTransform plain(n);
        plain.fft(want_re.data(), want_im.data(), n, 0, 1, false);
        const double tol = oracle_tolerance(n, norm2(re0, im0));
        for (uint32_t k = 0; k < n; ++k) {
            ASSERT_NEAR(one_re[0][k], want_re[k], tol) << "n=" << n << " k=" << k;
            ASSERT_NEAR(one_im[0][k], want_im[k], tol) << "n=" << n << " k=" << k;
        }
        want_re = re0;
        std::fill(want_im.begin(), want_im.end(), 0.0);
        plain.fft(want_re.data(), want_im.data(), n, 0, 1, false);
        const double real_tol = oracle_tolerance(n, norm2(re0, std::vector<double>(n, 0.0)));
        for (uint32_t k = 0; k < n; ++k) {
            ASSERT_NEAR(one_re[2][k], want_re[k], real_tol) << "n=" << n << " k=" << k;
            ASSERT_NEAR(one_im[2][k], want_im[k], real_tol) << "n=" << n << " k=" << k;
        }
    }
}

} // namespace
