#include "ui/steps.h"

#include <climits>
#include <map>

#include <gtest/gtest.h>

#include "ui/control_ids.h"
#include "ui/exchange.h"

namespace vesk {
namespace {

TEST(SpinSteps, EachSemitoneSpinStepsItsOwnField)
{
    const std::map<int, double ParamRecord::*> expected = {
        {1021, &ParamRecord::varispeedt}, {1022, &ParamRecord::varispeedf},
        {1023, &ParamRecord::fssim},      {1027, &ParamRecord::fcloin},
        {1026, &ParamRecord::fchiin},     {1024, &ParamRecord::fcloout},
        {1025, &ParamRecord::fchiout},
    };
    std::map<int, double ParamRecord::*> actual;
    for (const SemitoneSpin& s : semitone_spins())
        actual[s.spin] = s.field;
    EXPECT_EQ(actual, expected);
}

TEST(SpinSteps, TheUpperArrowRaisesBySemitones)
{
    EXPECT_EQ(semitone_step(48000.0, -1), 48000.0 * 1.0594630943592953);
    EXPECT_EQ(semitone_step(24000.0, +1), 24000.0 / 1.0594630943592953);
    EXPECT_EQ(semitone_step(1.0, -3), semitone_factor(3));
    EXPECT_EQ(semitone_step(1.0, +3), semitone_factor(-3));
    EXPECT_EQ(semitone_step(0.0, -1), 0.0);
    EXPECT_EQ(semitone_step(0.0, +1), 0.0);
    EXPECT_EQ(semitone_step(2.0, 0), 2.0);
    // The largest step there is neither overflows nor hangs.
    EXPECT_EQ(semitone_step(1.0, INT_MIN), semitone_factor(INT_MAX));
}

TEST(SpinSteps, FifteenDigitTextsOfOneStep)
{
    EXPECT_EQ(format_real(semitone_step(48000.0, -1)), "50854.2285292462");
    EXPECT_EQ(format_real(semitone_step(24000.0, +1)), "22652.9835043606");
}

TEST(SpinSteps, TwelveStepsThroughTheDisplayEndJustBelowTheOctave)
{
    // Each click shows the field with 15 digits and takes it back.
    double value = 48000.0;
    for (int i = 0; i < 12; ++i)
        value = *parse_real(format_real(semitone_step(value, -1)));
    EXPECT_EQ(format_real(value), "95999.9999999999");
    EXPECT_EQ(value, 95999.9999999999);
}

TEST(SpinSteps, BitCountStaysWithinOneTo24)
{
    EXPECT_EQ(bitnr_step(24, -1), 24u); // raised at the top
    EXPECT_EQ(bitnr_step(1, +1), 1u);   // lowered at the bottom
    EXPECT_EQ(bitnr_step(23, -1), 24u);
    EXPECT_EQ(bitnr_step(2, +1), 1u);
    EXPECT_EQ(bitnr_step(16, -1), 17u);
    EXPECT_EQ(bitnr_step(16, +1), 15u);
    EXPECT_EQ(bitnr_step(30, +1), 24u); // a typed 30 lowered once
    EXPECT_EQ(bitnr_step(0, -1), 1u);   // a typed 0 raised once
    EXPECT_EQ(bitnr_step(0, +1), 1u);
    EXPECT_EQ(bitnr_step(8, -5), 13u);  // an accelerated step
    // Counts beyond the signed range read as negative ones.
    EXPECT_EQ(bitnr_step(4294967295u, -1), 1u);
    EXPECT_EQ(bitnr_step(2147483648u, +1), 24u);
    EXPECT_EQ(bitnr_step(100, INT_MAX), 1u);
}

} // namespace
} // namespace vesk
