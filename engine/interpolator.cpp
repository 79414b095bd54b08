// The windowed-sinc interpolator that every stage reading "between samples"
// goes through: rate conversion, vari-speed and jitter.  One output value is
// a weighted sum of at most 31 neighbours of the wanted position, with a
// Hann-windowed sinc kernel; the source is circular, so taps below index 0
// reach the top of the array (the zero tail of a time buffer, or the
// negative-frequency bins of a spectrum).
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "engine/engine.h"
#include "engine/interpolator.h"
#include "engine/jitter_clock.h"
#include "engine/memory.h"
#include "engine/parallel.h"
#include "engine/position.h"

namespace vesk {

namespace {

constexpr double pi = 3.141592653589793;

// Taps on each side of the centre tap.  The window reaches zero at a
// distance of 16, so the taps up to 15 are exactly the ones it keeps.
constexpr int half_taps = 15;
constexpr int max_taps = 2 * half_taps + 1;

// Per-tap constants for the tap offsets n = center - i = 15 - t, t = 0 .. 30,
// padded to 32 entries so the weight loop runs in whole vectors (entry 31
// has sign 0 and so weight 0).  cos and sin of pi n / 16 give the window's
// cosine at n + x by the angle-sum rule from cos and sin of pi x / 16, so no
// tap needs a trigonometric call.  The Hann window's 1/2 and the sign
// (-1)^n that sin(pi (n + x)) takes against sin(pi x) are folded into the
// constants (both exact).
constexpr int padded_taps = 32;
// Outputs whose angle functions are evaluated together.
constexpr int batch = 8;
struct KernelTable {
    alignas(64) std::array<double, padded_taps> offset{};    // n
    alignas(64) std::array<double, padded_taps> half_sign{}; // (-1)^n / 2, 0 for the padding
    alignas(64) std::array<double, padded_taps> half_cos{};  // (-1)^n cos(pi n / 16) / 2
    alignas(64) std::array<double, padded_taps> half_sin{};  // (-1)^n sin(pi n / 16) / 2
    KernelTable()
    {
        for (int t = 0; t < padded_taps; ++t) {
            const int n = half_taps - t;
            offset[t] = n;
            half_sign[t] = t < max_taps ? ((n & 1) ? -0.5 : 0.5) : 0.0;
            half_cos[t] = half_sign[t] * std::cos(pi * n / 16.0);
            half_sin[t] = half_sign[t] * std::sin(pi * n / 16.0);
        }
    }
};
const KernelTable kernel_table;

// Brings a tap index onto the circular source 0 .. n-1 with one remainder,
// so positions far outside the array cost the same as near ones.
inline int64_t wrap_index(int64_t i, int64_t n)
{
    int64_t f = i % n;
    if (f < 0)
        f += n;
    return f;
}

// What one interpolation reads and writes.
struct Source {
    const double* re;  // first source (sigre)
    const double* im;  // second source, read only when out_im is set
    double* out_re;    // tmpre
    double* out_im;    // may be null
    int64_t n;         // length of the circular source
};

namespace baseline {
#define VECTOR_BYTES 16
#include "engine/interpolator_kernels.inc"
#undef VECTOR_BYTES
} // namespace baseline

#if defined(__GNUC__) && defined(__x86_64__)
#define VESK_INTERPOLATOR_WIDE 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace wide {
#define VECTOR_BYTES 32
#include "engine/interpolator_kernels.inc"
#undef VECTOR_BYTES
} // namespace wide
#pragma GCC pop_options

// AVX-512 implies fused multiply-add, which the compiler would otherwise
// form from a product and a sum and so round differently from the other
// builds.
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512vl,prefer-vector-width=512")
#pragma GCC optimize("fp-contract=off")
namespace widest {
#define VECTOR_BYTES 64
#include "engine/interpolator_kernels.inc"
#undef VECTOR_BYTES
} // namespace widest
#pragma GCC pop_options
#endif

struct Kernels {
    int lanes;
    void (*one)(const Source&, double, int64_t, int64_t, int64_t);
    uint32_t (*stepped)(const Source&, ReadPosition, double, int64_t, int64_t, uint32_t, uint32_t);
    void (*batch)(const Source&, const double*, const int64_t*, const uint32_t*, int, int64_t);
    void (*jittered)(const Source&, JitterChain&, const JitterClock&, uint32_t, uint32_t, int64_t);
    uint32_t (*walk)(ReadPosition&, double, int64_t, uint32_t);
};

// The widest vectors the processor has, in doubles: 8 (AVX-512), 4 (AVX2)
// or 2 (every x86-64).
int cpu_lanes()
{
#ifdef VESK_INTERPOLATOR_WIDE
    static const int lanes = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512vl"))
            return 8;
        return __builtin_cpu_supports("avx2") ? 4 : 2;
    }();
    return lanes;
#else
    return 2;
#endif
}

