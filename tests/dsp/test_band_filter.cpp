// The band filter against its definition on the spectrum: of bins 0 .. n/2 those
// in [lo, hi] stay, the rest become 0, but the Nyquist bin (shared by +fs/2 and
// -fs/2) keeps its real part while lo <= n/2; DC and Nyquist become real, and
// the bins above n/2 (implied conjugates) stay untouched.  In time: a tone in the band keeps
// its amplitude and phase (no delay), the offset and the tones outside go.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;

class BandFilter : public testing::TestWithParam<std::pair<uint32_t, uint32_t>> {};

TEST_P(BandFilter, KeepsTheBinsInTheBandAndNothingAboveNyquist)
{
    constexpr uint32_t n = 64, h = n / 2;
    const auto [lo, hi] = GetParam();
    EngineRig rig(n);
    rig.seam.timedomain() = 0;
    const std::vector<double> re0 = random_values(n, 80 + lo), im0 = random_values(n, 90 + hi); // not Hermitian
    std::ranges::copy(re0, rig.re.begin());
    std::ranges::copy(im0, rig.im.begin());
    rig.seam.band_filter(nullptr, lo, hi);
    for (uint32_t k = 0; k <= h; ++k) {
        const bool kept = lo <= k && (k <= hi || k == h);
        const double re = kept ? re0[k] : 0.0, im = kept && k != 0 && k != h ? im0[k] : 0.0;
        EXPECT_TRUE(rig.re[k] == re && rig.im[k] == im) << "bin " << k << ": " << rig.re[k] << ", " << rig.im[k];
    }
    for (uint32_t k = h + 1; k < n; ++k)
        EXPECT_TRUE(rig.re[k] == re0[k] && rig.im[k] == im0[k]) << "bin " << k << " above Nyquist was written";
    EXPECT_TRUE(rig.log.lines.empty()) << "a spectrum needs no switch, and no label was given";
}

// Edges at DC and Nyquist, single bins, inverted corners, a corner beyond n/2, one at the top of uint32.
INSTANTIATE_TEST_SUITE_P(Corners, BandFilter,
                         testing::Values(std::pair(0u, 32u), std::pair(1u, 32u), std::pair(0u, 0u), std::pair(0u, 31u),
                                         std::pair(3u, 10u), std::pair(5u, 5u), std::pair(31u, 32u), std::pair(32u, 32u),
                                         std::pair(10u, 3u), std::pair(40u, 50u), std::pair(0u, ~0u)));

TEST(BandFilterInTime, AToneInTheBandKeepsItsPhaseAndTheRestIsGone)
{
    constexpr uint32_t n = 256;
    const auto tone = [](double bin, double phase, uint32_t m) { return std::cos(2 * std::numbers::pi * bin * m / n + phase); };
    EngineRig rig(n);
    ASSERT_TRUE(rig.seam.fft_init());
    double norm = 0;
    for (uint32_t m = 0; m < n; ++m) {
        rig.re[m] = 0.3 + tone(20, 0.7, m) + 0.5 * tone(50, -1.1, m) + 0.2 * tone(9, 0, m);
        norm += rig.re[m] * rig.re[m];
    }
    rig.seam.band_filter("band 10%d ...\n", 10, 30);
    EXPECT_EQ(rig.log.joined(), "t->f ...\nband 10%d ...\n") << "the switch first, then the label as it is";
    rig.seam.switch_domain();
    // Two transforms, each within 8 eps log2(N) ||x||_2 (normwise, see
    // test_transform.cpp; the way back scaled by 1/N).
    const double limit = 16 * std::numeric_limits<double>::epsilon() * log2_of(n) * std::sqrt(norm);
    for (uint32_t m = 0; m < n; ++m)
        ASSERT_TRUE(std::fabs(rig.re[m] - tone(20, 0.7, m)) <= limit)
            << "sample " << m << ": " << rig.re[m] << " for " << tone(20, 0.7, m) << ", limit " << limit;
}

} // namespace
