// Sample-rate conversion: the first stage after decoding.  Output sample i is
// the input read at position i * fsinp / fs through the windowed-sinc
// interpolator, with the position kept as a whole part and a fraction.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/position.h"

namespace vesk {

int Engine::src_resample()
{
    if (timedomain != 1)
        switch_domain();
    log_line("SRC ...\n");

    // Above 1 the rate is lowered, below 1 it is raised.
    const double ratio = static_cast<double>(fsinp) / static_cast<double>(fs);
    const uint32_t n = sampnump;
    const uint32_t half = n / 2;
    // The interpolator counts taps in int; an input longer than that could not
    // be held in the working arrays anyway.
    const int len = static_cast<int>(std::min<uint32_t>(sampnuminp, INT_MAX));

    // The position is accumulated step by step, not recomputed as
    // i * ratio; from `silent_from` on no tap is left within the input.
    const int64_t silent_from = int64_t{len} + 15;
    ReadPosition position;
    uint32_t i = 0;
    while (i < half) {
        sinc_interp(nullptr, nullptr, position.frac, len, static_cast<int>(position.center), static_cast<int>(i));
        ++i;
        if (!position.advance(ratio, silent_from))
            break;
    }
    // The outputs past the end of the input, then the upper half, which stays
    // silent so that the converted signal is followed by zero extension.
    for (; i < n; ++i)
        tmpre[i] = 0.0;

    // The converted signal becomes current and the input array becomes
    // scratch; sigim still holds the zeros of the time domain.
    std::swap(sigre, tmpre);
    return 0;
}

} // namespace vesk