std::atomic<int> lane_limit{8};

// The widest build the processor runs (and the limit allows).
const Kernels& kernels()
{
    static const Kernels builds[] = {
#ifdef VESK_INTERPOLATOR_WIDE
        {8, widest::interpolate_one_impl, widest::interpolate_stepped_impl, widest::interpolate_batch_impl,
         widest::interpolate_jittered_impl, widest::walk_impl},
        {4, wide::interpolate_one_impl, wide::interpolate_stepped_impl, wide::interpolate_batch_impl,
         wide::interpolate_jittered_impl, wide::walk_impl},
#endif
        {2, baseline::interpolate_one_impl, baseline::interpolate_stepped_impl, baseline::interpolate_batch_impl,
         baseline::interpolate_jittered_impl, baseline::walk_impl},
    };
    const int usable = std::min(cpu_lanes(), lane_limit.load(std::memory_order_relaxed));
    for (const Kernels& build : builds)
        if (build.lanes <= usable)
            return build;
    return builds[std::size(builds) - 1];
}

} // namespace

int limit_interpolator_lanes(int lanes)
{
    lane_limit.store(lanes);
    return kernels().lanes;
}

double sinc_read(const double (&window)[sinc_window_length], double frac)
{
    // The taps reach 15 samples either side of the centre, all inside the
    // window, so the circular reading never wraps onto the other end.
    double value = 0.0;
    kernels().one({window, nullptr, &value, nullptr, sinc_window_length}, frac, sinc_window_centre,
                  sinc_window_length, 0);
    return value;
}

void Engine::sinc_interp(const double* values, double* outim, double x, int len, int center, int outidx)
{
    kernels().one({sigre, values, tmpre, outim, sampnump}, x, center, len, outidx);
}

void Engine::sinc_interp_batch(const double* fracs, const int64_t* centers, const uint32_t* at, int count, int len)
{
    kernels().batch({sigre, nullptr, tmpre, nullptr, sampnump}, fracs, centers, at, count, len);
}

void Engine::read_jittered(JitterChain& chain, const JitterClock& clock, uint32_t first, uint32_t last, int len)
{
    kernels().jittered({sigre, nullptr, tmpre, nullptr, sampnump}, chain, clock, first, last, len);
}

uint32_t Engine::read_stepped(uint32_t count, double step, int len, const double* values, double* outim,
                              uint32_t zeros_from)
{
    // From this centre on no tap reaches a value that may be nonzero, and
    // every output is 0.
    const int64_t reach = zeros_from != 0 ? std::min<int64_t>(len, zeros_from) : len;
    const int64_t silent_from = reach + 15;
    const Source source{sigre, values, tmpre, outim, sampnump};
    const Kernels& kernel = kernels();
    const unsigned workers = worker_count(threads);
    if (workers == 1)
        return kernel.stepped(source, ReadPosition{}, step, len, silent_from, 0, count);

    // The positions stay accumulated step by step, exactly as one pass over
    // all outputs would have them, whoever reads a block: a sequential walk
    // records the position at each block boundary and finds where the
    // outputs fall silent, which may be long before `count`.  The blocks are
    // finer than one per thread so that the threads share the ones before
    // that point evenly.
    constexpr unsigned max_blocks = 64;
    const unsigned blocks = static_cast<unsigned>(std::clamp<uint64_t>(count / 4096, 1, max_blocks));
    const auto bound = [count, blocks](uint64_t b) { return static_cast<uint32_t>(count * b / blocks); };
    std::array<ReadPosition, max_blocks> starts{};
    std::array<uint32_t, max_blocks> stops{};
    ReadPosition position;
    uint32_t end = count;
    walk_ahead_for(
        blocks, workers,
        [&](unsigned b) {
            starts[b] = position;
            const uint32_t length = bound(b + 1) - bound(b);
            const uint32_t taken = kernel.walk(position, step, silent_from, length);
            stops[b] = bound(b) + std::min(taken + 1, length);
            if (taken == length)
                return true;
            end = stops[b];
            return false;
        },
        [&](unsigned b) { kernel.stepped(source, starts[b], step, len, silent_from, bound(b), stops[b]); });
    return end;
}

void Engine::read_time_stretched(double step, int len)
{
    const uint32_t n = sampnump;
    // The outputs past the end of the source, then the upper half, stay
    // silent: the zero extension (and the circular continuation before
    // index 0 for any later reader).
    const uint32_t end = read_stepped(n / 2, step, len, nullptr, nullptr, zeros_from_);
    clear_doubles(tmpre + end, n - end, release_cleared_);
    std::swap(sigre, tmpre);
    if (zeros_from_ != 0)
        zeros_from_ = std::max<uint32_t>(end, 1);
}

} // namespace vesk
