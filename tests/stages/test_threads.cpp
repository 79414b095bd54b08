// The stages that split their work across threads give the same bits for 1,
// 2 and 3 threads, and the jitter's random sequence ends in the same place.
#include <gtest/gtest.h>

#include <functional>

#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

struct Outcome { std::vector<double> re, im; int next_random; };

// Long enough for every split: the per-sample passes take blocks of 2^18.
Outcome run_stage(bool spectrum, const std::function<void(EngineSeam&)>& stage, unsigned threads)
{
    const uint32_t n = 1u << 19;
    StageRig rig(n, n / 20);
    Params& p = rig.engine.params;
    rig.engine.threads = threads;
    p.fs = 48000, p.fssim = (n / 20) * (48000.0 / n), p.bitnr = 10, p.jitteramp = 0.4;
    p.varispeedt = 0.9438743126816935, p.varispeedf = 1.0594630943592953;
    rig.seam.jitter_rng().seed(12345);
    const Spectrum s = hermitian_spectrum(n, 99);
    rig.load(s.re, spectrum ? s.im : std::vector<double>(n, 0.0), spectrum ? 0 : 1);
    stage(rig.seam);
    return {rig.out_re(), rig.out_im(), rig.seam.jitter_rng().next()};
}

TEST(StageThreads, OneTwoAndThreeThreadsGiveTheSameBits)
{
    struct Row {
        const char* what;
        bool spectrum;
        std::function<void(EngineSeam&)> stage;
    };
    const Row rows[] = {
        {"hold", true, [](EngineSeam& e) { e.stage_hold_aperture(nullptr, 0, 1.0); }},
        {"aperture", true, [](EngineSeam& e) { e.stage_hold_aperture(nullptr, 1, 0.5); }},
        {"vari-speed in frequency", true, [](EngineSeam& e) { e.stage_varispeed_f(); }},
        {"vari-speed in time", false, [](EngineSeam& e) { e.stage_varispeed_t(); }},
        {"quantization", false, [](EngineSeam& e) { e.stage_quantization(1); }},
        {"jitter", false, [](EngineSeam& e) { e.stage_jitter(); }},
        {"normalisation", false, [](EngineSeam& e) { e.normalize_level(-test::normalised_peak, e.shape().sampnump); }},
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
