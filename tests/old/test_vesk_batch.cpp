// Whole runs of vesk-batch on generated WAV files: the exact log on standard
// output, the exact messages on standard error, the exit status and the
// bytes of the output file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "support/batch_runs.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace vesk {
namespace {

using test::fit_sine;
using test::ProcessResult;
using test::SineFit;
using test::tone;
using test::vesk_batch;
using test::write_text;

// What a run with every stage idle must produce, computed sample by sample:
// channel 0's peak goes to 0.707106781 of full scale, every channel takes the
// same gain, and each value is rounded half up into 24 bits and clipped.
std::vector<std::vector<int32_t>> neutral_output(const std::vector<std::vector<int32_t>>& input, uint16_t bits)
{
    const double full_scale = bits == 8 ? 128.0 : bits == 16 ? 32768.0 : 8388608.0;
    double peak = 0.0;
    for (const int32_t v : input[0])
        peak = std::fmax(peak, std::fabs(v / full_scale));
    const double gain = peak > 0 ? 0.707106781 / peak : 1.0;
    std::vector<std::vector<int32_t>> out;
    for (const auto& channel : input) {
        std::vector<int32_t> samples;
        for (const int32_t v : channel) {
            const double y = std::floor((v / full_scale) * gain * 8388608.0 + 0.5);
            samples.push_back(static_cast<int32_t>(std::fmin(8388607.0, std::fmax(-8388608.0, y))));
        }
        out.push_back(samples);
    }
    return out;
}

TEST(VeskBatch, NeutralRunsGiveTheInputIn24Bits)
{
    struct Row {
        const char* name;
        uint16_t bits;
        std::vector<std::vector<int32_t>> samples;
        test::WavOptions options;
    };
    test::WavOptions with_list;
    with_list.between_fmt_and_data.push_back({"LIST", {'I', 'N', 'F', 'O', 'a', 'b', 'c'}});
    const Row rows[] = {
        {"mono 8 bit", 8, {tone(301, 100, 0.01)}, {}},
        {"mono 16 bit", 16, {tone(1000, 20000, 0.013)}, {}},
        {"stereo 16 bit, LIST chunk before the data", 16, {tone(777, 12000, 0.02), tone(777, 3000, 0.05)}, with_list},
        {"stereo 24 bit", 24, {tone(500, 4000000, 0.03), tone(500, -2000000, 0.03)}, {}},
        // The second channel is louder than the first and clips.
        {"three channels, one clipping", 16, {tone(400, 5000, 0.01), tone(400, 30000, 0.02), tone(400, 0, 0.0)}, {}},
        {"silent first channel keeps gain 1", 16, {tone(100, 0, 0.0), tone(100, 1000, 0.1)}, {}},
        // Long enough for the encoding by a table of every possible value.
        {"long stereo 16 bit", 16, {tone(300000, 25000, 0.0013), tone(300000, 31000, 0.0021)}, {}},
        {"long stereo 8 bit", 8, {tone(3000, 90, 0.01), tone(3000, 127, 0.03)}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const auto channels = static_cast<uint16_t>(row.samples.size());
        test::write_file(dir.file("in put.wav"), test::make_pcm_wav(channels, 48000, row.bits, row.samples, row.options));
        const ProcessResult run = vesk_batch(
            {"-e", "inpwavname " + dir.file("in put.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e", "process"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find("--- processing channel " + std::to_string(channels - 1) + ": ---\n"), std::string::npos);
        EXPECT_TRUE(run.out.ends_with("writing output ...\n--- DONE ---\n"));
        test::Pcm24File output;
        ASSERT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
        EXPECT_EQ(output.channels, channels);
        EXPECT_EQ(output.rate, 48000u);
        EXPECT_EQ(output.samples, neutral_output(row.samples, row.bits));
        EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in put.wav", "out.wav"}));
    }
}

TEST(VeskBatch, LogIsPrintedExactly)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {tone(1000, 10000, 0.01)}));
    const ProcessResult run =
        vesk_batch({"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e", "process"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "input:             1000 samples (16 bit)\n"
                       "output:            1000 samples (24 bit)\n"
                       "FFT:               2048 samples\n"
                       "fs-inp:        48000.00 Hz\n"
                       "fs:            48000.00 Hz\n"
                       "dfmin:        23.437500 Hz\n"
                       "fs-sim:        48000.00 Hz\n"
                       "aperture:        0.0000\n"
                       "jitter:       0.000e+00 s\n"
                       "vari-speed:    1.000000\n"
                       "hold-sample:         no\n"
                       "inp fc-lo:         0.00 Hz\n"
                       "inp fc-hi:     24000.00 Hz\n"
                       "out fc-lo:         0.00 Hz\n"
                       "out fc-hi:     24000.00 Hz\n"
                       "quant:               24 bit\n"
                       "chnr:                 1\n"
                       "reading input ...\n"
                       "--- processing channel 0: ---\n"
                       "writing output ...\n"
                       "--- DONE ---\n");
}

TEST(VeskBatch, ExitStatusAndMessages)
{
    test::TempDir dir;
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");
    test::write_file(in, test::make_pcm_wav(1, 48000, 16, {tone(100, 10000, 0.01)}));
    test::WavOptions float_tag;
    float_tag.format_tag = 3;
    test::write_file(dir.file("float.wav"), test::make_pcm_wav(1, 48000, 16, {tone(100, 10000, 0.01)}, float_tag));
    test::write_file(dir.file("empty.wav"), test::make_pcm_wav(1, 48000, 16, {{}}));
    const std::string paths = "inpwavname " + in + "\noutwavname " + out + "\n";
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;       // exact, unless out_contains is set
        std::string err;       // exact
        bool out_contains = false;
        bool output_written = false;
    };
    const Row rows[] = {
        {"help", {"--help"}, "", 0, "usage: vesk-batch [-e LINE]... [FILE]...", "", true},
        {"no arguments", {}, "", 2, "", "usage: vesk-batch [-e LINE]... [FILE]...\nTry 'vesk-batch --help' for more information.\n"},
        {"unknown option", {"-x"}, "", 2, "",
         "vesk-batch: unknown option '-x'\nusage: vesk-batch [-e LINE]... [FILE]...\nTry 'vesk-batch --help' for more information.\n"},
        {"-e without a line", {"-e"}, "", 2, "",
         "vesk-batch: -e needs a line of batch text\nusage: vesk-batch [-e LINE]... [FILE]...\nTry 'vesk-batch --help' for more information.\n"},
        {"missing batch file", {dir.file("none.txt"), "-e", "process"}, "", 1, "", "vesk: cannot open file\n"},
        {"parameters refused", {"-e", paths + "bitnr 0 process"}, "", 1, "", "vesk: invalid bitnr (must be 1 ... 24)\n"},
        {"nothing to process", {"-e", "fssim 8000"}, "", 0, "", ""},
        {"stop ends all reading", {"-e", "fssim 8000 stop bitnr 0 process", "-e", "process"}, "", 0, "", ""},
        {"message that brings its newline",
         {"-e", "inpwavname " + dir.file("float.wav"), "-e", "outwavname " + out, "-e", "process"}, "", 1,
         "", "vesk: wav-in: WAV must be PCM\n"},
        // The first warning has no newline; the second follows it directly.
        {"no samples", {"-e", "inpwavname " + dir.file("empty.wav"), "-e", "outwavname " + out, "-e", "process"}, "", 1,
         "wav-in: warning, no samples" "wav-out: warning, no samples\n", "vesk: sampnump too small\n"},
        {"output is the input", {"-e", "inpwavname " + in, "-e", "outwavname " + dir.file("./in.wav"), "-e", "process"}, "", 1,
         "", "vesk: output file is the input file\n"},
        {"standard input", {"-"}, paths + "process\n", 0, "--- DONE ---\n", "", true, true},
        {"a failed run does not stop the next",
         {"-e", paths + "bitnr 0 process bitnr 24 process"}, "", 1, "--- DONE ---\n",
         "vesk: invalid bitnr (must be 1 ... 24)\n", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(out);
        const ProcessResult run = vesk_batch(row.args, row.input);
        EXPECT_EQ(run.status, row.status);
        if (row.out_contains)
            EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
        else
            EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(std::filesystem::exists(out), row.output_written);
    }
}

TEST(VeskBatch, RecordCarriesOverBetweenSources)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(2, 44100, 24, {tone(64, 100000, 0.1), tone(64, 1, 0.1)}));
    write_text(dir.file("params.txt"), "outwavname " + dir.file("out.wav") + "\r\nbitnr 24\r\n");
    const ProcessResult run =
        vesk_batch({"-e", "inpwavname " + dir.file("in.wav"), dir.file("params.txt"), "-e", "process"});
    EXPECT_EQ(run.status, 0) << run.err;
    test::Pcm24File output;
    ASSERT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
    EXPECT_EQ(output.rate, 44100u);
    EXPECT_EQ(output.samples[0].size(), 64u);
}

