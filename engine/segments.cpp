// Long files in segments.  A run whose whole-file arrays would not fit in
// memory renders its input in overlapping segments, each through a second
// engine's in-memory entry with the run's own parameters: every segment has
// the same power-of-two transform length (so the same bins), and margins on
// each side where the input goes on, rendered and dropped as a span's are.
//
// The two gains the chain finds on channel 0 of the whole signal stay
// whole-file gains.  Quantization scales its words to the peak of the signal
// as it reaches the stage: when the chain quantizes, a first pass renders
// channel 0 of every segment up to that stage to find it.  The output level
// is known only once every segment is rendered: the second pass writes the
// unscaled output to a temporary file beside the output, and a last pass
// scales and encodes it into the output, which is renamed into place at the
// end.  A stop or a failure removes both temporary files and leaves an
// existing output as it was.
#include "engine/segments.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "engine/lanes.h"
#include "engine/level.h"
#include "engine/output_file.h"
#include "engine/parallel.h"
#include "engine/run_size.h"
#include "engine/sample_codec.h"

#if defined(__unix__)
#include <unistd.h>
#endif

namespace vesk {

namespace {

constexpr uint32_t min_points = uint32_t{1} << 12;
constexpr uint32_t max_points = uint32_t{1} << 30;
constexpr double gib = 1073741824.0;
// Samples per block of the last pass (read unscaled, encode, write).
constexpr uint64_t scale_block_samples = uint64_t{1} << 20;

// The bytes a run of working length `points` holds beyond its input and
// output: the four working arrays, the transform's tables as far as a run
// touches them, and at short lengths a second channel's arrays (side by
// side) and the hold's and aperture's factor tables.
uint64_t working_bytes(uint64_t points, uint32_t channels, bool spectral)
{
    uint64_t bytes = 4 * 8 * points;
    if (spectral)
        bytes += 2 * 8 * (points / 4) + 2 * 8 * (points / 2);
    if (points <= lane_max_points)
        bytes += (channels > 1 ? 4 * 8 * points : 0) + 2 * 2 * 8 * (points / 2);
    return bytes;
}

// Input frames a segment's start and its margins are multiples of: the
// fewest, in steps of 64, that hold a whole number of output samples (so
// that a segment's first output sample lies on one of the file's, and its
// stretched reads start in step with the file's) and, where the chain
// samples at fs-sim, a whole number of its periods (so that its clock runs
// on from segment to segment).  Where no such number comes within a quarter
// of a second (fs-sim off a simple fraction of the rate, say), 64: each
// segment's clocks then start with it, as a span's do.
uint64_t frame_granule(const std::vector<double>& per_frame, uint32_t rate)
{
    const auto whole = [](double x) { return std::fabs(x - std::round(x)) < 1e-9 * std::max(1.0, std::fabs(x)); };
    for (uint64_t granule = 64; granule <= rate / 4; granule += 64)
        if (std::all_of(per_frame.begin(), per_frame.end(), [&](double f) { return whole(granule * f); }))
            return granule;
    return 64;
}

uint64_t round_up(uint64_t value, uint64_t step)
{
    return (value + step - 1) / step * step;
}

} // namespace

uint64_t segment_capacity(uint32_t points, const Params& params, uint32_t rate)
{
    const double ratio = static_cast<double>(params.fs) / rate;
    const bool same_length = params.fs == rate && params.varispeedt == 1.0 && params.varispeedf == 1.0;
    const auto fits = [&](uint64_t n) {
        const WorkingExtent e = working_extent(static_cast<double>(n), params.fs != rate ? ratio : 1.0,
                                               params.varispeedt, params.varispeedf, same_length);
        return e.samples <= points / 2;
    };
    // Every stage's signal is at least half the input's length, so the
    // answer lies below `points`.
    uint64_t lo = 0, hi = points;
    while (lo < hi) {
        const uint64_t mid = (lo + hi + 1) / 2;
        if (fits(mid))
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

uint64_t available_memory()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    while (meminfo >> key >> kib) {
        if (key == "MemAvailable:")
            return kib * 1024;
        meminfo.ignore(256, '\n');
    }
#if defined(_SC_AVPHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_AVPHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0)
        return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page);
#endif
    return 0;
}

SpanFrames Engine::SegmentPlan::segment(uint64_t k) const
{
    SpanFrames s;
    s.first = std::min(k * hop, frames);
    s.count = std::min(hop, frames - s.first); // the last segment keeps the rest, at most a hop
    s.margins.before = std::min(margin, s.first);
    s.margins.after = std::min(margin, frames - s.first - s.count);
    return s;
}

uint64_t Engine::whole_run_bytes() const
{
    return inpdatasize + outdatasize + working_bytes(sampnump, chnr, plan_stages().spectral());
}

bool Engine::plan_segments(SegmentPlan& plan, const Params& asked)
{
    plan = SegmentPlan{};
    // A chain whose every stage is idle streams its file: it never holds
    // the whole of it.
    if (!plan_stages().any())
        return true;
    const uint64_t limit = memory_limit ? *memory_limit : available_memory() / 4 * 3;
    const uint64_t whole = whole_run_bytes();
    if (!segmented && whole <= limit)
        return true;

    // Where no segment can hold its margins (a few samples stretched a
    // billion times, say), segments cannot help: the run stays whole.
    const RunShape whole_shape = *this;
    const Params whole_params = params;
    plan.asked = asked;
    plan.asked.fs = params.fs;
    plan.frames = sampnuminp;
    const uint32_t width = bitnrinp / 8;
    const StagePlan stages = plan_stages();
    const bool spectral = stages.spectral();
    uint64_t granule = 64;
    const auto hop_at = [&](uint32_t points) {
        const uint64_t capacity = segment_capacity(points, plan.asked, fsinp);
        return capacity > 2 * plan.margin ? (capacity - 2 * plan.margin) / granule * granule : 0;
    };
    // A segment's own memory: its input (all channels, and channel 0 alone
    // for the first pass), its engine's output and unscaled output, the
    // working arrays and the last pass's blocks.
    const auto bytes_at = [&](uint32_t points) {
        const uint64_t frames = points;
        return frames * chnr * width + frames * width + frames / 2 * chnr * (3 + 8) +
               working_bytes(points, chnr, spectral) + scale_block_samples * (8 + 3);
    };
    // The run's frequencies snap to the segments' bins (its summary shows
    // them), and the segments' starts follow from those.
    const auto size_for = [&](uint32_t p) {
        params = plan.asked;
        sampnump = p;
        if (!snap_to_bins())
            return false;
        // Per input frame: samples after the rate conversion, after
        // vari-speed in time and at the output, and fs-sim periods where
        // the hold and where the sampling clock.
        const double ratio = double(params.fs) / fsinp, out = ratio / (params.varispeedt * params.varispeedf);
        std::vector<double> per_frame{ratio, ratio / params.varispeedt, out};
        if (stages.hold)
            per_frame.push_back(params.fssim / fsinp);
        if (stages.sampling || stages.aperture || stages.jitter)
            per_frame.push_back(out * params.fssim / params.fs);
        granule = frame_granule(per_frame, fsinp);
        plan.margin = round_up(static_cast<uint64_t>(std::round(span_margin_seconds * fsinp)), granule);
        return true;
    };
    uint32_t points = std::clamp(power_of_two_at_least(std::max(segment_points, 1u)), uint64_t{min_points}, uint64_t{max_points});
    if (!size_for(points))
        return false;
    while (points < max_points && hop_at(points) == 0 && size_for(points * 2))
        points *= 2;
    // Shorter segments for the memory limit, as long as each keeps at least
    // as much as its margins render for nothing.
    while (points > min_points && bytes_at(points) > limit && size_for(points / 2) && hop_at(points / 2) >= 2 * plan.margin)
        points /= 2;
    if (!size_for(points))
        return false;
    plan.points = points;
    plan.hop = hop_at(points);
    if (plan.hop == 0) {
        plan = SegmentPlan{};
        static_cast<RunShape&>(*this) = whole_shape;
        params = whole_params;
        return true;
    }
    plan.count = std::max<uint64_t>(1, (plan.frames + plan.hop - 1) / plan.hop);
    segments = plan.count;
    segment_frames = plan.hop;
    log_line("rendering in %llu segments: the whole file needs %.1f GB, the limit is %.1f GB\n",
             static_cast<unsigned long long>(plan.count), whole / gib, limit / gib);
    return true;
}

namespace {

// The second engine's log: quiet but for one segment's lines of its chain,
// from its first channel on, so that the run's log names the stages as a
// whole run's does.
struct SegmentLog : LogSink {
    LogSink& log;
    bool open = false;
    bool started = false;
    explicit SegmentLog(LogSink& whole) : log(whole) {}
    void append_log(const std::string& line) override
    {
        started = started || line.rfind("--- processing channel", 0) == 0;
        if (open && started)
            log.append_log(line);
    }
};

// A segment's share of the run's progress: the second engine reports its
// own share of a render, placed after the renders before it.
struct SegmentProgress : ProgressSink {
    ProgressSink* whole = nullptr;
    double done = 0, weight = 0, total = 1;
    void report_progress(double fraction) override
    {
        if (whole != nullptr)
            whole->report_progress(std::min((done + std::clamp(fraction, 0.0, 1.0) * weight) / total, 0.999));
    }
};

bool read_frames(std::FILE* input, long samples_start, uint64_t first, uint64_t count, uint64_t frame_bytes,
                 std::vector<uint8_t>& into)
{
    into.resize(count * frame_bytes);
    return std::fseek(input, samples_start + static_cast<long>(first * frame_bytes), SEEK_SET) == 0 &&
           std::fread(into.data(), 1, into.size(), input) == into.size();
}

} // namespace

RunOutcome Engine::run_segments(std::FILE* input, long samples_start, const SegmentPlan& plan)
{
    // The whole file's buffers are what the segments are for not to hold.
    fft_free();
    free_buffers();
    const auto fail = [this](const char* text) {
        message(text);
        return RunOutcome::failed;
    };
    if (samples_start < 0)
        return fail("cannot read samples");
    SegmentLog part_log(log_);
    Engine part(messages_, part_log);
    part.threads = threads;
    part.stop_ = stop_;
    part.points_floor_ = plan.points;
    SegmentProgress progress;
    progress.whole = progress_;
    part.set_progress_sink(&progress);

    // The progress counts each pass by its expected cost per segment (see
    // StepCosts), for a segment of half the transform length.
    const StagePlan stages = plan_stages();
    StepCosts costs = step_costs();
    costs.samples_in = costs.samples_out = plan.points / 2.0;
    const double before_quantization =
        costs.samples_in + (stages.resample + stages.varispeed_t) * costs.interpolate +
        (stages.input_filter + stages.hold * (stages.sampling ? 2 : 1) + stages.varispeed_f) * costs.transform +
        costs.sample_pass;
    const double peak_pass = stages.quantization ? before_quantization : 0.0;
    const double render_pass = chnr * channel_cost(stages, costs);
    const double scale_pass = 2.0 * chnr * costs.samples_out;
    progress.total = plan.count * (peak_pass + render_pass + scale_pass);

    log_line("reading input ...\n");
    const uint32_t width = bitnrinp / 8;
    const uint64_t frame_bytes = uint64_t{width} * chnr;
    std::vector<uint8_t> frames, channel0;
    if (stages.quantization) {
        part.segment_pass_ = SegmentPass::quantization_peak;
        progress.weight = peak_pass;
        double peak = 0.0;
        for (uint64_t k = 0; k < plan.count; ++k) {
            const SpanFrames s = plan.segment(k);
            if (!read_frames(input, samples_start, s.render_first(), s.render_count(), frame_bytes, frames))
                return fail("cannot read samples");
            channel0.resize(s.render_count() * width);
            for (uint64_t i = 0; i < s.render_count(); ++i)
                std::memcpy(&channel0[i * width], &frames[i * frame_bytes], width);
            part.params = plan.asked;
            Pcm24View ignored;
            const RunOutcome outcome =
                part.process_samples({fsinp, 1, bitnrinp, s.render_count(), channel0.data()}, ignored, s.margins);
            if (outcome != RunOutcome::done)
                return outcome;
            peak = std::max(peak, part.segment_peak_);
            progress.done += progress.weight;
        }
        part.fixed_quant_peak_ = peak;
    }

    OutputFile unscaled;
    if (!unscaled.create(*params.outwavname))
        return fail("cannot open WAV output");
    double peak = 0.0;
    progress.weight = render_pass;
    const RunOutcome rendered = render_segments(input, samples_start, plan, part, unscaled.file(), peak);
    if (rendered != RunOutcome::done)
        return rendered;
    part.fft_free();
    part.free_buffers();

    log_line("writing output ...\n");
    OutputFile output;
    if (!output.create(*params.outwavname))
        return fail("cannot open WAV output");
    if (!write_wav_header(output.file()))
        return fail("cannot write WAV header");
    if (std::fflush(unscaled.file()) != 0 || std::fseek(unscaled.file(), 0, SEEK_SET) != 0)
        return fail("cannot write samples");
    progress_total_ = progress.total;
    progress_done_ = progress.done;
    const RunOutcome scaled = scale_unscaled(unscaled.file(), output.file(), peak, sampnumout, plan.count * scale_pass);
    if (scaled != RunOutcome::done)
        return scaled;
    if (stop_requested())
        return RunOutcome::stopped; // asked for while scaling: nothing is renamed into place
    if (!output.commit())
        return fail("cannot write samples");
    if (progress_ != nullptr)
        progress_->report_progress(1.0);
    return RunOutcome::done;
}

RunOutcome Engine::render_segments(std::FILE* input, long samples_start, const SegmentPlan& plan, Engine& part,
                                   std::FILE* unscaled, double& peak)
{
    auto& progress = static_cast<SegmentProgress&>(*part.progress_);
    auto& part_log = static_cast<SegmentLog&>(part.log_);
    const uint32_t width = bitnrinp / 8;
    const uint64_t frame_bytes = uint64_t{width} * chnr;
    // Where a segment's output lies in the whole output: input frame k at
    // output sample k times this, as a whole run places it.
    const bool same_length = params.fs == fsinp && params.varispeedt == 1.0 && params.varispeedf == 1.0;
    const double per_input_frame =
        same_length ? 1.0 : static_cast<double>(params.fs) / fsinp / (params.varispeedt * params.varispeedf);
    const auto output_at = [&](uint64_t frame) {
        if (frame >= plan.frames)
            return uint64_t{sampnumout};
        return std::min<uint64_t>(static_cast<uint64_t>(std::llround(frame * per_input_frame)), sampnumout);
    };
    // Each segment's jitter draws its own sequence, from one seed for the run.
    const uint32_t seed = fixed_seed ? *fixed_seed : static_cast<uint32_t>(std::time(nullptr));
    part.segment_pass_ = SegmentPass::unscaled;
    std::vector<uint8_t> frames;
    std::vector<double> kept;
    for (uint64_t k = 0; k < plan.count; ++k) {
        const SpanFrames s = plan.segment(k);
        if (!read_frames(input, samples_start, s.render_first(), s.render_count(), frame_bytes, frames)) {
            message("cannot read samples");
            return RunOutcome::failed;
        }
        part.params = plan.asked;
        part.fixed_seed = seed + static_cast<uint32_t>(k) * 0x9E3779B9u;
        part_log.open = k == 0;
        part_log.started = false;
        Pcm24View ignored;
        const RunOutcome outcome =
            part.process_samples({fsinp, chnr, bitnrinp, s.render_count(), frames.data()}, ignored, s.margins);
        if (outcome != RunOutcome::done)
            return outcome;
        // The segment's share of the output, from its own first sample's
        // place in the file on.
        const uint64_t first = output_at(s.first), end = output_at(s.first + s.count);
        const double offset = static_cast<double>(s.render_first()) * per_input_frame;
        const auto local = static_cast<uint64_t>(std::max<long long>(0, std::llround(first - offset)));
        kept.assign((end - first) * chnr, 0.0);
        const uint64_t available = local < part.sampnumout ? std::min<uint64_t>(end - first, part.sampnumout - local) : 0;
        std::copy_n(part.rawoutbuf.data() + local * chnr, available * chnr, kept.begin());
        for (uint64_t i = 0; i < kept.size(); i += chnr)
            peak = std::fmax(peak, std::fabs(kept[i]));
        if (std::fwrite(kept.data(), sizeof(double), kept.size(), unscaled) != kept.size()) {
            message("cannot write samples");
            return RunOutcome::failed;
        }
        progress.done += progress.weight;
    }
    return RunOutcome::done;
}

RunOutcome Engine::scale_unscaled(std::FILE* unscaled, std::FILE* output, double peak, uint64_t frames, double cost)
{
    outgain = level_gain(-output_peak, peak);
    const double gain = outgain;
    const uint64_t total = frames * chnr;
    const unsigned workers = worker_count(threads);
    std::vector<double> in(std::min(total, scale_block_samples));
    std::vector<uint8_t> out(in.size() * 3);
    for (uint64_t first = 0; first < total; first += scale_block_samples) {
        if (stop_requested())
            return RunOutcome::stopped;
        const uint64_t count = std::min(scale_block_samples, total - first);
        if (std::fread(in.data(), sizeof(double), count, unscaled) != count) {
            message("cannot read samples");
            return RunOutcome::failed;
        }
        // The level as the whole run applies it: each sample times the gain, then encoded.
        parallel_for(count, workers, sample_pass_min_block, [&](uint64_t a, uint64_t b) {
            for (uint64_t i = a; i < b; ++i)
                encode_sample24(in[i] * gain, &out[3 * i]);
        });
        if (std::fwrite(out.data(), 1, count * 3, output) != count * 3) {
            message("cannot write samples");
            return RunOutcome::failed;
        }
        progress_step(cost * static_cast<double>(count) / static_cast<double>(total));
    }
    return RunOutcome::done;
}

} // namespace vesk
