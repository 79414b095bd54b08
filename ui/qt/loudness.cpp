#include "ui/qt/loudness.h"

#include <cmath>
#include <ebur128.h>
#include <memory>

namespace vesk {

double integrated_loudness(const Pcm& pcm)
{
    if (pcm.frames() == 0)
        return -HUGE_VAL;
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state(
        ebur128_init(pcm.channels, pcm.rate, EBUR128_MODE_I),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    if (!state)
        return -HUGE_VAL;
    if (pcm.channels == 1)
        ebur128_set_channel(state.get(), 0, EBUR128_DUAL_MONO);
    // The samples are already floats in memory: one call measures them all.
    if (ebur128_add_frames_float(state.get(), pcm.samples.data(), pcm.frames()) != EBUR128_SUCCESS)
        return -HUGE_VAL;
    double lufs = -HUGE_VAL;
    if (ebur128_loudness_global(state.get(), &lufs) != EBUR128_SUCCESS)
        return -HUGE_VAL;
    return lufs;
}

} // namespace vesk
