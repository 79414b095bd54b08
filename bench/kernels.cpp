// vesk-bench: the engine's heavy kernels, each next to the reference it is
// measured against.
//
//   transform/engine/N    vesk::Engine::fft, complex, in place, split re/im
//   transform/fftw/N      FFTW, complex, in place, interleaved, FFTW_ESTIMATE
//   transform/fftw_measure/N  the same planned with FFTW_MEASURE; the plans
//                         are kept as wisdom in the file named by
//                         VESK_FFTW_WISDOM (when set), so they are measured
//                         once per machine and not on every run
//   domain/engine/N       switch_domain() there and back (the real-signal
//                         path every run takes)
//   domain/fftw/N         FFTW r2c + c2r + the 1/N scaling, for scale
//   interp/...            the interpolating stages and the per-tap form
//                         (outputs per second)
//   sampling/FSSIM        stage_sampling() at fs-sim 100 Hz and 24000 Hz
//
// Every kernel runs on one thread: the transform is compared with a
// one-thread FFTW, the interpolator with a one-thread loop, so the ratios
// measure the code rather than the core count (whole runs, which use every
// core, are timed by bench/compare).  Each side works in its natural data
// layout on arrays from the engine's allocator (see make_array).  Inputs
// are restored before every timed call (outside the timing): a transform
// applied to its own output grows
// without bound, and a stage applied to its own output would measure a
// different signal from one iteration to the next.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "analysis/spectra.h"
#include "analysis/spectrogram.h"
#include "engine/engine.h"
#include "engine/memory.h"
#include "engine/sinks.h"
#include "tests/support/engine_seam.h"

namespace {

constexpr double pi = 3.141592653589793;

// ---- arrays and data -----------------------------------------------------------

struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};
using Array = std::unique_ptr<double[], FreeDeleter>;

// Both sides, the engine and FFTW, work on arrays from the engine's
// allocator, which a run uses too: cache-line aligned, and for large arrays
// on huge pages where the system gives them.  The page size changes a large
// transform's time by tens of percent on some machines, so it must be the
// same for both.
Array make_array(uint64_t n)
{
    auto* p = static_cast<double*>(vesk::allocate_block(n * sizeof(double)));
    if (p == nullptr)
        throw std::bad_alloc();
    return Array(p);
}

void fill_random(double* a, uint64_t n, uint32_t seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (uint64_t i = 0; i < n; ++i)
        a[i] = uniform(rng);
}

void copy(double* to, const double* from, uint64_t n)
{
    std::memcpy(to, from, n * sizeof(double));
}

// ---- an engine without a front-end ----------------------------------------------

class QuietMessages : public vesk::MessageSink {
public:
    std::string last;
    void show_message(const std::string& text) override { last = text; }
};

class QuietLog : public vesk::LogSink {
public:
    void append_log(const std::string&) override {}
};

// An engine sized for n points on one thread, with the working pair and the
// scratch pair set up as process_wav sets them up.
struct Rig {
    QuietMessages messages;
    QuietLog log;
    vesk::Engine engine{messages, log};
    vesk::EngineSeam seam{engine};
    bool ok = false;

    Rig(uint32_t n, bool buffers)
    {
        seam.shape().sampnump = n;
        engine.threads = 1;
        if (!seam.fft_init())
            return;
        if (buffers && !seam.own_arrays())
            return;
        ok = true;
    }

    // Back to the working pair in the engine's first arrays, holding the
    // given values (the stages exchange the pairs, so the pointers move
    // between calls).
    void load(const double* re, const double* im, int timedomain)
    {
        seam.own_arrays();
        const uint32_t n = seam.shape().sampnump;
        copy(seam.sigre(), re, n);
        copy(seam.sigim(), im, n);
        seam.timedomain() = timedomain;
    }

    bool check(benchmark::State& state)
    {
        if (!ok)
            state.SkipWithError(("engine setup failed: " + messages.last).c_str());
        return ok;
    }
};

