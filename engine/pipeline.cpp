// The channel pipeline: decode one channel, run the chain of stages in its
// fixed order (each only when its parameters make it act), normalise and
// encode as 24-bit samples.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "engine/lanes.h"
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

// What process_channel (or, with every stage idle, the run driver and
// write_passed_through) reports for one channel, step by step, added up.
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
    if (progress_ != nullptr && !stop_requested())
        progress_->report_progress(0.0);
}

void Engine::progress_step(double cost)
{
    progress_done_ += cost * progress_weight_;
    if (progress_ == nullptr || stop_requested() || !(progress_total_ > 0))
        return;
    // Only the finished run reports 1 (process_wav): a step counted a little
    // generously stays short of it.
    progress_->report_progress(std::min(progress_done_ / progress_total_, 0.999));
}

namespace {

// Encodes samples[i] for i < count as 24-bit output samples `step` bytes
// apart (every channel's sample of one instant lies side by side).
void encode_channel(const double* samples, uint64_t count, uint8_t* output, uint64_t step, unsigned threads)
{
    parallel_for(count, threads, sample_pass_min_block, [&](uint64_t first, uint64_t last) {
        for (uint64_t i = first; i < last; ++i)
            encode_sample24(samples[i], output + i * step);
    });
}

// Samples per block when an idle chain's input is read and its output
// written: the blocks (3 MiB out) stay in the last-level cache between
// reading, encoding and writing, and are long enough for the threads that
// share a block's work to pay for their start.
constexpr uint64_t pass_block_samples = uint64_t{1} << 20;

// A table of the 24-bit output bytes of every possible input code at the
// given gain, 4 bytes per code (the 3 of the sample and one spare); empty
// where that does not pay.  8 or 16 bits hold at most 65536 different sample
// values: encoding each value once and looking the samples up gives the
// same bytes for far less work on a long file.
constexpr uint64_t table_entry = 4;
std::vector<uint8_t> encoding_table(uint32_t width, uint64_t count, double gain)
{
    if (width > 2)
        return {};
    const uint64_t codes = uint64_t{1} << (8 * width);
    if (count < 4 * codes)
        return {};
    std::vector<uint8_t> table(codes * table_entry);
    for (uint64_t code = 0; code < codes; ++code) {
        const uint8_t bytes[3] = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8), 0};
        encode_sample24(decode_sample(bytes, width) * gain, table.data() + table_entry * code);
    }
    return table;
}

} // namespace

double Engine::passed_through_peak(const uint8_t* frames, uint64_t count) const
{
    // Channel 0's peak, as normalize_level would find it on the decoded
    // samples; the largest magnitude does not depend on the order of
    // reading.
    const uint32_t width = bitnrinp / 8;
    const uint64_t frame_bytes = uint64_t{width} * chnr;
    double peak = 0.0;
    with_sample_width(width, [&](auto fixed_width) {
        peak = peak_magnitude(count, worker_count(threads), [&](uint64_t i) {
            return decode_sample(frames + i * frame_bytes, decltype(fixed_width)::value);
        });
    });
    return peak;
}

void Engine::encode_passed_through(const uint8_t* in, uint64_t count, uint8_t* out, const std::vector<uint8_t>& table) const
{
    const uint32_t width = bitnrinp / 8;
    const double gain = outgain;
    with_sample_width(width, [&](auto fixed_width) {
        constexpr uint32_t w = decltype(fixed_width)::value;
        parallel_for(count, worker_count(threads), sample_pass_min_block / 4, [&](uint64_t a, uint64_t b) {
            if (!table.empty()) {
                // Each sample but the range's last is stored as its whole
                // 4-byte entry, whose spare byte the next sample then
                // overwrites: one store instead of a 3-byte copy.
                const auto code_at = [in, w](uint64_t i) -> uint32_t {
                    const uint8_t* sample = in + i * w;
                    return w == 2 ? sample[0] | (sample[1] << 8) : sample[0];
                };
                for (uint64_t i = a; i + 1 < b; ++i)
                    std::memcpy(out + 3 * i, table.data() + table_entry * code_at(i), table_entry);
                if (a < b)
                    std::memcpy(out + 3 * (b - 1), table.data() + table_entry * code_at(b - 1), 3);
            } else {
                for (uint64_t i = a; i < b; ++i)
                    encode_sample24(decode_sample(in + i * w, w) * gain, out + 3 * i);
            }
        });
    });
}

