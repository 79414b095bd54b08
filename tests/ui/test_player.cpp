// The Listen window's player, pulled from with no sound device.
#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/dsp_reference.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/player.h"

namespace vesk {
namespace {

// A file whose every sample tells its own time: t / 10 (seconds), negated
// on the right.
Pcm clock_pcm(uint32_t rate, double seconds, uint32_t channels = 2)
{
    Pcm p{rate, channels, {}};
    for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * rate); ++i)
        for (uint32_t c = 0; c < channels; ++c)
            p.samples.push_back(static_cast<float>((c ? -1 : 1) * (i / 10.0 / rate)));
    return p;
}

Pcm constant_pcm(float v, std::size_t frames) { return Pcm{48000, 2, std::vector<float>(2 * frames, v)}; }

std::vector<float> pull(Player& p, std::size_t frames)
{
    std::vector<float> out(2 * frames);
    p.pull(out.data(), frames);
    return out;
}

TEST(Player, ASwitchFadesWithinTheTwoFilesAndAtMostTenMilliseconds)
{
    Player p(48000);
    p.load(Player::input, constant_pcm(0.5f, 48000));
    p.load(Player::output, constant_pcm(-0.25f, 48000));
    p.set_fade_frames(100000); // asks for more than is allowed
    p.set_playing(true);
    pull(p, 100);
    ASSERT_TRUE(p.set_source(Player::output));
    const std::vector<float> out = pull(p, 2000);
    int between = 0;
    for (float y : out) {
        EXPECT_GE(y, -0.25f);
        EXPECT_LE(y, 0.5f);
        between += y != 0.5f && y != -0.25f;
    }
    EXPECT_GT(between, 0);
    EXPECT_LE(between / 2, 480); // 10 ms at 48 kHz
    EXPECT_EQ(out.back(), -0.25f);
}

// A rate the device does not take is converted with the chain's windowed
// sinc: each frame is the direct kernel sum at its position in the file.
TEST(Player, AnotherRateIsReadWithTheChainsWindowedSinc)
{
    const std::vector<double> values = test::random_values(300, 7, 0.9);
    Pcm pcm{44100, 1, std::vector<float>(values.begin(), values.end())};
    std::vector<double> source(pcm.samples.begin(), pcm.samples.end());
    source.resize(source.size() + 32, 0.0); // zeros beyond both ends
    Player p(48000);
    p.load(Player::input, pcm);
    p.set_playing(true);
    const std::vector<float> out = pull(p, 320);
    double pos = 0.0;
    for (std::size_t k = 0; k < 320; ++k, pos += 44100.0 / 48000.0) {
        const auto centre = static_cast<int64_t>(pos);
        const test::KernelSum want = test::kernel_sum(source, static_cast<int64_t>(source.size()), centre, pos - centre);
        // The player's frames are floats: half a float step on top of the
        // sum's own rounding.
        const double tolerance = test::tap_tolerance(want) + 6e-8 * std::fabs(static_cast<double>(want.value));
        ASSERT_NEAR(out[2 * k], static_cast<double>(want.value), tolerance) << "frame " << k << " at " << pos;
        ASSERT_EQ(out[2 * k + 1], out[2 * k]) << "a mono file on both sides";
    }
}

TEST(Player, ASwitchLandsAtTheMappedTime)
{
    struct Case { uint32_t in_rate, out_rate, device_rate; double factor, played, expected_out_time; };
    const Case cases[] = {
        {48000, 48000, 48000, 1.0, 0.5, 0.5},  // times equal
        {44100, 48000, 48000, 1.0, 0.5, 0.5},  // rate conversion: times equal
        {48000, 48000, 48000, 2.0, 0.5, 0.25}, // output t = input t / 2
        {48000, 32000, 48000, 0.5, 0.3, 0.6},
    };
    for (const Case& c : cases) {
        Player p(c.device_rate);
        p.load(Player::input, clock_pcm(c.in_rate, 2));
        p.load(Player::output, clock_pcm(c.out_rate, 2));
        p.set_time_factor(c.factor);
        p.set_fade_frames(1);
        p.set_playing(true);
        pull(p, static_cast<std::size_t>(c.played * c.device_rate));
        p.set_source(Player::output);
        const std::vector<float> out = pull(p, 4);
        // Between samples the windowed sinc reads the clock's ramp to within
        // about 1e-4 of its value.
        EXPECT_NEAR(out[2] * 10.0, c.expected_out_time + 1.0 / c.device_rate, 1.5 / c.out_rate + 2e-4 * c.expected_out_time)
            << c.factor << " " << c.in_rate;
        EXPECT_EQ(out[3], -out[2]);
        EXPECT_NEAR(p.position(), c.expected_out_time + 4.0 / c.device_rate, 1.5 / c.out_rate);
    }
}

