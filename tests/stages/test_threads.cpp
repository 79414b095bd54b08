// The stages that split their work across threads give the same bits for 1,
// 2 and 3 threads, and the jitter's random sequence ends in the same place.
#include <gtest/gtest.h>

#include <functional>

#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

struct Outcome { std::vector<double> re, im; int next_random; };

// Long enough for every split: the per-sample passes take blocks of 2^18.
Outcome run_stage(bool spectrum, const std::function<void(Engine&)>& stage, unsigned threads)
{
    const uint32_t n = 1u << 19;
    StageRig rig(n, n / 20);
    Engine& e = rig.engine;
    e.threads = threads;
    e.params.fs = 48000, e.params.fssim = (n / 20) * (48000.0 / n), e.params.bitnr = 10, e.params.jitteramp = 0.4;
    e.params.varispeedt = 0.9438743126816935, e.params.varispeedf = 1.0594630943592953;
    e.jitter_rng.seed(12345);
    const Spectrum s = hermitian_spectrum(n, 99);
    rig.load(s.re, spectrum ? s.im : std::vector<double>(n, 0.0), spectrum ? 0 : 1);
    stage(e);
    return {rig.out_re(), rig.out_im(), e.jitter_rng.next()};
}

TEST(StageThreads, OneTwoAndThreeThreadsGiveTheSameBits)
{
    struct Row {
        const char* what;
        bool spectrum;
        std::function<void(Engine&)> stage;
    };
    const Row rows[] = {
        {"hold", true, [](Engine& e) { e.stage_hold_aperture(nullptr, 0, 1.0); }},
        {"aperture", true, [](Engine& e) { e.stage_hold_aperture(nullptr, 1, 0.5); }},
        {"vari-speed in frequency", true, [](Engine& e) { e.stage_varispeed_f(); }},
        {"vari-speed in time", false, [](Engine& e) { e.stage_varispeed_t(); }},
        {"quantization", false, [](Engine& e) { e.stage_quantization(1); }},
        {"jitter", false, [](Engine& e) { e.stage_jitter(); }},
        {"normalisation", false, [](Engine& e) { e.normalize_level(-test::normalised_peak, e.sampnump); }},
    };
    for (const Row& row : rows) {
        const Outcome single = run_stage(row.spectrum, row.stage, 1);
        for (unsigned threads : {2u, 3u}) {
            const Outcome split = run_stage(row.spectrum, row.stage, threads);
            EXPECT_TRUE(split.re == single.re && split.im == single.im) << row.what << ", " << threads << " threads";
            EXPECT_EQ(split.next_random, single.next_random) << row.what << ", " << threads << " threads";
        }
    }
}

} // namespace
} // namespace vesk::test
