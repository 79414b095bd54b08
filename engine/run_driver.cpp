// The run driver: one input WAV file in, one output WAV file out.
#include <cmath>
#include <ctime>

#include "engine/engine.h"
#include "engine/output_file.h"
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

// Smallest power of two >= m, for 1 <= m <= 2^30.
uint64_t power_of_two_at_least(uint64_t m)
{
    uint64_t p = 1;
    while (p < m)
        p *= 2;
    return p;
}

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
    return wav::write_wav_header(file, chnr, params.fs, bitnrout, outchdatasize * chnr) == 0;
}

// Sizes the working arrays and snaps fs-sim and the filter corners to whole
// bins.  Lengths are computed in double and checked before they become
// integers, so no value wraps.
bool Engine::size_run()
{
    const uint32_t bytes_per_sample = bitnrinp / 8;
    sampnuminp = inpchdatasize / bytes_per_sample;
    if (sampnuminp == 0)
        log_line("wav-in: warning, no samples");
    inpdatasize = static_cast<uint32_t>(uint64_t{inpchdatasize} * chnr); // the data chunk's own size
    if (params.fs == 0)
        params.fs = fsinp;
    const double ratio = static_cast<double>(params.fs) / static_cast<double>(fsinp);
    const double n = sampnuminp;

    double out_length = n;
    if (!(params.fs == fsinp && params.varispeedt == 1.0 && params.varispeedf == 1.0))
        out_length = std::ceil((ratio * n) / (params.varispeedt * params.varispeedf));
    if (out_length == 0)
        log_line("wav-out: warning, no samples\n");
    const double after_src = std::ceil(n * ratio);
    const double after_varispeed_t = std::ceil(n * ratio / params.varispeedt);
    const double after_varispeed_f = std::ceil(n * ratio / params.varispeedf);
    double m = std::fmax(std::fmax(out_length, after_src), std::fmax(after_varispeed_t, after_varispeed_f));
    // The rate conversion reads every input sample from the working arrays,
    // and its taps reach 15 samples below index 0, which wraps to the top of
    // the arrays: those must hold zeros, also when the rate is lowered.  An
    // input without samples has nothing to hold and stays without a length,
    // so it ends as "sampnump too small" whatever the rate.
    if (params.fs != fsinp && sampnuminp > 0)
        m = std::fmax(m, std::ceil((n + 15.0) / 2.0));
    // NaN only reaches here when the factors were never checked; it counts
    // as a size that cannot be had.
    if (std::isnan(out_length + after_varispeed_t + after_varispeed_f) || !(m <= max_working_length)) {
        message("sampnump too large for u_int");
        return false;
    }
    const uint64_t working = m == 0 ? 0 : 2 * power_of_two_at_least(static_cast<uint64_t>(m));
    if (working < 2) {
        message("sampnump too small");
        return false;
    }
    sampnump = static_cast<uint32_t>(working);
    sampnumout = static_cast<uint32_t>(out_length); // <= m <= 2^30
    dfmin = static_cast<double>(params.fs) / sampnump;

    fssim_idx = to_bins(params.fssim, dfmin);
    if (fssim_idx == 0) {
        message("invalid fs-sim=0");
        return false;
    }
    params.fssim = fssim_idx * dfmin;

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
    if (fsinp == 0)
        return fail("wav-in: invalid sample rate");
    if (chnr == 0)
        return fail("wav-in: invalid chnr");
    if (bitnrinp != 8 && bitnrinp != 16 && bitnrinp != 24)
        return fail("wav-in: invalid bitnr");

    if (!size_run())
        return RunOutcome::failed;
    progress_begin();
    log_summary();
    if (stopflag)
        return RunOutcome::stopped;

    // A chain without a spectral stage never transforms: its tables would be
    // built (and their memory touched) for nothing.
    if ((plan_stages().spectral() && !fft_init()) || !alloc_buffers())
        return fail("cannot allocate memory");
    if (stopflag)
        return RunOutcome::stopped;

    if (!output.create(*params.outwavname))
        return fail("cannot open WAV output");
    if (!write_wav_header(output.file()))
        return fail("cannot write WAV header");

    log_line("reading input ...\n");
    // With every stage idle the samples are read where they are used, from
    // the file itself, which is read again from here (see
    // find_passed_through_gain).  The header reader has already moved
    // through the file, so it can go back.
    const bool idle = !plan_stages().any();
    const long samples_start = std::ftell(input.file);
    if (idle) {
        if (samples_start < 0)
            return fail("cannot read samples");
    } else {
        if (std::fread(wavinpbuf.data(), 1, inpdatasize, input.file) != inpdatasize)
            return fail("cannot read samples");
        input.close();
    }
    progress_step(chnr * costs_.samples_in);
    if (stopflag)
        return RunOutcome::stopped;

    sigre = sampbuf1_re.data();
    sigim = sampbuf1_im.data();
    tmpre = sampbuf2_re.data();
    tmpim = sampbuf2_im.data();
    const uint32_t input_stride = bitnrinp == 24 ? 3 : bitnrinp == 16 ? 2 : 1;
    const uint32_t output_stride = 3;
    for (uint32_t ch = 0; ch < chnr; ++ch) {
        log_line("--- processing channel %u: ---\n", ch);
        if (idle) {
            if (ch == 0 && !find_passed_through_gain(input.file))
                return RunOutcome::failed;
            progress_step(costs_.samples_in);
        } else {
            inpsampptr = wavinpbuf.data() + uint64_t{ch} * input_stride;
            outsampptr = wavoutbuf.data() + uint64_t{ch} * output_stride;
            process_channel(ch == 0);
        }
        if (stopflag)
            return RunOutcome::stopped;
    }

    log_line("writing output ...\n");
    if (idle) {
        if (std::fseek(input.file, samples_start, SEEK_SET) != 0)
            return fail("cannot read samples");
        const RunOutcome written = write_passed_through(input.file, output.file());
        if (written != RunOutcome::done)
            return written;
    } else if (std::fwrite(wavoutbuf.data(), 1, outdatasize, output.file()) != outdatasize) {
        return fail("cannot write samples");
    }
    if (!output.commit())
        return fail("cannot write samples");
    if (progress_ != nullptr)
        progress_->report_progress(1.0);
    return RunOutcome::done;
}

} // namespace vesk
