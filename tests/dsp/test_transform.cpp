// The spectral transform.  A plain recursive transform in long double, checked
// once against the direct DFT at small sizes, is the oracle for the fast one
// at every size 2 .. 2^12 and at 2^15, with both kernel builds: the complex
// transform both ways, shorter ones at odd offsets, the switch there and back.
//
// Tolerance: an FFT's error is bounded normwise, ||X_fft - X||_2 <= log2(N)
// eta ||X||_2 with eta a few eps (each twiddle is rounded once).  A bin's
// error is at most that norm, and ||X||_2 = sqrt(N) ||x||_2: 8 eps log2(N)
// sqrt(N) ||x||_2 per bin.  A wrong twiddle or a misplaced bin misses it by
// orders of magnitude; the long double oracle adds nothing at this scale.
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
        x[m] = cld(re[m], im ? im[m] : 0.0);
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

// The same from the transforms of the even and the odd points, recursively.
std::vector<cld> plain_transform(const std::vector<cld>& x, bool inverse)
{
    const std::size_t n = x.size(), h = n / 2;
    if (n == 1)
        return x;
    std::vector<cld> even(h), odd(h), out(n);
    for (std::size_t m = 0; m < h; ++m)
        std::tie(even[m], odd[m]) = std::pair(x[2 * m], x[2 * m + 1]);
    even = plain_transform(even, inverse), odd = plain_transform(odd, inverse);
    const long double turn = (inverse ? 2 : -2) * std::numbers::pi_v<long double> / n;
    for (std::size_t k = 0; k < h; ++k) {
        const cld w = std::polar(1.0L, turn * k) * odd[k];
        std::tie(out[k], out[k + h]) = std::pair(even[k] + w, even[k] - w);
    }
    return out;
}

// The per-bin bound of the header for the input x, times `scale`.
double fft_tolerance(const std::vector<cld>& x, double scale = 1)
{
    long double sum = 0;
    for (const cld& v : x)
        sum += std::norm(v);
    return 8 * eps * std::max(1u, log2_of(x.size())) * std::sqrt(x.size() * double(sum)) * scale;
}

// Every bin of (re, im) against `expected` times `scale`, signed parts.
void expect_bins(const double* re, const double* im, const std::vector<cld>& expected, long double scale, double limit)
{
    for (std::size_t k = 0; k < expected.size(); ++k) {
        ASSERT_NEAR(re[k], double(expected[k].real() * scale), limit) << "real part of bin " << k;
        ASSERT_NEAR(im ? im[k] : 0.0, im ? double(expected[k].imag() * scale) : 0.0, limit) << "imaginary part of bin " << k;
    }
}

TEST(PlainTransform, AgreesWithTheDirectDftUpTo64Points)
{
    for (std::size_t n = 1; n <= 64; n *= 2)
        for (bool inverse : {false, true}) {
            const auto x = complex_of(random_values(n, n).data(), random_values(n, 100 + n).data(), n);
            const auto plain = plain_transform(x, inverse), direct = direct_dft(x, inverse);
            // Both in long double: far inside the double bound.
            for (std::size_t k = 0; k < n; ++k)
                ASSERT_LE(double(std::abs(plain[k] - direct[k])), fft_tolerance(x) / 1000) << n << " points, bin " << k;
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
        for (uint32_t size : {2 * n, n})
            ASSERT_TRUE((rig.seam.shape().sampnump = size, rig.seam.fft_init()));
    }
    void TearDown() override { vesk::fft::allow_wide_kernels(true); }
    void randomize(uint64_t seed) // in place: the engine points at the rig's arrays
    {
        std::ranges::copy(random_values(n, seed), rig.re.begin());
        std::ranges::copy(random_values(n, seed + 1), rig.im.begin());
    }
    const uint32_t n = std::get<1>(GetParam());
    EngineRig rig{n};
};

TEST_P(FastTransform, ComplexTransformBothWaysAndShorterOnesAtOddOffsetsMatchThePlainOne)
{
    for (int inverse : {0, 1}) {
        SCOPED_TRACE(inverse ? "inverse" : "forward");
        randomize(10 + inverse);
        const auto x = complex_of(rig.re.data(), rig.im.data(), n);
        rig.seam.fft(rig.re.data(), rig.im.data(), n, 0, 1, inverse);
        expect_bins(rig.re.data(), rig.im.data(), plain_transform(x, inverse), 1, fft_tolerance(x));
        for (uint32_t m = n / 2; m >= 2 && m >= n / 4; m /= 2) {
            const uint32_t offset = n - m - 1;
            randomize(20 + m);
            const std::vector<double> re0 = rig.re, im0 = rig.im;
            const auto slice = complex_of(re0.data() + offset, im0.data() + offset, m);
            rig.seam.fft(rig.re.data(), rig.im.data(), m, offset, n / m, inverse);
            expect_bins(&rig.re[offset], &rig.im[offset], plain_transform(slice, inverse), 1, fft_tolerance(slice));
            for (uint32_t i : {0u, offset - 1, n - 1}) // outside the slice: untouched
                EXPECT_TRUE(same_bits(&rig.re[i], &re0[i], 1) && same_bits(&rig.im[i], &im0[i], 1)) << "entry " << i;
        }
    }
    // After a full-length transform the tables hold cos and sin of 2 pi i / N for every i < N: within
    // 2 eps, the rounding of the angle step times i (up to pi/4, the rest is exact symmetry) and the library's.
    for (uint32_t i = 0; i < n; ++i) {
        const long double angle = 2 * std::numbers::pi_v<long double> * i / n;
        ASSERT_NEAR(rig.seam.fft_coeff_re()[i], double(std::cos(angle)), 2 * eps) << "cos entry " << i;
        ASSERT_NEAR(rig.seam.fft_coeff_im()[i], double(std::sin(angle)), 2 * eps) << "sin entry " << i;
    }
}

