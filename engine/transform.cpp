// The spectral transform: an in-place radix-2 decimation-in-frequency FFT
// that returns its result in natural order by a perfect shuffle at every
// level, and the domain switch every stage goes through.
#include <cmath>
#include <cstdlib>

#include "engine/engine.h"

namespace vesk {

int Engine::fft_init()
{
    if (sampnump < 2)
        return -1;
    if (sampnump == fft_tabsize)
        return 0;
    // Sizes in 64 bits: sampnump may be 2^31, whose table is 16 GiB.
    const uint64_t coeff_bytes = uint64_t{sampnump} * sizeof(double);
    const uint64_t scratch_bytes = uint64_t{sampnump / 2} * sizeof(double);
    struct Table {
        double*& array;
        uint64_t bytes;
        const char* text;
    };
    Table tables[] = {
        {fft_coeff_re, coeff_bytes, "cannot malloc fft_coeff_re"},
        {fft_coeff_im, coeff_bytes, "cannot malloc fft_coeff_im"},
        {fft_tmpbuf_re, scratch_bytes, "cannot malloc fft_tmpbuf_re"},
        {fft_tmpbuf_im, scratch_bytes, "cannot malloc fft_tmpbuf_im"},
    };
    // From here the old tables are being replaced: they no longer count as
    // built, so a failure part-way can never leave them looking current.
    fft_tabsize = 0;
    for (Table& table : tables) {
        std::free(table.array);
        table.array = nullptr;
        if (table.bytes <= SIZE_MAX)
            table.array = static_cast<double*>(std::malloc(static_cast<std::size_t>(table.bytes)));
        if (table.array == nullptr) {
            message(table.text);
            return -1;
        }
    }
    fft_tabsize = sampnump;
    const double step = 6.283185307179586 / sampnump;
    for (uint32_t i = 0; i < sampnump; ++i) {
        const double angle = step * i;
        fft_coeff_re[i] = std::cos(angle);
        fft_coeff_im[i] = std::sin(angle);
    }
    return 0;
}

int Engine::fft_free()
{
    for (double** table : {&fft_coeff_re, &fft_coeff_im, &fft_tmpbuf_re, &fft_tmpbuf_im}) {
        std::free(*table);
        *table = nullptr;
    }
    fft_tabsize = 0;
    return 0;
}

void Engine::fft(double* re, double* im, uint32_t n, uint32_t offset, uint32_t stride, int inverse)
{
    if (n < 2)
        return;
    const uint32_t h = n / 2;
    // The twiddle of butterfly j is e^(-/+ 2 pi i j stride / sampnump): one
    // table of sampnump entries serves every level through the stride.
    const double sign = inverse ? -1.0 : 1.0;
    for (uint32_t j = 0; j < h; ++j) {
        const uint32_t k = offset + j;
        const uint64_t t = uint64_t{j} * stride;
        const double cr = fft_coeff_re[t];
        const double ci = sign * fft_coeff_im[t];
        const double dr = re[k] - re[k + h];
        const double di = im[k] - im[k + h];
        re[k] = re[k] + re[k + h];
        im[k] = im[k] + im[k + h];
        re[k + h] = dr * cr + di * ci;
        im[k + h] = di * cr - dr * ci;
    }
    fft(re, im, h, offset, 2 * stride, inverse);
    fft(re, im, h, offset + h, 2 * stride, inverse);
    fft_interleave(h, re, im, offset);
}

void Engine::fft_interleave(uint32_t n, double* re, double* im, uint32_t offset)
{
    // The first half holds the even outputs, the second half the odd ones.
    for (uint32_t j = 0; j < n; ++j) {
        fft_tmpbuf_re[j] = re[offset + j];
        fft_tmpbuf_im[j] = im[offset + j];
    }
    // Ascending j never overwrites an odd output that is still to be moved:
    // slot 2j+1 <= n+j for every j < n.
    for (uint32_t j = 0; j < n; ++j) {
        re[offset + 2 * j + 1] = re[offset + n + j];
        im[offset + 2 * j + 1] = im[offset + n + j];
    }
    for (uint32_t j = 0; j < n; ++j) {
        re[offset + 2 * j] = fft_tmpbuf_re[j];
        im[offset + 2 * j] = fft_tmpbuf_im[j];
    }
}

int Engine::switch_domain()
{
    if (timedomain == 1) {
        log_line("t->f ...\n");
        fft(sigre, sigim, sampnump, 0, 1, 0);
        timedomain = 0;
    } else {
        log_line("f->t ...\n");
        fft(sigre, sigim, sampnump, 0, 1, 1);
        // The inverse is unscaled; the 1/N lands here.  The imaginary part of
        // the inverse is discarded: the time signal is its real part.
        const double g = 1.0 / sampnump;
        for (uint32_t i = 0; i < sampnump; ++i) {
            sigre[i] *= g;
            sigim[i] = 0.0;
        }
        timedomain = 1;
    }
    return 0;
}

} // namespace vesk
