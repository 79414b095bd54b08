// Shared by the ui tests: a record printer, batch text to record, and a
// record with every field changed.
#pragma once

#include <iomanip>
#include <ostream>
#include <string>

#include "ui/batch.h"

namespace vesk {

// All the digits of a double, so that records differing in one bit differ.
inline void PrintTo(const ParamRecord& r, std::ostream* os)
{
    *os << std::setprecision(17) << "{\"" << r.inpwavname << "\" \"" << r.outwavname << "\" " << r.fssrc << ' '
        << r.ensrc << ' ' << r.fssim << ' ' << r.bitnr << ' ' << r.aperture << ' ' << r.fcloin << ' ' << r.fchiin
        << ' ' << r.fcloout << ' ' << r.fchiout << ' ' << r.varispeedt << ' ' << r.varispeedf << ' '
        << r.varispeedsh << ' ' << r.jitteramp << "} (in the order of the batch file)";
}

namespace test {

inline ParamRecord read_text(const std::string& text, ParamRecord record = {})
{
    batch::BatchStream stream(text);
    batch::read_batch(stream, record, {});
    return record;
}

inline std::string repeat(const std::string& piece, int n) { return n > 0 ? piece + repeat(piece, n - 1) : ""; }

// Every field away from its default, each to a value of its own that the
// batch writer's seven significant digits hold exactly, so that a swapped
// pair of fields or a lost one shows after a round trip.
inline ParamRecord all_changed()
{
    ParamRecord r;
    r.inpwavname = "dir 1/\xc3\xa4 b.wav";
    r.outwavname = "dir 2/\xe2\x82\xac.wav";
    r.fssrc = 4294967281u, r.ensrc = 1, r.fssim = 5.25, r.bitnr = 4294967286u, r.aperture = 7.25;
    r.fcloin = 8.25, r.fchiin = 9.25, r.fcloout = 10.25, r.fchiout = 11.25, r.varispeedt = 12.25;
    r.varispeedf = 13.25, r.varispeedsh = 1, r.jitteramp = 15.25;
    return r;
}

} // namespace test
} // namespace vesk
