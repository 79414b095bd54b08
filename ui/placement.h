// Where a window of the program appears when it first opens: beside the
// main window where the screen has room for it, otherwise where it hides
// least of the main window and of the program's other windows.  Pixels on
// the screen, frames included.
#pragma once

#include <vector>

namespace vesk {

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    int right() const { return x + width; }
    int bottom() const { return y + height; }
    bool operator==(const Box&) const = default;
};

// The area two boxes share.
long long overlap(const Box& a, const Box& b);

// The box for a window of `width` x `height` that opens by `main` on
// `screen` (the part of it windows may take), with `others` (the program's
// other open windows) to be hidden as little as may be.  Beside means to the
// right, else to the left, below or above, with `gap` between; where no
// side has room, the place that hides the fewest pixels of `main` and
// `others` together, within the screen.
Box place_beside(const Box& screen, const Box& main, int width, int height, const std::vector<Box>& others,
                 int gap = 8);

} // namespace vesk
