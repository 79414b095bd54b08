// Quantization against a plain quantizer written down step by step in
// integers (round half up to 24 bits, add the offset, clip, AND with the
// 32-bit two's complement mask "-1 << s", scale by 2^-23), plus the grid
// cases worked out by hand, the level handling across channels and the log.
//
// Tolerances.  Every value on the 24-bit scale is an integer below 2^24 and
// 2^-23 is a power of two, so with a gain of exactly 1 the stage's results
// are exact and are compared with ==.  With another gain, the oracle repeats
// the same double operations (x * g before the grid, q * (1/g) after it), so
// those comparisons are exact as well; only the distance to the unquantized
// input is a bound, derived where it is used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using vesk::test::random_values;
using vesk::test::ScratchRig;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double lsb24 = 1.0 / 8388608.0;     // 2^-23, one step of the 24-bit scale
constexpr double quant_peak = 0.891250938;     // first channel's peak on the grid
constexpr double stale = 7.0;                  // what the scratch pair holds before a call

// The quantizer as written down: plain integers, the mask as a 32-bit two's
// complement pattern.  For bitnr 1 .. 23 and |x| well below 2^39, where
// the 24-bit image fits an int64 without trouble.
double plain_quantize(double x, uint32_t bitnr)
{
    const int s = 24 - static_cast<int>(bitnr);
    int64_t y = static_cast<int64_t>(std::floor(x * 8388608.0 + 0.5));
    y += (int64_t{1} << (s - 1)) - 1;
    y = std::clamp<int64_t>(y, -8388608, 8388607);
    const int32_t mask = static_cast<int32_t>(~uint32_t{0} << s); // -1 << s
    const int32_t q = static_cast<int32_t>(y) & mask;
    return static_cast<double>(q) * lsb24;
}

// One grid step for a word length: 2^(1 - bitnr).
double grid_step(uint32_t bitnr)
{
    return std::ldexp(1.0, 1 - static_cast<int>(bitnr));
}

// An engine holding one channel of time samples in its current pair.
struct QuantRig : ScratchRig {
    QuantRig(uint32_t n, uint32_t bitnr) : ScratchRig(n, stale) { engine.bitnr = bitnr; }
    // A new channel: `samples` from index 0, zeros above.
    void load(const std::vector<double>& samples)
    {
        std::fill(re.begin(), re.end(), 0.0);
        std::copy(samples.begin(), samples.end(), re.begin());
        std::fill(im.begin(), im.end(), 0.0);
        engine.timedomain = 1;
    }
    void run(int firstch) { ASSERT_EQ(engine.stage_quantization(firstch), 0); }
    // A later channel whose stored gain is exactly 1: the samples meet the
    // grid as they are, and nothing is scaled afterwards.
    void run_at_unity()
    {
        engine.quantgain = 1.0;
        run(0);
    }
};

// ---- the grid, worked out by hand ----------------------------------------------------

struct GridCase {
    uint32_t bitnr;
    double in;  // [24-bit steps]
    double out; // [24-bit steps]
    const char* what;
};

class QuantizationGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(QuantizationGrid, PutsTheSampleOnTheExpectedLevel)
{
    const GridCase& c = GetParam();
    QuantRig rig(16, c.bitnr);
    rig.load({c.in * lsb24});
    rig.run_at_unity();
    EXPECT_EQ(rig.re[0], c.out * lsb24) << c.what << ": in " << c.in << " steps";
    EXPECT_EQ(rig.re[0], plain_quantize(c.in * lsb24, c.bitnr)) << c.what;
}

