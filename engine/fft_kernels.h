// The working parts of the spectral transform, apart from the engine's state:
// iterative radix-4 passes on split real/imaginary arrays, a cache-friendly
// bit-reversal, and the steps that let a real signal (or a spectrum known to
// be Hermitian) be done with a complex transform of half the length.
//
// All of them work in place and allocate nothing; what they need besides the
// caller's arrays are the tables built by fft_init (see Tables).  A thread
// count above 1 spreads independent blocks over that many threads; each value
// is computed by the same operations whichever thread runs it, so the result
// does not depend on the count.
#pragma once

#include <cstdint>

namespace vesk::fft {

// The tables of a transform set up for `size` points (a power of two).
//
// cos/sin: cos and sin of 2 pi i / size for i <= size / 4 (the real-signal
// steps and the table builder read no more); a complex transform of the
// full size reads them for i < size.  A twiddle factor is used as cos - i sin
// (forward sign).
//
// stage_re/stage_im (size / 2 entries each): contiguous copies of the
// twiddles each pass reads, so that every pass walks them with unit stride:
//  - for each radix-4 stage length L = 16, 64, ... up to size / 2, two runs
//    of L/4 entries, W_L^j at offset L/4 and W_L^2j at offset L/2, j < L/4;
//    the second only up to L = cached_stage_length: the longer stages are
//    passes over memory, where loading a run costs more than squaring W^j,
//    so their W^2j runs are never read and never built;
//  - when log2(size) is even, at offset size/4 the radix-2 twiddles of a
//    size/2 transform, W_(size/2)^j for j < size/4.
// Stage L lies within [L/4, L), so the stages do not overlap, and when
// log2(size) is even the largest of them ends below size/4, which leaves
// room for the radix-2 run.  Every run starts at a multiple of 4 entries, so
// vector loads from a table aligned to 64 bytes never straddle two cache
// lines.  Entries are copied from cos/sin, so they carry no rounding of
// their own.
constexpr uint32_t cached_stage_length = 1024;

struct Tables {
    const double* cos = nullptr;
    const double* sin = nullptr;
    const double* stage_re = nullptr;
    const double* stage_im = nullptr;
    uint32_t size = 0;
};

// Fills stage_re/stage_im (size/2 entries each) from cos/sin (entries up to
// size/4 read) as described above.  size >= 2.
void build_stage_tables(double* stage_re, double* stage_im, const double* cos, const double* sin, uint32_t size,
                        unsigned threads);

// Forward DFT X[k] = sum_m x[m] e^(-2 pi i m k / n) of the n points (re[j],
// im[j]), in place, natural order in and out.  n is a power of two up to
// tables.size.  The unscaled inverse is the same call with re and im
// exchanged: swapping the parts of the input and of the output turns
// e^(-i..) into e^(+i..).
void complex_forward(double* re, double* im, uint32_t n, const Tables& tables, unsigned threads);

// A real signal and its spectrum.  The spectrum of N = tables.size real
// points is Hermitian (X[N-k] = conj X[k]), so bins 0 .. N/2 tell all of it:
// only those are written and read, which halves the memory a spectrum
// touches.
//
// The spectrum of the N real samples in re, as bins 0 .. N/2 of (re, im)
// with im[0] = im[N/2] = 0.  im is ignored on entry; above N/2 neither array
// is written.
void real_forward(double* re, double* im, const Tables& tables, unsigned threads);

// The real signal whose spectrum has the bins 0 .. N/2 given in (re, im)
// (the imaginary parts of bins 0 and N/2 are ignored, the bins above N/2
// are taken as the conjugates and not read): the unscaled inverse times
// 1/N, in re.  With half_signal only the samples 0 .. N/2 - 1 are written;
// the rest of re is left as it is.  im holds intermediate values on return.
void real_inverse(double* re, double* im, const Tables& tables, unsigned threads, bool half_signal = false);

// The 4-lane kernels are used where the processor has AVX2 and FMA unless
// this was called with false (tests use it to reach the 2-lane kernels on
// any machine).  Returns whether the 4-lane kernels are now in use.
bool allow_wide_kernels(bool allowed);

} // namespace vesk::fft
