// The level of the channels, which stages act, the sample bytes and the
// working memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "engine/level.h"
#include "engine/memory.h"
#include "engine/sample_codec.h"
#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

constexpr double lsb24 = 1.0 / 8388608.0;

TEST(NormalizeLevel, FindsThePeakOrAppliesAFixedGain)
{
    struct Row { const char* what; std::vector<double> samples; double x, count, gain; };
    const Row rows[] = {
        {"peak at the last counted sample", {0.25, 0.1, -0.5, 0.9}, -test::normalised_peak, 3, test::normalised_peak / 0.5},
        {"silence stays silent", {0.0, 0.0, 0.0}, -test::normalised_peak, 3, 1.0},
        {"a fixed gain may exceed full scale", {0.75, -0.25}, 2.0, 2, 2.0},
        {"a fixed gain of 0", {0.75, -0.25}, 0.0, 2, 0.0},
        {"nothing counted", {0.3}, -0.5, 0, 0.0},
    };
    for (const Row& row : rows) {
        StageRig rig(static_cast<uint32_t>(row.samples.size()));
        rig.load_time(row.samples);
        EXPECT_EQ(rig.seam.normalize_level(row.x, static_cast<uint32_t>(row.count)), row.gain) << row.what;
        for (std::size_t i = 0; i < row.samples.size(); ++i)
            EXPECT_EQ(rig.re[i], row.samples[i] * (i < row.count ? row.gain : 1.0)) << row.what << ": sample " << i;
    }
}

// The peak search deals the samples out to threads and to running peaks side
// by side: the largest magnitude counts wherever it lies (in any of them or
// in the rest that fills none), and a NaN never does.
TEST(PeakMagnitude, TheLargestMagnitudeCountsWhereverItLiesAndNoNaNDoes)
{
    for (const uint64_t count : {uint64_t{1}, uint64_t{9}, uint64_t{23}, (uint64_t{1} << 19) + 3}) {
        std::vector<double> values(count);
        for (uint64_t i = 0; i < count; ++i)
            values[i] = 0.5 * std::sin(0.1 * static_cast<double>(i));
        for (const uint64_t at : {uint64_t{0}, count / 2, count / 2 + 3, count - 1}) {
            if (at >= count)
                continue;
            std::vector<double> row = values;
            row[at] = -0.875;
            row[(at + 1) % count] = count > 1 ? std::nan("") : row[0];
            for (const unsigned threads : {1u, 3u})
                EXPECT_EQ(peak_magnitude(count, threads, [&](uint64_t i) { return row[i]; }), 0.875)
                    << count << " samples, peak at " << at << ", " << threads << " threads";
        }
    }
}

// Channel 0's peak becomes the normalised peak and channel 1, louder, takes channel
// 0's gain (and clips), through a chain with a working stage.  (The idle chain,
// whose samples go from input to output file as it is written, is checked by
// whole runs.)
struct ChannelRow {
    const char* what;
    uint32_t width, count, n;
};

class ChannelLevels : public ::testing::TestWithParam<ChannelRow> {};

TEST_P(ChannelLevels, ChannelZeroSetsTheGainAndChannelOneFollowsIt)
{
    const ChannelRow row = GetParam();
    const uint32_t channels = 2, bits = 8 * row.width;
    ChannelRig rig(row.n, row.count, row.width, channels);
    rig.engine.params.jitteramp = 1e-12; // 1e-12 periods off: far below an output step
    const double full = std::ldexp(1.0, static_cast<int>(bits) - 1);
    std::vector<std::vector<double>> value(channels);
    for (uint32_t c = 0; c < channels; ++c) {
        const std::vector<double> v = random_values(row.count, 40 + c, c == 0 ? 0.45 : 1.0);
        for (uint32_t i = 0; i < row.count; ++i) {
            const bool peak = c == 0 && i == row.count - 1; // channel 0's peak, late in the channel
            const auto code = static_cast<int32_t>(peak ? -full / 2 : std::clamp(std::round(v[i] * full), -full, full - 1));
            value[c].push_back(code / full);
            const uint32_t stored = row.width == 1 ? static_cast<uint32_t>(code + 128) : static_cast<uint32_t>(code);
            for (uint32_t b = 0; b < row.width; ++b)
                rig.input[(uint64_t{i} * channels + c) * row.width + b] = static_cast<uint8_t>(stored >> (8 * b));
        }
    }
    for (uint32_t c = 0; c < channels; ++c)
        ASSERT_TRUE(rig.channel(c));
    const double gain = test::normalised_peak / 0.5;
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t i = 0; i < row.count; ++i) {
            const uint8_t* out = rig.output.data() + (uint64_t{i} * channels + c) * 3;
            const int32_t code = (out[0] | (out[1] << 8) | (out[2] << 16)) - (out[2] >= 0x80 ? 0x1000000 : 0);
            const double want = std::clamp(value[c][i] * gain, -1.0, 1.0 - lsb24); // within half an output step
            ASSERT_NEAR(code * lsb24, want, 0.5 * lsb24 + 1e-12) << row.what << ": channel " << c << " sample " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Chains, ChannelLevels,
                         ::testing::Values(ChannelRow{"8 bits", 1, 1000, 2048}, ChannelRow{"16 bits", 2, 1000, 2048},
                                           ChannelRow{"24 bits", 3, 1000, 2048}));

std::string acting(const EngineSeam::StagePlan& p)
{
    const std::pair<bool, const char*> flags[] = {
        {p.resample, "resample"}, {p.input_filter, "input_filter"}, {p.hold, "hold"}, {p.varispeed_t, "varispeed_t"},
        {p.varispeed_f, "varispeed_f"}, {p.quantization, "quantization"}, {p.sampling, "sampling"},
        {p.aperture, "aperture"}, {p.jitter, "jitter"}, {p.output_filter, "output_filter"}, {p.spectral(), "(spectral)"}};
    std::string s;
    for (const auto& [on, name] : flags)
        s += on ? std::string(s.empty() ? "" : " ") + name : "";
    return s;
}

