// Output level normalisation.
#include "engine/engine.h"
#include "engine/level.h"
#include "engine/parallel.h"

namespace vesk {

// x < 0: scale the first `count` samples so that their peak magnitude is -x
// and return the gain used (1.0 for silence, which stays untouched).
// x >= 0: apply x as a fixed gain and return it.
double Engine::normalize_level(double x, uint32_t count)
{
    if (sigre == nullptr || count == 0)
        return 0.0;
    const unsigned workers = worker_count(threads);
    double* samples = sigre;
    double peak = 0.0;
    if (x < 0) {
        peak = peak_magnitude(count, workers, [samples](uint64_t i) { return samples[i]; });
        if (!(peak > 0))
            return 1.0;
    }
    const double gain = level_gain(x, peak);
    parallel_for(count, workers, sample_pass_min_block, [samples, gain](uint64_t first, uint64_t last) {
        for (uint64_t i = first; i < last; ++i)
            samples[i] *= gain;
    });
    return gain;
}

} // namespace vesk
