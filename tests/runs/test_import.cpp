// Audio files written by libsndfile from generated samples and converted
// into PCM WAV files that a run takes: exact for integer sources, within a
// step for float, within the codec's error for lossy ones; what is refused,
// and that nothing is ever left behind or replaced.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

#include "tests/support/batch_runs.h"
#include "tests/support/sound_file.h"
#include "wav/import.h"

namespace vesk {
namespace {

// Deterministic noise at `bits` (0: doubles in [-1, 1)), both extremes first.
std::vector<double> noise(int bits, std::size_t count)
{
    const double full = bits == 0 ? 1.0 : std::ldexp(1.0, bits - 1);
    std::vector<double> v{-full, full - (bits == 0 ? 1e-9 : 1.0)};
    for (uint64_t x = 12345; v.size() < count;) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        const double u = static_cast<double>(x >> 11) / 9007199254740992.0; // [0, 1)
        v.push_back(bits == 0 ? 2 * u - 1 : std::floor(u * 2 * full) - full);
    }
    return v;
}

// A sweep at half scale, for the lossy codecs.
std::vector<double> sweep(int rate, int channels, std::size_t frames)
{
    std::vector<double> v;
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(i) / rate;
            v.push_back(0.5 * std::sin(2 * M_PI * ((200 + 300 * c) * t + 800 * t * t)));
        }
    return v;
}

// Writes `samples` (integers at `bits`, or doubles for 0) through libsndfile.
bool write_samples(const std::string& path, int format, int bits, int rate, int channels, const std::vector<double>& samples)
{
    if (bits == 0)
        return test::write_sound(path, format, rate, channels, samples);
    std::vector<int> left_justified;
    for (double v : samples)
        left_justified.push_back(static_cast<int>(std::ldexp(v, 32 - bits)));
    return test::write_sound(path, format, rate, channels, left_justified);
}

// The converted file's samples as integers, after checking that its header
// is the plain 44-byte PCM one (with the RIFF size counting a pad byte).
std::vector<int32_t> converted(const std::string& path, uint32_t channels, uint32_t rate, uint32_t bits)
{
    const std::vector<uint8_t> bytes = test::read_file(path);
    const std::size_t width = bits / 8, data = (bytes.size() - 44) / (width * channels) * width * channels;
    EXPECT_EQ(bytes.size(), 44 + data + data % 2);
    auto header = wav::make_wav_header(channels, rate, bits, static_cast<uint32_t>(data));
    header[4] += data % 2;
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
    std::vector<int32_t> samples;
    for (std::size_t p = 44; p < 44 + data; p += width) {
        const uint32_t u = bytes[p] | (bytes[p + 1] << 8) | (width == 3 ? bytes[p + 2] << 16 : 0);
        samples.push_back(static_cast<int32_t>(u << (32 - bits)) >> (32 - bits));
    }
    return samples;
}

enum Accuracy { exact, one_step, codec };

