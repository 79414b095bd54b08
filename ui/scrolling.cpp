#include "ui/scrolling.h"

#include <algorithm>

namespace vesk {

namespace {

ScrollBarSetting bar_for(int full, int current, int& scrolled)
{
    const int range = std::max(0, full - current);
    scrolled = std::clamp(scrolled, 0, range);
    return ScrollBarSetting{0, range, range / 10, scrolled};
}

std::optional<int> scroll_by(int range, int& scrolled, ScrollCode code, int thumb)
{
    const std::optional<int> amount = scroll_amount(code, range, scrolled, thumb);
    if (amount)
        scrolled += *amount;
    return amount;
}

} // namespace

ScrollBarSettings scroll_size_event(ScrollState& state, int cx, int cy)
{
    if (state.fullheight <= 0 || state.fullwidth <= 0) {
        state.fullheight = cy;
        state.fullwidth = cx;
    }
    state.curheight = cy;
    state.curwidth = cx;
    ScrollBarSettings settings;
    settings.vertical = bar_for(state.fullheight, cy, state.vscrollpos);
    settings.horizontal = bar_for(state.fullwidth, cx, state.hscrollpos);
    return settings;
}

std::optional<int> scroll_amount(ScrollCode code, int range, int scrolled, int thumb)
{
    const int line = std::max(range / 100, 1);
    const int page = std::max(range / 10, 1);
    switch (code) {
    case ScrollCode::line_up:
    case ScrollCode::page_up:
        if (scrolled <= 0)
            return std::nullopt;
        return -std::min(code == ScrollCode::line_up ? line : page, scrolled);
    case ScrollCode::line_down:
    case ScrollCode::page_down:
        if (scrolled >= range)
            return std::nullopt;
        return std::min(code == ScrollCode::line_down ? line : page, range - scrolled);
    case ScrollCode::thumb_position:
    case ScrollCode::thumb_track:
        return thumb - scrolled;
    }
    return std::nullopt;
}

std::optional<int> scroll_vertical(ScrollState& state, ScrollCode code, int thumb)
{
    return scroll_by(state.fullheight - state.curheight, state.vscrollpos, code, thumb);
}

std::optional<int> scroll_horizontal(ScrollState& state, ScrollCode code, int thumb)
{
    return scroll_by(state.fullwidth - state.curwidth, state.hscrollpos, code, thumb);
}

} // namespace vesk
