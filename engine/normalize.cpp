// Output level normalisation.
#include <cmath>

#include "engine/engine.h"

namespace vesk {

// x < 0: scale the first `count` samples so that their peak magnitude is -x
// and return the gain used (1.0 for silence, which stays untouched).
// x >= 0: apply x as a fixed gain and return it.
double Engine::normalize_level(double x, uint32_t count)
{
    if (sigre == nullptr || count == 0)
        return 0.0;
    double gain = x;
    if (x < 0) {
        double peak = 0.0;
        for (uint32_t i = 0; i < count; ++i)
            peak = std::fmax(peak, std::fabs(sigre[i]));
        if (peak <= 0)
            return 1.0;
        gain = -x / peak;
    }
    for (uint32_t i = 0; i < count; ++i)
        sigre[i] *= gain;
    return gain;
}

} // namespace vesk