// bitnr 16 drops 8 bits: grid levels are multiples of 256 steps (2^-15).
INSTANTIATE_TEST_SUITE_P(
    HandWorked, QuantizationGrid,
    ::testing::Values(
        GridCase{16, 384, 256, "1.5 * 2^-15, halfway, goes down to 2^-15"},
        GridCase{16, 640, 512, "2.5 * 2^-15, halfway, goes down to 2 * 2^-15"},
        GridCase{16, 385, 512, "just above halfway goes up"},
        GridCase{16, 383, 256, "just below halfway goes down"},
        GridCase{16, -384, -512, "-1.5 * 2^-15, halfway, goes down (away from 0)"},
        GridCase{16, -383, -256, "just above the negative halfway"},
        GridCase{16, 128, 0, "half a level above 0 goes down to 0"},
        GridCase{16, 127.5, 0, "rounds up to 128 on 24 bits, then halfway down"},
        GridCase{16, 128.5, 256, "rounds up to 129 on 24 bits, above halfway"},
        GridCase{16, 8388600, 8388352, "largest level 32767/32768"},
        GridCase{16, 8388607, 8388352, "full scale minus a step stays on the largest level"},
        GridCase{16, -8388608, -8388608, "-1.0 is a level"},
        GridCase{23, 3, 2, "odd drops to the even value below"},
        GridCase{23, 5, 4, "odd drops to the even value below"},
        GridCase{23, -3, -4, "odd drops to the even value below, negative"},
        GridCase{23, 4, 4, "even stays"},
        GridCase{23, 2.5, 2, "rounds up to 3 on 24 bits, then drops to 2"},
        GridCase{23, 1.5, 2, "rounds up to 2 on 24 bits"},
        GridCase{23, 0.5, 0, "rounds up to 1 on 24 bits, then drops to 0"},
        GridCase{23, -0.5, 0, "rounds up to 0 on 24 bits"},
        GridCase{23, 8388607, 8388606, "largest level 1 - 2^-22"},
        GridCase{1, -4194304, -8388608, "-0.5 becomes -1.0"},
        GridCase{1, -4194303, 0, "just above -0.5 becomes 0"},
        GridCase{1, -4194304.5, -8388608, "rounds up to -0.5 on 24 bits, becomes -1.0"},
        GridCase{1, 8388607, 0, "the largest level of one bit is 0"},
        GridCase{1, -8388608, -8388608, "-1.0 stays"},
        GridCase{8, 32768, 0, "bitnr 8 (levels 2^16 apart): halfway goes down"},
        GridCase{8, 32769, 65536, "bitnr 8: above halfway goes up"},
        GridCase{8, -32768, -65536, "bitnr 8: negative halfway goes down"}));

// ---- every word length against the plain quantizer -----------------------------

class QuantizationWordLength : public ::testing::TestWithParam<uint32_t> {};

