// The channel pipeline: decode one channel, run the chain of stages in its
// fixed order (each only when its parameters make it act), normalise and
// encode as 24-bit samples.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/engine.h"
#include "engine/level.h"
#include "engine/memory.h"
#include "engine/parallel.h"
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
    const bool varispeed = params.varispeedt != 1.0 || params.varispeedf != 1.0;
    StagePlan plan{};
    plan.resample = params.fs != fsinp;
    // A filter from bin 0 up to (sampnump / 2 - 1) or beyond is wide open.
    plan.input_filter = fcloin_idx != 0 || fchiin_idx < half - 1;
    // "Hold sample": the signal is sampled and held at fs-sim before its
    // speed changes, as a sampler replaying its memory at another speed.
    plan.hold = params.varispeedsh != 0 && varispeed;
    plan.varispeed_t = params.varispeedt != 1.0;
    plan.varispeed_f = params.varispeedf != 0 && params.varispeedf != 1.0;
    plan.quantization = params.bitnr < 24;
    plan.sampling = fssim_idx < sampnump;
    plan.aperture = params.aperture > 1e-10;
    plan.jitter = params.jitteramp != 0;
    plan.output_filter = fcloout_idx != 0 || fchiout_idx < half - 1;
    return plan;
}

Engine::StepCosts Engine::step_costs() const
{
    // Each cost at least 1, so that every step moves the count on and the
    // output written is always left as the last share.
    StepCosts costs;
    costs.samples_in = sampnuminp + 1.0;
    costs.samples_out = sampnumout + 1.0;
    costs.transform = sampnump * std::log2(std::max<double>(sampnump, 2)) + 1.0;
    costs.interpolate = 31.0 * (sampnump / 2) + 1.0;
    costs.sample_pass = sampnump + 1.0;
    return costs;
}

// What process_channel (or pass_through) reports for one channel, step by
// step, added up.
double Engine::channel_cost(const StagePlan& plan, const StepCosts& c) const
{
    if (!plan.any())
        return c.samples_in + c.samples_out;
    const int transforms = plan.input_filter + plan.hold * (plan.sampling ? 2 : 1) + plan.varispeed_f +
                           plan.sampling + plan.aperture + plan.output_filter;
    const int interpolations = plan.resample + plan.varispeed_t + plan.jitter;
    return c.samples_in + transforms * c.transform + interpolations * c.interpolate +
           plan.quantization * c.sample_pass + c.samples_out;
}

void Engine::progress_begin()
{
    costs_ = step_costs();
    progress_done_ = 0;
    progress_total_ = chnr * (costs_.samples_in + channel_cost(plan_stages(), costs_) + costs_.samples_out);
    if (progress_ != nullptr && !stopflag)
        progress_->report_progress(0.0);
}

void Engine::progress_step(double cost)
{
    progress_done_ += cost;
    if (progress_ == nullptr || stopflag || !(progress_total_ > 0))
        return;
    // Only the finished run reports 1 (process_wav): a step counted a little
    // generously stays short of it.
    progress_->report_progress(std::min(progress_done_ / progress_total_, 0.999));
}

namespace {

// The current channel's samples in the file buffers: every channel's sample
// of one instant lies side by side, so a channel's samples are `step` bytes
// apart.
struct ChannelBytes {
    const uint8_t* input;
    uint32_t input_width;
    uint64_t input_step;
    uint8_t* output;
    uint64_t output_step;
};

// Encodes value(i) for i < count as 24-bit output samples.
template <typename Value>
void encode_channel(const ChannelBytes& channel, uint64_t count, unsigned threads, const Value& value)
{
    parallel_for(count, threads, sample_pass_min_block, [&](uint64_t first, uint64_t last) {
        for (uint64_t i = first; i < last; ++i)
            encode_sample24(value(i), channel.output + i * channel.output_step);
    });
}

// Encodes input(i) * gain for i < count through a table of every possible
// result, built in `scratch`; returns false (and does nothing) where that
// does not pay or the table does not fit.
bool encode_by_table(const ChannelBytes& channel, uint64_t count, uint32_t width, double gain, uint8_t* scratch,
                     uint64_t scratch_bytes, unsigned threads)
{
    // 8 or 16 bits hold at most 65536 different sample values: encoding each
    // value once and looking the samples up gives the same bytes for far
    // less work on a long channel.
    if (width > 2)
        return false;
    const uint64_t codes = uint64_t{1} << (8 * width);
    constexpr uint64_t entry = 4; // bytes per code: the 3 of the sample and one spare
    if (count < 4 * codes || scratch == nullptr || scratch_bytes < codes * entry)
        return false;
    uint8_t* const table = scratch;
    for (uint64_t code = 0; code < codes; ++code) {
        const uint8_t bytes[3] = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8), 0};
        encode_sample24(decode_sample(bytes, width) * gain, table + entry * code);
    }
    parallel_for(count, threads, sample_pass_min_block, [&](uint64_t first, uint64_t last) {
        for (uint64_t i = first; i < last; ++i) {
            const uint8_t* in = channel.input + i * channel.input_step;
            const uint32_t code = width == 2 ? in[0] | (in[1] << 8) : in[0];
            std::memcpy(channel.output + i * channel.output_step, table + entry * code, 3);
        }
    });
    return true;
}

} // namespace

