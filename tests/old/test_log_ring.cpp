// The Processing window's ring of the last 24 log lines.
#include <gtest/gtest.h>

#include <string>

#include "ui/log_ring.h"

namespace {

using vesk::LogRing;

std::string numbered(int i)
{
    return "line " + std::to_string(i) + "\n";
}

// Lines first to last, joined.
std::string numbered(int first, int last)
{
    std::string text;
    for (int i = first; i <= last; ++i)
        text += numbered(i);
    return text;
}

TEST(LogRing, StartsEmptyAtSlotZero)
{
    const LogRing ring;
    EXPECT_EQ(ring.logindex(), 0);
    EXPECT_EQ(ring.joined(), "");
    for (const std::string& line : ring.loglines())
        EXPECT_TRUE(line.empty());
}

TEST(LogRing, KeepsLinesInTheOrderTheyCame)
{
    LogRing ring;
    ring.append("input: 10\n");
    ring.append("output: 10\n");
    EXPECT_EQ(ring.logindex(), 2);
    EXPECT_EQ(ring.loglines()[0], "input: 10\n");
    EXPECT_EQ(ring.loglines()[1], "output: 10\n");
    EXPECT_EQ(ring.joined(), "input: 10\noutput: 10\n");
}

TEST(LogRing, TheTwentyFifthLinePushesOutTheFirst)
{
    LogRing ring;
    for (int i = 1; i <= 24; ++i)
        ring.append(numbered(i));
    EXPECT_EQ(ring.logindex(), 0);
    EXPECT_EQ(ring.joined(), numbered(1, 24));

    ring.append(numbered(25));
    EXPECT_EQ(ring.logindex(), 1);
    EXPECT_EQ(ring.loglines()[0], numbered(25));
    EXPECT_EQ(ring.joined(), numbered(2, 25));
}

TEST(LogRing, ManyLinesLeaveTheLast24OldestFirst)
{
    LogRing ring;
    for (int i = 1; i <= 100; ++i)
        ring.append(numbered(i));
    // After an append logindex is the slot of the oldest line.
    EXPECT_EQ(ring.logindex(), 100 % 24);
    EXPECT_EQ(ring.loglines()[ring.logindex()], numbered(77));
    EXPECT_EQ(ring.joined(), numbered(77, 100));
}

TEST(LogRing, ALineWithoutNewlineRunsOnIntoTheNext)
{
    LogRing ring;
    ring.append("wav-in: warning, no samples");
    ring.append("input:       0 samples\n");
    EXPECT_EQ(ring.joined(), "wav-in: warning, no samples" "input:       0 samples\n");
}

TEST(LogRing, ClearEmptiesEverySlotAndStartsAgainAtZero)
{
    LogRing ring;
    for (int i = 1; i <= 30; ++i)
        ring.append(numbered(i));
    ring.clear();
    EXPECT_EQ(ring.logindex(), 0);
    EXPECT_EQ(ring.joined(), "");
    ring.append("fresh\n");
    EXPECT_EQ(ring.joined(), "fresh\n");
}

} // namespace
