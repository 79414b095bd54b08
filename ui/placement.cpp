#include "ui/placement.h"

#include <algorithm>

namespace vesk {

long long overlap(const Box& a, const Box& b)
{
    const long long w = std::min(a.right(), b.right()) - std::max(a.x, b.x);
    const long long h = std::min(a.bottom(), b.bottom()) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

namespace {

// Moved the least way that brings it onto the screen; one larger than the
// screen keeps its top left corner on it.
Box onto(const Box& screen, Box b)
{
    b.x = std::max(screen.x, std::min(b.x, screen.right() - b.width));
    b.y = std::max(screen.y, std::min(b.y, screen.bottom() - b.height));
    return b;
}

} // namespace

Box place_beside(const Box& screen, const Box& main, int width, int height, const std::vector<Box>& others, int gap)
{
    // In the order of preference: the four sides (each slid onto the screen
    // where it sticks out), then the screen's corners.
    const Box candidates[] = {
        {main.right() + gap, main.y, width, height},
        {main.x - gap - width, main.y, width, height},
        {main.x, main.bottom() + gap, width, height},
        {main.x, main.y - gap - height, width, height},
        {screen.right() - width, screen.y, width, height},
        {screen.right() - width, screen.bottom() - height, width, height},
        {screen.x, screen.y, width, height},
        {screen.x, screen.bottom() - height, width, height},
    };
    Box best{};
    long long least = -1;
    for (const Box& candidate : candidates) {
        const Box b = onto(screen, candidate);
        long long hidden = overlap(b, main);
        for (const Box& other : others)
            hidden += overlap(b, other);
        if (least < 0 || hidden < least) {
            least = hidden;
            best = b;
        }
    }
    return best;
}

} // namespace vesk