void Engine::pass_through(int firstch)
{
    const ChannelBytes channel{inpsampptr, bitnrinp / 8, uint64_t{chnr} * (bitnrinp / 8), outsampptr,
                               uint64_t{chnr} * 3};
    const unsigned workers = worker_count(threads);
    const uint64_t count = sampnumout; // = sampnuminp: nothing changes the length
    with_sample_width(channel.input_width, [&](auto fixed_width) {
        const auto input = [&channel](uint64_t i) {
            return decode_sample(channel.input + i * channel.input_step, decltype(fixed_width)::value);
        };
        // As normalize_level would find them on the decoded samples.
        if (firstch)
            outgain = level_gain(-output_peak, peak_magnitude(count, workers, input));
        const double gain = outgain;
        // The scratch array is free: an idle chain leaves it unused.
        if (!encode_by_table(channel, count, fixed_width.value, gain, reinterpret_cast<uint8_t*>(tmpre),
                             uint64_t{sampnump} * sizeof(double), workers))
            encode_channel(channel, count, workers, [&input, gain](uint64_t i) { return input(i) * gain; });
    });
    inpsampptr += count * channel.input_step;
    outsampptr += count * channel.output_step;
    progress_step(costs_.samples_in + costs_.samples_out);
}

bool Engine::process_channel(int firstch)
{
    const StagePlan plan = plan_stages();
    // With every stage idle the output is the input times the level gain:
    // the samples are decoded from the file buffer where they are needed
    // instead of being held in the working array, which would be filled and
    // read again for nothing.
    if (!plan.any()) {
        pass_through(firstch);
        return !stopflag;
    }
    const unsigned workers = worker_count(threads);
    const uint32_t input_bytes = bitnrinp / 8;
    const uint64_t input_step = uint64_t{chnr} * input_bytes;
    {
        const uint8_t* input = inpsampptr;
        double* samples = sigre;
        with_sample_width(input_bytes, [&](auto fixed_width) {
            parallel_for(sampnuminp, workers, sample_pass_min_block, [&](uint64_t first, uint64_t last) {
                for (uint64_t i = first; i < last; ++i)
                    samples[i] = decode_sample(input + i * input_step, decltype(fixed_width)::value);
            });
        });
        inpsampptr += sampnuminp * input_step;
    }
    progress_step(costs_.samples_in);
    // What this channel knows about its arrays holds for this channel only:
    // forgotten when it ends, whichever way it ends.
    struct Forget {
        Engine& engine;
        ~Forget()
        {
            engine.zeros_from_ = 0;
            engine.release_cleared_ = false;
        }
    } forget{*this};
    // The zeros after the signal can be pages given back rather than pages
    // written when no stage writes the whole of an array (which would fault
    // them in again): a stretched read writes the signal it makes, a
    // transform reads the zeros and keeps its spectrum in the lower half,
    // and the last way back writes only what reaches the output.
    // Quantization and jitter write every sample, and so does a way back
    // whose whole signal vari-speed in time reads afterwards.
    const bool writes_whole_arrays =
        plan.quantization || plan.jitter || (plan.varispeed_t && (plan.input_filter || plan.hold));
    release_cleared_ = !writes_whole_arrays;
    // The zero extension: the stages read beyond the input.  (The
    // imaginary part of a time signal is never read.)
    clear_doubles(sigre + sampnuminp, sampnump - sampnuminp, release_cleared_);
    // Up to vari-speed in time (the last stage that reads the signal at
    // stretched positions) the signal keeps a known end where only the rate
    // conversion came before it: the readers need not walk the zeros after
    // it.
    zeros_from_ = plan.input_filter || plan.hold ? 0 : std::max<uint32_t>(sampnuminp, 1);
    timedomain = 1;
    if (stopflag)
        return false;

    if (plan.resample) {
        src_resample();
        progress_step(costs_.interpolate);
        if (stopflag)
            return false;
    }
    if (plan.input_filter) {
        band_filter("input filter ...\n", fcloin_idx, fchiin_idx);
        progress_step(costs_.transform);
        if (stopflag)
            return false;
    }
    if (plan.hold) {
        if (plan.sampling)
            stage_sampling();
        stage_hold_aperture("hold ...\n", 0, 1.0);
        progress_step((plan.sampling ? 2 : 1) * costs_.transform);
        if (stopflag)
            return false;
    }
    if (plan.varispeed_t) {
        stage_varispeed_t();
        progress_step(costs_.interpolate);
        if (stopflag)
            return false;
    }
    if (plan.varispeed_f) {
        stage_varispeed_f();
        progress_step(costs_.transform);
        if (stopflag)
            return false;
    }
    // Quantization acts on every working sample, before the sampling at
    // fs-sim.
    if (plan.quantization) {
        stage_quantization(firstch);
        progress_step(costs_.sample_pass);
        if (stopflag)
            return false;
    }
    if (plan.sampling) {
        stage_sampling();
        progress_step(costs_.transform);
        if (stopflag)
            return false;
    }
    if (plan.aperture) {
        stage_hold_aperture("aperture ...\n", 1, params.aperture);
        progress_step(costs_.transform);
        if (stopflag)
            return false;
    }
    if (plan.jitter) {
        stage_jitter();
        progress_step(costs_.interpolate);
        if (stopflag)
            return false;
    }
    if (plan.output_filter) {
        band_filter("output filter ...\n", fcloout_idx, fchiout_idx);
        progress_step(costs_.transform);
        if (stopflag)
            return false;
    }
    if (timedomain != 1)
        switch_domain(true);

    // Channel 0 sets the level; the others follow with the same gain so the
    // balance between channels stays as recorded.
    if (firstch)
        outgain = normalize_level(-output_peak, sampnumout);
    else
        normalize_level(outgain, sampnumout);

    const ChannelBytes channel{nullptr, 0, 0, outsampptr, uint64_t{chnr} * 3};
    const double* samples = sigre;
    encode_channel(channel, sampnumout, workers, [samples](uint64_t i) { return samples[i]; });
    outsampptr += uint64_t{sampnumout} * channel.output_step;
    progress_step(costs_.samples_out);
    return true;
}

} // namespace vesk
