// The one door into an engine's private state, for tests and benchmarks.
// Whole runs go through the engine's entries (process_wav, process_samples);
// a single operation of the chain is driven here, on a run's shape set by
// hand and on working arrays the caller owns:
//   EngineSeam seam{engine};
//   seam.attach(n, re.data(), im.data());     // sampnump = n, time domain
//   seam.shape().fssim_idx = m;               // what the stage reads
//   seam.stage_sampling();                    // result behind seam.sigre()
// A stage that exchanges the pairs leaves its result in the scratch arrays,
// so read it through sigre() / sigim().
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "engine/segments.h"

namespace vesk {

struct EngineSeam {
    Engine& engine;
    using StagePlan = Engine::StagePlan;

    // The sizes, bin indices and input format the operations read.
    RunShape& shape() { return engine; }
    // The current pair (re, im) and the scratch pair: arrays of n the
    // caller owns; sampnump becomes n, the pair holds time samples.
    void attach(uint32_t n, double* re, double* im, double* scratch_re = nullptr, double* scratch_im = nullptr)
    {
        shape().sampnump = n;
        engine.sigre = re, engine.sigim = im, engine.tmpre = scratch_re, engine.tmpim = scratch_im;
        engine.timedomain = 1;
    }
    // The engine's own working arrays, of sampnump each, as a run sets them up.
    bool own_arrays()
    {
        Engine& e = engine;
        return e.alloc_buffers(false) &&
               (attach(e.sampnump, e.sampbuf1_re.data(), e.sampbuf1_im.data(), e.sampbuf2_re.data(), e.sampbuf2_im.data()), true);
    }
    int& timedomain() { return engine.timedomain; }
    double* sigre() const { return engine.sigre; }
    double* sigim() const { return engine.sigim; }
    JitterRandom& jitter_rng() { return engine.jitter_rng; }
    const double* fft_coeff_re() const { return engine.fft_coeff_re.data(); }
    const double* fft_coeff_im() const { return engine.fft_coeff_im.data(); }
    // Elements of every buffer and table the engine holds.
    uint64_t held() const { return engine.wavinpbuf.size() + engine.wavoutbuf.size() + engine.sampbuf1_re.size() + engine.fft_tabsize; }

    bool fft_init() { return engine.fft_init(); }
    void fft(double* re, double* im, uint32_t n, uint32_t offset, uint32_t stride, int inverse) { engine.fft(re, im, n, offset, stride, inverse); }
    void switch_domain(bool output_only = false) { engine.switch_domain(output_only); }
    void sinc_interp(const double* values, double* outim, double x, int len, int center, int outidx) { engine.sinc_interp(values, outim, x, len, center, outidx); }
    void sinc_interp_batch(const double* fracs, const int64_t* centers, const uint32_t* at, int count, int len) { engine.sinc_interp_batch(fracs, centers, at, count, len); }
    uint32_t read_stepped(uint32_t count, double step, int len, const double* values, double* outim, uint32_t zeros_from) { return engine.read_stepped(count, step, len, values, outim, zeros_from); }
    void band_filter(const char* label, uint32_t lo, uint32_t hi) { engine.band_filter(label, lo, hi); }
    void src_resample() { engine.src_resample(); }
    void stage_sampling() { engine.stage_sampling(); }
    void stage_hold_aperture(const char* label, int mode, double value) { engine.stage_hold_aperture(label, mode, value); }
    void stage_varispeed_t() { engine.stage_varispeed_t(); }
    void stage_varispeed_f() { engine.stage_varispeed_f(); }
    void stage_quantization(int firstch) { engine.stage_quantization(firstch); }
    void stage_jitter() { engine.stage_jitter(); }
    double normalize_level(double x, uint32_t count) { return engine.normalize_level(x, count); }
    StagePlan plan_stages() const { return engine.plan_stages(); }
    // One channel of the interleaved `input` (from its first sample) into
    // the interleaved `output`, as the channel loop points the run at it;
    // every output sample is kept.
    bool process_channel(const uint8_t* input, uint8_t* output, int firstch)
    {
        shape().keptfirst = 0, shape().keptnum = shape().sampnumout;
        engine.inpsampptr = input, engine.outsampptr = output;
        return engine.process_channel(firstch);
    }
    // The segments a file run of `frames` per channel would render in, for
    // the engine's parameters and settings, sized as that run sizes itself
    // (the parameters' frequencies snap): how many (0: it would render
    // whole), the input frames each keeps and its margins.
    struct Segments { uint64_t count = 0, hop = 0, margin = 0; };
    Segments segment_plan(uint32_t rate, uint32_t channels, uint32_t bits, uint64_t frames)
    {
        const Params asked = engine.params;
        Engine::SegmentPlan plan;
        if (!engine.size_input(rate, channels, bits, frames * (bits / 8), {}) || !engine.plan_segments(plan, asked))
            return {};
        return {plan.count, plan.hop, plan.margin};
    }
};

} // namespace vesk