// Left a constant half, so the fades show; right the time, as clock_pcm.
Pcm level_and_clock(uint32_t rate, double seconds)
{
    Pcm p = clock_pcm(rate, seconds);
    for (std::size_t i = 0; i < p.samples.size(); i += 2)
        p.samples[i] = 0.5f;
    return p;
}

// Play from the start is the file's own first frame; a pause, Play in the
// middle and Stop fade the sound over the fade frames, a seek while playing
// crossfades, and each keeps the place heard, which position_before finds.
TEST(Player, PausePlaySeekAndStopFadeAndKeepThePlaceHeard)
{
    Player p(1000);
    p.load(Player::input, level_and_clock(1000, 2));
    p.set_fade_frames(10);
    p.set_playing(true);
    EXPECT_EQ(pull(p, 100)[0], 0.5f);
    // Frame k's level, and the time it plays (the right side over the left).
    const auto level = [](const std::vector<float>& out, std::size_t k) { return out[2 * k] / 0.5; };
    const auto time = [](const std::vector<float>& out, std::size_t k) { return -5.0 * out[2 * k + 1] / out[2 * k]; };
    p.set_playing(false);
    std::vector<float> out = pull(p, 30);
    for (std::size_t k = 1; k < 10; ++k)
        EXPECT_LT(level(out, k), level(out, k - 1));
    EXPECT_EQ(std::count(out.begin(), out.end(), 0.0f), 42);
    EXPECT_NEAR(p.position(), 0.110, 1e-9);
    for (auto [ago, heard] : {std::pair{0, 0.110}, {25, 0.105}, {60, 0.070}})
        EXPECT_NEAR(p.position_before(ago), heard, 1e-9) << ago;
    p.set_playing(true);
    out = pull(p, 30);
    for (std::size_t k = 1; k < 10; ++k)
        EXPECT_GT(level(out, k), level(out, k - 1));
    EXPECT_NEAR(time(out, 5), 0.115, 1e-6);
    p.seek(1.5);
    out = pull(p, 30);
    for (std::size_t k = 1; k < 10; ++k)
        EXPECT_GT(time(out, k), time(out, k - 1));
    EXPECT_EQ(level(out, 5), 1.0);
    EXPECT_NEAR(time(out, 20), 1.520, 1e-6);
    p.stop();
    out = pull(p, 30);
    EXPECT_NEAR(time(out, 5), 1.535, 1e-6);
    EXPECT_EQ(out[40], 0.0f);
    p.pull(nullptr, 0);
    EXPECT_EQ(p.position(), 0.0);
    // New data, even at another rate, take over at the same time.
    p.seek(1.25);
    p.pull(nullptr, 0);
    p.load(Player::input, level_and_clock(2000, 2));
    p.pull(nullptr, 0);
    EXPECT_NEAR(p.position(), 1.25, 1e-9);
}

