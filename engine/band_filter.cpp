// The band filter: an ideal band-pass applied directly to the spectrum.  The
// chain uses it twice, as the input filter right after rate conversion and as
// the output filter before normalisation.
#include <algorithm>
#include <cstdint>

#include "engine/engine.h"
#include "engine/spectrum.h"

namespace vesk {

void Engine::band_filter(const char* label, uint32_t lo, uint32_t hi)
{
    if (timedomain != 0)
        switch_domain();
    // The label is text, not a format: a '%' in it must reach the log as is.
    if (label != nullptr)
        log_line("%s", label);

    const uint32_t n = sampnump;
    const uint32_t h = n / 2;

    // Bins below the passband, DC included when lo >= 1.  The run driver
    // keeps lo within 0 .. n/2; the clamp only keeps a wrong corner inside
    // the lower half, the part of the spectrum that is stored.
    const uint32_t below = std::min(lo, h + 1);
    for (uint32_t k = 0; k < below; ++k) {
        sigre[k] = 0.0;
        sigim[k] = 0.0;
    }
    // Bins above the passband up to, not including, the Nyquist bin.  In 64
    // bits so that hi + 1 cannot wrap round to 0 and clear the whole band.
    if (uint64_t{hi} + 1 < h) {
        for (uint32_t k = hi + 1; k < h; ++k) {
            sigre[k] = 0.0;
            sigim[k] = 0.0;
        }
    }

    // DC and Nyquist become real; the Nyquist bin's real part is left alone:
    // it is shared by +fs/2 and -fs/2 and belongs to neither side of the
    // band.  The negative frequencies are the conjugates of the positive
    // ones, not stored, so they follow the band without a pass of their own.
    make_edges_real(sigim, n);
}

} // namespace vesk
