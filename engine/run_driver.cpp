// The run driver: one input WAV file in, one output WAV file out.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "engine/engine.h"
#include "engine/output_file.h"
#include "engine/run_size.h"
#include "engine/segments.h"
#include "wav/wav_header.h"

namespace vesk {

namespace {

// Closes the input on every way out of a run.
struct InputFile {
    std::FILE* file = nullptr;
    ~InputFile() { close(); }
    void close()
    {
        if (file != nullptr)
            std::fclose(file);
        file = nullptr;
    }
};

constexpr double max_working_length = 1073741824.0; // 2^30: sampnump stays within 32 bits
constexpr uint64_t max_wav_field = 0xFFFFFFFFu;

// A frequency in whole bins, truncated; results beyond 32 bits are clamped
// rather than left to an undefined conversion.
uint32_t to_bins(double hz, double dfmin)
{
    const double bins = std::trunc(hz / dfmin);
    if (!(bins >= 0))
        return 0;
    if (bins >= 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(bins);
}

} // namespace

bool Engine::read_wav_header(std::FILE* file, const char** reason, int* fmttag)
{
    wav::WavFormat format;
    if (wav::read_wav_header(file, reason, fmttag, format) != 0)
        return false;
    fsinp = format.fsinp;
    chnr = format.chnr;
    bitnrinp = format.bitnrinp;
    inpchdatasize = format.inpchdatasize;
    const std::string cut_short = wav::cut_short_warning(format);
    if (!cut_short.empty())
        log_line("%s", cut_short.c_str());
    return true;
}

bool Engine::write_wav_header(std::FILE* file)
{
    return wav::write_wav_header(file, chnr, params.fs, bitnrout, keptnum * 3 * chnr) == 0;
}

// Sizes the working arrays and snaps fs-sim and the filter corners to whole
// bins.  Lengths are computed in double and checked before they become
// integers, so no value wraps.
bool Engine::size_run(const Margins& margins)
{
    const uint32_t bytes_per_sample = bitnrinp / 8;
    sampnuminp = inpchdatasize / bytes_per_sample;
    if (sampnuminp == 0)
        log_line("wav-in: warning, no samples");
    inpdatasize = uint64_t{inpchdatasize} * chnr;
    if (params.fs == 0)
        params.fs = fsinp;
    const double ratio = static_cast<double>(params.fs) / static_cast<double>(fsinp);
    const double n = sampnuminp;

    const bool same_length = params.fs == fsinp && params.varispeedt == 1.0 && params.varispeedf == 1.0;
    // fs != fsinp compared as integers: a ratio of 1.0 in double is the same rate.
    const WorkingExtent extent =
        working_extent(n, params.fs != fsinp ? ratio : 1.0, params.varispeedt, params.varispeedf, same_length);
    const double out_length = extent.out_length;
    if (out_length == 0)
        log_line("wav-out: warning, no samples\n");
    const double m = extent.samples;
    // NaN only reaches here when the factors were never checked; it counts
    // as a size that cannot be had.
    if (std::isnan(m) || !(m <= max_working_length)) {
        message("sampnump too large for u_int");
        return false;
    }
    const uint64_t working = m == 0 ? 0 : 2 * power_of_two_at_least(static_cast<uint64_t>(m));
    if (working < 2) {
        message("sampnump too small");
        return false;
    }
    sampnump = std::max(static_cast<uint32_t>(working), points_floor_);
    sampnumout = static_cast<uint32_t>(out_length); // <= m <= 2^30
    if (!snap_to_bins())
        return false;

    const uint64_t channel_bytes = uint64_t{sampnumout} * 3;
    const uint64_t data_bytes = channel_bytes * chnr;
    // The header also holds a frame's bytes in 16 bits (block align) and a
    // second's bytes in 32 bits (byte rate): more than 21845 channels of
    // 24-bit samples, or a rate that high, would be described as some other
    // layout than the samples that follow.
    const uint64_t frame_bytes = uint64_t{3} * chnr;
    if (data_bytes + 36 > max_wav_field || frame_bytes > 0xFFFF || frame_bytes * params.fs > max_wav_field) {
        message("wav-out: output too large for WAV");
        return false;
    }
    outchdatasize = static_cast<uint32_t>(channel_bytes);
    outdatasize = static_cast<uint32_t>(data_bytes);
    bitnrout = 24;

    // The output samples that stand for the margins: an input frame k lies
    // at output sample k times the output's rate over the input's, over the
    // vari-speed factors.  A run without margins keeps every sample.
    const double per_input_frame = same_length ? 1.0 : ratio / (params.varispeedt * params.varispeedf);
    const auto output_at = [&](uint64_t frame) {
        return static_cast<uint32_t>(std::fmin(std::round(static_cast<double>(frame) * per_input_frame), sampnumout));
    };
    keptfirst = margins.before == 0 ? 0 : output_at(margins.before);
    const uint32_t kept_end = margins.after == 0 ? sampnumout : output_at(sampnuminp - std::min<uint64_t>(margins.after, sampnuminp));
    keptnum = kept_end > keptfirst ? kept_end - keptfirst : 0;

    return true;
}

bool Engine::snap_to_bins()
{
    dfmin = static_cast<double>(params.fs) / sampnump;
    fssim_idx = to_bins(params.fssim, dfmin);
    if (fssim_idx == 0) {
        message("invalid fs-sim=0");
        return false;
    }
    params.fssim = fssim_idx * dfmin;
    struct Corner {
        double& hz;
        uint32_t& idx;
    };
    Corner corners[] = {{params.fcloin, fcloin_idx}, {params.fchiin, fchiin_idx}, {params.fcloout, fcloout_idx}, {params.fchiout, fchiout_idx}};
    for (Corner& corner : corners) {
        corner.idx = std::min(to_bins(corner.hz, dfmin), sampnump / 2);
        corner.hz = corner.idx * dfmin;
    }
    return true;
}

bool Engine::size_input(uint32_t rate, uint32_t channels, uint32_t bits, uint64_t channel_bytes, const Margins& margins)
{
    fsinp = rate;
    chnr = channels;
    bitnrinp = bits;
    segments = segment_frames = 0;
    // More than a WAV file's data chunk could hold counts as a run that
    // cannot be sized.
    if (channel_bytes > UINT32_MAX) {
        message("sampnump too large for u_int");
        return false;
    }
    inpchdatasize = static_cast<uint32_t>(channel_bytes);
    return size_run(margins);
}

void Engine::begin_run()
{
    progress_begin();
    log_summary();
}

bool Engine::start_run(uint32_t rate, uint32_t channels, uint32_t bits, uint64_t channel_bytes, const Margins& margins)
{
    if (!size_input(rate, channels, bits, channel_bytes, margins))
        return false;
    begin_run();
    return true;
}

void Engine::log_summary()
{
    log_line("input:       %10u samples (%2u bit)\n", sampnuminp, bitnrinp);
    log_line("output:      %10u samples (%2u bit)\n", sampnumout, bitnrout);
    log_line("FFT:         %10u samples\n", sampnump);
    log_line("fs-inp:      %10.2f Hz\n", static_cast<double>(fsinp));
    log_line("fs:          %10.2f Hz\n", static_cast<double>(params.fs));
    log_line("dfmin:       %10.6f Hz\n", dfmin);
    log_line("fs-sim:      %10.2f Hz\n", params.fssim);
    log_line("aperture:    %10.4f\n", params.aperture);
    log_line("jitter:      %10.3le s\n", params.jitteramp / params.fssim);
    log_line("vari-speed:  %10.6f\n", params.varispeedf * params.varispeedt);
    log_line("hold-sample: %10s\n", params.varispeedsh ? "yes" : "no");
    log_line("inp fc-lo:   %10.2f Hz\n", params.fcloin);
    log_line("inp fc-hi:   %10.2f Hz\n", params.fchiin);
    log_line("out fc-lo:   %10.2f Hz\n", params.fcloout);
    log_line("out fc-hi:   %10.2f Hz\n", params.fchiout);
    log_line("quant:       %10u bit\n", params.bitnr);
    log_line("chnr:        %10u\n", chnr);
}

const char* Engine::format_refusal(uint32_t rate, uint32_t channels, uint32_t bits)
{
    if (rate == 0)
        return "wav-in: invalid sample rate";
    if (channels == 0)
        return "wav-in: invalid chnr";
    if (bits != 8 && bits != 16 && bits != 24)
        return "wav-in: invalid bitnr";
    return nullptr;
}

bool Engine::claim_memory(bool input_buffer)
{
    // A chain without a spectral stage never transforms: its tables would be
    // built (and their memory touched) for nothing.
    return (!plan_stages().spectral() || fft_init()) && alloc_buffers(input_buffer);
}

Pcm24View Engine::kept_output() const
{
    return {params.fs, chnr, keptnum, wavoutbuf.data() + uint64_t{keptfirst} * 3 * chnr};
}

RunOutcome Engine::process_samples(const PcmView& input, Pcm24View& output, const Margins& margins)
{
    jitter_rng.seed(fixed_seed ? *fixed_seed : static_cast<uint32_t>(std::time(nullptr)));
    if (const char* refusal = format_refusal(input.rate, input.channels, input.bits)) {
        message(refusal);
        return RunOutcome::failed;
    }
    const uint64_t width = input.bits / 8;
    if (!start_run(input.rate, input.channels, input.bits, input.frames > UINT64_MAX / 4 ? UINT64_MAX : input.frames * width, margins))
        return RunOutcome::failed;
    if (stop_requested())
        return RunOutcome::stopped;
    if (!claim_memory(false)) {
        message("cannot allocate memory");
        return RunOutcome::failed;
    }
    if (stop_requested())
        return RunOutcome::stopped;
    const RunOutcome outcome = plan_stages().any() ? run_channels(input.data) : pass_through(input.data);
    if (outcome != RunOutcome::done)
        return outcome;
    output = kept_output();
    if (progress_ != nullptr)
        progress_->report_progress(1.0);
    return RunOutcome::done;
}

RunOutcome Engine::process_wav()
{
    if (!params.inpwavname || !params.outwavname)
        return RunOutcome::failed;
    jitter_rng.seed(fixed_seed ? *fixed_seed : static_cast<uint32_t>(std::time(nullptr)));

    InputFile input;
    OutputFile output;
    const auto fail = [this](const char* text) {
        message(text);
        return RunOutcome::failed;
    };

    input.file = std::fopen(params.inpwavname->c_str(), "rb");
    if (input.file == nullptr)
        return fail("cannot open WAV input");
    // The output replaces its target only at the end, but a run whose output
    // is its own input would still destroy the recording it reads.
    if (same_file(*params.inpwavname, *params.outwavname))
        return fail("output file is the input file");

    const char* reason = nullptr;
    int fmttag = 0;
    if (!read_wav_header(input.file, &reason, &fmttag))
        return fail("wav-in: invalid or unsupported WAV-format");
    if (fmttag != 1)
        return fail("wav-in: WAV must be PCM\n");
    if (const char* refusal = format_refusal(fsinp, chnr, bitnrinp))
        return fail(refusal);

    // The samples the run reads: all the file holds (see read_wav_header),
    // or an excerpt with its margins.
    const uint64_t frame_bytes = uint64_t{bitnrinp / 8} * chnr;
    uint64_t first = 0, channel_bytes = inpchdatasize;
    Margins margins;
    if (excerpt) {
        const uint64_t frames = inpchdatasize / (bitnrinp / 8);
        if (const char* refusal = span_refusal(*excerpt, frames, fsinp))
            return fail(refusal);
        const SpanFrames span = span_frames(*excerpt, frames, fsinp);
        log_line("excerpt:     %10.3f s from %.3f s (margins %.3f s and %.3f s)\n", double(span.count) / fsinp,
                 double(span.first) / fsinp, double(span.margins.before) / fsinp, double(span.margins.after) / fsinp);
        first = span.render_first();
        channel_bytes = span.render_count() * (bitnrinp / 8);
        margins = span.margins;
    }
    const Params asked = params; // before the sizing snaps its frequencies
    if (!size_input(fsinp, chnr, bitnrinp, channel_bytes, margins))
        return RunOutcome::failed;
    SegmentPlan segments;
    if (!excerpt && !plan_segments(segments, asked))
        return RunOutcome::failed;
    begin_run();
    if (stop_requested())
        return RunOutcome::stopped;
    if (segments.count != 0)
        return run_segments(input.file, std::ftell(input.file), segments);

    const bool idle = !plan_stages().any();
    if (!claim_memory(true))
        return fail("cannot allocate memory");
    if (stop_requested())
        return RunOutcome::stopped;

    if (!output.create(*params.outwavname))
        return fail("cannot open WAV output");
    if (!write_wav_header(output.file()))
        return fail("cannot write WAV header");

    log_line("reading input ...\n");
    // With every stage idle the samples are read where they are used, from
    // the file itself, which is read again from the first kept frame (see
    // find_passed_through_gain).  The header reader has already moved
    // through the file, so it can go back; an excerpt starts further on.
    const long samples_start = std::ftell(input.file);
    const uint64_t skipped = first + (idle ? margins.before : 0);
    const auto to_first_frame = [&] {
        return samples_start >= 0 && std::fseek(input.file, samples_start + static_cast<long>(skipped * frame_bytes), SEEK_SET) == 0;
    };
    if ((idle || skipped != 0) && !to_first_frame())
        return fail("cannot read samples");
    if (!idle) {
        if (std::fread(wavinpbuf.data(), 1, inpdatasize, input.file) != inpdatasize)
            return fail("cannot read samples");
        input.close();
    }
    progress_step(chnr * costs_.samples_in);
    if (stop_requested())
        return RunOutcome::stopped;

    if (idle) {
        for (uint32_t ch = 0; ch < chnr; ++ch) {
            log_line("--- processing channel %u: ---\n", ch);
            if (ch == 0 && !find_passed_through_gain(input.file))
                return RunOutcome::failed;
            progress_step(costs_.samples_in);
            if (stop_requested())
                return RunOutcome::stopped;
        }
    } else if (run_channels(wavinpbuf.data()) == RunOutcome::stopped) {
        return RunOutcome::stopped;
    }

    log_line("writing output ...\n");
    if (idle) {
        if (!to_first_frame())
            return fail("cannot read samples");
        const RunOutcome written = write_passed_through(input.file, output.file());
        if (written != RunOutcome::done)
            return written;
    } else {
        const Pcm24View kept = kept_output();
        const uint64_t bytes = kept.frames * 3 * chnr;
        if (std::fwrite(kept.data, 1, bytes, output.file()) != bytes)
            return fail("cannot write samples");
    }
    if (!output.commit())
        return fail("cannot write samples");
    if (progress_ != nullptr)
        progress_->report_progress(1.0);
    return RunOutcome::done;
}

} // namespace vesk
