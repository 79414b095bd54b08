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
// cos/sin: cos and sin of 2 pi i / size for i < size.  A twiddle factor is
// used as cos - i sin (forward sign).
//
// stage_re/stage_im (size / 2 entries each): contiguous copies of the
// twiddles each pass reads, so that every pass walks them with unit stride:
//  - for each radix-4 stage length L = 16, 64, ... up to size / 2, two runs
//    of L/4 entries, W_L^j at offset L/4 and W_L^2j at offset L/2, j < L/4;
//  - when log2(size) is even, at offset size/4 the radix-2 twiddles of a
//    size/2 transform, W_(size/2)^j for j < size/4.
// Stage L lies within [L/4, L), so the stages do not overlap, and when
// log2(size) is even the largest of them ends below size/4, which leaves
// room for the radix-2 run.  Every run starts at a multiple of 4 entries, so
// vector loads from a table aligned to 64 bytes never straddle two cache
// lines.  Entries are copied from cos/sin, so they carry no rounding of
// their own.
struct Tables {
    const double* cos = nullptr;
    const double* sin = nullptr;
    const double* stage_re = nullptr;
    const double* stage_im = nullptr;
    uint32_t size = 0;
};

// Fills stage_re/stage_im (size/2 entries each) from cos/sin as described
// above.  size >= 2.
void build_stage_tables(double* stage_re, double* stage_im, const double* cos, const double* sin, uint32_t size,
                        unsigned threads);

// Forward DFT X[k] = sum_m x[m] e^(-2 pi i m k / n) of the n points (re[j],
// im[j]), in place, natural order in and out.  n is a power of two up to
// tables.size.  The unscaled inverse is the same call with re and im
// exchanged: swapping the parts of the input and of the output turns
// e^(-i..) into e^(+i..).
void complex_forward(double* re, double* im, uint32_t n, const Tables& tables, unsigned threads);

// The spectrum of the tables.size real samples in re; im is ignored on entry
// (it holds the zeros of a time signal) and both arrays hold all bins on
// return, the negative frequencies as conjugates of the positive ones.
void real_forward(double* re, double* im, const Tables& tables, unsigned threads);

// The time signal of the spectrum (re, im) of tables.size bins: the real part
// of its unscaled inverse, times 1/size, in re; im is set to +0.0.  The
// spectrum need not be Hermitian: the real part of the inverse is the inverse
// of the Hermitian part (X[k] + conj X[N-k]) / 2, which is what is used.
void real_inverse(double* re, double* im, const Tables& tables, unsigned threads);

// The 4-lane kernels are used where the processor has AVX2 and FMA unless
// this was called with false (tests use it to reach the 2-lane kernels on
// any machine).  Returns whether the 4-lane kernels are now in use.
bool allow_wide_kernels(bool allowed);

} // namespace vesk::fft
