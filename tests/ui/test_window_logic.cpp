// What the main window's spin buttons and scroll bars and the Processing
// window's log do, without a window.
#include <climits>
#include <cmath>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ui/control_ids.h"
#include "ui/log_ring.h"
#include "ui/scrolling.h"
#include "ui/steps.h"

namespace vesk {
namespace {

TEST(SpinSteps, EachSemitoneSpinStepsItsOwnField)
{
    namespace c = control;
    using R = ParamRecord;
    const SemitoneSpin expected[] = {
        {c::fssim_spin, &R::fssim},       {c::fcloin_spin, &R::fcloin},         {c::fchiin_spin, &R::fchiin},
        {c::fcloout_spin, &R::fcloout},   {c::fchiout_spin, &R::fchiout},       {c::varispeedt_spin, &R::varispeedt},
        {c::varispeedf_spin, &R::varispeedf},
    };
    ASSERT_EQ(semitone_spins().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(semitone_spins()[i].spin, expected[i].spin) << i;
        EXPECT_TRUE(semitone_spins()[i].field == expected[i].field) << "spin " << expected[i].spin;
    }
}

// The upper arrow reports d = -1 and raises the value.
TEST(SpinSteps, TheUpperArrowRaisesAndTheLowerLowersBySemitones)
{
    const struct {
        int d;
        double expected;
    } rows[] = {
        {-1, 48000.0 * semitone_ratio},  {1, 48000.0 / semitone_ratio},     {-3, 48000.0 * semitone_factor(3)},
        {12, 48000.0 * semitone_factor(-12)}, {0, 48000.0},              {INT_MIN, INFINITY},
        {INT_MAX, 48000.0 * semitone_factor(-INT_MAX)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(semitone_step(48000.0, row.d), row.expected) << "d = " << row.d;
}

TEST(SpinSteps, TheBitCountStepsAsA32BitIntegerAndStaysWithin1To24)
{
    const struct {
        uint32_t bitnr;
        int d;
        uint32_t expected;
    } rows[] = {
        {16, -1, 17}, {16, 1, 15}, {23, -1, 24}, {24, -1, 24}, {2, 1, 1},         {1, 1, 1},
        {0, -1, 1},   {0, 1, 1},   {5, -30, 24}, {100, 1, 24}, {3000000000u, -1, 1}, {24, INT_MIN, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(bitnr_step(row.bitnr, row.d), row.expected) << row.bitnr << " stepped by " << row.d;
}

TEST(Scrolling, ABarOfRangeRMovesByAHundredthALineAndATenthAPageNeverPastAnEnd)
{
    using S = ScrollCode;
    const struct {
        S code;
        int range, scrolled, thumb;
        std::optional<int> expected;
    } rows[] = {
        {S::line_down, 1000, 0, 0, 10},    {S::line_down, 50, 0, 0, 1},      {S::line_down, 1000, 995, 0, 5},
        {S::line_down, 1000, 1000, 0, {}}, {S::page_down, 1000, 0, 0, 100},  {S::page_down, 1000, 950, 0, 50},
        {S::page_down, 5, 0, 0, 1},        {S::page_down, 5, 5, 0, {}},      {S::line_up, 1000, 0, 0, {}},
        {S::line_up, 1000, 5, 0, -5},      {S::line_up, 1000, 500, 0, -10},  {S::page_up, 1000, 950, 0, -100},
        {S::page_up, 1000, 30, 0, -30},    {S::thumb_position, 1000, 300, 700, 400},
        {S::thumb_track, 1000, 300, 100, -200},
    };
    for (const auto& row : rows)
        EXPECT_EQ(scroll_amount(row.code, row.range, row.scrolled, row.thumb), row.expected)
            << "code " << int(row.code) << ", range " << row.range << ", scrolled " << row.scrolled;
}

TEST(Scrolling, TheFirstSizeIsTheDesignSizeAndLaterSizesSetRangePageAndPosition)
{
    ScrollState state;
    ScrollBarSettings s = scroll_size_event(state, 800, 600);
    EXPECT_EQ(s.vertical.maximum, 0);
    EXPECT_EQ(s.horizontal.maximum, 0);
    s = scroll_size_event(state, 600, 550);
    EXPECT_EQ(s.horizontal.maximum, 200);
    EXPECT_EQ(s.horizontal.page, 20);
    EXPECT_EQ(s.vertical.maximum, 50);
    EXPECT_EQ(s.vertical.page, 5);

    EXPECT_EQ(scroll_vertical(state, ScrollCode::page_down, 0), 5);
    EXPECT_EQ(scroll_horizontal(state, ScrollCode::page_down, 0), 20);
    EXPECT_EQ(scroll_vertical(state, ScrollCode::thumb_position, 50), 45);
    EXPECT_EQ(state.vscrollpos, 50);
    EXPECT_EQ(state.hscrollpos, 20);
    EXPECT_EQ(scroll_vertical(state, ScrollCode::line_down, 0), std::nullopt);

    // Made larger again, the content scrolled away comes back into reach.
    s = scroll_size_event(state, 590, 580);
    EXPECT_EQ(s.vertical.maximum, 20);
    EXPECT_EQ(s.vertical.position, 20);
    EXPECT_EQ(state.vscrollpos, 20);
    EXPECT_EQ(s.horizontal.position, 20);
    s = scroll_size_event(state, 900, 700);
    EXPECT_EQ(s.vertical.maximum, 0);
    EXPECT_EQ(state.vscrollpos, 0);
    EXPECT_EQ(state.hscrollpos, 0);
    EXPECT_EQ(state.fullwidth, 800);
}

std::string lines(int from, int to)
{
    std::string text;
    for (int i = from; i < to; ++i)
        text += "L" + std::to_string(i) + "\n";
    return text;
}

TEST(LogRing, KeepsTheLast24LinesOldestFirst)
{
    LogRing ring;
    EXPECT_EQ(ring.joined(), "");
    for (int n = 0; n < 60; ++n) {
        const int from = n > LogRing::size ? n - LogRing::size : 0;
        ASSERT_EQ(ring.joined(), lines(from, n)) << n << " lines";
        ASSERT_EQ(ring.logindex(), n % LogRing::size) << n << " lines";
        ring.append("L" + std::to_string(n) + "\n");
    }
}

TEST(LogRing, ALineWithoutNewlineRunsOnIntoTheNext)
{
    LogRing ring;
    ring.append("a");
    ring.append("b\n");
    EXPECT_EQ(ring.joined(), "ab\n");
}

TEST(LogRing, ClearEmptiesEverySlotAndStartsAgainAtSlotZero)
{
    LogRing ring;
    for (int n = 0; n < 30; ++n)
        ring.append("L" + std::to_string(n) + "\n");
    ring.clear();
    EXPECT_EQ(ring.joined(), "");
    EXPECT_EQ(ring.logindex(), 0);
    ring.append("x\n");
    EXPECT_EQ(ring.loglines()[0], "x\n");
}

} // namespace
} // namespace vesk
