// The exchange between the window's controls and the record, and the text
// forms it reads and writes.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "record_tables.h"
#include "ui/control_ids.h"
#include "ui/exchange.h"

namespace vesk {
namespace {

namespace c = control;

// The window's controls as plain values.
struct FakeControls : ExchangeControls {
    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    std::string text(int control) const override { return texts.at(control); }
    void set_text(int control, const std::string& text) override { texts[control] = text; }
    bool checked(int control) const override { return checks.at(control); }
    void set_checked(int control, bool on) override { checks[control] = on; }
};

FakeControls shown(const ParamRecord& record)
{
    FakeControls controls;
    show(record, controls);
    return controls;
}

TEST(Exchange, WhatShowWritesTakeReadsBackFieldForField)
{
    const ParamRecord changed = test::all_changed();
    ParamRecord record;
    EXPECT_FALSE(take(shown(changed), record).has_value());
    EXPECT_EQ(record, changed);
    EXPECT_EQ(shown(ParamRecord{}).texts.at(c::fchiout_edit), "24000");
    EXPECT_EQ(shown(changed).texts.at(c::fcloout_edit), "10.25");
}

TEST(Exchange, AFlagIsCheckedOnlyWhenItIsOne)
{
    ParamRecord r;
    r.ensrc = 1;
    r.varispeedsh = 2;
    FakeControls controls = shown(r);
    EXPECT_TRUE(controls.checks.at(c::ensrc_check));
    EXPECT_FALSE(controls.checks.at(c::varispeedsh_check));
    controls.checks[c::varispeedsh_check] = true;
    controls.checks[c::ensrc_check] = false;
    ASSERT_FALSE(take(controls, r).has_value());
    EXPECT_EQ(r.varispeedsh, 1);
    EXPECT_EQ(r.ensrc, 0);
}

// The fields are taken in the window's order; a refused text leaves its own
// field and every later one as they were, and names its control.
TEST(Exchange, TakeStopsAtTheFirstRefusedTextAndNamesItsControl)
{
    struct Row {
        int control;
        std::string text;
        FieldKind kind;
    };
    const Row rows[] = {
        {c::inpwavname_edit, std::string(257, 'p'), FieldKind::path},
        {c::fssrc_edit, "-1", FieldKind::unsigned_number},
        {c::fssim_edit, "abc", FieldKind::real},
        {c::bitnr_edit, "1.5", FieldKind::unsigned_number},
        {c::jitteramp_edit, "inf", FieldKind::real},
    };
    const ParamRecord changed = test::all_changed();
    for (const Row& row : rows) {
        FakeControls controls = shown(changed);
        controls.texts[row.control] = row.text;
        ParamRecord record;
        const std::optional<TakeFailure> failure = take(controls, record);
        ASSERT_TRUE(failure.has_value()) << row.text;
        EXPECT_EQ(failure->control, row.control);
        EXPECT_EQ(failure->kind, row.kind) << row.text;
        bool before = true;
        for (const ParamInfo& p : param_table()) {
            before = before && p.edit != row.control;
            std::visit([&](auto m) { EXPECT_EQ(record.*m, (before ? changed : ParamRecord{}).*m) << p.keyword; },
                       p.member);
        }
    }
}

TEST(Exchange, RealTextsAreFiniteNumbersInTheCLocaleSyntax)
{
    const std::pair<const char*, std::optional<double>> rows[] = {
        {"1.5", 1.5},     {" \t-2e3\n", -2000.0}, {"+.25", 0.25}, {"1e-310", 1e-310}, {"0", 0.0},
        {"1,5", {}},      {"", {}},               {" ", {}},      {"+", {}},          {"+-1", {}},
        {"--1", {}},      {"3 4", {}},            {"0x10", {}},   {"inf", {}},        {"-infinity", {}},
        {"nan", {}},      {"1e999", {}},          {"abc", {}},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(parse_real(text), expected) << '"' << text << '"';
}

TEST(Exchange, UnsignedTextsAreDecimalFrom0To4294967295)
{
    const std::pair<const char*, std::optional<uint32_t>> rows[] = {
        {"0", 0u},          {"4294967295", 4294967295u}, {" +48000 ", 48000u}, {"007", 7u},
        {"4294967296", {}}, {"-1", {}},                  {"-0", {}},           {"1.0", {}},
        {"0x10", {}},       {"", {}},                    {"+", {}},            {"1 2", {}},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(parse_unsigned(text), expected) << '"' << text << '"';
    EXPECT_EQ(format_unsigned(4294967295u), "4294967295");
}

// The reference is the C library's own "%.15g"; the tests run in the C locale.
TEST(Exchange, RealsAreShownAsTheCLibrarysPercent15g)
{
    std::mt19937_64 rng(71);
    std::vector<double> values = {0.0, -0.0, 1.0, 48000.0, 0.1, 1e-5, 1e-4, 1e15, 1e14, 123456789012345678.0,
                                  5e-324, std::numeric_limits<double>::max(), 1.0 / 3.0};
    for (int i = 0; i < 2000; ++i) {
        const uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v))
            values.push_back(v);
    }
    for (const double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15g", v);
        ASSERT_EQ(format_real(v), expected);
    }
}

// A path's length is counted in characters wherever it is checked; a cut
// never falls inside one.
TEST(Exchange, PathLengthsAreCountedInUtf8Characters)
{
    auto repeat = [](const std::string& piece, int n) {
        std::string s;
        while (n-- > 0)
            s += piece;
        return s;
    };
    const std::pair<std::string, std::size_t> rows[] = {
        {"", 0},
        {"abc", 3},
        {"\xc3\xa4" "b", 2},
        {"\xe2\x82\xac\xf0\x9d\x84\x9e", 2},
        // Not UTF-8: no character is longer than four bytes.
        {std::string(5, '\x80'), 2},
        {"\xc3" + std::string(4, '\x80'), 2},
    };
    for (const auto& [text, count] : rows)
        EXPECT_EQ(character_count(text), count) << text.size() << " bytes";
    for (const std::string& piece : {std::string("a"), std::string("\xc3\xa4"), std::string("\xf0\x9d\x84\x9e")}) {
        EXPECT_TRUE(path_fits(repeat(piece, 256))) << piece.size() << "-byte characters";
        EXPECT_FALSE(path_fits(repeat(piece, 257))) << piece.size() << "-byte characters";
        FakeControls controls = shown(ParamRecord{});
        controls.texts[c::outwavname_edit] = repeat(piece, 256);
        ParamRecord record;
        EXPECT_FALSE(take(controls, record).has_value());
        EXPECT_EQ(record.outwavname, repeat(piece, 256));
    }
}

} // namespace
} // namespace vesk
