// Quantization against a closed form of the word length, and jitter against
// the clock model written out as a literal loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/random.h"
#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

// The first channel is brought to a peak of -1 dB (0.891250938) before it
// meets the grid; half that peak gives a gain of exactly 2, so every product
// below is exact and the ties stay ties.
constexpr double quant_peak = 0.891250938;
constexpr double scale24 = 8388608.0; // 2^23: full scale on the 24-bit integer scale

// A sample after the stage, from the word length alone: scaled by the gain,
// rounded to 24 bits (ties upward), then to the nearest level of the grid of
// 2^(24 - bits) (ties downward), the levels running from -full scale to the
// last one below +full scale; the gain undone.  NaN is silence.
double quantized(double x, double gain, uint32_t bits)
{
    const long double step = std::ldexp(1.0L, 24 - static_cast<int>(bits));
    const long double r = std::floor(static_cast<long double>(x * gain) * scale24 + 0.5L);
    const long double level = std::clamp(std::ceil(r / step - 0.5L) * step, -static_cast<long double>(scale24), scale24 - step);
    return std::isnan(x) ? 0.0 : static_cast<double>(level / scale24) / gain;
}

// Ties of both roundings for `bits` at the scale of a gain of 2, and random
// samples, all below `limit`.
std::vector<double> samples_with_ties(uint32_t bits, uint64_t seed, double limit)
{
    std::vector<double> v = random_values(200, seed, limit);
    const double step = std::ldexp(1.0, 24 - static_cast<int>(bits));
    for (double k : {-3.0, -2.0, -1.0, 0.0, 1.0, 2.0})
        v.push_back((k * step + step / 2) / scale24 / 2); // halfway between grid levels
    for (double j : {-5.0, -1.0, 0.0, 4.0})
        v.push_back((j + 0.5) / scale24 / 2);             // halfway between 24-bit steps
    std::erase_if(v, [limit](double x) { return std::fabs(x) >= limit; });
    return v;
}

class Quantization : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Quantization, SamplesLandOnTheGridOfTheWordLengthAndChannelZerosGainServesChannelOne)
{
    const uint32_t bits = GetParam(), n = 256;
    const double gain = 2.0;
    StageRig rig(n);
    rig.engine.params.bitnr = bits;
    std::vector<double> first = samples_with_ties(bits, bits, 0.4);
    first.push_back(-quant_peak / gain);
    const auto quantize_channel = [&](std::vector<double> input, int firstch) {
        input.resize(n, 0.0);
        rig.load_time(input);
        rig.seam.stage_quantization(firstch);
        for (uint32_t i = 0; i < n; ++i)
            ASSERT_EQ(rig.seam.sigre()[i], quantized(input[i], gain, bits))
                << bits << " bits, channel " << 1 - firstch << " sample " << i << " = " << input[i];
    };
    quantize_channel(first, 1);

    // Channel 1 is louder and clips at full scale: it must be put on the
    // grid with channel 0's gain, not a gain of its own.
    std::vector<double> second = samples_with_ties(bits, 100 + bits, 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.9, -1.0, inf, -inf, std::numeric_limits<double>::quiet_NaN()})
        second.push_back(v);
    quantize_channel(second, 0);
}

INSTANTIATE_TEST_SUITE_P(WordLengths, Quantization, ::testing::Range(1u, 25u));

// The generator is the portable one of the C standard's example: from seed 1
// its first values are the well-known 16838, 5758, 10113, 17515, 31051.
TEST(JitterRandom, SeedOneGivesTheKnownSequence)
{
    JitterRandom random;
    random.seed(1);
    for (int want : {16838, 5758, 10113, 17515, 31051})
        EXPECT_EQ(random.next(), want);
}

// Working size and rate, fs-sim [bins], amplitude [fs-sim periods], seed.
struct JitterRow { uint32_t n, fs, m; double amplitude; uint32_t seed; };
class Jitter : public ::testing::TestWithParam<JitterRow> {};

// The sampling clock is off by a timing error drawn uniformly from -A .. A
// (A = amplitude times the fs-sim period) once per fs-sim period, from the
// generator's values R as -A + 2A R / 32767, and linear in between; working
// sample i is read at i plus the error at its instant.  Tolerance: the kernel
// sum's, plus the error's rounding (8 eps of A + 1 samples) times the
// kernel's slope (below 2 per unit of |source| over the taps).
TEST_P(Jitter, EachSampleIsReadAtItsInstantPlusTheInterpolatedTimingError)
{
    const JitterRow row = GetParam();
    const uint32_t n = row.n, half = n / 2;
    const std::vector<double> input = random_values(n, row.seed);
    StageRig rig(n, row.m);
    rig.engine.params.fs = row.fs;
    rig.engine.params.fssim = row.m * (static_cast<double>(row.fs) / n);
    rig.engine.params.jitteramp = row.amplitude;
    rig.seam.jitter_rng().seed(row.seed);
    rig.load_time(input);
    rig.seam.stage_jitter();
    const std::vector<double> out = rig.out_re();

    JitterRandom random;
    random.seed(row.seed);
    const double period = row.fs / rig.engine.params.fssim; // [working samples]
    const double a = row.amplitude * period;
    const auto draw = [&] { return -a + 2.0 * a * random.next() / 32767.0; };
    const double u = static_cast<double>(row.m) / n; // fs-sim periods per working sample
    double start = 0.0, end = draw(), phase = 0.0;
    bool new_period = true;
    for (uint32_t i = 0; i < half; ++i) {
        if (new_period)
            start = end, end = draw(), new_period = false;
        const double error = start + (end - start) * phase;
        const long double position = i + static_cast<long double>(error);
        const long double center = std::floor(position);
        const KernelSum ref = kernel_sum(input, half, static_cast<int64_t>(center), position - center);
        const double tol = tap_tolerance(ref) + 2.0 * ref.magnitude * 8.0 * eps * (a + 1.0);
        ASSERT_NEAR(out[i], static_cast<double>(ref.value), tol) << "output " << i << ", error " << error;
        ASSERT_TRUE(row.amplitude != 0.0 || out[i] == input[i]) << "no jitter changes nothing: output " << i;
        for (phase += u; phase >= 1.0; phase -= 1.0)
            new_period = true; // one new breakpoint however many periods a sample spans
    }
    EXPECT_TRUE(std::all_of(out.begin() + half, out.end(), [](double v) { return v == 0.0; })) << "upper half";
    // The random sequence runs on into the next channel where this one left it.
    EXPECT_EQ(rig.seam.jitter_rng().next(), random.next());
}

INSTANTIATE_TEST_SUITE_P(Clocks, Jitter,
                         ::testing::Values(JitterRow{1024, 48000, 100, 0.4, 1}, JitterRow{512, 48000, 700, 0.5, 2},
                                           JitterRow{256, 44100, 3, 0.25, 3}, JitterRow{1024, 48000, 1024, 0.5, 4},
                                           JitterRow{512, 96000, 37, 0.1, 5}, JitterRow{512, 48000, 40, 0.0, 6}));

} // namespace
} // namespace vesk::test
