// The simulation engine: one object holds the whole state of a run, and its
// member functions are the operations of the chain.  The engine knows no
// window toolkit: it reports through a MessageSink (failures, blocking until
// the user has seen them), a LogSink (progress lines) and, when one is set,
// a ProgressSink (the share of the run done).
//
// A run has two entries: process_samples runs the chain over samples held
// in memory, process_wav over a WAV file (read, run as process_samples runs
// its samples, written).  Everything a run works with (the input's format,
// the sizes and bin indices derived from it, buffers, tables, the working
// pointers) is private; sizes() tells what the last run was sized to.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/memory.h"
#include "engine/params.h"
#include "engine/pcm_view.h"
#include "engine/random.h"
#include "engine/sinks.h"
#include "engine/span.h"

namespace vesk {

struct JitterChain;
struct JitterClock;
struct EngineSeam;
namespace fft {
struct Tables;
}

// What a run is sized to: the input's format and what the run derives from
// it and the parameters.  Valid once a run has been sized (it has logged its
// summary).
struct RunShape {
    // ---- taken from the input ----------------------------------------------
    uint32_t fsinp = 0;         // input rate [Hz]
    uint32_t chnr = 0;          // channels
    uint32_t bitnrinp = 0;      // bits per input sample (8, 16 or 24)
    uint32_t inpchdatasize = 0; // sample bytes per channel that the run reads

    // ---- derived ---------------------------------------------------------------
    uint32_t sampnuminp = 0;    // input samples per channel
    uint32_t sampnumout = 0;    // output samples per channel
    uint32_t sampnump = 0;      // working array and transform length (power of two)
    double dfmin = 0.0;         // bin spacing fs / sampnump [Hz]
    uint32_t fssim_idx = 0;     // fs-sim [bins]; may exceed sampnump
    uint32_t fcloin_idx = 0;    // filter corners [bins], each at most sampnump / 2
    uint32_t fchiin_idx = 0;
    uint32_t fcloout_idx = 0;
    uint32_t fchiout_idx = 0;
    uint64_t inpdatasize = 0;   // input sample bytes of all channels
    uint32_t outchdatasize = 0; // output sample bytes per channel
    uint32_t outdatasize = 0;   // output sample bytes of all channels
    uint32_t bitnrout = 24;     // bits per output sample; always 24
    // The output samples that leave the run: all of them, but for those
    // that stand for the input's margins (rendered and left out).
    uint32_t keptfirst = 0;     // [output samples]
    uint32_t keptnum = 0;
    // A file run in segments: how many, and the input frames each keeps
    // (the last keeps the rest); sampnump is then a segment's.  0: whole.
    uint64_t segments = 0;
    uint64_t segment_frames = 0;
};

class Engine : private RunShape {
public:
    Engine(MessageSink& messages, LogSink& log);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Where the share of the run done goes; none (the default) reports
    // nothing.  Set between runs only.
    void set_progress_sink(ProgressSink* sink) { progress_ = sink; }

    // ---- settings, written by the front-end before each run -------------
    // The run snaps fs-sim and the filter corners to whole bins and sets fs
    // to the input's rate when it is 0, so after a run they hold the values
    // the chain used.
    Params params;
    // Raised by another thread (or a signal handler) to ask the run to stop;
    // polled between stages and between channels.
    std::atomic<int> stopflag{0};

    // Threads the heavy passes may use: 0 follows the machine, 1 keeps every
    // pass on the calling thread.  Results do not depend on it.
    unsigned threads = 0;

    // Seed for the jitter's random source.  Unset, each run seeds it from the
    // calendar time; tests set it to make a run reproducible.
    std::optional<uint32_t> fixed_seed;

    // Set, a file run renders only this span of its input (with the
    // margins of span_margin_seconds, rendered and dropped) into its output.
    std::optional<Span> excerpt;

    // Long files: a file run whose whole-file arrays would need more memory
    // than `memory_limit` renders its input in segments instead (see
    // engine/segments.cpp); `segmented` does so whatever the length.  An
    // excerpt, and a chain whose every stage is idle (it streams its file),
    // never go in segments.
    std::optional<uint64_t> memory_limit; // [bytes]; unset: 3/4 of the memory available
    bool segmented = false;
    // Each segment's transform length, a power of two; the memory limit may
    // make it shorter.
    uint32_t segment_points = uint32_t{1} << 22;

    // ---- runs ----------------------------------------------------------------
    // False (after its message) when a parameter is out of its range.
    bool check_params();
    // The input file params.inpwavname in, params.outwavname out.
    RunOutcome process_wav();
    // The chain over samples in memory, sized, logged and run as a file run
    // of the same samples would be.  Done, `output` views the result.
    RunOutcome process_samples(const PcmView& input, Pcm24View& output, const Margins& margins = {});

