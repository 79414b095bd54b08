#include "ui/progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vesk {

int progress_percent(double fraction)
{
    if (!(fraction > 0))
        return 0;
    return static_cast<int>(std::floor(std::min(fraction, 1.0) * 100.0));
}

bool time_left_settled(int reports, double elapsed_seconds)
{
    return reports >= 2 && elapsed_seconds >= 0.5;
}

std::string time_left_text(double fraction, double elapsed_seconds)
{
    if (fraction >= 1.0)
        return "time left 0:00";
    if (!(fraction > 0) || !(elapsed_seconds > 0))
        return "time left --:--";
    // The rest of the run is taken to go at the pace of the part behind it.
    // A second's worth that is one only up to rounding (1 - 0.999 is a
    // little more than 0.001) is not rounded up to the next.
    const double left = std::ceil(elapsed_seconds * (1.0 - fraction) / fraction - 1e-6);
    if (!(left < 100.0 * 3600.0))
        return "time left --:--";
    const long seconds = static_cast<long>(left);
    char text[48];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "time left %ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "time left %ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

} // namespace vesk
