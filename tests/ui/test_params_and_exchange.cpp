// The parameter table, the semitone factor, the engine's parameters, and the
// exchange between the window's controls and the record.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>

#include <gtest/gtest.h>

#include "record_tables.h"
#include "ui/control_ids.h"
#include "ui/exchange.h"
#include "ui/run.h"

namespace vesk {
namespace {

using test::all_changed;
using test::read_text;

TEST(ParamTable, TheDefaultsWriteTheFifteenDefaultLinesAndEveryRowRoundTrips)
{
    EXPECT_EQ(batch::write_batch(ParamRecord{}),
              "inpwavname   inp.wav\noutwavname   out.wav\nfssrc   48000\nensrc   FALSE\n"
              "fssim   4.800000e+004\nbitnr   24\naperture   0.000000e+000\nfcloin   0.000000e+000\n"
              "fchiin   2.400000e+004\nfcloout   0.000000e+000\nfchiout   2.400000e+004\n"
              "varispeedt   1.000000e+000\nvarispeedf   1.000000e+000\nvarispeedsh   FALSE\n"
              "jitteramp   0.000000e+000\n");
    const ParamRecord changed = all_changed();
    EXPECT_EQ(read_text(batch::write_batch(changed)), changed);
    EXPECT_EQ(read_text(batch::write_batch(ParamRecord{}), changed), ParamRecord{});
    // Row by row, so that a row reading into another row's field is named.
    for (const ParamInfo& p : param_table()) {
        ParamRecord one;
        std::visit([&](auto member) { one.*member = changed.*member; }, p.member);
        const std::string text = batch::write_batch(one);
        EXPECT_EQ(read_text(text), one) << p.keyword << " in\n" << text;
    }
}

TEST(ParamTable, ResetRestoresEveryDefaultButThePathsAndAFlagOtherThanOneIsWrittenFalse)
{
    ParamRecord record = all_changed(), flag_two;
    reset_keeping_paths(record);
    EXPECT_EQ(record, read_text("inpwavname " + all_changed().inpwavname + "\noutwavname " + all_changed().outwavname));
    flag_two.ensrc = 2; // a flag is written TRUE only when it is 1
    EXPECT_EQ(batch::write_batch(flag_two), batch::write_batch(ParamRecord{}));
}

// The closed form 2^(n/12) in long double; each of the |n| steps rounds
// once to double (relative error at most 2^-53), and the ratio itself is
// within 2^-53 of its exact value, so n steps stay within 2|n| 2^-53.
TEST(SemitoneFactor, NStepsAreNRoundedProductsOfTheRatioAndStayNearTwoToTheNOver12)
{
    EXPECT_LE(std::fabs(semitone_ratio - std::pow(2.0L, 1.0L / 12.0L)), std::ldexp(1.0L, -53));
    for (int n = -400; n <= 400; ++n) {
        const double f = semitone_factor(n);
        if (n != 0) {
            ASSERT_EQ(f, n < 0 ? semitone_factor(n + 1) / semitone_ratio : semitone_factor(n - 1) * semitone_ratio)
                << "n = " << n << ": one more step is one more rounded product";
        }
        const long double exact = std::pow(2.0L, n / 12.0L), limit = 2.0L * std::abs(n) * std::ldexp(exact, -53);
        ASSERT_LE(std::fabs(f - exact), limit) << "n = " << n << ", factor " << f;
    }
    EXPECT_GT(semitone_factor(12), 2.0); // twelve rounded steps land just above the octave
    EXPECT_EQ(semitone_factor(INT_MAX), INFINITY);
    const double floor_value = semitone_factor(INT_MIN); // where a division rounds back to itself
    EXPECT_TRUE(floor_value / semitone_ratio == floor_value && semitone_factor(-20000) == floor_value &&
                semitone_factor(-12000) > floor_value) << floor_value;
}

TEST(EngineParams, EveryFieldReachesTheEngineAndTheRateConversionOnlyWhenItIsOn)
{
    ParamRecord r = all_changed();
    r.varispeedsh = 2; // any non-zero hold switch is on
    const Params p = engine_params(r);
    EXPECT_TRUE(p.inpwavname == r.inpwavname && p.outwavname == r.outwavname && p.fs == r.fssrc &&
                p.bitnr == r.bitnr && p.varispeedsh == 1 && p.fssim == r.fssim && p.aperture == r.aperture &&
                p.fcloin == r.fcloin && p.fchiin == r.fchiin && p.fcloout == r.fcloout && p.fchiout == r.fchiout &&
                p.varispeedt == r.varispeedt && p.varispeedf == r.varispeedf && p.jitteramp == r.jitteramp);
    r.ensrc = 0, r.varispeedsh = 0;
    EXPECT_TRUE(engine_params(r).fs == 0 && engine_params(r).varispeedsh == 0) << "rate conversion off: fs 0";
}

namespace c = control;

// The window's controls as plain values, showing `record`.
struct FakeControls : ExchangeControls {
    explicit FakeControls(const ParamRecord& record) { show(record, *this); }
    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    std::string text(int control) const override { return texts.at(control); }
    void set_text(int control, const std::string& text) override { texts[control] = text; }
    bool checked(int control) const override { return checks.at(control); }
    void set_checked(int control, bool on) override { checks[control] = on; }
};

TEST(Exchange, WhatShowWritesTakeReadsBackAndAFlagIsCheckedOnlyWhenItIsOne)
{
    ParamRecord changed = all_changed(), record;
    EXPECT_FALSE(take(FakeControls(changed), record).has_value());
    EXPECT_EQ(record, changed);
    changed.ensrc = 2;
    EXPECT_TRUE(FakeControls(changed).texts.at(c::fcloout_edit) == "10.25" && !FakeControls(changed).checks.at(c::ensrc_check));
}

// The fields are taken in the window's order; a refused text leaves its own
// field and every later one as they were, and names its control.
TEST(Exchange, TakeStopsAtTheFirstRefusedTextAndNamesItsControl)
{
    const std::tuple<int, std::string, FieldKind> rows[] = {
        {c::inpwavname_edit, std::string(257, 'p'), FieldKind::path}, {c::fssrc_edit, "-1", FieldKind::unsigned_number},
        {c::fssim_edit, "abc", FieldKind::real}, {c::bitnr_edit, "1.5", FieldKind::unsigned_number},
        {c::jitteramp_edit, "inf", FieldKind::real}};
    for (const auto& [control, text, kind] : rows) {
        FakeControls controls(all_changed());
        controls.texts[control] = text;
        ParamRecord record;
        const std::optional<TakeFailure> failure = take(controls, record);
        ASSERT_TRUE(failure.has_value()) << text;
        EXPECT_TRUE(failure->control == control && failure->kind == kind) << text;
        bool before = true;
        for (const ParamInfo& p : param_table()) {
            before = before && p.edit != control;
            std::visit([&](auto m) { EXPECT_EQ(record.*m, (before ? all_changed() : ParamRecord{}).*m) << p.keyword; },
                       p.member);
        }
    }
}

TEST(Exchange, NumberTextsAreFiniteCLocaleRealsOrDecimalsTo4294967295AndRealsShowAsPercent15g)
{
    const std::pair<const char*, std::optional<double>> reals[] = {
        {" \t-2e3\n", -2000.0}, {"+.25", 0.25}, {"1e-310", 1e-310}, {"1,5", {}}, {"", {}}, {"+", {}}, {"+-1", {}},
        {"3 4", {}}, {"0x10", {}}, {"inf", {}}, {"-infinity", {}}, {"nan", {}}, {"1e999", {}}};
    for (const auto& [text, expected] : reals)
        EXPECT_EQ(parse_real(text), expected) << '"' << text << '"';
    const std::pair<const char*, std::optional<uint32_t>> unsigneds[] = {
        {"0", 0u}, {"4294967295", 4294967295u}, {" +48000 ", 48000u}, {"007", 7u}, {"4294967296", {}},
        {"-1", {}}, {"1.0", {}}, {"0x10", {}}, {"", {}}, {"1 2", {}}};
    for (const auto& [text, expected] : unsigneds)
        EXPECT_EQ(parse_unsigned(text), expected) << '"' << text << '"';
    EXPECT_EQ(format_unsigned(4294967295u), "4294967295");
    // Reals are shown as the C library's own "%.15g" (the tests run in the C locale).
    std::mt19937_64 rng(71);
    for (int i = 0; i < 2000; ++i) {
        const uint64_t bits = i == 0 ? 0x430c6bf526340000u : rng(); // 1e15 first: its exponent form begins there
        double v;
        char expected[64];
        std::memcpy(&v, &bits, sizeof v), std::snprintf(expected, sizeof expected, "%.15g", v);
        if (std::isfinite(v)) {
            ASSERT_EQ(format_real(v), expected);
        }
    }
}

// A path's length is counted in characters wherever it is checked.
TEST(Exchange, PathLengthsAreCountedInUtf8Characters)
{
    const std::pair<std::string, std::size_t> rows[] = {
        {"", 0}, {"abc", 3}, {"\xc3\xa4" "b", 2}, {"\xe2\x82\xac\xf0\x9d\x84\x9e", 2},
        {std::string(5, '\x80'), 2}, {"\xc3" + std::string(4, '\x80'), 2}, // not UTF-8: at most 4 bytes each
    };
    for (const auto& [text, count] : rows)
        EXPECT_EQ(character_count(text), count) << text.size() << " bytes";
    for (const std::string piece : {"a", "\xc3\xa4", "\xf0\x9d\x84\x9e"}) {
        const std::string fits = test::repeat(piece, 256);
        EXPECT_TRUE(path_fits(fits) && !path_fits(fits + piece)) << piece.size() << "-byte characters";
        FakeControls controls(ParamRecord{});
        controls.texts[c::outwavname_edit] = fits;
        ParamRecord record;
        EXPECT_FALSE(take(controls, record).has_value());
        EXPECT_EQ(record.outwavname, fits);
    }
}

} // namespace
} // namespace vesk