// There: bins 0 .. N/2 of the spectrum, nothing above them written.  Back from bins 0 .. N/2 (what lies
// above them and in the imaginary parts of DC and Nyquist ignored): the real signal whose spectrum they
// are, over N; for the output only its first half, nothing above it written.
TEST_P(FastTransform, DomainSwitchGivesTheLowerHalfOfTheSpectrumAndTheRealSignalOfItOverN)
{
    const uint32_t h = n / 2;
    const auto untouched_above_half = [&](const std::vector<double>& re0, const std::vector<double>& im0, uint32_t from) {
        for (uint32_t i = from; i < n; ++i)
            ASSERT_TRUE(same_bits(&rig.re[i], &re0[i], 1) && same_bits(&rig.im[i], &im0[i], 1)) << "entry " << i;
    };
    randomize(30);
    const auto x = complex_of(rig.re.data(), nullptr, n); // im holds junk the switch must ignore
    std::vector<double> re0 = rig.re, im0 = rig.im;
    rig.seam.switch_domain();
    EXPECT_EQ(rig.seam.timedomain(), 0);
    const auto spectrum = plain_transform(x, false);
    expect_bins(rig.re.data(), rig.im.data(), {spectrum.begin(), spectrum.begin() + h + 1}, 1, fft_tolerance(x));
    untouched_above_half(re0, im0, h + 1);

    for (bool output_only : {false, true}) {
        SCOPED_TRACE(output_only ? "output only" : "whole signal");
        randomize(40 + output_only);
        std::vector<cld> hermitian = complex_of(rig.re.data(), rig.im.data(), n);
        hermitian[0].imag(0), hermitian[h].imag(0);
        for (uint32_t k = 1; k < h; ++k)
            hermitian[n - k] = std::conj(hermitian[k]);
        re0 = rig.re, im0 = rig.im;
        rig.seam.timedomain() = 0;
        rig.seam.switch_domain(output_only);
        EXPECT_EQ(rig.seam.timedomain(), 1);
        const auto signal = plain_transform(hermitian, true);
        const uint32_t written = output_only ? std::max(h, 1u) : n;
        expect_bins(rig.re.data(), nullptr, {signal.begin(), signal.begin() + written}, 1.0L / n,
                    fft_tolerance(hermitian, 1.0 / n));
        if (output_only)
            untouched_above_half(re0, rig.im, written);
    }
}

const uint32_t sizes[] = {2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 1u << 15};
INSTANTIATE_TEST_SUITE_P(BothBuildsEverySize, FastTransform, testing::Combine(testing::Bool(), testing::ValuesIn(sizes)));

// The passes split across threads from 2^20 points on (the switch's half-length transform too): at 2^21,
// 1, 2 and 3 threads give the same bits for the complex transform both ways and for the switch both ways.
TEST(TransformThreads, ResultsDoNotDependOnTheThreadCount)
{
    constexpr uint32_t n = 1u << 21;
    const std::vector<double> re0 = random_values(n, 50), im0 = random_values(n, 51);
    std::vector<std::vector<double>> first;
    for (unsigned threads : {1u, 2u, 3u}) {
        EngineRig rig(n);
        rig.engine.threads = threads;
        ASSERT_TRUE(rig.seam.fft_init());
        for (int op = 0; op < 4; ++op) {
            std::ranges::copy(re0, rig.re.begin());
            std::ranges::copy(im0, rig.im.begin());
            if (op < 2)
                rig.seam.fft(rig.re.data(), rig.im.data(), n, 0, 1, op);
            else
                rig.seam.timedomain() = op == 2, rig.seam.switch_domain();
            if (threads == 1)
                first.insert(first.end(), {rig.re, rig.im});
            EXPECT_TRUE(same_bits(rig.re, first[2 * op]) && same_bits(rig.im, first[2 * op + 1])) << threads << " threads, operation " << op;
        }
    }
}

} // namespace