TEST_P(QuantizationWordLength, MatchesThePlainQuantizerOnTheGridAndWithinHalfAStep)
{
    const uint32_t bitnr = GetParam();
    const uint32_t n = 4096;
    // Up to 1.25 of full scale, so that both ends clip.
    const std::vector<double> input = random_values(n, 100 + bitnr, 1.25);
    QuantRig rig(n, bitnr);
    rig.load(input);
    rig.run_at_unity();

    const double step = grid_step(bitnr);
    for (uint32_t i = 0; i < n; ++i) {
        const double out = rig.re[i];
        ASSERT_EQ(out, plain_quantize(input[i], bitnr)) << "bitnr " << bitnr << " sample " << i;
        // A level: a whole number of grid steps from -1.0 to 1 - step.
        const double levels = out / step;
        ASSERT_EQ(levels, std::floor(levels)) << i;
        ASSERT_GE(out, -1.0) << i;
        ASSERT_LE(out, 1.0 - step) << i;
        // Inside the range, the nearest level: half a grid step, plus half a
        // 24-bit step from the rounding to 24 bits that comes first.
        if (input[i] > -1.0 && input[i] < 1.0 - step) {
            ASSERT_LE(std::fabs(out - input[i]), 0.5 * step + 0.5 * lsb24) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OneToTwentyThree, QuantizationWordLength, ::testing::Range(1u, 24u));

// ---- level handling ------------------------------------------------------------------

TEST(Quantization, FirstChannelAtThePeakLevelGetsUnityGainAndOneBitLevels)
{
    QuantRig rig(16, 1);
    const std::vector<double> input = {quant_peak, -quant_peak, -0.5, -0.5 + lsb24, -0.5 - 0.5 * lsb24, 0.3, -0.2};
    const std::vector<double> expected = {0.0, -1.0, -1.0, 0.0, -1.0, 0.0, 0.0};
    rig.load(input);
    rig.run(1);
    // The peak is already the target: the gain is x/x, exactly 1.
    EXPECT_EQ(rig.engine.quantgain, 1.0);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(rig.re[i], expected[i]) << i;
    for (std::size_t i = expected.size(); i < rig.re.size(); ++i)
        EXPECT_EQ(rig.re[i], 0.0) << i;
}

class QuantizationFirstChannel : public ::testing::TestWithParam<uint32_t> {};

TEST_P(QuantizationFirstChannel, ScalesToThePeakLevelAndUndoesTheGain)
{
    const uint32_t bitnr = GetParam();
    const uint32_t n = 2048;
    // Signal in the lower half, zero tail above, peak 0.3.
    std::vector<double> input = random_values(n / 2, 200 + bitnr, 0.25);
    input[77] = -0.3;
    QuantRig rig(n, bitnr);
    rig.load(input);
    rig.run(1);

    const double gain = quant_peak / 0.3;
    EXPECT_EQ(rig.engine.quantgain, gain);
    const double undo = 1.0 / gain;
    for (uint32_t i = 0; i < n; ++i) {
        const double x = i < input.size() ? input[i] : 0.0;
        ASSERT_EQ(rig.re[i], plain_quantize(x * gain, bitnr) * undo) << i;
        // Back at the input's level: the grid error (half a step plus half a
        // 24-bit step) divided by the gain, plus the roundings of x * g,
        // 1/g and q * (1/g), each at most eps relative to values below 1/g.
        // Only up to the largest level: above it (0 for one bit, 0.5 for
        // two) the grid has nothing nearer than that level.
        if (x * gain <= 1.0 - grid_step(bitnr)) {
            const double bound = (0.5 * grid_step(bitnr) + 0.5 * lsb24) / gain + 4.0 * eps / gain;
            ASSERT_LE(std::fabs(rig.re[i] - x), bound) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SomeWordLengths, QuantizationFirstChannel, ::testing::Values(1u, 4u, 8u, 16u, 23u));

TEST(Quantization, LaterChannelsTakeTheFirstChannelsGainAndClip)
{
    const uint32_t n = 64, bitnr = 16;
    QuantRig rig(n, bitnr);
    rig.load({0.5, -0.25, 0.125});
    rig.run(1);
    // Peak 0.5: the gain is twice the target level (an exact doubling).
    EXPECT_EQ(rig.engine.quantgain, 2.0 * quant_peak);

    // A louder second channel is not normalised on its own: 0.9 times the
    // gain is 1.6 of full scale and clips.
    const std::vector<double> second = {0.9, -0.9, 0.25, 0.5, -0.5, 0.6};
    rig.load(second);
    rig.run(0);
    EXPECT_EQ(rig.engine.quantgain, 2.0 * quant_peak) << "a later channel must not change the gain";
    const double undo = 1.0 / (2.0 * quant_peak);
    const double top = 1.0 - grid_step(bitnr);
    EXPECT_EQ(rig.re[0], top * undo);   // clipped at the largest level ...
    EXPECT_EQ(rig.re[1], -1.0 * undo);  // ... and at -1.0,
    EXPECT_LT(rig.re[0], 0.57);         // and stays clipped once scaled back (0.9 returns as 0.56)
    EXPECT_EQ(rig.re[5], top * undo);   // 0.6 * 1.78 clips as well
    for (std::size_t i = 0; i < second.size(); ++i)
        EXPECT_EQ(rig.re[i], plain_quantize(second[i] * 2.0 * quant_peak, bitnr) * undo) << i;
}

TEST(Quantization, SilentFirstChannelGivesUnityGainAndLaterChannelsTheirOwnLevel)
{
    const uint32_t n = 256, bitnr = 12;
    QuantRig rig(n, bitnr);
    rig.load({});
    rig.run(1);
    EXPECT_EQ(rig.engine.quantgain, 1.0);
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_EQ(rig.re[i], 0.0) << i;

    const std::vector<double> second = random_values(n, 3, 0.2);
    rig.load(second);
    rig.run(0);
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_EQ(rig.re[i], plain_quantize(second[i], bitnr)) << i;
}

TEST(Quantization, TheFirstChannelOfTheNextRunSetsTheGainAgain)
{
    QuantRig rig(32, 16);
    rig.engine.quantgain = 123.0; // left from an earlier run
    rig.load({0.25});
    rig.run(1);
    EXPECT_EQ(rig.engine.quantgain, quant_peak / 0.25);
}

// ---- magnitudes far beyond full scale, and NaN -------------------------------------

TEST(Quantization, HugeAndInfiniteSamplesEndAtTheNearerLimitAndNanAtZero)
{
    const uint32_t bitnr = 16;
    const double inf = std::numeric_limits<double>::infinity();
    const double top = 1.0 - grid_step(bitnr);
    struct Case {
        double in, out;
    };
    const Case cases[] = {
        {1e300, top},
        {-1e300, -1.0},
        {inf, top},
        {-inf, -1.0},
        {std::numeric_limits<double>::quiet_NaN(), 0.0},
        {std::ldexp(1.0, 63), top},   // 2^86 on the 24-bit scale
        {-std::ldexp(1.0, 63), -1.0},
        {std::ldexp(1.0, 30), top},   // 2^53 on the 24-bit scale
        {-std::ldexp(1.0, 30), -1.0},
        {std::numeric_limits<double>::max(), top},
        {std::numeric_limits<double>::lowest(), -1.0},
        {1e-300, 0.0},
        {-1e-300, 0.0},
        {std::numeric_limits<double>::denorm_min(), 0.0},
    };
    QuantRig rig(16, bitnr);
    std::vector<double> input;
    for (const Case& c : cases)
        input.push_back(c.in);
    rig.load(input);
    rig.run_at_unity();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(rig.re[i], cases[i].out) << "input " << cases[i].in;
}

TEST(Quantization, AnInfiniteFirstChannelPeakLeavesGainZeroAndNothingToUndo)
{
    // The gain 0.89/inf is 0: every sample becomes 0 (inf * 0 is NaN, taken
    // as silence), and a gain of 0 is not undone.
    QuantRig rig(16, 8);
    rig.load({std::numeric_limits<double>::infinity(), 0.5, -0.25});
    rig.run(1);
    EXPECT_EQ(rig.engine.quantgain, 0.0);
    for (double v : rig.re)
        ASSERT_EQ(v, 0.0);
}

TEST(Quantization, TwentyFourBitsOnlyRoundToTheTwentyFourBitGrid)
{
    // The chain skips the stage at 24 bits; called anyway, it drops no bit.
    QuantRig rig(16, 24);
    rig.load({2.5 * lsb24, -2.5 * lsb24, 0.3, 1.0, -1.0 - lsb24});
    rig.run_at_unity();
    EXPECT_EQ(rig.re[0], 3.0 * lsb24);
    EXPECT_EQ(rig.re[1], -2.0 * lsb24);
    EXPECT_EQ(rig.re[2], std::floor(0.3 * 8388608.0 + 0.5) * lsb24);
    EXPECT_EQ(rig.re[3], 1.0 - lsb24);
    EXPECT_EQ(rig.re[4], -1.0);
}

// ---- log, domain, in place -----------------------------------------------------------

TEST(Quantization, WorksInPlaceOnTimeSamplesAndLogsItsLabel)
{
    const uint32_t n = 128;
    QuantRig rig(n, 10);
    rig.load(random_values(n / 2, 4, 0.5));
    rig.run(1);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"quantization ...\n"});
    EXPECT_TRUE(rig.messages.texts.empty());
    EXPECT_EQ(rig.engine.timedomain, 1);
    EXPECT_EQ(rig.engine.sigre, rig.re.data());
    EXPECT_EQ(rig.engine.sigim, rig.im.data());
    EXPECT_EQ(rig.engine.tmpre, rig.scratch_re.data());
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(rig.im[i], 0.0) << i;
        ASSERT_EQ(rig.scratch_re[i], stale) << i;
        ASSERT_EQ(rig.scratch_im[i], stale) << i;
    }
}

TEST(Quantization, OnASpectrumItSwitchesToTimeFirst)
{
    const uint32_t n = 256, bitnr = 8;
    const std::vector<double> input = random_values(n / 2, 5, 0.5);

    // The time samples the stage will find: the same round trip, on a twin.
    QuantRig twin(n, bitnr);
    twin.load(input);
    ASSERT_EQ(twin.engine.fft_init(), 0);
    twin.engine.switch_domain();
    twin.engine.switch_domain();
    const std::vector<double> time_samples = twin.re;

    QuantRig rig(n, bitnr);
    rig.load(input);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.engine.switch_domain();
    rig.log.lines.clear();
    rig.run(1);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"f->t ...\n", "quantization ...\n"}));
    EXPECT_EQ(rig.engine.timedomain, 1);

    double peak = 0.0;
    for (double v : time_samples)
        peak = std::max(peak, std::fabs(v));
    const double gain = quant_peak / peak;
    EXPECT_EQ(rig.engine.quantgain, gain);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(rig.engine.sigre[i], plain_quantize(time_samples[i] * gain, bitnr) * (1.0 / gain)) << i;
        ASSERT_EQ(rig.engine.sigim[i], 0.0) << i;
    }
}

} // namespace
