// Sampling at the simulated rate fs-sim, done on the spectrum: the spectral
// images that sampling creates (aliasing), and the sin x / x responses of
// sample-and-hold and of a finite aperture.
//
// Units: N = sampnump [samples, also bins], H = N / 2 [bins], M = fssim_idx
// [bins per fs-sim period, i.e. fs-sim in bins of width fs / N].  One
// fs-sim period is N / M working samples long.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/parallel.h"
#include "engine/spectrum.h"

namespace vesk {

namespace {

constexpr double pi = 3.141592653589793;

} // namespace

// Sampling at fs-sim adds a copy of the spectrum at every multiple d of M.
// Result bin j (0 <= j < H) is therefore the sum of the source bins j - d
// over the multiples d of M, restricted to the source bins that exist,
// i = -(H-1) .. H-1 (the source Nyquist bin takes no part).
//
// The shifts are nominally limited to |d| <= c = M * ceil(N / M), but that
// limit never excludes a shift that matters: a source bin i and a target j
// meet only for d = j - i, which lies in -(H-1) .. (H-1) + (H-1) = -(H-1) ..
// N-2, so |d| <= N-2 < N <= c.  Hence result bin j is simply the sum of all
// source bins i with i == j (mod M), and the images can be formed by folding
// the source spectrum by residue in one pass, O(N), instead of sliding it
// past every shift, which costs O(N^2 / M).
void Engine::stage_sampling()
{
    if (timedomain != 0)
        switch_domain();
    log_line("sampling ...\n");

    const uint32_t n = sampnump;   // [bins]
    const uint32_t h = n / 2;      // Nyquist bin [bins]
    const uint32_t m = fssim_idx;  // fs-sim [bins]; >= 1, ensured by the run driver

    // Residue buckets live in the scratch pair itself, at indices 0 .. b-1.
    // Only residues below h can be the residue of a target bin j < h, so
    // b = min(m, h) buckets suffice and they always fit in the n entries;
    // source bins whose residue is h or more (possible only when m > h)
    // fall between the targets and are dropped.  With m >= n that drops
    // every negative bin, leaving only the unshifted spectrum.
    const uint32_t b = m < h ? m : h; // [buckets]
    for (uint32_t q = 0; q < b; ++q) {
        tmpre[q] = 0.0;
        tmpim[q] = 0.0;
    }

    // Walk the signed source bins from H-1 down to -(H-1), carrying the
    // residue i mod m along instead of dividing per bin.  Descending i is
    // also the order in which the shift-by-shift sum (shifts ascending)
    // meets the contributions to each target bin, so every bucket adds its
    // terms in that same order.
    uint32_t r = (h - 1) % m; // residue of the current signed bin [bins]
    for (int64_t i = int64_t{h} - 1; i > -int64_t{h}; --i) {
        if (r < b) {
            double bin_re, bin_im;
            signed_bin(sigre, sigim, i, bin_re, bin_im);
            tmpre[r] += bin_re;
            tmpim[r] += bin_im;
        }
        r = r == 0 ? m - 1 : r - 1;
    }

    // Spread: target j takes bucket j mod m.  Ascending j lets each bin copy
    // the one a period below it, which already holds the same bucket, so
    // the buckets are read in place and need no second array.
    // A period at a time: source and target of one copy never overlap.
    for (uint32_t j = b; j < h; j += m) {
        const uint32_t length = std::min(m, h - j);
        std::copy_n(tmpre + (j - m), length, tmpre + j);
        std::copy_n(tmpim + (j - m), length, tmpim + j);
    }
    // The images are gathered into the bins below the Nyquist bin only; the
    // Nyquist bin stays empty.
    tmpre[h] = 0.0;
    tmpim[h] = 0.0;

    // The number of shifts that reach at least one target bin depends on n
    // and m alone: the multiples of m in -(H-1) .. N-2, d = 0 included.
    // (n >= 2, so neither subtraction wraps.)
    const uint32_t count = (n - 2) / m + (h - 1) / m + 1;
    log_line("%u image(s)\n", count);

    std::swap(sigre, tmpre);
    std::swap(sigim, tmpim);
    make_edges_real(sigim, n);
}

// A rectangular window `value` fs-sim periods wide, value * N / M working
// samples, has the magnitude response sin x / x with x = pi * value * k / M
// at bin k (bin k makes k / N cycles per sample).  Mode 0, hold (called with
// value 1): a sample held for one fs-sim period; the response is applied
// without phase, as if the window were centred on the sample.  Mode 1,
// aperture: an average over the window that ends at the current instant,
// so the response carries the phase e^(-jx) of a delay by half the window,
// value * N / (2M) samples.
//
// The factors of bin k: hold, s = sin x / x (in a; b unused); aperture,
// s e^(-jx) = a + jb.  One function for the pass and for the kept tables,
// so that both give the same bits.  x > 0 because k >= 1 and value > 0.
inline void bin_response(uint64_t k, double m, double pv, int mode, double& a, double& b)
{
    const double x = (static_cast<double>(k) / m) * pv; // [radians]
    const double sin_x = std::sin(x);
    const double s = sin_x / x;
    if (mode == 0) {
        a = s;
        b = 0.0;
    } else {
        a = s * std::cos(x);
        b = -s * sin_x;
    }
}

bool Engine::ResponseTable::matches(uint32_t n, uint32_t m, double v) const
{
    return points == n && bins == m && value == v && a.size() != 0;
}

void Engine::prepare_responses()
{
    const StagePlan plan = plan_stages();
    const unsigned workers = worker_count(threads);
    const uint32_t n = sampnump, h = n / 2;
    const double m = static_cast<double>(fssim_idx);
    struct Wanted {
        ResponseTable& table;
        bool used;
        int mode;
        double value;
    };
    for (const Wanted& w : {Wanted{hold_response_, plan.hold, 0, 1.0}, Wanted{aperture_response_, plan.aperture, 1, params.aperture}}) {
        if (!w.used || w.table.matches(n, fssim_idx, w.value))
            continue;
        w.table.points = 0;
        if (!w.table.a.reserve(h + 1) || !w.table.b.reserve(w.mode == 0 ? 1 : h + 1))
            continue; // without the table the stage computes each bin as it goes
        double* a = w.table.a.data();
        double* b = w.table.b.data();
        const double pv = pi * w.value;
        parallel_for(h, workers, uint64_t{1} << 14, [&](uint64_t first, uint64_t last) {
            double unused;
            for (uint64_t k = first + 1; k <= last; ++k)
                bin_response(k, m, pv, w.mode, a[k], w.mode == 0 ? unused : b[k]);
        });
        w.table.points = n, w.table.bins = fssim_idx, w.table.value = w.value;
    }
}

void Engine::release_responses()
{
    for (ResponseTable* table : {&hold_response_, &aperture_response_}) {
        table->a.release();
        table->b.release();
        table->points = 0;
    }
}

void Engine::stage_hold_aperture(const char* label, int mode, double value)
{
    if (timedomain != 0)
        switch_domain();
    // The label is text, not a format: a '%' in it must reach the log as is.
    if (label != nullptr)
        log_line("%s", label);

    const uint32_t n = sampnump;              // [bins]
    const uint32_t h = n / 2;                 // Nyquist bin [bins]
    const double m = static_cast<double>(fssim_idx); // fs-sim [bins]
    const double pv = pi * value;             // x at frequency fs-sim [radians]
    // Computed before the channels where that pays (a lane reads the table
    // of the engine it serves).
    const ResponseTable& kept = mode == 0 ? tables_owner_->hold_response_ : tables_owner_->aperture_response_;
    const double* table_a = kept.matches(n, fssim_idx, value) ? kept.a.data() : nullptr;
    const double* table_b = kept.b.data();

    // The response is 1 at DC.  The Nyquist bin is weighted too: it is half
    // of a real cosine at fs/2.  Every bin on its own and in place, so the
    // bins are split across threads and the scratch pair is not needed.
    parallel_for(h, worker_count(threads), uint64_t{1} << 14, [&](uint64_t first, uint64_t last) {
        for (uint64_t k = first + 1; k <= last; ++k) {
            double a, b;
            if (table_a != nullptr)
                a = table_a[k], b = mode == 0 ? 0.0 : table_b[k];
            else
                bin_response(k, m, pv, mode, a, b);
            if (mode == 0) {
                sigre[k] *= a;
                sigim[k] *= a;
            } else {
                const double re = sigre[k];
                const double im = sigim[k];
                sigre[k] = re * a - im * b;
                sigim[k] = re * b + im * a;
            }
        }
    });

    make_edges_real(sigim, n);
}

} // namespace vesk