TEST(PlanStages, EachParameterSetSwitchesOnItsStages)
{
    struct Knobs { Params& p; RunShape& s; };
    struct Row { std::function<void(Knobs)> set; const char* acting; };
    const Row rows[] = {
        {[](Knobs) {}, ""}, {[](Knobs k) { k.p.fs = 44100; }, "resample"},
        {[](Knobs k) { k.s.fcloin_idx = 1; }, "input_filter (spectral)"},
        {[](Knobs k) { k.s.fchiin_idx = 510; }, "input_filter (spectral)"}, {[](Knobs k) { k.s.fchiin_idx = 511; }, ""},
        {[](Knobs k) { k.p.varispeedsh = 1; }, ""},
        {[](Knobs k) { k.p.varispeedt = 1.5; }, "varispeed_t"},
        {[](Knobs k) { k.p.varispeedsh = 1, k.p.varispeedt = 0.5; }, "hold varispeed_t (spectral)"},
        {[](Knobs k) { k.p.varispeedsh = 1, k.p.varispeedf = 2.0; }, "hold varispeed_f (spectral)"},
        {[](Knobs k) { k.p.varispeedf = 0.0; }, ""}, {[](Knobs k) { k.p.bitnr = 23; }, "quantization"},
        {[](Knobs k) { k.p.bitnr = 1; }, "quantization"},
        {[](Knobs k) { k.s.fssim_idx = 1023; }, "sampling (spectral)"}, {[](Knobs k) { k.s.fssim_idx = 5000; }, ""},
        {[](Knobs k) { k.p.aperture = 1e-10; }, ""},
        {[](Knobs k) { k.p.aperture = 2e-10; }, "aperture (spectral)"},
        {[](Knobs k) { k.p.jitteramp = 1e-12; }, "jitter"},
        {[](Knobs k) { k.s.fcloout_idx = 1; }, "output_filter (spectral)"},
        {[](Knobs k) { k.s.fchiout_idx = 510; }, "output_filter (spectral)"},
    };
    for (std::size_t r = 0; r < std::size(rows); ++r) {
        ChannelRig rig(1024, 512, 2, 1);
        rows[r].set({rig.engine.params, rig.seam.shape()});
        const EngineSeam::StagePlan plan = rig.seam.plan_stages();
        EXPECT_EQ(acting(plan), rows[r].acting) << "row " << r;
        EXPECT_EQ(plan.any(), !acting(plan).empty()) << "row " << r;
    }
}

// Every 8- and 16-bit code and every 97th 24-bit one (the extremes included)
// decodes to its value over full scale, little-endian, and comes back as the
// same value in 24 bits.
TEST(SampleCodec, EveryWidthDecodesToItsValueAndEncodesBackTo24BitsRoundingHalfUpAndClipping)
{
    for (uint32_t width = 1; width <= 3; ++width) {
        const uint32_t bits = 8 * width;
        const int64_t codes = int64_t{1} << bits;
        const int64_t stride = width == 3 ? 97 : 1;
        for (int64_t u = 0; u < codes; u = u + stride < codes || u == codes - 1 ? u + stride : codes - 1) {
            const uint8_t bytes[3] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16)};
            // 8 bits are offset binary, the others two's complement.
            const int64_t v = width == 1 ? u - 128 : (u >= codes / 2 ? u - codes : u);
            const double value = std::ldexp(static_cast<double>(v), 1 - static_cast<int>(bits));
            ASSERT_EQ(decode_sample(bytes, width), value) << width << " bytes, code " << u;
            uint8_t out[3];
            encode_sample24(value, out);
            const int64_t v24 = v * (int64_t{1} << (24 - bits));
            ASSERT_EQ(out[0] | (out[1] << 8) | (out[2] << 16), v24 & 0xFFFFFF) << width << " bytes, code " << u;
        }
    }
    // Encoding rounds half up and clips at full scale; NaN is silence.
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, int32_t> rows[] = {
        {2.5 * lsb24, 3}, {-2.5 * lsb24, -2}, {2.4999 * lsb24, 2}, {-0.6 * lsb24, -1}, {1.0, 8388607},
        {8388607.5 * lsb24, 8388607}, {inf, 8388607}, {-1.0, -8388608}, {-8388608.6 * lsb24, -8388608},
        {-inf, -8388608}, {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& [x, want] : rows) {
        uint8_t out[3];
        encode_sample24(x, out);
        EXPECT_EQ(out[0] | (out[1] << 8) | (out[2] << 16), want & 0xFFFFFF) << "value " << x / lsb24 << " steps";
    }
}

TEST(ClearDoubles, ZerosExactlyTheRangeWhetherPagesAreReleasedOrWritten)
{
    struct Row { uint64_t offset, count, release; } const rows[] = {{3, 10, 1}, {5, (1u << 19) + 1000, 1}, {5, (1u << 19) + 1000, 0}, {0, 1u << 20, 1}};
    for (const Row& row : rows) {
        std::vector<double> v(row.offset + row.count + 700, 1.0); // the tail reaches past the range's last page
        clear_doubles(v.data() + row.offset, row.count, row.release != 0);
        for (uint64_t i = 0; i < v.size(); ++i) {
            const bool inside = i >= row.offset && i < row.offset + row.count;
            ASSERT_EQ(v[i], inside ? 0.0 : 1.0) << "count " << row.count << " release " << row.release << ": entry " << i;
        }
    }
}

} // namespace
} // namespace vesk::test
