// Sampling-clock jitter: the channel is read again at instants displaced by a
// random timing error.  The error is drawn anew once per fs-sim period and
// interpolated linearly in between, so it is a continuous, piecewise-linear
// function of time with independent uniform breakpoints one fs-sim period
// apart; each working sample is then read at its displaced position through
// the windowed-sinc interpolator.
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/position.h"

namespace vesk {

int Engine::stage_jitter()
{
    if (timedomain != 1)
        switch_domain();
    log_line("jitter ...\n");

    const uint32_t n = sampnump;
    const uint32_t half = n / 2;
    // Part of an fs-sim period that one working sample spans; above 1 when
    // fs-sim lies above the working rate.
    const double u = static_cast<double>(fssim_idx) / static_cast<double>(n);
    // Largest timing error [working samples]: jitteramp is in fs-sim periods.
    const double amplitude = static_cast<double>(fs) * jitteramp / fssim;
    // Uniform over -A .. A in steps of 2A / 32767.  The divisor is tied to the
    // generator's range 0 .. 32767, so R = 0 and R = 32767 give -A and +A.
    const auto draw = [this, amplitude] {
        return (2.0 * jitter_rng.next() / 32767.0 - 1.0) * amplitude;
    };

    // The interpolator reads taps from 1 - len to len - 1 and is 0 for a
    // centre more than len + 14 away from 0; such centres are not passed on
    // (they might not fit in an int), the output is 0 all the same.
    const int len = static_cast<int>(half);
    const int64_t reach = int64_t{len} + 14;
    // Errors beyond this cannot put the centre within reach from any
    // i < half; the bound also keeps centre arithmetic far from overflow.
    const double far = 2.0 * static_cast<double>(half) + 32.0;

    double end = draw(); // the pending end value of the period to come
    double start = 0.0;
    double phase = 0.0;
    bool newperiod = true;
    for (uint32_t i = 0; i < half; ++i) {
        if (newperiod) {
            start = end;
            end = draw();
            newperiod = false;
        }
        const double e = (1.0 - phase) * start + phase * end;

        // i + e as a whole part and a fraction in [0, 1), exactly as moving
        // the fraction by whole units would give it (including a tiny
        // negative error whose fraction rounds up to 1).  A NaN error (an
        // fs-sim of 0 makes the amplitude infinite) reads nothing: output 0.
        bool read = false;
        if (std::fabs(e) <= far) {
            const ReadPosition position = ReadPosition::offset_from(i, e);
            if (position.center >= -reach && position.center <= reach) {
                sinc_interp(nullptr, nullptr, position.frac, len, static_cast<int>(position.center),
                            static_cast<int>(i));
                read = true;
            }
        }
        if (!read)
            tmpre[i] = 0.0;

        // Wrapping by floor gives exactly what taking 1 off while phase >= 1
        // would: phase < 1 + u <= 1 + 2^32, and below 2^53 each subtraction
        // of 1 is exact, as is phase - floor(phase); so both end at the exact
        // fractional part.  One breakpoint per wrap, however many periods a
        // single sample spans.
        phase += u;
        if (phase >= 1.0) {
            newperiod = true;
            phase -= std::floor(phase);
        }
    }
    for (uint32_t i = half; i < n; ++i)
        tmpre[i] = 0.0;

    // The re-read signal becomes current; sigim still holds the zeros of the
    // time domain.
    std::swap(sigre, tmpre);
    return 0;
}

} // namespace vesk
