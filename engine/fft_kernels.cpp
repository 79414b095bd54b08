// The transform's kernels, built twice from one source: once for the
// baseline every x86-64 processor has (2-lane vectors), once for processors
// with AVX2 and FMA (4-lane vectors), chosen when first used.  The program
// thus runs anywhere and uses the wider vectors where they exist.
#include "engine/fft_kernels.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <utility>

#include "engine/parallel.h"

namespace vesk::fft {

// Internal linkage: the two builds have the same names in their own
// namespaces, and nothing outside this file calls them.
namespace {
namespace baseline {
#define LANES 2
#include "engine/fft_kernels.inc"
#undef LANES
} // namespace baseline
} // namespace

#if defined(__GNUC__) && defined(__x86_64__)
#define VESK_FFT_WIDE 1
#pragma GCC push_options
#pragma GCC target("avx2,fma")
namespace {
namespace wide {
#define LANES 4
#include "engine/fft_kernels.inc"
#undef LANES
} // namespace wide
} // namespace
#pragma GCC pop_options
#endif

namespace {

std::atomic<bool> wide_allowed{true};

struct Kernels {
    void (*complex_forward)(double*, double*, std::size_t, const Tables&, unsigned);
    void (*real_forward)(double*, double*, const Tables&, unsigned);
    void (*real_inverse)(double*, double*, const Tables&, unsigned, bool);
};

constexpr Kernels baseline_kernels = {baseline::complex_forward_impl, baseline::real_forward_impl,
                                      baseline::real_inverse_impl};

bool cpu_has_wide()
{
#ifdef VESK_FFT_WIDE
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
#else
    return false;
#endif
}

const Kernels& kernels()
{
#ifdef VESK_FFT_WIDE
    static constexpr Kernels wide_kernels = {wide::complex_forward_impl, wide::real_forward_impl,
                                             wide::real_inverse_impl};
    if (wide_allowed.load(std::memory_order_relaxed) && cpu_has_wide())
        return wide_kernels;
#endif
    return baseline_kernels;
}

} // namespace

bool allow_wide_kernels(bool allowed)
{
    wide_allowed.store(allowed);
    return allowed && cpu_has_wide();
}

void build_stage_tables(double* stage_re, double* stage_im, const double* cos, const double* sin, uint32_t size,
                        unsigned threads)
{
    const std::size_t n = size;
    // The runs reach angles up to pi; above pi/2 an entry is the one mirrored
    // at pi/2, its cosine negated (exact), so the tables need to hold only
    // the first quarter of the circle.
    const std::size_t quarter = n / 4;
    const auto cos_at = [&](std::size_t i) { return i <= quarter ? cos[i] : -cos[n / 2 - i]; };
    const auto sin_at = [&](std::size_t i) { return i <= quarter ? sin[i] : sin[n / 2 - i]; };
    for (std::size_t len = 16; len <= n / 2; len *= 4) {
        const std::size_t q = len / 4;
        const std::size_t step = n / len;
        parallel_for(q, threads, std::size_t{1} << 16, [&](uint64_t first, uint64_t last) {
            const std::size_t runs = len <= cached_stage_length ? 2 : 1;
            for (std::size_t r = 1; r <= runs; ++r) {
                double* __restrict c = stage_re + r * q;
                double* __restrict s = stage_im + r * q;
                for (std::size_t j = first; j < last; ++j) {
                    c[j] = cos_at(r * j * step);
                    s[j] = sin_at(r * j * step);
                }
            }
        });
    }
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < n)
        ++bits;
    if (bits % 2 == 0 && n >= 4) {
        for (std::size_t j = 0; j < n / 4; ++j) {
            stage_re[n / 4 + j] = cos_at(2 * j);
            stage_im[n / 4 + j] = sin_at(2 * j);
        }
    }
}

void complex_forward(double* re, double* im, uint32_t n, const Tables& tables, unsigned threads)
{
    kernels().complex_forward(re, im, n, tables, threads);
}

void real_forward(double* re, double* im, const Tables& tables, unsigned threads)
{
    kernels().real_forward(re, im, tables, threads);
}

void real_inverse(double* re, double* im, const Tables& tables, unsigned threads, bool half_signal)
{
    kernels().real_inverse(re, im, tables, threads, half_signal);
}

} // namespace vesk::fft