void transform_counters(benchmark::State& state, uint64_t n, double transforms_per_iteration)
{
    state.counters["points"] = static_cast<double>(n);
    // The customary 5 N log2 N flop count of a complex transform, as a rate.
    state.counters["GFLOPS"] = benchmark::Counter(
        transforms_per_iteration * 5.0 * static_cast<double>(n) * std::log2(static_cast<double>(n)) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate);
}

// ---- complex transform -----------------------------------------------------------

void transform_engine(benchmark::State& state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    Rig rig(n, false);
    if (!rig.check(state))
        return;
    Array re0 = make_array(n), im0 = make_array(n), re = make_array(n), im = make_array(n);
    fill_random(re0.get(), n, 1);
    fill_random(im0.get(), n, 2);
    // The first full-length transform completes the tables (as FFTW's plan
    // is made before its timing starts): that is set-up, not transform.
    copy(re.get(), re0.get(), n);
    copy(im.get(), im0.get(), n);
    rig.seam.fft(re.get(), im.get(), n, 0, 1, 0);
    for (auto _ : state) {
        state.PauseTiming();
        copy(re.get(), re0.get(), n);
        copy(im.get(), im0.get(), n);
        state.ResumeTiming();
        rig.seam.fft(re.get(), im.get(), n, 0, 1, 0);
        benchmark::DoNotOptimize(re.get());
        benchmark::ClobberMemory();
    }
    transform_counters(state, n, 1.0);
}

// FFTW's accumulated plans, read before the first FFTW_MEASURE plan and
// written back after each new one.
const char* wisdom_file()
{
    static const char* const path = [] {
        const char* p = std::getenv("VESK_FFTW_WISDOM");
        if (p != nullptr && *p != '\0')
            fftw_import_wisdom_from_filename(p);
        return p;
    }();
    return path;
}

void transform_fftw(benchmark::State& state, unsigned flags)
{
    const auto n = static_cast<int>(state.range(0));
    Array data_array = make_array(2 * static_cast<uint64_t>(n)), data0_array = make_array(2 * static_cast<uint64_t>(n));
    auto* data = reinterpret_cast<fftw_complex*>(data_array.get());
    auto* data0 = reinterpret_cast<fftw_complex*>(data0_array.get());
    // FFTW_ESTIMATE plans without touching the arrays; FFTW_MEASURE
    // overwrites them while it tries its plans, so the data comes after.
    const char* wisdom = flags == FFTW_MEASURE ? wisdom_file() : nullptr;
    fftw_plan plan = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, flags);
    if (wisdom != nullptr)
        fftw_export_wisdom_to_filename(wisdom);
    fill_random(&data0[0][0], 2 * static_cast<uint64_t>(n), 1);
    for (auto _ : state) {
        state.PauseTiming();
        copy(&data[0][0], &data0[0][0], 2 * static_cast<uint64_t>(n));
        state.ResumeTiming();
        fftw_execute(plan);
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
    }
    transform_counters(state, static_cast<uint64_t>(n), 1.0);
    fftw_destroy_plan(plan);
}

// ---- the domain switch a run performs ---------------------------------------------

// Time to spectrum and back: the pair returns to the same (real) signal up to
// rounding, so the loop needs no restoring.
void domain_engine(benchmark::State& state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    Rig rig(n, true);
    if (!rig.check(state))
        return;
    fill_random(rig.seam.sigre(), n, 3);
    std::fill(rig.seam.sigim(), rig.seam.sigim() + n, 0.0);
    rig.seam.timedomain() = 1;
    for (auto _ : state) {
        rig.seam.switch_domain();
        rig.seam.switch_domain();
        benchmark::DoNotOptimize(rig.seam.sigre());
        benchmark::ClobberMemory();
    }
    transform_counters(state, n, 2.0);
}