TEST(VeskBatch, RateConversionKeepsFrequencyAndLevel)
{
    struct Row {
        uint32_t from, to;
    };
    const Row rows[] = {{48000, 44100}, {44100, 48000}, {48000, 96000}, {48000, 24000}, {44100, 47999}, {48000, 7000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.from) + " -> " + std::to_string(row.to));
        test::TempDir dir;
        const std::size_t frames = row.from / 2; // half a second
        const double cycles = 1000.0 / row.from;
        test::write_file(dir.file("in.wav"), test::make_pcm_wav(2, row.from, 16, {tone(frames, 16000, cycles), tone(frames, 8000, cycles)}));
        const ProcessResult run = vesk_batch({"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"),
                                              "-e", "fssrc " + std::to_string(row.to) + " fssim " + std::to_string(row.to) + " ensrc TRUE process"});
        ASSERT_EQ(run.status, 0) << run.err;
        test::Pcm24File output;
        ASSERT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
        EXPECT_EQ(output.rate, row.to);
        const auto expected_length = static_cast<std::size_t>(std::ceil(frames * (static_cast<double>(row.to) / row.from)));
        ASSERT_EQ(output.samples[0].size(), expected_length);
        // Away from the ends, where the abrupt start and stop ring.
        const std::size_t margin = expected_length / 10;
        const SineFit left = fit_sine(output.samples[0], row.to, 1000.0, margin, expected_length - margin);
        const SineFit right = fit_sine(output.samples[1], row.to, 1000.0, margin, expected_length - margin);
        // 16-bit input: its quantization noise alone is about 2^-15 / sqrt(12)
        // relative to a half-scale sine, some 1e-4.
        EXPECT_LT(left.relative_residual, 1e-3);
        EXPECT_NEAR(right.amplitude / left.amplitude, 0.5, 1e-3);
        // Channel 0's peak sample is set to 0.707106781; the sine through the
        // samples is at least that loud, and at most 1/cos(pi f / fs) louder
        // (when no sample lands on a crest).
        EXPECT_GT(left.amplitude, 0.707106781 * 0.999);
        EXPECT_LT(left.amplitude, 0.707106781 / std::cos(3.141592653589793 * 1000.0 / row.to) * 1.001);
    }
}

