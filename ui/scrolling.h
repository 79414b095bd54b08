// The scroll arithmetic of the main window.  The window's content keeps the
// size it had when the window first appeared (its design size); when the
// window is smaller, its own scroll bars move the content by these amounts.
#pragma once

#include <optional>

namespace vesk {

// Pixels throughout.
struct ScrollState {
    int fullheight = 0; // client size at the first size event (the design size)
    int fullwidth = 0;
    int curheight = 0;  // current client size
    int curwidth = 0;
    int vscrollpos = 0; // how far the content is scrolled
    int hscrollpos = 0;
};

// What one scroll bar is set to.  A maximum of 0 means the content fits and
// the bar is hidden.
struct ScrollBarSetting {
    int minimum = 0;
    int maximum = 0;
    int page = 0;
    int position = 0;
};

struct ScrollBarSettings {
    ScrollBarSetting vertical;
    ScrollBarSetting horizontal;
};

// A size event with the new client size.  The first one records the design
// size.  Each bar's range is how much of the design size no longer fits,
// its page a tenth of that.
//
// A position that no longer fits the new range is brought back into it, so
// that content scrolled away is never left where no bar can reach it (the
// window made larger again); the returned settings carry the positions, and
// the content must be placed at (-hscrollpos, -vscrollpos).
ScrollBarSettings scroll_size_event(ScrollState& state, int cx, int cy);

enum class ScrollCode {
    line_up,        // also line left
    line_down,      // also line right
    page_up,        // also page left
    page_down,      // also page right
    thumb_position, // the thumb was let go at a position
    thumb_track,    // the thumb is being dragged
};

// How far one scroll event moves the content, for a bar of range r = full -
// current size with the content scrolled by s; `thumb` is the thumb's
// position for the two thumb codes.  A line is a hundredth of the range and
// a page a tenth, each at least one pixel and never past either end.  No
// value means that nothing happens (already at that end).
std::optional<int> scroll_amount(ScrollCode code, int range, int scrolled, int thumb);

// A scroll event on the vertical or horizontal bar: the amount of
// scroll_amount, added to vscrollpos or hscrollpos.
std::optional<int> scroll_vertical(ScrollState& state, ScrollCode code, int thumb);
std::optional<int> scroll_horizontal(ScrollState& state, ScrollCode code, int thumb);

} // namespace vesk
