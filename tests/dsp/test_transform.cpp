// The spectral transform.  A plain recursive transform in long double is
// checked once against the direct DFT at small sizes; it is then the oracle
// for the engine's fast transform at every size 2 .. 2^12 and at 2^15, with
// both kernel builds: the complex transform both ways, sub-transforms at odd
// offsets, and the domain switch there and back.
//
// Tolerance.  The error of a radix-2/4 FFT is bounded normwise,
//   ||X_fft - X||_2 <= log2(N) * eta * ||X||_2,  eta = a few eps
// (each twiddle is rounded once from its exact value).  A bin's error is at
// most that norm and ||X||_2 = sqrt(N) ||x||_2, so 8 eps log2(N) sqrt(N)
// ||x||_2 per bin, 8 covering eta with margin.  The long double oracle adds
// nothing at this scale; a wrong twiddle or a misplaced bin misses the bound
// by many orders of magnitude.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <tuple>
#include <vector>

#include "engine/fft_kernels.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;
using cld = std::complex<long double>;
constexpr double eps = std::numeric_limits<double>::epsilon();

std::vector<cld> complex_of(const double* re, const double* im, std::size_t n)
{
    std::vector<cld> x(n);
    for (std::size_t m = 0; m < n; ++m)
        x[m] = cld(re[m], im == nullptr ? 0.0 : im[m]);
    return x;
}

// X[k] = sum_m x[m] e^(-/+ 2 pi i m k / N), unscaled both ways, term by term.
std::vector<cld> direct_dft(const std::vector<cld>& x, bool inverse)
{
    const std::size_t n = x.size();
    const long double turn = (inverse ? 2 : -2) * std::numbers::pi_v<long double> / n;
    std::vector<cld> out(n);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t m = 0; m < n; ++m)
            out[k] += x[m] * std::polar(1.0L, turn * static_cast<long double>((m * k) % n));
    return out;
}

// The same by halving (even and odd points), recursively: the oracle for
// sizes the direct sum cannot reach.
std::vector<cld> plain_transform(const std::vector<cld>& x, bool inverse)
{
    const std::size_t n = x.size(), h = n / 2;
    if (n == 1)
        return x;
    std::vector<cld> even(h), odd(h);
    for (std::size_t m = 0; m < h; ++m) {
        even[m] = x[2 * m];
        odd[m] = x[2 * m + 1];
    }
    even = plain_transform(even, inverse);
    odd = plain_transform(odd, inverse);
    const long double turn = (inverse ? 2 : -2) * std::numbers::pi_v<long double> / n;
    std::vector<cld> out(n);
    for (std::size_t k = 0; k < h; ++k) {
        const cld w = std::polar(1.0L, turn * k) * odd[k];
        out[k] = even[k] + w;
        out[k + h] = even[k] - w;
    }
    return out;
}

long double norm2(const std::vector<cld>& x)
{
    long double sum = 0;
    for (const cld& v : x)
        sum += std::norm(v);
    return std::sqrt(sum);
}

double fft_tolerance(std::size_t n, long double input_norm2)
{
    return 8.0 * eps * std::max(1u, log2_of(n)) * std::sqrt(double(n)) * double(input_norm2);
}

// Every bin of (re, im) against `expected` times `scale`, signed parts.
void expect_bins(const double* re, const double* im, const std::vector<cld>& expected, long double scale,
                 double tolerance)
{
    for (std::size_t k = 0; k < expected.size(); ++k) {
        ASSERT_NEAR(re[k], double(expected[k].real() * scale), tolerance) << "real part of bin " << k;
        if (im != nullptr) {
            ASSERT_NEAR(im[k], double(expected[k].imag() * scale), tolerance) << "imaginary part of bin " << k;
        }
    }
}

TEST(PlainTransform, AgreesWithTheDirectDftUpTo64Points)
{
    for (std::size_t n = 1; n <= 64; n *= 2)
        for (bool inverse : {false, true}) {
            const auto x = complex_of(random_values(n, n).data(), random_values(n, 100 + n).data(), n);
            // Both sum n terms of size |x[m]| in long double.
            const double tolerance = 4.0 * n * std::numeric_limits<long double>::epsilon() * n * double(norm2(x));
            SCOPED_TRACE(testing::Message() << "n " << n << " inverse " << inverse);
            const auto plain = plain_transform(x, inverse);
            std::vector<double> re(n), im(n);
            for (std::size_t k = 0; k < n; ++k)
                std::tie(re[k], im[k]) = std::pair(double(plain[k].real()), double(plain[k].imag()));
            expect_bins(re.data(), im.data(), direct_dft(x, inverse), 1, tolerance + 2 * eps * double(norm2(plain)));
        }
}

