#include "ui/steps.h"

#include <algorithm>
#include <climits>


namespace vesk {

const std::array<SemitoneSpin, 7>& semitone_spins()
{
    static const std::array<SemitoneSpin, 7> spins = [] {
        std::array<SemitoneSpin, 7> s{};
        std::size_t n = 0;
        for (const ParamInfo& p : param_table())
            if (p.spin != 0)
                s.at(n++) = {p.spin, std::get<double ParamRecord::*>(p.member)};
        return s;
    }();
    return spins;
}

double semitone_step(double value, int d)
{
    // -INT_MIN does not exist; a step that large saturates the factor anyway.
    const int n = d == INT_MIN ? INT_MAX : -d;
    return value * semitone_factor(n);
}

uint32_t bitnr_step(uint32_t bitnr, int d)
{
    // The difference wraps like 32-bit arithmetic before it is clamped, so a
    // typed count above 2^31 reads as a negative one and ends at 1.
    const auto stepped = static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<int64_t>(static_cast<int32_t>(bitnr)) - d));
    return static_cast<uint32_t>(std::clamp<int32_t>(stepped, 1, 24));
}

} // namespace vesk
