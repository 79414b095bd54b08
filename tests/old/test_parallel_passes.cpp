// The heavy passes split their work across threads, and the interpolator
// runs on the widest vectors the processor has; whatever the thread count
// or the vector width, every output must be the same to the last bit, and
// the jitter's random sequence must end where a single pass leaves it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/interpolator.h"
#include "support/recording_sinks.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace vesk {
namespace {

struct Outcome {
    std::vector<double> re, im;
    int next_random;
};

// Runs `stage` on the same random signal (time samples, or a Hermitian
// spectrum when `spectrum` is set) with the given thread count.
Outcome run_stage(unsigned threads, bool spectrum, const std::function<void(Engine&)>& stage)
{
    test::RecordingMessages messages;
    test::RecordingLog log;
    Engine engine(messages, log);
    constexpr uint32_t n = 1u << 16;
    engine.sampnump = n;
    engine.threads = threads;
    engine.fs = 44100;
    engine.fsinp = 48000;
    engine.sampnuminp = n / 2 - 100;
    engine.fssim_idx = 3000; // about 22 working samples per fs-sim period
    engine.fssim = engine.fssim_idx * (static_cast<double>(engine.fs) / n);
    engine.jitteramp = 0.4;
    engine.varispeedt = 1.0 / 1.0594630943592953;
    engine.varispeedf = 1.0594630943592953;
    engine.jitter_rng.seed(12345);
    std::vector<double> re(n, 0.0), im(n, 0.0), tre(n, 7.0), tim(n, 7.0);
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (uint32_t i = 0; i < n / 2; ++i)
        re[i] = uniform(random);
    engine.sigre = re.data();
    engine.sigim = im.data();
    engine.tmpre = tre.data();
    engine.tmpim = tim.data();
    engine.timedomain = 1;
    EXPECT_EQ(engine.fft_init(), 0);
    if (spectrum)
        engine.switch_domain();
    stage(engine);
    Outcome outcome{std::vector<double>(engine.sigre, engine.sigre + n),
                    std::vector<double>(engine.sigim, engine.sigim + n), engine.jitter_rng.next()};
    engine.sigre = engine.sigim = engine.tmpre = engine.tmpim = nullptr;
    return outcome;
}

TEST(ParallelPasses, ResultsDoNotDependOnTheThreadCountOrVectorWidth)
{
    struct Row {
        const char* name;
        bool spectrum;
        std::function<void(Engine&)> stage;
    };
    const Row rows[] = {
        {"rate conversion", false, [](Engine& e) { e.src_resample(); }},
        {"vari-speed in time", false, [](Engine& e) { e.stage_varispeed_t(); }},
        {"vari-speed in frequency", true, [](Engine& e) { e.stage_varispeed_f(); }},
        {"jitter", false, [](Engine& e) { e.stage_jitter(); }},
        {"hold", true, [](Engine& e) { e.stage_hold_aperture("hold ...\n", 0, 1.0); }},
        {"aperture", true, [](Engine& e) { e.stage_hold_aperture("aperture ...\n", 1, 0.5); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome single = run_stage(1, row.spectrum, row.stage);
        for (const unsigned threads : {2u, 3u, 8u}) {
            SCOPED_TRACE(threads);
            const Outcome split = run_stage(threads, row.spectrum, row.stage);
            EXPECT_TRUE(split.re == single.re);
            EXPECT_TRUE(split.im == single.im);
            EXPECT_EQ(split.next_random, single.next_random);
        }
        // Every narrower build the processor runs gives the same bits.
        const int widest = limit_interpolator_lanes(8);
        for (int lanes = widest / 2; lanes >= 2; lanes /= 2) {
            SCOPED_TRACE(lanes);
            ASSERT_EQ(limit_interpolator_lanes(lanes), lanes);
            const Outcome narrow = run_stage(1, row.spectrum, row.stage);
            EXPECT_TRUE(narrow.re == single.re);
            EXPECT_TRUE(narrow.im == single.im);
        }
        limit_interpolator_lanes(8);
    }
}

// Decoding, the peak search, the gain and the encoding are split across
// threads on long channels: a whole run gives the same file for any count,
// with every stage idle (the channel goes straight from input to output
// bytes) and with stages working on the decoded samples.
TEST(ParallelPasses, WholeRunsGiveTheSameFileForAnyThreadCount)
{
    test::TempDir dir;
    // Three channels of 16 bits, long enough for several blocks; the peak
    // of channel 0 lies late in the file, where only a later block sees it.
    constexpr uint32_t frames = 700000;
    std::vector<std::vector<int32_t>> channels(3, std::vector<int32_t>(frames));
    std::mt19937 random(5);
    std::uniform_int_distribution<int32_t> value(-9000, 9000);
    for (auto& channel : channels)
        for (int32_t& v : channel)
            v = value(random);
    channels[0][frames - 10] = -20000;
    channels[2][100] = 32767; // louder than channel 0: clips
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(3, 48000, 16, channels));

    struct Chain {
        const char* name;
        uint32_t bitnr;
        uint32_t fs;
        double varispeedt;
    };
    const Chain chains[] = {
        {"every stage idle", 24, 0, 1.0},
        {"quantization", 12, 0, 1.0},
        {"rate conversion and vari-speed in time", 24, 44100, 0.8},
    };
    for (const Chain& chain : chains) {
        SCOPED_TRACE(chain.name);
        const auto render = [&dir, &chain](unsigned threads) {
            test::RecordingMessages messages;
            test::RecordingLog log;
            Engine engine(messages, log);
            engine.threads = threads;
            engine.bitnr = chain.bitnr;
            engine.fs = chain.fs;
            engine.varispeedt = chain.varispeedt;
            engine.inpwavname = dir.file("in.wav");
            engine.outwavname = dir.file("out.wav");
            EXPECT_EQ(engine.process_wav(), 0);
            return test::read_file(dir.file("out.wav"));
        };
        const std::vector<uint8_t> single = render(1);
        for (const unsigned threads : {2u, 3u})
            EXPECT_TRUE(render(threads) == single) << threads << " threads";
    }
}

} // namespace
} // namespace vesk
