// Sample conversion and level normalisation of the channel pipeline.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine/engine.h"
#include "engine/floor.h"
#include "engine/sample_codec.h"
#include "support/recording_sinks.h"

namespace vesk {
namespace {

// The inline floor must be std::floor bit for bit, the sign of zero and
// the values where truncation and floor part included.
TEST(FloorExact, MatchesTheLibraryBitForBit)
{
    const auto bits = [](double v) {
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    const double two52 = 4503599627370496.0;
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -1.5, 0.9999999999999999,
                                  -0.9999999999999999, 4.9e-324, -4.9e-324, two52 - 0.5, -(two52 - 0.5),
                                  two52, -two52, two52 + 1.0, 9.3e18, -9.3e18, 1e300, -1e300, inf, -inf,
                                  8388607.5, -8388608.5, 1.0 + 1e-16, 2.0 - 2.2e-16};
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> spread(-1e7, 1e7);
    for (int i = 0; i < 2000; ++i)
        values.push_back(spread(random));
    for (const double v : values) {
        SCOPED_TRACE(v);
        EXPECT_EQ(bits(floor_exact(v)), bits(std::floor(v)));
    }
    EXPECT_TRUE(std::isnan(floor_exact(std::numeric_limits<double>::quiet_NaN())));
}

TEST(SampleCodec, DecodesEveryWidthToFractionsOfFullScale)
{
    struct Row {
        std::vector<uint8_t> bytes;
        double value;
    };
    const Row rows[] = {
        {{0x00, 0x80}, -1.0},
        {{0xFF, 0x7F}, 32767.0 / 32768.0},
        {{0x01, 0x00}, 1.0 / 32768.0},
        {{0xFF, 0xFF}, -1.0 / 32768.0},
        {{0x00}, -1.0},
        {{0x80}, 0.0},
        {{0xFF}, 127.0 / 128.0},
        {{0x00, 0x00, 0x80}, -1.0},
        {{0xFF, 0xFF, 0x7F}, 8388607.0 / 8388608.0},
        {{0x56, 0x34, 0x12}, 0x123456 / 8388608.0},
        {{0xFF, 0xFF, 0xFF}, -1.0 / 8388608.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(decode_sample(row.bytes.data(), static_cast<uint32_t>(row.bytes.size())), row.value);
    }
}

TEST(SampleCodec, EncodesHalfUpAndClips)
{
    struct Row {
        double value;
        std::array<uint8_t, 3> bytes;
    };
    const double lsb = 1.0 / 8388608.0;
    const Row rows[] = {
        {0.5, {0x00, 0x00, 0x40}},
        {-1.0, {0x00, 0x00, 0x80}},
        {1.0, {0xFF, 0xFF, 0x7F}},       // clipped to 8388607
        {2.5 * lsb, {0x03, 0x00, 0x00}}, // half up
        {-2.5 * lsb, {0xFE, 0xFF, 0xFF}}, // -2, also half up
        {2.4999 * lsb, {0x02, 0x00, 0x00}},
        {-0.6 * lsb, {0xFF, 0xFF, 0xFF}},              // -0.1 rounds down to -1
        {-0.5 * lsb, {0x00, 0x00, 0x00}},
        {8388607.4 * lsb, {0xFF, 0xFF, 0x7F}},         // 8388607.9 rounds down, in range
        {-8388607.7 * lsb, {0x00, 0x00, 0x80}},        // -8388607.2 rounds down to the limit
        {-8388608.6 * lsb, {0x00, 0x00, 0x80}},
        {-1.5, {0x00, 0x00, 0x80}},
        {1e300, {0xFF, 0xFF, 0x7F}},
        {std::numeric_limits<double>::infinity(), {0xFF, 0xFF, 0x7F}},
        {-std::numeric_limits<double>::infinity(), {0x00, 0x00, 0x80}},
        {std::numeric_limits<double>::quiet_NaN(), {0x00, 0x00, 0x00}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        std::array<uint8_t, 3> out{};
        encode_sample24(row.value, out.data());
        EXPECT_EQ(out, row.bytes);
    }
}

TEST(Normalize, PeakAndGainModes)
{
    struct Row {
        const char* name;
        std::vector<double> samples;
        double x;
        uint32_t count;
        std::vector<double> expected;
        double gain;
    };
    const double g = 0.707106781 / 0.5;
    const Row rows[] = {
        {"peak", {0.25, -0.5, 0.1}, -0.707106781, 3, {0.25 * g, -0.5 * g, 0.1 * g}, g},
        {"silence", {0.0, 0.0, 0.0}, -0.707106781, 3, {0.0, 0.0, 0.0}, 1.0},
        {"gain 0", {0.25, -0.5}, 0.0, 2, {0.0, -0.0}, 0.0},
        {"gain 2 may exceed full scale", {0.75, -0.25}, 2.0, 2, {1.5, -0.5}, 2.0},
        {"count limits the scan", {0.125, 0.25, 0.9}, -0.5, 2, {0.25, 0.5, 0.9}, 2.0},
        {"count 0", {0.3}, -0.5, 0, {0.3}, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::RecordingMessages messages;
        test::RecordingLog log;
        Engine engine(messages, log);
        std::vector<double> samples = row.samples;
        engine.sigre = samples.data();
        EXPECT_EQ(engine.normalize_level(row.x, row.count), row.gain);
        EXPECT_EQ(samples, row.expected);
        EXPECT_TRUE(log.lines.empty());
        engine.sigre = nullptr;
    }
}

TEST(Normalize, NoSignalArrayChangesNothing)
{
    test::RecordingMessages messages;
    test::RecordingLog log;
    Engine engine(messages, log);
    EXPECT_EQ(engine.normalize_level(-0.5, 10), 0.0);
}

} // namespace
} // namespace vesk
