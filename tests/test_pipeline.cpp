// Sample conversion and level normalisation of the channel pipeline.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/engine.h"
#include "engine/sample_codec.h"
#include "support/recording_sinks.h"

namespace vesk {
namespace {

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
