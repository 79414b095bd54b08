// What the main window's spin buttons do to the record.  A spin button
// reports a signed step d: -1 for its upper arrow, +1 for its lower arrow
// (more when the platform accelerates a held arrow).
#pragma once

#include <array>
#include <cstdint>

#include "ui/params.h"

namespace vesk {

// The seven semitone spin buttons and the fields they step.
struct SemitoneSpin {
    int spin;                   // control identifier of the spin button
    double ParamRecord::*field; // the field it steps
};
const std::array<SemitoneSpin, 7>& semitone_spins();

// One semitone step: the upper arrow ("ST +") raises the value by |d|
// semitones, the lower arrow ("ST -") lowers it.
double semitone_step(double value, int d);

// One bit-count step: the upper arrow adds 1, the lower arrow subtracts 1,
// computed as a signed 32-bit integer and kept within 1 to 24.
uint32_t bitnr_step(uint32_t bitnr, int d);

} // namespace vesk
