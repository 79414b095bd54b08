// The jitter's sequence of timing errors, shared by the jitter stage (which
// walks it ahead of the threads) and the interpolator (which walks it along
// with the outputs it reads, so that the chain's dependent steps hide behind
// the independent work of the interpolation).
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/floor.h"
#include "engine/random.h"

namespace vesk {

// The timing errors form one sequential chain: each fs-sim period starts
// where the last ended, and the random sequence runs on.
struct JitterChain {
    double start = 0.0;  // timing error at the start of the period [samples]
    double end = 0.0;    // pending error at its end [samples]
    double phase = 0.0;  // position within the period [periods, 0 .. 1)
    bool newperiod = true;
    JitterRandom random;

    // A timing error uniform over -A .. A in steps of 2A / 32767.  The
    // divisor is tied to the generator's range 0 .. 32767, so R = 0 and
    // R = 32767 give -A and +A.
    static double draw(JitterRandom& random, double amplitude)
    {
        return (2.0 * random.next() / 32767.0 - 1.0) * amplitude;
    }

    // The timing error of the next sample; moves the chain on by one.
    double next(double u, double amplitude)
    {
        if (newperiod) {
            start = end;
            end = draw(random, amplitude);
            newperiod = false;
        }
        const double e = (1.0 - phase) * start + phase * end;
        // Wrapping by floor gives exactly what taking 1 off while phase >= 1
        // would: phase < 1 + u <= 1 + 2^32, and below 2^53 each subtraction
        // of 1 is exact, as is phase - floor(phase).  One breakpoint per
        // wrap, however many periods a sample spans.
        phase += u;
        if (phase >= 1.0) {
            newperiod = true;
            phase -= floor_exact(phase);
        }
        return e;
    }
};

// What turns the chain's errors into read positions.
struct JitterClock {
    double u;         // part of an fs-sim period one working sample spans
    double amplitude; // largest timing error [working samples]
    // Errors beyond `far` cannot put the centre within `reach` of 0, where
    // the interpolator finds a tap; such outputs are 0.
    double far;
    int64_t reach;
};

} // namespace vesk
