// The channel pipeline: decode one channel, run the chain of stages in its
// fixed order (each only when its parameters make it act), normalise and
// encode as 24-bit samples.
#include <algorithm>

#include "engine/engine.h"
#include "engine/sample_codec.h"

namespace vesk {

bool Engine::StagePlan::any() const
{
    return resample || input_filter || hold || varispeed_t || varispeed_f || quantization || sampling || aperture ||
           jitter || output_filter;
}

bool Engine::StagePlan::spectral() const
{
    return input_filter || hold || varispeed_f || sampling || aperture || output_filter;
}

Engine::StagePlan Engine::plan_stages() const
{
    const uint32_t half = sampnump / 2;
    const bool varispeed = varispeedt != 1.0 || varispeedf != 1.0;
    StagePlan plan{};
    plan.resample = fs != fsinp;
    // A filter from bin 0 up to (sampnump / 2 - 1) or beyond is wide open.
    plan.input_filter = fcloin_idx != 0 || fchiin_idx < half - 1;
    // "Hold sample": the signal is sampled and held at fs-sim before its
    // speed changes, as a sampler replaying its memory at another speed.
    plan.hold = varispeedsh != 0 && varispeed;
    plan.varispeed_t = varispeedt != 1.0;
    plan.varispeed_f = varispeedf != 0 && varispeedf != 1.0;
    plan.quantization = bitnr < 24;
    plan.sampling = fssim_idx < sampnump;
    plan.aperture = aperture > 1e-10;
    plan.jitter = jitteramp != 0;
    plan.output_filter = fcloout_idx != 0 || fchiout_idx < half - 1;
    return plan;
}

int Engine::process_channel(int firstch)
{
    const StagePlan plan = plan_stages();
    const uint32_t input_bytes = bitnrinp == 24 ? 3 : bitnrinp == 16 ? 2 : 1;
    const uint64_t input_step = uint64_t{chnr} * input_bytes;
    for (uint32_t i = 0; i < sampnuminp; ++i, inpsampptr += input_step)
        sigre[i] = decode_sample(inpsampptr, input_bytes);
    // With every stage idle only the decoded samples are read again (to
    // normalise and encode them), so the zero extension would be written for
    // nobody; and only a transform ever reads the imaginary part.
    if (plan.any())
        std::fill(sigre + sampnuminp, sigre + sampnump, 0.0);
    if (plan.spectral())
        std::fill(sigim, sigim + sampnump, 0.0);
    timedomain = 1;
    if (stopflag)
        return 1;

    if (plan.resample) {
        src_resample();
        if (stopflag)
            return 1;
    }
    if (plan.input_filter) {
        band_filter("input filter ...\n", fcloin_idx, fchiin_idx);
        if (stopflag)
            return 1;
    }
    if (plan.hold) {
        if (plan.sampling)
            stage_sampling();
        stage_hold_aperture("hold ...\n", 0, 1.0);
        if (stopflag)
            return 1;
    }
    if (plan.varispeed_t) {
        stage_varispeed_t();
        if (stopflag)
            return 1;
    }
    if (plan.varispeed_f) {
        stage_varispeed_f();
        if (stopflag)
            return 1;
    }
    // Quantization acts on every working sample, before the sampling at
    // fs-sim.
    if (plan.quantization) {
        stage_quantization(firstch);
        if (stopflag)
            return 1;
    }
    if (plan.sampling) {
        stage_sampling();
        if (stopflag)
            return 1;
    }
    if (plan.aperture) {
        stage_hold_aperture("aperture ...\n", 1, aperture);
        if (stopflag)
            return 1;
    }
    if (plan.jitter) {
        stage_jitter();
        if (stopflag)
            return 1;
    }
    if (plan.output_filter) {
        band_filter("output filter ...\n", fcloout_idx, fchiout_idx);
        if (stopflag)
            return 1;
    }
    if (timedomain != 1)
        switch_domain();

    // Channel 0 sets the level; the others follow with the same gain so the
    // balance between channels stays as recorded.
    if (firstch)
        outgain = normalize_level(-0.707106781, sampnumout);
    else
        normalize_level(outgain, sampnumout);

    const uint64_t output_step = uint64_t{chnr} * 3;
    for (uint32_t i = 0; i < sampnumout; ++i, outsampptr += output_step)
        encode_sample24(sigre[i], outsampptr);
    return 0;
}

} // namespace vesk
