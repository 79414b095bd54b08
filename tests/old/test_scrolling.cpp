#include "ui/scrolling.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(Scrolling, TheFirstSizeIsTheDesignSize)
{
    ScrollState s;
    const ScrollBarSettings at_design = scroll_size_event(s, 618, 648);
    EXPECT_EQ(s.fullwidth, 618);
    EXPECT_EQ(s.fullheight, 648);
    EXPECT_EQ(at_design.vertical.maximum, 0);
    EXPECT_EQ(at_design.horizontal.maximum, 0);

    // Later sizes never change it, larger or smaller.
    scroll_size_event(s, 900, 900);
    scroll_size_event(s, 300, 200);
    EXPECT_EQ(s.fullwidth, 618);
    EXPECT_EQ(s.fullheight, 648);
    EXPECT_EQ(s.curwidth, 300);
    EXPECT_EQ(s.curheight, 200);
}

TEST(Scrolling, RangesAreWhatNoLongerFitsAndPagesATenth)
{
    ScrollState s;
    scroll_size_event(s, 618, 648);
    const ScrollBarSettings larger = scroll_size_event(s, 800, 700);
    EXPECT_EQ(larger.vertical.maximum, 0);
    EXPECT_EQ(larger.horizontal.maximum, 0);

    const ScrollBarSettings smaller = scroll_size_event(s, 500, 448);
    EXPECT_EQ(smaller.vertical.minimum, 0);
    EXPECT_EQ(smaller.vertical.maximum, 200);
    EXPECT_EQ(smaller.vertical.page, 20);
    EXPECT_EQ(smaller.vertical.position, 0);
    EXPECT_EQ(smaller.horizontal.maximum, 118);
    EXPECT_EQ(smaller.horizontal.page, 11);
}

TEST(Scrolling, ShrunkBy200LinesMove2AndPages20)
{
    ScrollState s;
    scroll_size_event(s, 618, 648);
    scroll_size_event(s, 618, 448);
    EXPECT_EQ(scroll_vertical(s, ScrollCode::line_down, 0), 2);
    EXPECT_EQ(s.vscrollpos, 2);
    EXPECT_EQ(scroll_vertical(s, ScrollCode::page_down, 0), 20);
    EXPECT_EQ(s.vscrollpos, 22);
    EXPECT_EQ(scroll_vertical(s, ScrollCode::line_up, 0), -2);
    EXPECT_EQ(scroll_vertical(s, ScrollCode::page_up, 0), -20);
    EXPECT_EQ(s.vscrollpos, 0);
    // Nothing to scroll horizontally: the width still fits.
    EXPECT_FALSE(scroll_horizontal(s, ScrollCode::line_down, 0).has_value());
    EXPECT_EQ(s.hscrollpos, 0);
}

TEST(Scrolling, AmountsAreAtLeastOnePixelAndStopAtTheEnds)
{
    // Range 5: a hundredth and a tenth are both 0, so one pixel.
    EXPECT_EQ(scroll_amount(ScrollCode::line_down, 5, 0, 0), 1);
    EXPECT_EQ(scroll_amount(ScrollCode::page_down, 5, 0, 0), 1);
    // Range 1000 scrolled to 995: only 5 are left.
    EXPECT_EQ(scroll_amount(ScrollCode::line_down, 1000, 995, 0), 5);
    EXPECT_EQ(scroll_amount(ScrollCode::page_down, 1000, 995, 0), 5);
    EXPECT_EQ(scroll_amount(ScrollCode::line_up, 1000, 7, 0), -7);
    EXPECT_EQ(scroll_amount(ScrollCode::page_up, 1000, 70, 0), -70);
    EXPECT_EQ(scroll_amount(ScrollCode::page_up, 1000, 170, 0), -100);
    // At an end nothing happens.
    EXPECT_FALSE(scroll_amount(ScrollCode::line_up, 1000, 0, 0).has_value());
    EXPECT_FALSE(scroll_amount(ScrollCode::page_up, 1000, 0, 0).has_value());
    EXPECT_FALSE(scroll_amount(ScrollCode::line_down, 1000, 1000, 0).has_value());
    EXPECT_FALSE(scroll_amount(ScrollCode::page_down, 1000, 1000, 0).has_value());
    // A window larger than its design has a negative difference: nothing.
    EXPECT_FALSE(scroll_amount(ScrollCode::line_down, -50, 0, 0).has_value());
}

TEST(Scrolling, TheThumbMovesTheContentToItsPosition)
{
    EXPECT_EQ(scroll_amount(ScrollCode::thumb_track, 200, 30, 120), 90);
    EXPECT_EQ(scroll_amount(ScrollCode::thumb_position, 200, 130, 10), -120);
    ScrollState s;
    scroll_size_event(s, 618, 648);
    scroll_size_event(s, 318, 648);
    EXPECT_EQ(scroll_horizontal(s, ScrollCode::thumb_track, 250), 250);
    EXPECT_EQ(s.hscrollpos, 250);
    EXPECT_EQ(scroll_horizontal(s, ScrollCode::line_down, 0), 3);
    EXPECT_EQ(s.hscrollpos, 253);
}

TEST(Scrolling, GrowingTheWindowBringsScrolledContentBack)
{
    ScrollState s;
    scroll_size_event(s, 618, 648);
    scroll_size_event(s, 618, 448);
    scroll_vertical(s, ScrollCode::thumb_track, 150);
    // 100 pixels more room: the range is 100, the content is scrolled at
    // most that far, and the thumb shows it.
    const ScrollBarSettings grown = scroll_size_event(s, 618, 548);
    EXPECT_EQ(s.vscrollpos, 100);
    EXPECT_EQ(grown.vertical.position, 100);
    // Back at the design size nothing is hidden any more.
    const ScrollBarSettings full = scroll_size_event(s, 618, 648);
    EXPECT_EQ(s.vscrollpos, 0);
    EXPECT_EQ(full.vertical.maximum, 0);
    // A scroll position that still fits is kept.
    scroll_size_event(s, 618, 448);
    scroll_vertical(s, ScrollCode::thumb_track, 40);
    scroll_size_event(s, 618, 500);
    EXPECT_EQ(s.vscrollpos, 40);
}

} // namespace
} // namespace vesk
