#include "ui/params.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(ParamRecord, DefaultsAreTheFreshWindowValues)
{
    const ParamRecord r;
    EXPECT_EQ(r.inpwavname, "inp.wav");
    EXPECT_EQ(r.outwavname, "out.wav");
    EXPECT_EQ(r.fssrc, 48000u);
    EXPECT_EQ(r.ensrc, 0);
    EXPECT_EQ(r.fssim, 48000.0);
    EXPECT_EQ(r.bitnr, 24u);
    EXPECT_EQ(r.aperture, 0.0);
    EXPECT_EQ(r.fcloin, 0.0);
    EXPECT_EQ(r.fchiin, 24000.0);
    EXPECT_EQ(r.fcloout, 0.0);
    EXPECT_EQ(r.fchiout, 24000.0);
    EXPECT_EQ(r.varispeedt, 1.0);
    EXPECT_EQ(r.varispeedf, 1.0);
    EXPECT_EQ(r.varispeedsh, 0);
    EXPECT_EQ(r.jitteramp, 0.0);
    EXPECT_EQ(max_path_length, 256u);
}

ParamRecord all_changed()
{
    ParamRecord r;
    r.inpwavname = "C:\\music\\take 1.wav";
    r.outwavname = "/tmp/result out.wav";
    r.fssrc = 44100;
    r.ensrc = 1;
    r.fssim = 11025.0;
    r.bitnr = 8;
    r.aperture = 0.5;
    r.fcloin = 20.0;
    r.fchiin = 15000.0;
    r.fcloout = 40.0;
    r.fchiout = 12000.0;
    r.varispeedt = 1.5;
    r.varispeedf = 0.75;
    r.varispeedsh = 1;
    r.jitteramp = 0.01;
    return r;
}

TEST(ParamRecord, ResetRestoresEverythingButThePaths)
{
    ParamRecord r = all_changed();
    reset_keeping_paths(r);

    ParamRecord expected;
    expected.inpwavname = "C:\\music\\take 1.wav";
    expected.outwavname = "/tmp/result out.wav";
    EXPECT_EQ(r, expected);
}

TEST(ParamRecord, ResetOfDefaultsChangesNothing)
{
    ParamRecord r;
    reset_keeping_paths(r);
    EXPECT_EQ(r, ParamRecord{});
}

TEST(ParamRecord, EqualityLooksAtEveryField)
{
    // The batch tests compare whole records; make sure a difference in any
    // one field is seen.
    const ParamRecord base;
    const ParamRecord changed = all_changed();
    std::vector<ParamRecord> one_off(15, base);
    one_off[0].inpwavname = changed.inpwavname;
    one_off[1].outwavname = changed.outwavname;
    one_off[2].fssrc = changed.fssrc;
    one_off[3].ensrc = changed.ensrc;
    one_off[4].fssim = changed.fssim;
    one_off[5].bitnr = changed.bitnr;
    one_off[6].aperture = changed.aperture;
    one_off[7].fcloin = changed.fcloin;
    one_off[8].fchiin = changed.fchiin;
    one_off[9].fcloout = changed.fcloout;
    one_off[10].fchiout = changed.fchiout;
    one_off[11].varispeedt = changed.varispeedt;
    one_off[12].varispeedf = changed.varispeedf;
    one_off[13].varispeedsh = changed.varispeedsh;
    one_off[14].jitteramp = changed.jitteramp;
    for (std::size_t i = 0; i < one_off.size(); ++i)
        EXPECT_NE(one_off[i], base) << "field " << i;
}

// The plain loop, with no shortcut, for comparison.
double reference_factor(long long n)
{
    double f = 1.0;
    for (long long i = 0; i < n; ++i)
        f *= semitone_ratio;
    for (long long i = 0; i < -n; ++i)
        f /= semitone_ratio;
    return f;
}

TEST(SemitoneFactor, SmallCounts)
{
    struct Case {
        int n;
        double expected;
    };
    const Case cases[] = {
        {0, 1.0},
        {1, 1.0594630943592953},
        {-1, 1.0 / 1.0594630943592953},
        {2, 1.0594630943592953 * 1.0594630943592953},
        {-2, (1.0 / 1.0594630943592953) / 1.0594630943592953},
    };
    for (const Case& c : cases)
        EXPECT_EQ(semitone_factor(c.n), c.expected) << "n = " << c.n;
    EXPECT_EQ(semitone_ratio, 1.0594630943592953);
}

TEST(SemitoneFactor, AnOctaveIsNotExactlyTwo)
{
    // Twelve rounded steps miss the octave by a few units in the last place.
    const double up = semitone_factor(12);
    EXPECT_NE(up, 2.0);
    EXPECT_GT(up, 2.0);
    EXPECT_LT(up, 2.0 + 8 * std::numeric_limits<double>::epsilon() * 2.0);
    EXPECT_EQ(up, reference_factor(12));
    EXPECT_NEAR(up, 2.0, 1e-14);

    const double down = semitone_factor(-12);
    EXPECT_NE(down, 0.5);
    EXPECT_NEAR(down, 0.5, 1e-15);
    EXPECT_EQ(down, reference_factor(-12));

    // 48000 an octave up by steps is just above 96000, which shows as 96000.
    const double fs = 48000.0 * up;
    EXPECT_GT(fs, 96000.0);
    EXPECT_LT(fs, 96000.0 + 1e-9);
}

TEST(SemitoneFactor, EqualsThePlainLoopOverTheWholeRange)
{
    // Up to and past the points where the product overflows (about 12300
    // steps up) and where the quotient stops changing (about 12900 down).
    double up = 1.0;
    double down = 1.0;
    for (int n = 1; n <= 14000; ++n) {
        up *= semitone_ratio;
        down /= semitone_ratio;
        if (n % 7 == 0 || (n > 12200 && n < 13100)) {
            ASSERT_EQ(semitone_factor(n), up) << "n = " << n;
            ASSERT_EQ(semitone_factor(-n), down) << "n = " << -n;
        }
    }
    EXPECT_TRUE(std::isinf(up));
    EXPECT_GT(down, 0.0); // the smallest subnormals divide back to themselves
}

TEST(SemitoneFactor, HugeCountsReturnQuickly)
{
    const auto start = std::chrono::steady_clock::now();
    const double up = semitone_factor(INT_MAX);
    const double down = semitone_factor(-INT_MAX);
    const double lowest = semitone_factor(INT_MIN);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(std::isinf(up));
    EXPECT_GT(up, 0.0);
    // Division never reaches 0 by rounding to nearest: a handful of the
    // smallest subnormal steps divide back to themselves.  The full loop ends
    // at the same value, which is what 20000 steps already show.
    EXPECT_EQ(down, reference_factor(-20000));
    EXPECT_EQ(lowest, down);
    EXPECT_GT(down, 0.0);
    EXPECT_LT(down, 16 * std::numeric_limits<double>::denorm_min());
    EXPECT_LT(std::chrono::duration<double>(elapsed).count(), 2.0);
}

} // namespace
} // namespace vesk