bool Engine::find_passed_through_gain(std::FILE* input)
{
    const uint64_t frame_bytes = uint64_t{bitnrinp / 8} * chnr;
    const uint64_t block_frames = std::max<uint64_t>(1, std::min<uint64_t>(keptnum, pass_block_samples / chnr));
    std::vector<uint8_t> block(block_frames * frame_bytes);
    double peak = 0.0;
    for (uint64_t first = 0; first < keptnum; first += block_frames) {
        const uint64_t count = std::min<uint64_t>(block_frames, keptnum - first);
        if (std::fread(block.data(), frame_bytes, count, input) != count) {
            message("cannot read samples");
            return false;
        }
        peak = std::max(peak, passed_through_peak(block.data(), count));
    }
    outgain = level_gain(-output_peak, peak);
    return true;
}

RunOutcome Engine::write_passed_through(std::FILE* input, std::FILE* output)
{
    // Every channel has the same gain, so the interleaved input samples map
    // one to one, in their order, onto the interleaved output samples: the
    // output is made and written a block at a time, from the input read a
    // block at a time, and neither is ever held whole.
    const uint32_t width = bitnrinp / 8;
    const uint64_t total = uint64_t{keptnum} * chnr;
    const std::vector<uint8_t> table = encoding_table(width, total, outgain);
    const uint64_t block_samples = std::min(total, pass_block_samples);
    std::vector<uint8_t> in_block(block_samples * width), out_block(block_samples * 3);
    for (uint64_t first = 0; first < total; first += pass_block_samples) {
        if (stop_requested())
            return RunOutcome::stopped;
        const uint64_t count = std::min(pass_block_samples, total - first);
        if (std::fread(in_block.data(), width, count, input) != count) {
            message("cannot read samples");
            return RunOutcome::failed;
        }
        encode_passed_through(in_block.data(), count, out_block.data(), table);
        if (std::fwrite(out_block.data(), 1, count * 3, output) != count * 3) {
            message("cannot write samples");
            return RunOutcome::failed;
        }
        progress_step(costs_.samples_out * static_cast<double>(chnr) * static_cast<double>(count) /
                      static_cast<double>(total));
    }
    return RunOutcome::done;
}

RunOutcome Engine::pass_through(const uint8_t* input)
{
    // The samples in memory: the same level and the same bytes as the file
    // run's blocks give, made in one go into the output buffer.
    const uint64_t frame_bytes = uint64_t{bitnrinp / 8} * chnr;
    const uint8_t* kept = input + uint64_t{keptfirst} * frame_bytes;
    for (uint32_t ch = 0; ch < chnr; ++ch) {
        log_line("--- processing channel %u: ---\n", ch);
        if (ch == 0)
            outgain = level_gain(-output_peak, passed_through_peak(kept, keptnum));
        progress_step(costs_.samples_in);
        if (stop_requested())
            return RunOutcome::stopped;
    }
    const uint64_t total = uint64_t{keptnum} * chnr;
    encode_passed_through(kept, total, wavoutbuf.data() + uint64_t{keptfirst} * 3 * chnr,
                          encoding_table(bitnrinp / 8, total, outgain));
    progress_step(costs_.samples_out * chnr);
    return RunOutcome::done;
}