void domain_fftw(benchmark::State& state)
{
    const auto n = static_cast<int>(state.range(0));
    Array signal_array = make_array(static_cast<uint64_t>(n)), spectrum_array = make_array(static_cast<uint64_t>(n) + 2);
    double* signal = signal_array.get();
    auto* spectrum = reinterpret_cast<fftw_complex*>(spectrum_array.get());
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, signal, spectrum, FFTW_ESTIMATE);
    fftw_plan backward = fftw_plan_dft_c2r_1d(n, spectrum, signal, FFTW_ESTIMATE);
    fill_random(signal, static_cast<uint64_t>(n), 3);
    const double g = 1.0 / n;
    for (auto _ : state) {
        fftw_execute(forward);
        fftw_execute(backward);
        // The engine's way back includes the 1/N; so does this one.
        for (int i = 0; i < n; ++i)
            signal[i] *= g;
        benchmark::DoNotOptimize(signal);
        benchmark::ClobberMemory();
    }
    transform_counters(state, static_cast<uint64_t>(n), 2.0);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
}

// ---- interpolator ---------------------------------------------------------------

constexpr uint32_t interp_points = uint32_t{1} << 20;

// Outputs a stretched read at `step` computes before it runs out of taps:
// positions 0, step, 2 step, ... while the whole part stays below len + 15,
// at most n / 2 of them.
uint64_t stretched_outputs(double step, uint64_t len, uint64_t half)
{
    uint64_t count = 0;
    double position = 0.0;
    while (count < half) {
        ++count;
        position += step;
        if (std::floor(position) >= static_cast<double>(len + 15))
            break;
    }
    return count;
}

void interp_counters(benchmark::State& state, uint64_t outputs)
{
    state.counters["outputs"] = static_cast<double>(outputs);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(outputs));
}

// A time signal in the lower half of the pair, zeros above, as a run holds it.
struct TimeSignal {
    Array re, im;
    TimeSignal(uint32_t n, uint64_t length) : re(make_array(n)), im(make_array(n))
    {
        std::fill(re.get(), re.get() + n, 0.0);
        std::fill(im.get(), im.get() + n, 0.0);
        fill_random(re.get(), length, 4);
    }
};

// Times one time-domain stage, the input restored (untimed) before each run.
template <typename Stage>
void time_stage(benchmark::State& state, Rig& rig, const TimeSignal& input, Stage stage)
{
    for (auto _ : state) {
        state.PauseTiming();
        rig.load(input.re.get(), input.im.get(), 1);
        state.ResumeTiming();
        stage(rig.seam);
        benchmark::DoNotOptimize(rig.seam.sigre());
        benchmark::ClobberMemory();
    }
}

void interp_src(benchmark::State& state)
{
    const uint32_t n = interp_points;
    Rig rig(n, true);
    if (!rig.check(state))
        return;
    vesk::RunShape& shape = rig.seam.shape();
    shape.fsinp = 44100;
    rig.engine.params.fs = 48000;
    // An input just long enough for the outputs to fill the lower half.
    shape.sampnuminp = static_cast<uint32_t>(std::floor(n / 2 * (44100.0 / 48000.0)));
    const TimeSignal input(n, shape.sampnuminp);
    const uint64_t outputs = stretched_outputs(44100.0 / 48000.0, shape.sampnuminp, n / 2);
    time_stage(state, rig, input, [](vesk::EngineSeam& seam) { seam.src_resample(); });
    interp_counters(state, outputs);
}

void interp_varispeed_t(benchmark::State& state)
{
    const uint32_t n = interp_points;
    Rig rig(n, true);
    if (!rig.check(state))
        return;
    rig.engine.params.fs = rig.seam.shape().fsinp = 48000;
    rig.engine.params.varispeedt = 1.5;
    const TimeSignal input(n, n / 2);
    const uint64_t outputs = stretched_outputs(1.5, n / 2, n / 2);
    time_stage(state, rig, input, [](vesk::EngineSeam& seam) { seam.stage_varispeed_t(); });
    interp_counters(state, outputs);
}

void interp_jitter(benchmark::State& state)
{
    const uint32_t n = interp_points;
    Rig rig(n, true);
    if (!rig.check(state))
        return;
    vesk::Params& p = rig.engine.params;
    p.fs = rig.seam.shape().fsinp = 48000;
    p.fssim = 11025.0;
    rig.seam.shape().fssim_idx = static_cast<uint32_t>(std::trunc(p.fssim / (p.fs / static_cast<double>(n))));
    p.jitteramp = 0.05;
    const TimeSignal input(n, n / 2);
    time_stage(state, rig, input, [](vesk::EngineSeam& seam) {
        seam.jitter_rng().seed(1); // the same error sequence every time
        seam.stage_jitter();
    });
    // Every output of the lower half is read: the errors are a fraction of a
    // sample.
    interp_counters(state, n / 2);
}

