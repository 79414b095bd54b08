// The stages that split their work across threads give the same bits for 1,
// 2 and 3 threads (and the jitter's random sequence ends in the same place),
// and a stage handed the signal in the other domain switches first.
#include <gtest/gtest.h>

#include <functional>

#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

struct StageRow {
    const char* what;
    bool spectrum; // the stage works on a spectrum
    std::function<void(Engine&)> run;
};

const StageRow stage_rows[] = {
    {"sampling", true, [](Engine& e) { e.stage_sampling(); }},
    {"hold", true, [](Engine& e) { e.stage_hold_aperture(nullptr, 0, 1.0); }},
    {"aperture", true, [](Engine& e) { e.stage_hold_aperture(nullptr, 1, 0.5); }},
    {"vari-speed in frequency", true, [](Engine& e) { e.stage_varispeed_f(); }},
    {"vari-speed in time", false, [](Engine& e) { e.stage_varispeed_t(); }},
    {"quantization", false, [](Engine& e) { e.stage_quantization(1); }},
    {"jitter", false, [](Engine& e) { e.stage_jitter(); }},
    {"normalisation", false, [](Engine& e) { e.normalize_level(-output_peak, e.sampnump); }},
};

struct Outcome {
    std::vector<double> re, im;
    int next_random;
};

// Long enough for every split: the per-sample passes take blocks of 2^18.
Outcome run_stage(const StageRow& row, unsigned threads, uint32_t n, bool switch_first, int start_domain)
{
    StageRig rig(n, n / 20);
    Engine& e = rig.engine;
    e.threads = threads;
    e.params.fs = 48000;
    e.params.fssim = (n / 20) * (48000.0 / n);
    e.params.bitnr = 10;
    e.params.varispeedt = 0.9438743126816935;
    e.params.varispeedf = 1.0594630943592953;
    e.params.jitteramp = 0.4;
    e.jitter_rng.seed(12345);
    if (start_domain == 0) {
        const Spectrum s = hermitian_spectrum(n, 99);
        rig.load_spectrum(s.re, s.im);
    } else {
        rig.load_time(random_values(n, 99));
    }
    if (switch_first) {
        EXPECT_TRUE(e.fft_init());
        e.switch_domain();
    } else if (start_domain != (row.spectrum ? 0 : 1)) {
        EXPECT_TRUE(e.fft_init());
    }
    row.run(e);
    return {rig.out_re(), rig.out_im(), e.jitter_rng.next()};
}

TEST(StageThreads, OneTwoAndThreeThreadsGiveTheSameBits)
{
    for (const StageRow& row : stage_rows) {
        const Outcome single = run_stage(row, 1, 1u << 19, false, row.spectrum ? 0 : 1);
        for (unsigned threads : {2u, 3u}) {
            const Outcome split = run_stage(row, threads, 1u << 19, false, row.spectrum ? 0 : 1);
            EXPECT_TRUE(split.re == single.re) << row.what << ", " << threads << " threads";
            EXPECT_TRUE(split.im == single.im) << row.what << ", " << threads << " threads";
            EXPECT_EQ(split.next_random, single.next_random) << row.what << ", " << threads << " threads";
        }
    }
}

TEST(StageDomains, AStageGivenTheOtherDomainSwitchesFirst)
{
    for (const StageRow& row : stage_rows) {
        if (std::string(row.what) == "normalisation")
            continue; // works on whatever the pair holds
        const int other = row.spectrum ? 1 : 0;
        const Outcome by_hand = run_stage(row, 1, 256, true, other);
        const Outcome itself = run_stage(row, 1, 256, false, other);
        EXPECT_TRUE(itself.re == by_hand.re) << row.what;
        EXPECT_TRUE(itself.im == by_hand.im) << row.what;
    }
}

} // namespace
} // namespace vesk::test