bool Engine::process_channel(int firstch)
{
    const StagePlan plan = plan_stages();
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
    // forgotten when it ends, whichever way it ends.  A first channel that
    // ends early leaves the channels beside it without its gains.
    struct Forget {
        Engine& engine;
        int firstch;
        ~Forget()
        {
            engine.zeros_from_ = 0;
            engine.release_cleared_ = false;
            if (firstch && engine.handoff_ != nullptr) {
                engine.handoff_->quant.abandon();
                engine.handoff_->out.abandon();
            }
        }
    } forget{*this, firstch};
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
    if (stop_requested())
        return false;

    if (plan.resample) {
        src_resample();
        progress_step(costs_.interpolate);
        if (stop_requested())
            return false;
    }
    if (plan.input_filter) {
        band_filter("input filter ...\n", fcloin_idx, fchiin_idx);
        progress_step(costs_.transform);
        if (stop_requested())
            return false;
    }
    if (plan.hold) {
        if (plan.sampling)
            stage_sampling();
        stage_hold_aperture("hold ...\n", 0, 1.0);
        progress_step((plan.sampling ? 2 : 1) * costs_.transform);
        if (stop_requested())
            return false;
    }
    if (plan.varispeed_t) {
        stage_varispeed_t();
        progress_step(costs_.interpolate);
        if (stop_requested())
            return false;
    }
    if (plan.varispeed_f) {
        stage_varispeed_f();
        progress_step(costs_.transform);
        if (stop_requested())
            return false;
    }
    // Quantization acts on every working sample, before the sampling at
    // fs-sim.
    if (plan.quantization) {
        if (!firstch && handoff_ != nullptr && !handoff_->quant.wait(quantgain))
            return false;
        stage_quantization(firstch);
        // A segment's first pass wants only the signal's peak here.
        if (segment_pass_ == SegmentPass::quantization_peak)
            return true;
        if (firstch && handoff_ != nullptr)
            handoff_->quant.give(quantgain);
        progress_step(costs_.sample_pass);
        if (stop_requested())
            return false;
    }
    if (plan.sampling) {
        stage_sampling();
        progress_step(costs_.transform);
        if (stop_requested())
            return false;
    }
    if (plan.aperture) {
        stage_hold_aperture("aperture ...\n", 1, params.aperture);
        progress_step(costs_.transform);
        if (stop_requested())
            return false;
    }
    if (plan.jitter) {
        stage_jitter();
        progress_step(costs_.interpolate);
        if (stop_requested())
            return false;
    }
    if (plan.output_filter) {
        band_filter("output filter ...\n", fcloout_idx, fchiout_idx);
        progress_step(costs_.transform);
        if (stop_requested())
            return false;
    }
    if (timedomain != 1)
        switch_domain(true);
    // A segment leaves its level to the file's peak (engine/segments.cpp).
    if (segment_pass_ == SegmentPass::unscaled) {
        const double* samples = sigre;
        double* unscaled = rawoutptr;
        const uint64_t step = chnr;
        parallel_for(sampnumout, workers, sample_pass_min_block, [=](uint64_t first, uint64_t last) {
            for (uint64_t i = first; i < last; ++i)
                unscaled[i * step] = samples[i];
        });
        progress_step(costs_.samples_out);
        return true;
    }

    // Channel 0 sets the level; the others follow with the same gain so the
    // balance between channels stays as recorded.
    if (firstch) {
        // Where margins are dropped, only the kept samples' peak sets the
        // level (the dropped ones take the same gain, clipped or not).
        if (keptfirst == 0 && keptnum == sampnumout) {
            outgain = normalize_level(-output_peak, sampnumout);
        } else {
            const double* kept = sigre + keptfirst;
            outgain = level_gain(-output_peak, peak_magnitude(keptnum, workers, [kept](uint64_t i) { return kept[i]; }));
            normalize_level(outgain, sampnumout);
        }
        if (handoff_ != nullptr)
            handoff_->out.give(outgain);
    } else {
        if (handoff_ != nullptr && !handoff_->out.wait(outgain))
            return false;
        normalize_level(outgain, sampnumout);
    }

    // Only the kept samples leave the run.
    const uint64_t output_step = uint64_t{chnr} * 3;
    encode_channel(sigre + keptfirst, keptnum, outsampptr + keptfirst * output_step, output_step, workers);
    outsampptr += uint64_t{sampnumout} * output_step;
    progress_step(costs_.samples_out);
    return true;
}

} // namespace vesk
