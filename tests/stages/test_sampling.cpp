// Sampling at fs-sim against the direct image sum, and the hold and aperture
// responses against their closed forms in long double.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>

#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

// Small whole numbers as bin values: every sum of them is exact in double,
// so the folded sum must equal the direct one to the bit, whatever the order.
std::vector<double> whole_values(uint32_t n, uint32_t seed)
{
    std::vector<double> v = random_values(n, seed, 1000.0);
    std::transform(v.begin(), v.end(), v.begin(), [](double x) { return std::round(x); });
    return v;
}

class SamplingImages : public ::testing::TestWithParam<std::pair<uint32_t, uint32_t>> {};

TEST_P(SamplingImages, EachBinIsTheSumOfTheSourceBinsThatFoldOntoIt)
{
    const auto [n, m] = GetParam();
    const int64_t h = n / 2;
    StageRig rig(n, m);
    const std::vector<double> sre = whole_values(n, n + m), sim = whole_values(n, 3 * n + m);
    rig.load(sre, sim, 0);
    rig.seam.stage_sampling();
    const std::vector<double> re = rig.out_re(), im = rig.out_im();

    // Sampling adds a copy of the spectrum shifted by every multiple of fs-sim:
    // target bin j (0 <= j < h) collects every signed source bin i in
    // -(h-1) .. h-1 whose shift j - i is a multiple of m, the negative ones
    // the conjugates of the positive ones (what lies above n/2 is not read).
    for (int64_t j = 0; j < h; ++j) {
        double want_re = 0.0, want_im = 0.0;
        for (int64_t i = -(h - 1); i <= h - 1; ++i) {
            if ((j - i) % int64_t{m} == 0) {
                want_re += sre[std::abs(i)];
                want_im += i >= 0 ? sim[i] : -sim[-i];
            }
        }
        ASSERT_EQ(re[j], want_re) << "bin " << j;
        ASSERT_EQ(im[j], j == 0 ? 0.0 : want_im) << "bin " << j;
    }
    EXPECT_TRUE(re[h] == 0.0 && im[h] == 0.0) << "the Nyquist bin stays empty: " << re[h] << ", " << im[h];

    unsigned shifts = 0; // multiples of m that bring some source bin onto a target
    for (int64_t d = -(h - 1); d <= n - 2; ++d)
        shifts += d % int64_t{m} == 0 ? 1 : 0;
    ASSERT_EQ(rig.log.lines.size(), 2u);
    EXPECT_EQ(rig.log.lines[1], std::to_string(shifts) + " image(s)\n");
}

// (n, fs-sim in bins): rates of one bin, below, at and above n/2, at and above n.
const std::pair<uint32_t, uint32_t> image_rows[] = {{2, 1},  {4, 1},   {16, 1},   {16, 3},    {16, 4},    {16, 7},    {16, 8},
                                  {16, 9}, {16, 15}, {16, 16},  {16, 17},   {16, 35},   {64, 5},    {64, 31},
                                  {64, 33}, {256, 100}, {256, 1000}, {1024, 7}, {1024, 511}, {1024, 513}};
INSTANTIATE_TEST_SUITE_P(SizesAndRates, SamplingImages, ::testing::ValuesIn(image_rows));

struct ResponseRow {
    uint32_t n, m;
    double value; // window width [fs-sim periods]
};

class HoldAperture : public ::testing::TestWithParam<ResponseRow> {
protected:
    // Every bin against in[k] sin x / x, x = pi value k / m, times e^(-jx) for the
    // aperture (its window ends at the sampling instant: a delay of half its
    // width), without phase for the hold (the window centred on the sample).
    // Tolerance: x in double is within 2 ulps, moving phase and sin x / x by
    // up to 2 eps x, plus a few roundings: (8 + 4x) eps (|re| + |im|) per bin.
    static void check(int mode)
    {
        const auto [n, m, value] = GetParam();
        const uint32_t h = n / 2;
        const Spectrum in = hermitian_spectrum(n, n * 7 + m);
        StageRig rig(n, m);
        rig.load(in.re, in.im, 0);
        rig.seam.stage_hold_aperture("shaping 100%\n", mode, value);
        EXPECT_EQ(rig.log.lines, std::vector<std::string>{"shaping 100%\n"});
        const std::vector<double> re = rig.out_re(), im = rig.out_im();
        EXPECT_TRUE(re[0] == in.re[0] && im[0] == 0.0) << "DC: " << re[0] << ", " << im[0];
        for (uint32_t k = 1; k <= h; ++k) {
            const long double x = std::numbers::pi_v<long double> * value * k / m;
            const long double s = std::sin(x) / x;
            const long double c = mode == 0 ? 1.0L : std::cos(x), d = mode == 0 ? 0.0L : -std::sin(x);
            const long double want_re = s * (in.re[k] * c - in.im[k] * d);
            const long double want_im = k == h ? 0.0L : s * (in.re[k] * d + in.im[k] * c);
            const double tol = (8.0 + 4.0 * static_cast<double>(x)) * eps * (std::fabs(in.re[k]) + std::fabs(in.im[k]));
            ASSERT_NEAR(re[k], static_cast<double>(want_re), tol) << "mode " << mode << " bin " << k;
            ASSERT_NEAR(im[k], static_cast<double>(want_im), tol) << "mode " << mode << " bin " << k;
        }
    }
};

TEST_P(HoldAperture, HoldWeightsEachBinBySinXOverXWithoutPhase) { check(0); }
TEST_P(HoldAperture, ApertureWeightsEachBinBySinXOverXDelayedByHalfTheWindow) { check(1); }

INSTANTIATE_TEST_SUITE_P(SizesRatesWidths, HoldAperture,
                         ::testing::Values(ResponseRow{2, 1, 1.0}, ResponseRow{16, 4, 1.0}, ResponseRow{16, 3, 0.5},
                                           ResponseRow{64, 64, 1.0}, ResponseRow{64, 100, 0.25},
                                           ResponseRow{256, 5, 0.7}, ResponseRow{1024, 1, 1.0},
                                           ResponseRow{1024, 1000, 1e-9}));

} // namespace
} // namespace vesk::test
