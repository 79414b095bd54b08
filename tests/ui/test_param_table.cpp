// The table of the fifteen parameters: the record's defaults, the batch
// writer's text of them, every row through the writer and the reader, the
// Reset action, the semitone factor and the engine's parameters.
#include <climits>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "record_tables.h"
#include "ui/run.h"

namespace vesk {
namespace {

using test::all_changed;
using test::read_text;

TEST(ParamTable, TheDefaultRecordWritesExactlyTheFifteenDefaultLines)
{
    EXPECT_EQ(batch::write_batch(ParamRecord{}),
              "inpwavname   inp.wav\n"
              "outwavname   out.wav\n"
              "fssrc   48000\n"
              "ensrc   FALSE\n"
              "fssim   4.800000e+004\n"
              "bitnr   24\n"
              "aperture   0.000000e+000\n"
              "fcloin   0.000000e+000\n"
              "fchiin   2.400000e+004\n"
              "fcloout   0.000000e+000\n"
              "fchiout   2.400000e+004\n"
              "varispeedt   1.000000e+000\n"
              "varispeedf   1.000000e+000\n"
              "varispeedsh   FALSE\n"
              "jitteramp   0.000000e+000\n");
}

TEST(ParamTable, EveryRowRoundTripsThroughTheWriterAndTheReader)
{
    const ParamRecord changed = all_changed();
    EXPECT_EQ(read_text(batch::write_batch(changed)), changed);
    // And back: the default text restores every field the changed record had.
    EXPECT_EQ(read_text(batch::write_batch(ParamRecord{}), changed), ParamRecord{});
    // Row by row, so that a row whose keyword reads into another row's field
    // is named.
    for (const ParamInfo& p : param_table()) {
        ParamRecord one;
        std::visit([&](auto member) { one.*member = changed.*member; }, p.member);
        const std::string text = batch::write_batch(one);
        EXPECT_EQ(read_text(text), one) << p.keyword << " in\n" << text;
        EXPECT_NE(("\n" + text).find("\n" + std::string(p.keyword) + "   "), text.npos) << p.keyword;
    }
}

TEST(ParamTable, ResetRestoresEveryDefaultButThePaths)
{
    ParamRecord record = all_changed();
    reset_keeping_paths(record);
    ParamRecord expected;
    expected.inpwavname = all_changed().inpwavname;
    expected.outwavname = all_changed().outwavname;
    EXPECT_EQ(record, expected);
}

// The closed form 2^(n/12) in long double; each of the |n| steps rounds
// once to double (relative error at most 2^-53), so n steps stay within
// |n| * 2^-53 of it, plus the ratio's own rounding, also 2^-53 per step.
TEST(SemitoneFactor, NStepsAreNRoundedProductsOfTheRatioAndStayNearTwoToTheNOver12)
{
    const long double exact_ratio = std::pow(2.0L, 1.0L / 12.0L);
    EXPECT_LE(std::fabs(semitone_ratio - exact_ratio), std::ldexp(1.0L, -53)) << "ratio " << semitone_ratio;
    EXPECT_EQ(semitone_factor(0), 1.0);
    for (int n = -400; n <= 400; ++n) {
        const double f = semitone_factor(n);
        const double next = n < 0 ? semitone_factor(n + 1) / semitone_ratio : semitone_factor(n - 1) * semitone_ratio;
        if (n != 0)
            ASSERT_EQ(f, next) << "n = " << n << ": one more step is one more rounded product";
        const long double exact = std::pow(2.0L, n / 12.0L);
        const long double limit = 2.0L * std::abs(n) * std::ldexp(1.0L, -53) * exact;
        ASSERT_LE(std::fabs(f - exact), limit) << "n = " << n << ", factor " << f;
    }
    // Twelve rounded steps land just above the octave, not on it.
    EXPECT_GT(semitone_factor(12), 2.0);
    EXPECT_LT(semitone_factor(-12), 0.5);
}

TEST(SemitoneFactor, CountsNearTheIntRangeSaturateAtOnce)
{
    EXPECT_EQ(semitone_factor(INT_MAX), INFINITY);
    // Dividing by the ratio ends at the smallest value that a division
    // rounds back to itself; a count of any size below that ends there too.
    const double floor_value = semitone_factor(INT_MIN);
    EXPECT_EQ(floor_value / semitone_ratio, floor_value);
    EXPECT_EQ(semitone_factor(-20000), floor_value);
    EXPECT_GT(semitone_factor(-12000), floor_value);
}

TEST(EngineParams, EveryFieldReachesTheEngineAndTheRateConversionOnlyWhenItIsOn)
{
    ParamRecord r = all_changed();
    r.varispeedsh = 2; // any non-zero hold switch is on
    const Params on = engine_params(r);
    EXPECT_EQ(on.inpwavname, r.inpwavname);
    EXPECT_EQ(on.outwavname, r.outwavname);
    EXPECT_EQ(on.fs, r.fssrc);
    EXPECT_EQ(on.bitnr, r.bitnr);
    const double Params::*reals[] = {&Params::fssim, &Params::aperture, &Params::fcloin, &Params::fchiin,
                                     &Params::fcloout, &Params::fchiout, &Params::varispeedt,
                                     &Params::varispeedf, &Params::jitteramp};
    const double ParamRecord::*fields[] = {&ParamRecord::fssim, &ParamRecord::aperture, &ParamRecord::fcloin,
                                           &ParamRecord::fchiin, &ParamRecord::fcloout, &ParamRecord::fchiout,
                                           &ParamRecord::varispeedt, &ParamRecord::varispeedf,
                                           &ParamRecord::jitteramp};
    for (std::size_t i = 0; i < std::size(reals); ++i)
        EXPECT_EQ(on.*reals[i], r.*fields[i]) << "real number " << i;
    EXPECT_EQ(on.varispeedsh, 1);
    r.ensrc = 0;
    r.varispeedsh = 0;
    EXPECT_EQ(engine_params(r).fs, 0u) << "rate conversion off keeps the input's rate";
    EXPECT_EQ(engine_params(r).varispeedsh, 0);
}

} // namespace
} // namespace vesk
