// The live preview's span around the play position.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "ui/preview.h"

namespace vesk {
namespace {

TEST(PreviewSpan, StartsASecondBeforeThePositionWithinTheLengthsOfferedAndTheFile)
{
    const double nan = std::nan("");
    // position, length asked, file duration -> start, length
    const std::tuple<double, double, double, double, double> rows[] = {
        {83, 10, 300, 82, 10}, {0.5, 10, 300, 0, 10}, {298, 10, 300, 290, 10}, {50, 1, 300, 49, 2},
        {50, 45, 300, 49, 30}, {5, 10, 6, 0, 6},       {5, 10, 9.5, 0, 9.5},   {5, nan, 300, 4, 10},
        {nan, 10, 300, 0, 10}, {3, 10, nan, 0, 0},
    };
    for (const auto& [position, length, duration, start, seconds] : rows) {
        const Span span = preview_span(position, length, duration);
        EXPECT_EQ(std::tie(span.start, span.seconds), std::tie(start, seconds)) << position << " " << length << " " << duration;
    }
}

} // namespace
} // namespace vesk