TEST(VeskBatch, BandFiltersRemoveWhatIsOutsideTheBand)
{
    test::TempDir dir;
    const std::size_t frames = 24000;
    std::vector<int32_t> mix(frames);
    const auto low = tone(frames, 8000, 1000.0 / 48000), high = tone(frames, 8000, 12000.0 / 48000);
    for (std::size_t i = 0; i < frames; ++i)
        mix[i] = low[i] + high[i];
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {mix}));
    const std::string paths = "inpwavname " + dir.file("in.wav") + "\noutwavname " + dir.file("out.wav") + "\n";
    struct Row {
        const char* name;
        std::string params;
        bool keeps_low, keeps_high;
    };
    const Row rows[] = {
        {"input low-pass", "fchiin 6000", true, false},
        {"input high-pass", "fcloin 6000", false, true},
        {"output band", "fcloout 500 fchiout 2000", true, false},
        {"inverted corners clear everything but Nyquist", "fcloin 13000 fchiin 500", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ProcessResult run = vesk_batch({"-e", paths + row.params + " process"});
        ASSERT_EQ(run.status, 0) << run.err;
        test::Pcm24File output;
        ASSERT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
        ASSERT_EQ(output.samples[0].size(), frames);
        const SineFit at_low = fit_sine(output.samples[0], 48000, 1000.0, 2400, frames - 2400);
        const SineFit at_high = fit_sine(output.samples[0], 48000, 12000.0, 2400, frames - 2400);
        // A kept tone stays near the normalised level, a removed one falls
        // below -80 dB of it (only the other tone's leakage is left).
        EXPECT_EQ(at_low.amplitude > 0.1, row.keeps_low) << at_low.amplitude;
        EXPECT_EQ(at_high.amplitude > 0.1, row.keeps_high) << at_high.amplitude;
        if (row.keeps_low != row.keeps_high) {
            const double kept = std::max(at_low.amplitude, at_high.amplitude);
            const double removed = std::min(at_low.amplitude, at_high.amplitude);
            EXPECT_LT(removed / kept, 1e-4);
        }
    }
}

TEST(VeskBatch, StagesLogInChainOrder)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {tone(4800, 8000, 0.01)}));
    const ProcessResult run = vesk_batch(
        {"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e",
         "fssrc 44100 ensrc TRUE fcloin 100 fchiin 8000 fcloout 50 fchiout 10000 process"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string channel = "--- processing channel 0: ---\n";
    const std::size_t at = run.out.find(channel);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(run.out.substr(at + channel.size()), "SRC ...\n"
                                                   "t->f ...\n"
                                                   "input filter ...\n"
                                                   "output filter ...\n"
                                                   "f->t ...\n"
                                                   "writing output ...\n"
                                                   "--- DONE ---\n");
    // 4800 samples at 44100 / 48000 = 4410; the chain's longest length sizes
    // the arrays at 2 * 8192.
    EXPECT_NE(run.out.find("output:            4410 samples (24 bit)\nFFT:              16384 samples\n"), std::string::npos);
}

TEST(VeskBatch, InterruptStopsTheRunAndLeavesNoOutput)
{
    test::TempDir dir;
    // Enough channels of rate conversion that the run is still under way
    // when the interrupt arrives.
    std::vector<std::vector<int32_t>> channels(32, tone(4 * 48000, 10000, 0.01));
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(32, 48000, 16, channels));
    test::write_file(dir.file("out.wav"), {'k', 'e', 'e', 'p'});
    bool sent = false;
    const ProcessResult run = test::run_process(
        VESK_BATCH_EXE,
        {"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e",
         "fssrc 44100 ensrc TRUE process"},
        "", "", [&sent](const std::string& out, pid_t pid) {
            if (!sent && out.find("--- processing channel 0: ---\n") != std::string::npos) {
                kill(pid, SIGINT);
                sent = true;
            }
        });
    EXPECT_TRUE(sent);
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out.find("--- DONE ---"), std::string::npos);
    EXPECT_EQ(run.out.find("writing output"), std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("out.wav")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

} // namespace
} // namespace vesk
