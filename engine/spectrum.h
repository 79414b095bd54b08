// Helpers shared by the stages that write a spectrum.
#pragma once

#include <cstdint>

namespace vesk {

// Makes the spectrum of n bins the spectrum of a real signal: DC and Nyquist
// become real (their real parts stay as they are).  The bins above n/2 are
// the conjugates of the ones below and are not stored (see
// Engine::switch_domain), so nothing else is needed.
inline void make_edges_real(double* im, uint32_t n)
{
    im[0] = 0.0;
    im[n / 2] = 0.0;
}

// Bin k of the spectrum for -n/2 < k < n/2, the negative ones as the
// conjugates of the positive ones.
inline void signed_bin(const double* re, const double* im, int64_t k, double& bin_re, double& bin_im)
{
    if (k >= 0) {
        bin_re = re[k];
        bin_im = im[k];
    } else {
        bin_re = re[-k];
        bin_im = -im[-k];
    }
}

} // namespace vesk