    // Give the tables and the buffers back; the destructor does so too.  A
    // run that follows a run of the same sizes without them reuses both.
    void fft_free();
    void free_buffers();

    const RunShape& sizes() const { return *this; }
    // The checks both entries make of the input's format, in this order;
    // null for a format the chain takes.
    static const char* format_refusal(uint32_t rate, uint32_t channels, uint32_t bits);

    void log_line(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    friend struct EngineSeam; // the tests' and benchmarks' door (tests/support/engine_seam.h)

    // ---- the phases both entries share ----------------------------------------
    // Takes the input's format and sizes the run for `channel_bytes` of
    // samples per channel; logs the warnings and the summary.  False after
    // its message.
    bool start_run(uint32_t rate, uint32_t channels, uint32_t bits, uint64_t channel_bytes, const Margins& margins);
    // start_run's two halves: sizing (false after its message), then the
    // count of progress and the summary.
    bool size_input(uint32_t rate, uint32_t channels, uint32_t bits, uint64_t channel_bytes, const Margins& margins);
    void begin_run();
    // The transform's tables (when a stage needs them) and the buffers, with
    // room for the input's bytes when the run reads a file.  False after the
    // message naming the buffer.
    bool claim_memory(bool input_buffer);
    // Every channel of `input` (the run's samples, interleaved) through the
    // chain into wavoutbuf; done or stopped.
    RunOutcome run_channels(const uint8_t* input);
    // The same for a chain whose every stage is idle: channel 0's level,
    // then the kept samples scaled and encoded, every channel at once.
    RunOutcome pass_through(const uint8_t* input);
    Pcm24View kept_output() const;

    // ---- run driver ----------------------------------------------------------
    // False (after naming the buffer) when memory cannot be had.
    bool alloc_buffers(bool input_buffer);
    bool read_wav_header(std::FILE* file, const char** reason, int* fmttag);
    bool write_wav_header(std::FILE* file);
    bool size_run(const Margins& margins);
    // fs-sim and the filter corners in whole bins of fs / sampnump, from the
    // values in params (which take the snapped values); false after the
    // message when fs-sim is below one bin.
    bool snap_to_bins();
    void log_summary();
    bool stop_requested() const { return stop_->load() != 0; }

    // ---- channel pipeline ----------------------------------------------------
    // Runs the chain on the current channel; false when a stop request cut
    // it short.
    bool process_channel(int firstch);
    double normalize_level(double x, uint32_t count);
    // A run with every stage idle makes its output straight from the input
    // file, read twice a block at a time and never held whole: once for
    // channel 0's level, and once to write every channel's kept samples,
    // scaled and encoded, to the output file.  Both read the kept frames
    // from where the file stands; false or `failed` after the message when
    // the file ends early or the output takes no more.
    bool find_passed_through_gain(std::FILE* input);
    RunOutcome write_passed_through(std::FILE* input, std::FILE* output);
    // The largest |sample| of channel 0 in `count` frames at `frames`.
    double passed_through_peak(const uint8_t* frames, uint64_t count) const;
    // `count` interleaved input samples scaled by outgain and encoded, in
    // order, into `out` (3 bytes each).
    void encode_passed_through(const uint8_t* in, uint64_t count, uint8_t* out, const std::vector<uint8_t>& table) const;

    // ---- spectral transform --------------------------------------------------
    // False when the tables cannot be had (or sampnump is below 2).
    bool fft_init();
    // In place, natural order: n points (a power of two up to sampnump) at
    // offset; stride = sampnump / n; inverse != 0 gives the unscaled inverse.
    void fft(double* re, double* im, uint32_t n, uint32_t offset, uint32_t stride, int inverse);
    // Between the time signal and its spectrum.  A spectrum is held as its
    // bins 0 .. sampnump / 2, the imaginary parts of the first and the last
    // of them 0: the bins above are their conjugates and are neither stored
    // nor read.  In the time domain sigim is unused (its contents are left
    // over).  With output_only the way back writes only the samples that can
    // reach the output, those below sampnump / 2.
    void switch_domain(bool output_only = false);
    fft::Tables tables() const;

    // ---- interpolator, band filters, rate conversion -------------------------
    void sinc_interp(const double* values, double* outim, double x, int len, int center, int outidx);
    // sinc_interp(nullptr, nullptr, fracs[i], len, centers[i], at[i]) for
    // i < count, the outputs' common work done together.
    void sinc_interp_batch(const double* fracs, const int64_t* centers, const uint32_t* at, int count, int len);
    // Outputs first .. last-1 of tmpre: sigre read at i plus the timing
    // error `chain` gives output i (0 beyond every tap), the chain moved on
    // by one per output.
    void read_jittered(JitterChain& chain, const JitterClock& clock, uint32_t first, uint32_t last, int len);
    void band_filter(const char* label, uint32_t lo, uint32_t hi);
    void src_resample();
    // Fills the first half of tmpre with sigre read at the positions 0, step,
    // 2 step, ... (taps limited to 1 - len .. len - 1), clears the rest and
    // makes it the current signal: the walk shared by rate conversion and
    // vari-speed in time.
    void read_time_stretched(double step, int len);
    // The stepped walk itself: outputs 0 .. count-1 of tmpre (and of outim,
    // interpolating `values` alongside sigre) read at the positions 0, step,
    // 2 step, ...  Returns how many outputs were read; the ones after that
    // lie beyond every tap and are left for the caller to clear.  A
    // nonzero `zeros_from` says the sources hold zeros from that index on
    // (up to the tap limit), so outputs whose taps all lie there are 0 too.
    // Split across `threads`, with results identical to a single pass.
    uint32_t read_stepped(uint32_t count, double step, int len, const double* values, double* outim,
                          uint32_t zeros_from = 0);

    // ---- simulation stages ---------------------------------------------------
    void stage_sampling();
    void stage_hold_aperture(const char* label, int mode, double value);
    void stage_varispeed_t();
    void stage_varispeed_f();
    void stage_quantization(int firstch);
    void stage_jitter();

    // Which stages of the chain act for the current parameters and sizes
    // (valid once the run is sized).
    struct StagePlan {
        bool resample;      // rate conversion
        bool input_filter;
        bool hold;          // sampling and hold before vari-speed
        bool varispeed_t;
        bool varispeed_f;
        bool quantization;
        bool sampling;      // fs-sim below the working rate
        bool aperture;
        bool jitter;
        bool output_filter;
        bool any() const;
        // Whether any stage works on the spectrum, so that the transform
        // (and its tables) is needed at all.
        bool spectral() const;
    };
    StagePlan plan_stages() const;

    // ---- working state of the channel pipeline ----------------------------
    int timedomain = 1;         // 1 = the pair holds time samples, 0 = a spectrum
    double* sigre = nullptr;    // current signal, real part (sampnump values)
    double* sigim = nullptr;    // current signal, imaginary part
    double* tmpre = nullptr;    // scratch pair; a stage that builds its result
    double* tmpim = nullptr;    // there exchanges it with the current pair
    const uint8_t* inpsampptr = nullptr; // current channel's next input sample
    uint8_t* outsampptr = nullptr;       // current channel's next output sample
    double outgain = 1.0;       // level gain found on channel 0, applied to the rest
    double quantgain = 1.0;     // gain of the quantization stage, found on channel 0

    // ---- buffers, kept from run to run while their sizes fit -------------
    Block<uint8_t> wavinpbuf;   // a file run's input sample bytes, all channels
    Block<uint8_t> wavoutbuf;   // the output's sample bytes, all channels
    Block<double> sampbuf1_re;  // the two working pairs, sampnump each
    Block<double> sampbuf1_im;
    Block<double> sampbuf2_re;
    Block<double> sampbuf2_im;

    // ---- transform tables --------------------------------------------------
    Block<double> fft_coeff_re;  // cos(2 pi i / sampnump), i < sampnump (filled up to sampnump / 4 for a run)
    Block<double> fft_coeff_im;  // sin(2 pi i / sampnump)
    Block<double> fft_tmpbuf_re; // sampnump / 2 twiddles laid out per pass (fft_kernels.h)
    Block<double> fft_tmpbuf_im;
    uint32_t fft_tabsize = 0;        // sampnump the tables were built for; 0 = none

    JitterRandom jitter_rng;

    // The hold's and the aperture's factor for each bin, kept while the
    // sizes and the value they were made for stay: a preview renders the
    // same sizes again and again, and two channels side by side share one
    // table.  Made before the channels where working lengths are short
    // (prepare_responses); elsewhere the stage computes each bin as it goes.
    struct ResponseTable {
        uint32_t points = 0; // sampnump; 0 = none
        uint32_t bins = 0;   // fssim_idx
        double value = 0.0;
        Block<double> a, b;  // bins 1 .. sampnump / 2 (see bin_response)
        bool matches(uint32_t n, uint32_t m, double v) const;
    };
    ResponseTable hold_response_;
    ResponseTable aperture_response_;
    void prepare_responses();
    void release_responses();

    void message(const char* text);
    // Fills entries first .. last-1 of fft_coeff_re / fft_coeff_im.
    void fill_coefficients(uint64_t first, uint64_t last, unsigned workers);
    bool fft_coefficients_complete = false; // entries above sampnump / 4 filled too
    // What process_channel knows while it runs the chain: sigre holds zeros
    // from this index on (0: not known), and whether ranges the stages
    // clear may be handed back to the system because no later stage writes
    // them (see clear_doubles).
    uint32_t zeros_from_ = 0;
    bool release_cleared_ = false;

    // ---- segments (engine/segments.cpp) ---------------------------------------
    // A long file run, sized for the whole file, rendered segment by segment
    // through a second engine's in-memory entry into the output.
    struct SegmentPlan;
    // The bytes a whole-file run of this shape would hold.
    uint64_t whole_run_bytes() const;
    // Whether this sized file run goes in segments (plan.count != 0), and
    // how; then the run's frequencies snap to the segments' bins and the
    // line that says so is logged.  False after its message.
    bool plan_segments(SegmentPlan& plan, const Params& asked);
    RunOutcome run_segments(std::FILE* input, long samples_start, const SegmentPlan& plan);
    RunOutcome render_segments(std::FILE* input, long samples_start, const SegmentPlan& plan, Engine& part,
                               std::FILE* unscaled, double& peak);
    RunOutcome scale_unscaled(std::FILE* unscaled, std::FILE* output, double peak, uint64_t frames, double cost);
    // What a segment's render is asked for.  whole: an ordinary run.
    // quantization_peak: channel 0 up to quantization, whose input's peak
    // over the kept samples (and, at the file's end, the tail after them)
    // goes to segment_peak_.  unscaled: every channel through the chain,
    // left at its level in rawoutbuf instead of normalised and encoded.
    enum class SegmentPass { whole, quantization_peak, unscaled };
    SegmentPass segment_pass_ = SegmentPass::whole;
    // Set, quantization scales to this peak instead of channel 0's own.
    std::optional<double> fixed_quant_peak_;
    double segment_peak_ = 0.0;
    // A working length to size at least to, so that every segment has the
    // same bins however short it is.  0: none.
    uint32_t points_floor_ = 0;
    Block<double> rawoutbuf;    // unscaled output, sampnumout frames, interleaved
    double* rawoutptr = nullptr; // current channel's first unscaled sample

    // ---- channels side by side ---------------------------------------------
    // Where working arrays are small, a second engine (a lane) runs every
    // other channel on a thread of its own, in step with this one: it takes
    // this run's shape, parameters and tables, waits for the two gains
    // channel 0 finds, and logs into a buffer that is handed on in channel
    // order.  Each channel is computed as it would be alone, so the output
    // does not change.
    struct Lanes;
    struct GainHandoff;
    std::unique_ptr<Lanes> lanes_;
    // The lane's links to the engine it serves (this engine's own, else).
    const Engine* tables_owner_ = this;
    const std::atomic<int>* stop_ = &stopflag;
    GainHandoff* handoff_ = nullptr;
    // Whether this run's channels go side by side; sets the lane up for it.
    bool prepare_lanes();
    void release_lanes();
    // Runs channel `ch` on this engine, where the channel loop has pointed
    // the sample pointers.
    bool run_channel(uint32_t ch);
    // Moves the jitter's random sequence on by one channel's draws, as if
    // the stage had run.
    void skip_jitter_channel();

    // The run's progress counts each step by its expected cost, in rough
    // operations: a pass over samples costs one per sample, a stage that
    // transforms costs a transform of sampnump points, an interpolating
    // stage 31 taps per working output.  The costs are fixed once the run is
    // sized, so the share done only ever grows.
    struct StepCosts {
        double samples_in = 0;   // reading or decoding one channel's input
        double samples_out = 0;  // normalising and encoding one channel's output
        double transform = 0;    // one spectral stage
        double interpolate = 0;  // one interpolating stage
        double sample_pass = 0;  // one pass over the working samples
    };
    StepCosts step_costs() const;
    double channel_cost(const StagePlan& plan, const StepCosts& costs) const;
    // Starts the count for a sized run: the total is the input read, every
    // channel's chain and the output written.
    void progress_begin();
    // A step of the given cost is behind the run; reported unless a stop
    // has been asked for, and always short of 1.  A step of a channel that
    // runs beside another counts for both.
    void progress_step(double cost);
    StepCosts costs_;
    double progress_total_ = 0;
    double progress_done_ = 0;
    double progress_weight_ = 1.0;
    ProgressSink* progress_ = nullptr;

    MessageSink& messages_;
    LogSink& log_;
};

} // namespace vesk
