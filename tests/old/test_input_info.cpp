// What Info reads from an input file, and the five lines it shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "ui/input_info.h"

namespace {

using vesk::InputInfo;
using vesk::InputInfoResult;
using vesk::read_input_info;
using vesk::test::make_pcm_wav;
using vesk::test::TempDir;
using vesk::test::WavOptions;
using vesk::test::write_file;

std::vector<int32_t> ramp(std::size_t n)
{
    std::vector<int32_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<int32_t>(i % 100) - 50;
    return v;
}

// Info on a file of `frames` frames per channel, written in `dir`.
InputInfo info_of(const TempDir& dir, uint16_t channels, uint32_t rate, uint16_t bits, std::size_t frames)
{
    const std::string path = dir.file("in.wav");
    write_file(path, make_pcm_wav(channels, rate, bits, std::vector<std::vector<int32_t>>(channels, ramp(frames))));
    InputInfo info;
    EXPECT_EQ(read_input_info(path, info), InputInfoResult::ok);
    return info;
}

TEST(InputInfo, StereoSixteenBit)
{
    TempDir dir;
    const std::size_t n = 1234;
    const InputInfo info = info_of(dir, 2, 44100, 16, n);
    EXPECT_EQ(info.samples, n);
    EXPECT_EQ(info.quantization, 16u);
    EXPECT_EQ(info.size, 4 * n);
    EXPECT_EQ(info.samplerate, 44100u);
    EXPECT_EQ(info.channels, 2u);
}

TEST(InputInfo, MonoTwentyFourBitCountsThreeBytesASample)
{
    TempDir dir;
    const InputInfo info = info_of(dir, 1, 48000, 24, 500);
    EXPECT_EQ(info.samples, 500u);
    EXPECT_EQ(info.size, 1500u);
}

TEST(InputInfo, FewerThanEightBitsCountOneByteASample)
{
    TempDir dir;
    // 4-bit samples, each stored in a byte of its own.
    const InputInfo info = info_of(dir, 2, 8000, 4, 10);
    EXPECT_EQ(info.quantization, 4u);
    EXPECT_EQ(info.samples, 10u);
    EXPECT_EQ(info.size, 20u);
}

TEST(InputInfo, TwelveBitsAreHeldInTwoBytes)
{
    TempDir dir;
    EXPECT_EQ(info_of(dir, 1, 8000, 12, 10).samples, 10u);
}

TEST(InputInfo, Failures)
{
    TempDir dir;
    InputInfo info;
    info.samples = 77;
    EXPECT_EQ(read_input_info(dir.file("missing.wav"), info), InputInfoResult::cannot_open);

    const std::string float_tag = dir.file("float.wav");
    write_file(float_tag, make_pcm_wav(1, 48000, 16, {ramp(4)}, WavOptions().with_format_tag(3)));
    EXPECT_EQ(read_input_info(float_tag, info), InputInfoResult::not_pcm);

    const std::string long_fmt = dir.file("fmt18.wav");
    write_file(long_fmt, make_pcm_wav(1, 48000, 16, {ramp(4)}, WavOptions().with_fmt_size(18)));
    EXPECT_EQ(read_input_info(long_fmt, info), InputInfoResult::invalid_format);

    const std::string no_riff = dir.file("text.wav");
    write_file(no_riff, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\n'});
    EXPECT_EQ(read_input_info(no_riff, info), InputInfoResult::invalid_format);
    // A refused file leaves the facts alone.
    EXPECT_EQ(info.samples, 77u);
}

TEST(InputInfo, Messages)
{
    EXPECT_EQ(vesk::input_info_message(InputInfoResult::cannot_open), "cannot open WAV input");
    EXPECT_EQ(vesk::input_info_message(InputInfoResult::invalid_format),
              "wav-in: invalid or unsupported WAV-format");
    EXPECT_EQ(vesk::input_info_message(InputInfoResult::not_pcm), "wav-in: WAV must be PCM\n");
    EXPECT_EQ(vesk::input_info_message(InputInfoResult::ok), "");
}

TEST(InputInfo, FiveLinesWithTheNumbersInTenColumns)
{
    InputInfo info;
    info.samples = 48000;
    info.quantization = 16;
    info.size = 192000;
    info.samplerate = 48000;
    info.channels = 2;
    EXPECT_EQ(vesk::format_input_info(info),
              "samples:          48000\n"
              "quantization:        16 bit\n"
              "size:            192000 bytes\n"
              "samplerate:       48000 Hz\n"
              "channels:             2\n");
    info.samples = 4294967295u;
    EXPECT_EQ(vesk::format_input_info(info).substr(0, 24), "samples:     4294967295\n");
}

} // namespace
