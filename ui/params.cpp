#include "ui/params.h"

#include <cstdint>
#include <utility>

namespace vesk {

void reset_keeping_paths(ParamRecord& record)
{
    std::string inp = std::move(record.inpwavname);
    std::string out = std::move(record.outwavname);
    record = ParamRecord{};
    record.inpwavname = std::move(inp);
    record.outwavname = std::move(out);
}

double semitone_factor(int n)
{
    // The factor is built step by step, not as pow(2, n / 12.0): a spin click
    // or a semitone word in a batch file is one such step, so n steps at once
    // must land exactly where n single steps would.
    //
    // A count near the int range would take billions of steps.  Each step is
    // the same operation on the running value, so once a step leaves the value
    // unchanged (0, infinity, or the smallest subnormals that a division by
    // the ratio rounds back to themselves) every later step leaves it
    // unchanged too, and stopping there gives exactly the full loop's result.
    // The 64-bit count keeps -INT_MIN representable.
    double factor = 1.0;
    if (n > 0) {
        for (std::int64_t i = 0; i < n; ++i) {
            const double next = factor * semitone_ratio;
            if (next == factor)
                break;
            factor = next;
        }
    } else if (n < 0) {
        const std::int64_t steps = -static_cast<std::int64_t>(n);
        for (std::int64_t i = 0; i < steps; ++i) {
            const double next = factor / semitone_ratio;
            if (next == factor)
                break;
            factor = next;
        }
    }
    return factor;
}

} // namespace vesk
