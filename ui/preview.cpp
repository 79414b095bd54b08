#include "ui/preview.h"

#include <algorithm>
#include <cmath>

namespace vesk {

Span preview_span(double position, double seconds, double duration)
{
    const double length = std::clamp(std::isnan(seconds) ? preview_default_seconds : seconds, preview_min_seconds,
                                     preview_max_seconds);
    const double whole = duration > 0 ? duration : 0.0;
    if (length >= whole)
        return {0.0, whole};
    const double start = std::clamp(position - preview_lead_seconds, 0.0, whole - length);
    return {std::isnan(start) ? 0.0 : start, length};
}

} // namespace vesk