// (kernel build: the 4-lane one or the 2-lane baseline, size)
class FastTransform : public testing::TestWithParam<std::tuple<bool, uint32_t>> {
protected:
    void SetUp() override
    {
        const bool wide = std::get<0>(GetParam());
        if (vesk::fft::allow_wide_kernels(wide) != wide)
            GTEST_SKIP() << "this processor has no AVX2/FMA: the 2-lane build covers it";
        // Tables first built for another size must be rebuilt for this one.
        rig.engine.sampnump = 2 * n;
        ASSERT_TRUE(rig.engine.fft_init());
        rig.engine.sampnump = n;
        ASSERT_TRUE(rig.engine.fft_init());
    }
    void TearDown() override { vesk::fft::allow_wide_kernels(true); }
    // In place: the engine holds pointers to the rig's arrays.
    void randomize(uint64_t seed)
    {
        std::ranges::copy(random_values(n, seed), rig.re.begin());
        std::ranges::copy(random_values(n, seed + 1), rig.im.begin());
    }
    const uint32_t n = std::get<1>(GetParam());
    EngineRig rig{n};
};

TEST_P(FastTransform, ComplexTransformBothWaysAndSubTransformsMatchThePlainOne)
{
    for (int inverse : {0, 1}) {
        SCOPED_TRACE(inverse ? "inverse" : "forward");
        randomize(10 + inverse);
        const auto x = complex_of(rig.re.data(), rig.im.data(), n);
        rig.engine.fft(rig.re.data(), rig.im.data(), n, 0, 1, inverse);
        expect_bins(rig.re.data(), rig.im.data(), plain_transform(x, inverse), 1, fft_tolerance(n, norm2(x)));
        // Shorter transforms at an odd offset touch their own slice only.
        for (uint32_t m = n / 2; m >= 2 && m >= n / 4; m /= 2) {
            const uint32_t offset = n - m - 1;
            randomize(20 + m);
            const std::vector<double> re0 = rig.re, im0 = rig.im;
            const auto slice = complex_of(re0.data() + offset, im0.data() + offset, m);
            rig.engine.fft(rig.re.data(), rig.im.data(), m, offset, n / m, inverse);
            expect_bins(rig.re.data() + offset, rig.im.data() + offset, plain_transform(slice, inverse), 1,
                        fft_tolerance(m, norm2(slice)));
            for (std::size_t i : {std::size_t{0}, std::size_t{offset - 1}, std::size_t{n - 1}})
                EXPECT_TRUE(same_bits(&rig.re[i], &re0[i], 1) && same_bits(&rig.im[i], &im0[i], 1)) << "entry " << i;
        }
    }
}

TEST_P(FastTransform, DomainSwitchGivesTheSpectrumAndTheRealPartOfTheInverseOverN)
{
    randomize(30);
    const auto x = complex_of(rig.re.data(), nullptr, n); // im holds junk the switch must ignore
    rig.engine.switch_domain();
    EXPECT_EQ(rig.engine.timedomain, 0);
    expect_bins(rig.re.data(), rig.im.data(), plain_transform(x, false), 1, fft_tolerance(n, norm2(x)));

    // Back from a spectrum that is not Hermitian: the real part of the
    // complex inverse over N, and im +0.0 everywhere.
    randomize(40);
    const auto spectrum = complex_of(rig.re.data(), rig.im.data(), n);
    rig.engine.switch_domain();
    EXPECT_EQ(rig.engine.timedomain, 1);
    expect_bins(rig.re.data(), nullptr, plain_transform(spectrum, true), 1.0L / n,
                fft_tolerance(n, norm2(spectrum)) / n);
    EXPECT_TRUE(same_bits(rig.im, std::vector<double>(n, 0.0)));
}

std::vector<uint32_t> sizes()
{
    std::vector<uint32_t> all;
    for (uint32_t n = 2; n <= 4096; n *= 2)
        all.push_back(n);
    all.push_back(1u << 15);
    return all;
}

INSTANTIATE_TEST_SUITE_P(BothBuildsEverySize, FastTransform, testing::Combine(testing::Bool(), testing::ValuesIn(sizes())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "wide_" : "baseline_") +
                                    std::to_string(std::get<1>(info.param));
                         });

// The passes split across threads from 2^20 points on (the switch's
// half-length transform included): 2^21 with 1, 2 and 3 threads, the same bits
// for both directions of the complex transform and of the switch.
TEST(TransformThreads, ResultsDoNotDependOnTheThreadCount)
{
    constexpr uint32_t n = 1u << 21;
    const std::vector<double> re0 = random_values(n, 50), im0 = random_values(n, 51);
    std::vector<std::vector<double>> first;
    for (unsigned threads : {1u, 2u, 3u}) {
        EngineRig rig(n);
        rig.engine.threads = threads;
        ASSERT_TRUE(rig.engine.fft_init());
        std::vector<std::vector<double>> results;
        for (int op = 0; op < 4; ++op) {
            std::ranges::copy(re0, rig.re.begin());
            std::ranges::copy(im0, rig.im.begin());
            if (op < 2)
                rig.engine.fft(rig.re.data(), rig.im.data(), n, 0, 1, op);
            else
                rig.engine.timedomain = op == 2, rig.engine.switch_domain();
            results.push_back(rig.re);
            results.push_back(rig.im);
        }
        if (first.empty())
            first = results;
        for (std::size_t r = 0; r < results.size(); ++r)
            EXPECT_TRUE(same_bits(results[r], first[r])) << threads << " threads, operation " << r / 2;
    }
}

} // namespace
