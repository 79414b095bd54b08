// A read position that steps through a source, kept as a whole part and a
// fraction in [0, 1).  Stepping adds the step to the fraction and carries the
// whole units into the integer part, so the positions are exactly those of
// repeated addition (never recomputed as index times step); the carry is one
// floor, so any step, however large, costs the same.
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/floor.h"

namespace vesk {

struct ReadPosition {
    int64_t center = 0; // whole part [samples or bins]
    double frac = 0.0;  // fraction, 0 <= frac < 1

    // Moves on by `step` (>= 0).  Returns false, leaving the position as it
    // was, once the whole part would reach `silent_from`: from there on the
    // interpolator finds no tap, every further output is 0, and the caller
    // can stop reading.  (Also keeps the whole part within 64 bits for a
    // step near the largest double.)
    // Code built for processors with a rounding instruction sets
    // `rounding_instruction`, so that floor is that one instruction once
    // this is inlined there; elsewhere std::floor would be a library call.
    template <bool rounding_instruction = false>
    bool advance(double step, int64_t silent_from)
    {
        const double next = frac + step;
        if (next < 1.0) {
            frac = next;
            return true;
        }
        const double whole = rounding_instruction ? std::floor(next) : floor_exact(next);
        // Written so that a NaN step also ends the reading.
        if (!(static_cast<double>(center) + whole < static_cast<double>(silent_from)))
            return false;
        center += static_cast<int64_t>(whole);
        frac = next - whole;
        return true;
    }

    // The position base + offset (offset of any sign) in the same form.  A
    // tiny negative offset rounds to a fraction of exactly 1 when 1 is added
    // to it; that carries into the whole part, as stepping by whole units
    // would.
    static ReadPosition offset_from(int64_t base, double offset)
    {
        double whole = floor_exact(offset);
        double fraction = offset - whole;
        if (fraction >= 1.0) {
            fraction -= 1.0;
            whole += 1.0;
        }
        return {base + static_cast<int64_t>(whole), fraction};
    }
};

} // namespace vesk
