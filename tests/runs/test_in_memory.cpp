// The run over samples in memory against the file run of the same samples:
// the same output bytes, and the same log but for the file's two lines, for
// every width, idle and working chains, channels side by side (the file run)
// or one by one (the run in memory, on one thread).  Margins leave the
// chain's arithmetic alone and only choose the samples kept and the level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "tests/support/batch_runs.h"
#include "tests/support/dsp_reference.h"

namespace vesk {
namespace {

struct Samples {
    std::vector<uint8_t> wav;
    PcmView view;
};

// Random samples of `bits` in every channel, channel c within (c + 1) / channels of full scale.
Samples random_samples(uint16_t bits, uint16_t channels, uint32_t frames, uint32_t rate = 48000)
{
    const double full = std::ldexp(1.0, bits - 1) - 1;
    std::vector<std::vector<int32_t>> ints(channels);
    for (uint16_t c = 0; c < channels; ++c)
        for (double x : test::random_values(frames, 10 + c, full * (c + 1) / channels))
            ints[c].push_back(static_cast<int32_t>(std::lround(x)));
    Samples s{test::make_pcm_wav(channels, rate, bits, ints), {}};
    s.view = {rate, channels, bits, frames, s.wav.data() + wav::header_size};
    return s;
}

void every_stage(Params& p)
{
    p.fs = 44100, p.fssim = 11025, p.aperture = 0.5, p.bitnr = 8, p.fcloin = 20, p.fchiin = 15000, p.fcloout = 30;
    p.fchiout = 12000, p.varispeedt = 1.25, p.varispeedf = 0.8, p.varispeedsh = 1, p.jitteramp = 0.01;
}

struct Row {
    const char* name;
    uint16_t bits, channels;
    uint32_t frames; // from 20000 frames on every stage works at 2^16 points or more: side by side
    std::function<void(Params&)> set;
};
const Row rows[] = {
    {"idle, 8 bits", 8, 1, 5000, [](Params&) {}},
    {"idle, 16 bits, 3 channels", 16, 3, 7000, [](Params&) {}},
    {"every stage, 24 bits, stereo", 24, 2, 30000, every_stage},
    {"every stage, 16 bits, 3 channels", 16, 3, 20000, every_stage},
    {"quantization alone, 16 bits, stereo", 16, 2, 40000, [](Params& p) { p.bitnr = 7; }},
};

class InMemory : public test::WholeRun {};

TEST_F(InMemory, GivesTheFileRunsBytesAndLog)
{
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Samples in = random_samples(row.bits, row.channels, row.frames);
        input(in.wav);
        row.set(engine.params);
        engine.fixed_seed = 7;
        log.lines.clear();
        ASSERT_EQ(engine.process_wav(), RunOutcome::done);
        std::vector<std::string> file_log = log.lines;
        std::erase_if(file_log, [](const std::string& line) { return line == "reading input ...\n" || line == "writing output ...\n"; });
        const std::vector<uint8_t> file = test::read_file(dir.file("out.wav"));

        test::RecordingLog memory_log;
        Engine memory(messages, memory_log);
        row.set(memory.params);
        memory.fixed_seed = 7;
        memory.threads = 1;
        Pcm24View out;
        ASSERT_EQ(memory.process_samples(in.view, out), RunOutcome::done);
        EXPECT_EQ(memory_log.lines, file_log);
        EXPECT_EQ(std::tie(out.rate, out.channels), std::tie(engine.params.fs, engine.sizes().chnr));
        ASSERT_EQ(file.size(), wav::header_size + out.frames * 3 * out.channels);
        EXPECT_TRUE(std::equal(file.begin() + wav::header_size, file.end(), out.data));
        engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")};
    }
    EXPECT_TRUE(messages.texts.empty());
}

// With margins, the output keeps the samples that stand for the frames
// between them, and the level comes from channel 0's kept samples; every
// sample is the run's without margins at the other gain.
TEST(InMemoryMargins, KeepTheSamplesBetweenThemAtTheirOwnLevel)
{
    struct MarginRow { const char* name; uint16_t bits; std::function<void(Params&)> set; Margins margins; };
    const MarginRow margin_rows[] = {
        {"idle", 16, [](Params&) {}, {3000, 5000}},
        {"every stage", 24, every_stage, {4000, 0}},
        {"vari-speed only", 16, [](Params& p) { p.varispeedt = 0.7; }, {0, 2500}},
    };
    for (const MarginRow& row : margin_rows) {
        SCOPED_TRACE(row.name);
        Samples in = random_samples(row.bits, 2, 24000);
        // Pulses in channel 0's margins, louder than anything kept.
        for (uint32_t frame = 100; frame < 23964; frame += frame == 163 ? 23737 : 1)
            std::fill_n(in.wav.begin() + wav::header_size + frame * row.bits / 4, row.bits / 8, 0x7F);
        std::vector<uint8_t> outputs[2];
        uint64_t frames[2];
        for (int with = 0; with < 2; ++with) {
            test::RecordingMessages messages;
            test::RecordingLog log;
            Engine engine(messages, log);
            row.set(engine.params);
            engine.fixed_seed = 3;
            Pcm24View out;
            ASSERT_EQ(engine.process_samples(in.view, out, with ? row.margins : Margins{}), RunOutcome::done);
            outputs[with].assign(out.data, out.data + out.frames * 6);
            frames[with] = out.frames;
        }
        Params p;
        row.set(p);
        const double per_frame = (p.fs ? p.fs / 48000.0 : 1.0) / (p.varispeedt * p.varispeedf);
        const auto at = [&](uint64_t frame) { return static_cast<uint64_t>(std::round(frame * per_frame)); };
        const uint64_t first = at(row.margins.before);
        const uint64_t end = row.margins.after ? at(24000 - row.margins.after) : frames[0];
        ASSERT_EQ(frames[1], end - first);
        const auto sample = [&](int with, uint64_t i, int c) {
            const uint8_t* b = &outputs[with][6 * i + 3 * c];
            return (b[0] | (b[1] << 8) | (b[2] << 16)) - ((b[2] & 0x80) << 17);
        };
        int32_t kept_peak = 0, whole_peak = 0;
        for (uint64_t i = 0; i < frames[1]; ++i)
            kept_peak = std::max(kept_peak, std::abs(sample(1, i, 0))), whole_peak = std::max(whole_peak, std::abs(sample(0, first + i, 0)));
        EXPECT_EQ(kept_peak, 5931642); // 0.707106781 of full scale
        const double ratio = static_cast<double>(kept_peak) / whole_peak; // the gains' ratio, within 1e-6
        for (uint64_t i = 0; i < frames[1]; ++i)
            for (int c = 0; c < 2; ++c)
                ASSERT_NEAR(sample(1, i, c), std::clamp(sample(0, first + i, c) * ratio, -8388608.0, 8388607.0), 2 + 0.5 * ratio)
                    << "kept sample " << i << " of channel " << c;
    }
}

TEST(InMemoryRefusals, EachBadFormatIsNamed)
{
    const uint8_t bytes[12] = {};
    const std::pair<PcmView, const char*> refusals[] = {
        {{0, 1, 16, 6, bytes}, "wav-in: invalid sample rate"}, {{8000, 0, 16, 6, bytes}, "wav-in: invalid chnr"},
        {{8000, 1, 12, 6, bytes}, "wav-in: invalid bitnr"}, {{8000, 1, 16, 0, bytes}, "sampnump too small"},
        {{8000, 1, 8, uint64_t{1} << 32, bytes}, "sampnump too large for u_int"},
    };
    for (const auto& [view, text] : refusals) {
        test::RecordingMessages messages;
        test::RecordingLog log;
        Engine engine(messages, log);
        Pcm24View out;
        EXPECT_EQ(engine.process_samples(view, out), RunOutcome::failed) << text;
        EXPECT_EQ(messages.texts, std::vector<std::string>{text});
    }
}

} // namespace
} // namespace vesk
