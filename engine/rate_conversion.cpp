// Sample-rate conversion: the first stage after decoding.  Output sample i is
// the input read at position i * fsinp / fs through the windowed-sinc
// interpolator, with the position kept as a whole part and a fraction.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "engine/engine.h"

namespace vesk {

void Engine::src_resample()
{
    if (timedomain != 1)
        switch_domain();
    log_line("SRC ...\n");

    // Above 1 the rate is lowered, below 1 it is raised.
    const double ratio = static_cast<double>(fsinp) / static_cast<double>(params.fs);
    // The interpolator counts taps in int; an input longer than that could not
    // be held in the working arrays anyway.
    const int len = static_cast<int>(std::min<uint32_t>(sampnuminp, INT_MAX));

    // Output i is the input at position i * ratio, accumulated step by step.
    read_time_stretched(ratio, len);
}

} // namespace vesk
