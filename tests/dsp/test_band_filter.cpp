// The band filter against its definition on the spectrum: of bins 0 .. n/2,
// those in [lo, hi] stay as they are and the rest become zero, except that
// the Nyquist bin keeps its real part while lo <= n/2 (it is shared by +fs/2
// and -fs/2); DC and Nyquist become real, and bins above n/2 are the
// conjugates of their mirrors, whatever they held.  Then in time: a tone in
// the band comes out with the same amplitude and phase (no delay), the tones
// and the offset outside it are gone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;

struct Corners {
    uint32_t lo, hi;
};

class BandFilter : public testing::TestWithParam<Corners> {};

TEST_P(BandFilter, KeepsTheBinsInTheBandAndMirrorsThem)
{
    constexpr uint32_t n = 64, h = n / 2;
    const auto [lo, hi] = GetParam();
    EngineRig rig(n);
    rig.engine.timedomain = 0;
    // Any spectrum, not even Hermitian: the filter must leave one that is.
    const std::vector<double> re0 = random_values(n, 80 + lo), im0 = random_values(n, 90 + hi);
    std::ranges::copy(re0, rig.re.begin());
    std::ranges::copy(im0, rig.im.begin());
    rig.engine.band_filter(nullptr, lo, hi);
    for (uint32_t k = 0; k <= h; ++k) {
        const bool kept = lo <= k && (k <= hi || k == h);
        const double re = kept ? re0[k] : 0.0;
        const double im = kept && k != 0 && k != h ? im0[k] : 0.0;
        EXPECT_EQ(rig.re[k], re) << "real part of bin " << k;
        EXPECT_EQ(rig.im[k], im) << "imaginary part of bin " << k;
        if (k != 0 && k != h) {
            EXPECT_EQ(rig.re[n - k], re) << "real part of bin " << n - k;
            EXPECT_EQ(rig.im[n - k], -im) << "imaginary part of bin " << n - k;
        }
    }
    EXPECT_TRUE(rig.log.lines.empty()) << "a spectrum needs no switch and no label was given";
}

// Edges at DC and Nyquist, single bins, inverted corners, a corner beyond n/2
// and one at the top of the unsigned range.
INSTANTIATE_TEST_SUITE_P(Corners, BandFilter,
                         testing::Values(Corners{0, 32}, Corners{1, 32}, Corners{0, 0}, Corners{0, 31},
                                         Corners{3, 10}, Corners{5, 5}, Corners{31, 32}, Corners{32, 32},
                                         Corners{10, 3}, Corners{40, 50},
                                         Corners{0, std::numeric_limits<uint32_t>::max()}));

TEST(BandFilterInTime, AToneInTheBandKeepsItsPhaseAndTheRestIsGone)
{
    constexpr uint32_t n = 256;
    const double pi = std::numbers::pi;
    const auto tone = [&](uint32_t m) { return std::cos(2 * pi * 20 * m / n + 0.7); };
    EngineRig rig(n);
    ASSERT_TRUE(rig.engine.fft_init());
    long double norm = 0;
    for (uint32_t m = 0; m < n; ++m) {
        rig.re[m] = 0.3 + tone(m) + 0.5 * std::cos(2 * pi * 50 * m / n - 1.1) + 0.2 * std::cos(2 * pi * 9 * m / n);
        norm += rig.re[m] * rig.re[m];
    }
    rig.engine.band_filter("band 10%d ...\n", 10, 30);
    EXPECT_EQ(rig.log.joined(), "t->f ...\nband 10%d ...\n") << "switch first, then the label as it is";
    rig.engine.switch_domain();
    // Two transforms, each within 8 eps log2(N) of the signal's norm (see
    // test_transform.cpp), the inverse scaled by 1/N.
    const double tolerance = 16 * std::numeric_limits<double>::epsilon() * log2_of(n) * std::sqrt(double(norm));
    for (uint32_t m = 0; m < n; ++m) {
        ASSERT_NEAR(rig.re[m], tone(m), tolerance) << "sample " << m;
        ASSERT_EQ(rig.im[m], 0.0) << "sample " << m;
    }
}

} // namespace
