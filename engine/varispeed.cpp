// Vari-speed: the channel played faster or slower by a factor, as a tape or
// a sampler run at another speed would play it.  Two stages do it by
// different means: one reads the time signal at stretched positions, the
// other reads the spectrum at stretched bin positions.  Both step the read
// position by adding the step and carrying whole units (never index times
// step), and both read through the windowed-sinc interpolator.
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/position.h"
#include "engine/spectrum.h"

namespace vesk {

namespace {

// The step as the position stepping takes it.  A factor that is not a
// number >= 0 (refused by check_params) has no meaningful positions; it is
// read as an infinitely fast one: only position 0, then silence.
inline double usable_step(double step)
{
    return step >= 0.0 ? step : HUGE_VAL;
}

} // namespace

void Engine::stage_varispeed_t()
{
    if (timedomain != 1)
        switch_domain();
    log_line("vari-speed (t) ...\n");

    // Above 1 the signal is read faster (shorter and higher), below 1
    // slower.  The signal lies below index sampnump / 2: that is the tap
    // limit.
    read_time_stretched(usable_step(params.varispeedt), static_cast<int>(sampnump / 2));
}

void Engine::stage_varispeed_f()
{
    if (timedomain != 0)
        switch_domain();
    log_line("vari-speed (f) ...\n");

    const uint32_t n = sampnump;
    const uint32_t half = n / 2;
    // New bin k reads the old spectrum at bin position k / varispeedf, so
    // content at f moves to f * varispeedf.  The reciprocal is taken once;
    // for a subnormal factor it is infinite, which reads bin 0 only.
    const double step = usable_step(1.0 / params.varispeedf);
    // Bins 0 .. half are the lower half, Nyquist included.  Taps below bin 0
    // wrap onto the negative frequencies at the top of the array, which is
    // what makes interpolation near DC right for a conjugate-symmetric
    // spectrum.  From half + 16 on no tap is left.
    const int len = static_cast<int>(half) + 1;
    // Those taps (at most 15 below bin 0) find the conjugates of the bins
    // above 0 there: the spectrum holds only its lower half, so they are
    // written for this read.
    for (uint32_t k = 1; k <= 15 && k < half; ++k) {
        sigre[n - k] = sigre[k];
        sigim[n - k] = -sigim[k];
    }
    uint32_t k = read_stepped(half + 1, step, len, sigim, tmpim);
    // New bins beyond the old band; the bins above half are rebuilt by the
    // completion below, whatever they hold.
    for (; k <= half; ++k) {
        tmpre[k] = 0.0;
        tmpim[k] = 0.0;
    }

    std::swap(sigre, tmpre);
    std::swap(sigim, tmpim);
    make_edges_real(sigim, n);
}

} // namespace vesk
