// Helpers shared by the stages that write a spectrum.
#pragma once

#include <cstdint>

namespace vesk {

// Makes the spectrum of n bins conjugate-symmetric from its lower half, so
// that the way back to time gives a purely real signal: DC and Nyquist
// become real (their real parts stay as they are), and bins n/2+1 .. n-1
// are rebuilt as the complex conjugates of bins n/2-1 .. 1, whatever they
// held.
inline void complete_conjugate_symmetry(double* re, double* im, uint32_t n)
{
    const uint32_t h = n / 2;
    im[0] = 0.0;
    im[h] = 0.0;
    for (uint32_t k = 1; k < h; ++k) {
        re[n - k] = re[k];
        im[n - k] = -im[k];
    }
}

} // namespace vesk