// A part of the playing file (0.4 to 1.4 s, every sample raised by 0.5)
// takes over at the same time in the file, crossfading from the whole file,
// which comes back whole; it loops within itself, a seek before it lands at
// its start, and the whole file loaded back takes over at the same time.
TEST(Player, APartOfTheFileTakesOverAtTheSameTimeWithACrossfade)
{
    Player p(1000);
    p.set_fade_frames(5);
    p.load(Player::input, clock_pcm(1000, 2.0));
    p.set_playing(true);
    p.seek(0.6);
    pull(p, 100); // faded in at 0.6: now at 0.7
    Pcm part = clock_pcm(1000, 2.0);
    part.samples.erase(part.samples.begin() + 2 * 1400, part.samples.end());
    part.samples.erase(part.samples.begin(), part.samples.begin() + 2 * 400);
    for (std::size_t i = 0; i < part.samples.size(); i += 2)
        part.samples[i] += 0.5f;
    part.start = 0.4;
    EXPECT_EQ(p.load(Player::input, std::move(part)).frames(), 2000u);
    const std::vector<float> out = pull(p, 20);
    for (std::size_t k = 0; k < 20; ++k) {
        const double old = (0.7 + k / 1000.0) / 10;
        if (k < 5)
            EXPECT_TRUE(out[2 * k] > old + 1e-4 && out[2 * k] < old + 0.5 - 1e-4) << k;
        else
            EXPECT_NEAR(out[2 * k], old + 0.5, 1e-6) << k;
    }
    EXPECT_NEAR(p.position(), 0.72, 1e-9);
    EXPECT_NEAR(p.duration(), 1.4, 1e-9);
    p.set_loop(true);
    pull(p, 700);
    EXPECT_NEAR(p.position(), 0.42, 1e-9);
    p.seek(0.1);
    pull(p, 10);
    EXPECT_NEAR(p.position(), 0.41, 1e-9);
    p.load(Player::input, clock_pcm(1000, 2.0));
    p.pull(nullptr, 0);
    EXPECT_NEAR(p.position(), 0.41, 1e-9);
}

TEST(Player, LoopWrapsToTheStartAndWithoutLoopPlayingEnds)
{
    for (bool loop : {true, false}) {
        Player p(1000);
        p.load(Player::input, clock_pcm(1000, 0.1));
        p.set_loop(loop);
        p.set_playing(true);
        std::vector<float> out(2 * 250);
        EXPECT_EQ(p.pull(out.data(), 250), loop ? 250u : 100u);
        EXPECT_EQ(out[2 * 100], loop ? out[0] : 0.0f);
        EXPECT_EQ(out[2 * 230], loop ? out[2 * 30] : 0.0f);
        EXPECT_EQ(p.playing(), loop);
    }
}

TEST(Player, MonoPlaysOnBothSidesAndTheGainApplies)
{
    Player p(48000);
    p.load(Player::input, Pcm{48000, 1, {0.5f, -0.25f}});
    p.set_gain_db(Player::input, -20 * std::log10(2.0));
    p.set_playing(true);
    const std::vector<float> out = pull(p, 2);
    EXPECT_EQ(out, (std::vector<float>{0.25f, 0.25f, -0.125f, -0.125f}));
}

TEST(Player, TheLouderFileIsTurnedDownToTheQuieter)
{
    struct Case { double in, out; bool on; double in_db, out_db; };
    const Case cases[] = {{-14, -18.2, true, -4.2, 0}, {-23, -20, true, 0, -3},
                          {-14, -18, false, 0, 0},     {-HUGE_VAL, -18, true, 0, 0}};
    for (const Case& c : cases) {
        const MatchGains g = match_gains(c.in, c.out, c.on);
        EXPECT_NEAR(g.input_db, c.in_db, 1e-12);
        EXPECT_NEAR(g.output_db, c.out_db, 1e-12);
    }
    EXPECT_EQ(format_time(65.25), "1:05.3");
    EXPECT_EQ(format_time(59.96), "1:00.0");
}

TEST(Player, DecodingKeepsChannels0And1AndRefusesWhatItCannotHold)
{
    test::TempDir dir;
    const std::string path = dir.file("three.wav");
    test::write_file(path, test::make_pcm_wav(3, 22050, 16, {{16384, -32768}, {-8192, 32767}, {1, 1}}));
    Pcm pcm;
    ASSERT_EQ(decode_wav(path, pcm, 1 << 20), DecodeResult::ok);
    EXPECT_EQ(pcm.rate, 22050u);
    EXPECT_EQ(pcm.samples, (std::vector<float>{0.5f, -0.25f, -1.0f, 32767 / 32768.0f}));
    EXPECT_EQ(decode_wav(path, pcm, 15), DecodeResult::too_large); // 16 bytes needed
    EXPECT_EQ(decode_message(decode_wav(dir.file("none.wav"), pcm, 1 << 20)), "cannot open WAV input");
    EXPECT_EQ(pcm.samples.size(), 4u); // a failure leaves what was held
}

} // namespace
} // namespace vesk