// The windowed-sinc sum evaluated the direct way: one sine and one cosine
// per tap, 31 taps, the circular source read with a remainder.  This is the
// form the interpolator is measured against.
double per_tap_sum(const double* source, int64_t n, int64_t center, double x)
{
    double sum = 0.0;
    for (int64_t i = center - 15; i <= center + 15; ++i) {
        int64_t f = i % n;
        if (f < 0)
            f += n;
        const double d = static_cast<double>(center - i) + x;
        const double a = pi * d;
        const double sinc = std::fabs(a) > 1e-10 ? std::sin(a) / a : 1.0;
        const double window = 0.5 * (1.0 + std::cos(a / 16.0));
        sum += window * sinc * source[f];
    }
    return sum;
}

// The same walk as the rate conversion 44100 -> 48000, outputs into a
// separate array.
void interp_per_tap(benchmark::State& state)
{
    const uint32_t n = interp_points;
    const double step = 44100.0 / 48000.0;
    const TimeSignal input(n, static_cast<uint64_t>(std::floor(n / 2 * step)));
    Array out = make_array(n);
    const uint64_t outputs = n / 2;
    for (auto _ : state) {
        int64_t center = 0;
        double x = 0.0;
        for (uint64_t i = 0; i < outputs; ++i) {
            out[i] = per_tap_sum(input.re.get(), n, center, x);
            x += step;
            const double whole = std::floor(x);
            center += static_cast<int64_t>(whole);
            x -= whole;
        }
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    interp_counters(state, outputs);
}

// ---- sampling -----------------------------------------------------------------------

// stage_sampling on a spectrum of 2^22 bins at fs 48000 Hz; the argument is
// fs-sim in Hz.  A low fs-sim folds many images onto few bins, a high one
// few images onto many: the work should not depend on which.
void sampling(benchmark::State& state)
{
    const uint32_t n = uint32_t{1} << 22;
    Rig rig(n, true);
    if (!rig.check(state))
        return;
    vesk::EngineSeam& e = rig.seam;
    vesk::Params& p = rig.engine.params;
    p.fs = e.shape().fsinp = 48000;
    p.fssim = static_cast<double>(state.range(0));
    e.shape().fssim_idx = static_cast<uint32_t>(std::trunc(p.fssim / (p.fs / static_cast<double>(n))));
    Array re = make_array(n), im = make_array(n);
    fill_random(re.get(), n, 5);
    fill_random(im.get(), n, 6);
    for (auto _ : state) {
        state.PauseTiming();
        rig.load(re.get(), im.get(), 0);
        state.ResumeTiming();
        e.stage_sampling();
        benchmark::DoNotOptimize(e.sigre());
        benchmark::ClobberMemory();
    }
    state.counters["points"] = static_cast<double>(n);
    state.counters["fssim_idx"] = static_cast<double>(e.shape().fssim_idx);
}

// The spectra of a 5-minute stereo file at 48 kHz: both channels through
// the Welch average, as the Spectra window and vesk-batch --spectra
// analyse a file.
void analysis_welch(benchmark::State& state)
{
    const uint64_t n = uint64_t{5} * 60 * 48000;
    std::vector<double> left(n), right(n);
    fill_random(left.data(), n, 1);
    fill_random(right.data(), n, 2);
    for (auto _ : state) {
        const vesk::analysis::Spectrum a = vesk::analysis::welch_spectrum(left, 48000.0);
        const vesk::analysis::Spectrum b = vesk::analysis::welch_spectrum(right, 48000.0);
        benchmark::DoNotOptimize(a.dbfs.data());
        benchmark::DoNotOptimize(b.dbfs.data());
    }
    state.counters["samples"] = benchmark::Counter(static_cast<double>(2 * n), benchmark::Counter::kIsIterationInvariantRate);
}

// The spectrograms of one channel of a 5-minute file at 48 kHz, input and
// output, with the predicted tracks, as the Spectra window and vesk-batch
// --spectrogram analyse a run; the argument is the thread count (0: the
// machine's cores, as the window uses).  The input is the demo's kind of
// signal: a logarithmic sweep over the whole band, a steady tone and a
// little noise; the output holds what sampling it at 11025 Hz makes of it,
// each component with its images.
void analysis_spectrogram(benchmark::State& state)
{
    static const auto files = [] {
        const uint64_t n = uint64_t{5} * 60 * 48000;
        const double fssim = 11025.0, top = 24000.0, seconds = n / 48000.0, k = std::log(20000.0 / 20.0);
        std::pair<vesk::analysis::Channel, vesk::analysis::Channel> io{{{}, 48000.0, 1}, {{}, 48000.0, 1}};
        io.first.samples.resize(n);
        io.second.samples.resize(n);
        std::mt19937_64 rng(3);
        std::normal_distribution<double> noise(0.0, 1.0);
        for (uint64_t i = 0; i < n; ++i) {
            const double t = i / 48000.0, f = 20.0 * std::exp(t / seconds * k);
            const double phase = 2 * pi * 20.0 * seconds / k * (std::exp(t / seconds * k) - 1.0), tone = 2 * pi * 1000.0 * t;
            io.first.samples[i] = 0.5 * std::sin(phase) + 0.05 * std::sin(tone) + 1e-4 * noise(rng);
            double out = 1e-3 * noise(rng);
            for (int m = 0; m * fssim - f < top; ++m)
                for (const double sign : {-1.0, 1.0})
                    if (m > 0 || sign > 0) {
                        if (std::fabs(m * fssim + sign * f) < top)
                            out += 0.25 * std::sin(2 * pi * m * fssim * t + sign * phase);
                        if (std::fabs(m * fssim + sign * 1000.0) < top)
                            out += 0.025 * std::sin(2 * pi * m * fssim * t + sign * tone);
                    }
            io.second.samples[i] = out;
        }
        return io;
    }();
    vesk::Params params;
    params.fs = 48000, params.fssim = 11025, params.aperture = 1, params.bitnr = 10;
    std::size_t points = 0;
    for (auto _ : state) {
        const vesk::analysis::RunSpectrogram run = vesk::analysis::analyse_spectrogram(
            files.first, files.second, params, static_cast<unsigned>(state.range(0)));
        points = 0;
        for (const vesk::analysis::Track& t : run.tracks)
            points += t.points.size();
        benchmark::DoNotOptimize(run.output.centi_db.data());
    }
    state.counters["track_points"] = static_cast<double>(points);
}

void transform_sizes(benchmark::internal::Benchmark* b)
{
    for (int log2n : {12, 14, 16, 18, 20, 22, 24, 25})
        b->Arg(int64_t{1} << log2n);
}

// FFTW_MEASURE is compared up to 2^22: above that its planning alone takes
// minutes.
void measured_sizes(benchmark::internal::Benchmark* b)
{
    for (int log2n : {12, 14, 16, 18, 20, 22})
        b->Arg(int64_t{1} << log2n);
}

} // namespace

BENCHMARK(transform_engine)->Name("transform/engine")->Apply(transform_sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(transform_fftw, estimate, FFTW_ESTIMATE)->Name("transform/fftw")->Apply(transform_sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(transform_fftw, measure, FFTW_MEASURE)->Name("transform/fftw_measure")->Apply(measured_sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(domain_engine)->Name("domain/engine")->Apply(transform_sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(domain_fftw)->Name("domain/fftw")->Apply(transform_sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(interp_src)->Name("interp/src_44100_48000")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(interp_varispeed_t)->Name("interp/varispeed_t_1.5")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(interp_jitter)->Name("interp/jitter")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(interp_per_tap)->Name("interp/per_tap")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(analysis_welch)->Name("analysis/welch_5min_stereo")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(analysis_spectrogram)->Name("analysis/spectrogram_5min")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sampling)->Name("sampling")->Arg(100)->Arg(24000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