TEST(Import, EachFormatIsConvertedToAPlainPcmWavAtItsRateAndChannels)
{
    test::TempDir dir;
    const struct {
        const char* kind; int format; int bits; uint32_t target; Accuracy accuracy; int rate, channels, frames;
    } rows[] = {
        {"WAV, 8 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8, 16, exact, 8000, 2, 3000},
        {"WAV, 32 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 32, 24, exact, 48000, 3, 3000},
        {"WAV, 32 bit float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 24, one_step, 44100, 2, 3000},
        {"WAV, 64 bit float", SF_FORMAT_WAVEX | SF_FORMAT_DOUBLE, 0, 24, one_step, 96000, 1, 3000},
        {"FLAC, 16 bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16, 16, exact, 44100, 2, 3000},
        {"FLAC, 24 bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24, 24, exact, 96000, 2, 3000},
        {"AIFF, 24 bit", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 24, 24, exact, 44100, 1, 3001}, // odd data: a pad byte
        {"AIFF, 16 bit", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16, 16, exact, 22050, 2, 3000},
        {"CAF, 24 bit", SF_FORMAT_CAF | SF_FORMAT_PCM_24, 24, 24, exact, 48000, 2, 3000},
        {"W64, 24 bit", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 24, 24, exact, 48000, 2, 3000},
        {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0, 24, codec, 44100, 2, 44100},
        {"Ogg Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 0, 24, codec, 48000, 2, 48000},
        {"MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 24, codec, 44100, 2, 44100},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        const std::string source = dir.file("source"), target = dir.file(std::string(row.kind) + ".wav");
        const std::size_t count = static_cast<std::size_t>(row.frames) * row.channels;
        const std::vector<double> written = row.accuracy == codec ? sweep(row.rate, row.channels, row.frames) : noise(row.bits, count);
        ASSERT_TRUE(write_samples(source, row.format, row.bits, row.rate, row.channels, written));
        const wav::ImportResult result = wav::import_audio(source, target);
        ASSERT_EQ(result.status, wav::ImportStatus::done) << result.reason;
        EXPECT_EQ(std::tie(result.source.kind, result.frames, result.clipped), std::make_tuple(std::string(row.kind), uint64_t(row.frames), uint64_t{0}));
        const std::vector<int32_t> got = converted(target, row.channels, row.rate, row.target);
        ASSERT_EQ(got.size(), count);
        const double step = std::ldexp(1.0, 1 - int(row.target)); // one step in fractions of full scale
        double squares = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (row.accuracy == exact) {
                // Widened by whole bits, or rounded from 32 to 24 bits (the top value clipped).
                const double want = std::min(std::floor(std::ldexp(written[i], int(row.target) - row.bits) + 0.5),
                                             std::ldexp(1.0, int(row.target) - 1) - 1);
                ASSERT_EQ(got[i], want) << i;
            } else if (row.accuracy == one_step) {
                ASSERT_LE(std::fabs(got[i] * step - written[i]), step) << i;
            }
            if (i >= count / 10 && i < count - count / 10) // past the codecs' start and end
                squares += std::pow(got[i] * step - written[i], 2);
        }
        if (row.accuracy == codec) { // measured 0.002 to 0.005 on a half-scale sweep
            EXPECT_LT(std::sqrt(squares / (0.8 * count)), 0.01);
        }
    }
}

// Beyond full scale (and not a number at all) is clipped and counted; full
// scale itself, which 24 bits cannot hold, is one step short and not counted.
TEST(Import, FloatBeyondFullScaleIsClippedAndCounted)
{
    test::TempDir dir;
    const std::vector<double> written{1.5, -1.5, 1.0, -1.0, NAN, INFINITY, -INFINITY, 0.25, -0.5 / 8388608, 1e-9};
    ASSERT_TRUE(test::write_sound(dir.file("f.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, written));
    const wav::ImportResult result = wav::import_audio(dir.file("f.wav"), dir.file("out.wav"));
    EXPECT_EQ(result.clipped, 5u);
    EXPECT_EQ(converted(dir.file("out.wav"), 1, 48000, 24),
              (std::vector<int32_t>{8388607, -8388608, 8388607, -8388608, 0, 8388607, -8388608, 2097152, 0, 0}));
    EXPECT_EQ(wav::import_summary("f.wav", "out.wav", result),
              "imported f.wav (WAV, 32 bit float, 1 ch, 48000 Hz, 0:00.0) as out.wav (24 bit); 5 samples clipped");
}

TEST(Import, RefusalsAndFailedWritesLeaveNoFileBehindAndReplaceNone)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "locked");
    const std::string flac = dir.file("s.flac"), taken = dir.file("taken.wav"), half = dir.file("half.flac"),
                      big = dir.file("big.w64");
    ASSERT_TRUE(test::write_sound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 2, sweep(44100, 2, 20000)));
    std::vector<uint8_t> bytes = test::read_file(flac);
    bytes.resize(bytes.size() / 2);
    test::write_file(half, bytes);
    test::write_text(taken, "mine");
    test::write_text(dir.file("notes.txt"), "not audio");
    // 2.25 G samples of 16 bits, in a sparse file: 4.5 GB of output.
    ASSERT_TRUE(test::write_sound(big, SF_FORMAT_W64 | SF_FORMAT_PCM_16, 8000, 1, std::vector<int>(1000)));
    std::filesystem::resize_file(big, 4500000000u);
    const std::vector<std::string> before = dir.listing();
    const test::LockedFolder locked(dir.path() / "locked");
    const struct { const char* source; std::string target, reason; rlim_t file_limit = 0; } rows[] = {
        {"notes.txt", dir.file("out.wav"), "format not recognised"},
        {"gone.flac", dir.file("out.wav"), "no such file or directory"},
        {"half.flac", dir.file("out.wav"), "the file ends after 8192 of its 20000 samples"},
        {"s.flac", taken, taken + " exists"},
        {"s.flac", flac, flac + " exists"},
        {"s.flac", "/dev/full", "/dev/full exists"},
        {"s.flac", dir.file("no/out.wav"), "cannot create " + dir.file("no/out.wav")},
        {"s.flac", dir.file("locked/out.wav"), "cannot create " + dir.file("locked/out.wav")},
        {"s.flac", dir.file("out.wav"), "cannot write " + dir.file("out.wav"), 50000},
        {"big.w64", dir.file("out.wav"), "too long for a WAV file (more than 4 GiB of samples)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const rlimit limited{row.file_limit != 0 ? row.file_limit : unlimited.rlim_cur, unlimited.rlim_max};
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limited);
        const wav::ImportResult result = wav::import_audio(dir.file(row.source), row.target);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        std::signal(SIGXFSZ, handler);
        EXPECT_EQ(std::tie(result.status, result.reason), std::make_tuple(wav::ImportStatus::failed, row.reason));
        EXPECT_EQ(dir.listing(), before);
        EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "locked"));
    }
    EXPECT_EQ(test::read_file(taken), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
}

// Stopped after its second block, a conversion leaves nothing; a target
// that another program creates meanwhile is kept and the conversion fails;
// let run, it reports a share done that grows to 1.
TEST(Import, AStopOrATargetThatAppearsMeanwhileLeavesTheFolderAsItWasAndProgressGrowsToTheEnd)
{
    test::TempDir dir;
    const std::string source = dir.file("s.flac"), target = dir.file("out.wav");
    ASSERT_TRUE(test::write_sound(source, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, sweep(44100, 2, 200000)));
    std::atomic<int> stop{0};
    std::vector<double> shares;
    wav::ImportControl control{&stop, [&](double share) { shares.push_back(share); stop = shares.size() == 2; }};
    EXPECT_EQ(wav::import_audio(source, target, control).status, wav::ImportStatus::stopped);
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"s.flac"});
    control.progress = [&](double share) {
        if (shares.size() == 2)
            test::write_text(target, "theirs");
        shares.push_back(share);
    };
    stop = 0;
    shares.clear();
    EXPECT_EQ(wav::import_audio(source, target, control).reason, target + " exists");
    EXPECT_EQ(test::read_file(target), (std::vector<uint8_t>{'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"out.wav", "s.flac"}));
    std::filesystem::remove(target);
    shares = {0, 0, 0}; // past the point where the target appeared
    EXPECT_EQ(wav::import_audio(source, target, control).status, wav::ImportStatus::done);
    EXPECT_TRUE(std::is_sorted(shares.begin() + 3, shares.end()) && shares.size() == 10 && shares.back() == 1.0);
}

// The converted file is an input like any other: a run on it gives what a
// run on a PCM WAV of the same samples gives, byte for byte.
using ImportedRun = test::WholeRun;

TEST_F(ImportedRun, OnAConvertedFileGivesWhatItGivesOnAPcmWavOfTheSameSamples)
{
    const std::vector<double> written = noise(24, 2 * 4000);
    std::vector<std::vector<int32_t>> channels(2);
    for (std::size_t i = 0; i < written.size(); ++i)
        channels[i % 2].push_back(static_cast<int32_t>(written[i]));
    ASSERT_TRUE(write_samples(dir.file("s.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24, 44100, 2, written));
    ASSERT_EQ(wav::import_audio(dir.file("s.flac"), dir.file("in.wav")).status, wav::ImportStatus::done);
    engine.params.fssim = 11025, engine.params.aperture = 1, engine.params.bitnr = 10;
    ASSERT_EQ(engine.process_wav(), RunOutcome::done);
    const std::vector<uint8_t> converted_run = test::read_file(dir.file("out.wav"));
    input(test::make_pcm_wav(2, 44100, 24, channels));
    ASSERT_EQ(engine.process_wav(), RunOutcome::done);
    EXPECT_EQ(test::read_file(dir.file("out.wav")), converted_run);
}

} // namespace
} // namespace vesk
