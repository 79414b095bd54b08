// The spectral transform and the domain switch every stage goes through.
// The arithmetic lives in fft_kernels: radix-4 passes in cache-sized blocks
// and a bit-reversal into natural order.  Here are the tables' lifetime, the
// engine's entry to the complex transform, and the switch, which uses that
// the time signal is real: a complex transform of half the length does the
// work of the full one in either direction.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/engine.h"
#include "engine/fft_kernels.h"
#include "engine/memory.h"
#include "engine/parallel.h"

namespace vesk {

fft::Tables Engine::tables() const
{
    // A lane transforms with the tables of the engine it serves.
    const Engine& owner = *tables_owner_;
    return {owner.fft_coeff_re.data(), owner.fft_coeff_im.data(), owner.fft_tmpbuf_re.data(),
            owner.fft_tmpbuf_im.data(), owner.fft_tabsize};
}

bool Engine::fft_init()
{
    if (sampnump < 2)
        return false;
    if (sampnump == fft_tabsize)
        return true;
    // Counts in 64 bits: sampnump may be 2^31, whose table is 16 GiB.
    const uint64_t coeff_count = sampnump;
    const uint64_t stage_count = sampnump / 2;
    struct Table {
        Block<double>& array;
        uint64_t count;
        const char* text;
    };
    Table tables[] = {
        {fft_coeff_re, coeff_count, "cannot malloc fft_coeff_re"},
        {fft_coeff_im, coeff_count, "cannot malloc fft_coeff_im"},
        {fft_tmpbuf_re, stage_count, "cannot malloc fft_tmpbuf_re"},
        {fft_tmpbuf_im, stage_count, "cannot malloc fft_tmpbuf_im"},
    };
    // From here the old tables are being replaced: they no longer count as
    // built, so a failure part-way can never leave them looking current.
    fft_tabsize = 0;
    for (Table& table : tables) {
        // On cache-line boundaries, where the passes' vector loads of the
        // twiddle runs never straddle two lines.
        if (!table.array.reserve(table.count)) {
            message(table.text);
            return false;
        }
    }
    // Every entry is computed on its own from the one angle step, so the
    // threads cannot change a value; for large sizes the sines and cosines
    // (and the first touch of their pages) are most of the set-up time.
    // The domain switch and the table builder read the first quarter of the
    // circle only; the rest is filled when a complex transform called on its
    // own first needs it, so a run never touches those pages.
    const unsigned workers = worker_count(threads);
    fill_coefficients(0, sampnump / 4 + 1, workers);
    fft_coefficients_complete = false;
    // The second pair no longer serves a shuffle: it holds the twiddles of
    // each pass in the order the pass reads them.
    fft::build_stage_tables(fft_tmpbuf_re.data(), fft_tmpbuf_im.data(), fft_coeff_re.data(), fft_coeff_im.data(),
                            sampnump, workers);
    fft_tabsize = sampnump;
    return true;
}

void Engine::fill_coefficients(uint64_t first, uint64_t last, unsigned workers)
{
    // Only the angles up to pi/4 go through the library; the rest of the
    // circle is the same values exchanged or negated, which is exact (and
    // more accurate than the library's rounding of angles near pi/2 and
    // pi).  The ranges are filled in order, each from entries already
    // filled, and split across threads within each range.
    const uint64_t n = sampnump;
    const double step = 6.283185307179586 / static_cast<double>(n);
    const auto fill = [&](uint64_t from, uint64_t to, auto entry) {
        from = std::max(from, first);
        to = std::min(to, last);
        if (from < to)
            parallel_for(to - from, workers, uint64_t{1} << 16, [&](uint64_t a, uint64_t b) {
                for (uint64_t i = from + a; i < from + b; ++i)
                    entry(i);
            });
    };
    const uint64_t eighth = n / 8, quarter = n / 4, half = n / 2;
    fill(0, eighth + 1, [&](uint64_t i) {
        const double angle = step * static_cast<double>(i);
        fft_coeff_re[i] = std::cos(angle);
        fft_coeff_im[i] = std::sin(angle);
    });
    // pi/4 .. pi/2: cos x = sin(pi/2 - x), sin x = cos(pi/2 - x).
    fill(eighth + 1, quarter + 1, [&](uint64_t i) {
        fft_coeff_re[i] = fft_coeff_im[quarter - i];
        fft_coeff_im[i] = fft_coeff_re[quarter - i];
    });
    // pi/2 .. pi: cos x = -cos(pi - x), sin x = sin(pi - x).
    fill(quarter + 1, half + 1, [&](uint64_t i) {
        fft_coeff_re[i] = -fft_coeff_re[half - i];
        fft_coeff_im[i] = fft_coeff_im[half - i];
    });
    // pi .. 2 pi: cos x = cos(2 pi - x), sin x = -sin(2 pi - x).
    fill(half + 1, n, [&](uint64_t i) {
        fft_coeff_re[i] = fft_coeff_re[n - i];
        fft_coeff_im[i] = -fft_coeff_im[n - i];
    });
}

void Engine::fft_free()
{
    for (Block<double>* table : {&fft_coeff_re, &fft_coeff_im, &fft_tmpbuf_re, &fft_tmpbuf_im})
        table->release();
    fft_tabsize = 0;
}

void Engine::fft(double* re, double* im, uint32_t n, uint32_t offset, uint32_t /*stride*/, int inverse)
{
    // The stride is sampnump / n by contract; the kernels find the twiddles
    // of a length-n transform in the tables themselves.
    if (n < 2)
        return;
    if (!fft_coefficients_complete) {
        fill_coefficients(sampnump / 4 + 1, sampnump, worker_count(threads));
        fft_coefficients_complete = true;
    }
    const fft::Tables own = tables();
    // The unscaled inverse is the forward transform with the parts exchanged.
    if (inverse)
        fft::complex_forward(im + offset, re + offset, n, own, worker_count(threads));
    else
        fft::complex_forward(re + offset, im + offset, n, own, worker_count(threads));
}

void Engine::switch_domain(bool output_only)
{
    const fft::Tables own = tables();
    if (timedomain == 1) {
        log_line("t->f ...\n");
        // The spectrum of the real signal in sigre, as its bins 0 ..
        // sampnump / 2 (the rest are their conjugates, never stored); sigim
        // is not read.
        fft::real_forward(sigre, sigim, own, worker_count(threads));
        timedomain = 0;
    } else {
        log_line("f->t ...\n");
        // The time signal of the spectrum's lower half, times 1/N.  For the
        // output only the lower half of the signal is wanted (the output is
        // never longer), so the upper half is not written.
        fft::real_inverse(sigre, sigim, own, worker_count(threads), output_only);
        timedomain = 1;
    }
}

} // namespace vesk
