#include "ui/exchange.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <locale.h>
#include <map>
#include <random>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "ui/control_ids.h"

namespace vesk {
namespace {

// The window's controls as plain values, remembering the order in which the
// exchange reads and writes them.
class FakeControls : public ExchangeControls {
public:
    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    mutable std::vector<int> read;
    std::vector<int> written;

    std::string text(int control) const override
    {
        read.push_back(control);
        return texts.at(control);
    }
    void set_text(int control, const std::string& text) override
    {
        written.push_back(control);
        texts[control] = text;
    }
    bool checked(int control) const override
    {
        read.push_back(control);
        return checks.at(control);
    }
    void set_checked(int control, bool on) override
    {
        written.push_back(control);
        checks[control] = on;
    }
};

const std::vector<int> exchange_order = {1005, 1006, 1038, 1042, 1003, 1002, 1004, 1009,
                                         1010, 1011, 1012, 1013, 1014, 1031, 1015};

FakeControls shown(const ParamRecord& record)
{
    FakeControls controls;
    show(record, controls);
    controls.written.clear();
    return controls;
}

std::string printf_15g(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

TEST(Exchange, FieldsAreExchangedInTheWindowsOrder)
{
    std::vector<int> ids;
    for (const ExchangeField& f : exchange_fields())
        ids.push_back(f.control);
    EXPECT_EQ(ids, exchange_order);

    FakeControls controls = shown(ParamRecord{});
    ParamRecord record;
    ASSERT_FALSE(take(controls, record).has_value());
    EXPECT_EQ(controls.read, exchange_order);

    show(record, controls);
    EXPECT_EQ(controls.written, exchange_order);
}

TEST(Exchange, KindsFollowTheFieldTypes)
{
    std::map<int, FieldKind> kinds;
    for (const ExchangeField& f : exchange_fields())
        kinds[f.control] = f.kind;
    EXPECT_EQ(kinds[control::inpwavname_edit], FieldKind::path);
    EXPECT_EQ(kinds[control::outwavname_edit], FieldKind::path);
    EXPECT_EQ(kinds[control::fssrc_edit], FieldKind::unsigned_number);
    EXPECT_EQ(kinds[control::bitnr_edit], FieldKind::unsigned_number);
    EXPECT_EQ(kinds[control::ensrc_check], FieldKind::flag);
    EXPECT_EQ(kinds[control::varispeedsh_check], FieldKind::flag);
    for (const int id : {1003, 1004, 1009, 1010, 1011, 1012, 1013, 1014, 1015})
        EXPECT_EQ(kinds[id], FieldKind::real) << id;
}

TEST(Exchange, ShowWritesTheDefaultsAsTheFreshWindowShowsThem)
{
    const FakeControls c = shown(ParamRecord{});
    const std::map<int, std::string> expected = {
        {1005, "inp.wav"}, {1006, "out.wav"}, {1038, "48000"}, {1003, "48000"},
        {1002, "24"},      {1004, "0"},       {1009, "0"},     {1010, "24000"},
        {1011, "0"},       {1012, "24000"},   {1013, "1"},     {1014, "1"},
        {1015, "0"},
    };
    EXPECT_EQ(c.texts, expected);
    EXPECT_FALSE(c.checks.at(control::ensrc_check));
    EXPECT_FALSE(c.checks.at(control::varispeedsh_check));
}

TEST(Exchange, TakeReadsEveryKind)
{
    FakeControls c = shown(ParamRecord{});
    c.texts[1005] = "  a b.wav ";
    c.texts[1006] = "/tmp/out.wav";
    c.texts[1038] = " 44100\t";
    c.checks[1042] = true;
    c.texts[1003] = " 1.5e4 ";
    c.texts[1002] = "+16";
    c.texts[1004] = ".25";
    c.texts[1009] = "-20";
    c.texts[1010] = "15000.";
    c.texts[1011] = "+40";
    c.texts[1012] = "1E4";
    c.texts[1013] = "0.5";
    c.texts[1014] = "2";
    c.checks[1031] = true;
    c.texts[1015] = "1e-3";
    ParamRecord r;
    ASSERT_FALSE(take(c, r).has_value());
    ParamRecord expected;
    expected.inpwavname = "  a b.wav "; // paths are taken unchanged
    expected.outwavname = "/tmp/out.wav";
    expected.fssrc = 44100;
    expected.ensrc = 1;
    expected.fssim = 15000.0;
    expected.bitnr = 16;
    expected.aperture = 0.25;
    expected.fcloin = -20.0;
    expected.fchiin = 15000.0;
    expected.fcloout = 40.0;
    expected.fchiout = 10000.0;
    expected.varispeedt = 0.5;
    expected.varispeedf = 2.0;
    expected.varispeedsh = 1;
    expected.jitteramp = 0.001;
    EXPECT_EQ(r, expected);
}

TEST(Exchange, ShowChecksTheBoxesOfFieldsThatAreOne)
{
    ParamRecord r;
    r.ensrc = 1;
    r.varispeedsh = 1;
    const FakeControls c = shown(r);
    EXPECT_TRUE(c.checks.at(control::ensrc_check));
    EXPECT_TRUE(c.checks.at(control::varispeedsh_check));
}

TEST(Exchange, TakeStopsAtTheFirstTextThatDoesNotParse)
{
    FakeControls c = shown(ParamRecord{});
    c.texts[1006] = "new-out.wav";  // before the bad text: taken
    c.texts[1038] = "22050";        // before: taken
    c.checks[1042] = true;          // before: taken
    c.texts[1003] = "abc";          // refused
    c.texts[1002] = "8";            // after: not taken
    c.texts[1015] = "0.1";          // after: not taken
    ParamRecord r;
    r.fssim = 12345.0;
    const auto failure = take(c, r);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->control, control::fssim_edit);
    EXPECT_EQ(failure->kind, FieldKind::real);
    ParamRecord expected;
    expected.outwavname = "new-out.wav";
    expected.fssrc = 22050;
    expected.ensrc = 1;
    expected.fssim = 12345.0; // and bitnr and jitteramp at their defaults
    EXPECT_EQ(r, expected);
    // Nothing after the refused control was even read.
    EXPECT_EQ(c.read.back(), control::fssim_edit);
}

TEST(Exchange, AnUnsignedTextThatDoesNotParseNamesItsControl)
{
    for (const char* bad : {"", " ", "-1", "1.5", "12a", "4294967296", "0x10", "1 2", "+-1"}) {
        FakeControls c = shown(ParamRecord{});
        c.texts[1038] = bad;
        ParamRecord r;
        const auto failure = take(c, r);
        ASSERT_TRUE(failure.has_value()) << '"' << bad << '"';
        EXPECT_EQ(failure->control, control::fssrc_edit);
        EXPECT_EQ(failure->kind, FieldKind::unsigned_number);
        EXPECT_EQ(r.fssrc, 48000u);
    }
}

TEST(Exchange, NumberSyntax)
{
    EXPECT_EQ(parse_unsigned("0"), 0u);
    EXPECT_EQ(parse_unsigned(" 4294967295 "), 4294967295u);
    EXPECT_EQ(parse_unsigned("007"), 7u);
    EXPECT_EQ(parse_unsigned("+7"), 7u);
    EXPECT_FALSE(parse_unsigned("+"));
    EXPECT_FALSE(parse_unsigned("- 7"));

    EXPECT_EQ(parse_real(" 48000 "), 48000.0);
    EXPECT_EQ(parse_real("-0.5"), -0.5);
    EXPECT_EQ(parse_real("+2.5e-3"), 2.5e-3);
    EXPECT_EQ(parse_real("\t1e15\t"), 1e15);
    for (const char* bad : {"", "  ", "abc", "1,5", "1.5.2", "1e", "--1", "+-1", "+", "0x10",
                            "inf", "nan", "1e400", "12 34", "12Hz"})
        EXPECT_FALSE(parse_real(bad).has_value()) << '"' << bad << '"';
}

TEST(Exchange, PathsUpTo256CharactersAreTaken)
{
    FakeControls c = shown(ParamRecord{});
    const std::string longest(256, 'p');
    c.texts[1005] = longest;
    // 256 characters of two bytes each are still 256 characters.
    std::string accented;
    for (int i = 0; i < 256; ++i)
        accented += "\xC3\xA9";
    c.texts[1006] = accented;
    ParamRecord r;
    ASSERT_FALSE(take(c, r).has_value());
    EXPECT_EQ(r.inpwavname, longest);
    EXPECT_EQ(r.outwavname, accented);
}

TEST(Exchange, APathLongerThan256CharactersIsRefused)
{
    FakeControls c = shown(ParamRecord{});
    c.texts[1006] = std::string(257, 'p');
    c.texts[1038] = "22050";
    ParamRecord r;
    const auto failure = take(c, r);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->control, control::outwavname_edit);
    EXPECT_EQ(failure->kind, FieldKind::path);
    EXPECT_EQ(r.outwavname, "out.wav");
    EXPECT_EQ(r.fssrc, 48000u);
}

TEST(Exchange, CharacterCountCountsUtf8Characters)
{
    EXPECT_EQ(character_count(""), 0u);
    EXPECT_EQ(character_count("abc"), 3u);
    EXPECT_EQ(character_count("\xC3\xA9t\xC3\xA9"), 3u);        // été
    EXPECT_EQ(character_count("\xE2\x82\xAC"), 1u);              // euro sign
    EXPECT_EQ(character_count("\xF0\x9F\x8E\xB5"), 1u);          // a note
}

TEST(Exchange, RealsAreShownWithFifteenSignificantDigits)
{
    EXPECT_EQ(format_real(48000.0), "48000");
    EXPECT_EQ(format_real(0.0), "0");
    EXPECT_EQ(format_real(-0.0), "-0");
    EXPECT_EQ(format_real(1.0), "1");
    EXPECT_EQ(format_real(0.1), "0.1");
    EXPECT_EQ(format_real(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(format_real(48000.0 * 1.0594630943592953), "50854.2285292462");
    EXPECT_EQ(format_real(24000.0 / 1.0594630943592953), "22652.9835043606");
    EXPECT_EQ(format_real(96000.00000000004), "96000");
    // Exponent form below 1e-4 ...
    EXPECT_EQ(format_real(0.0001), "0.0001");
    EXPECT_EQ(format_real(0.00012345), "0.00012345");
    EXPECT_EQ(format_real(0.00001), "1e-05");
    EXPECT_EQ(format_real(-0.000099999), "-9.9999e-05");
    // ... and from 1e15 on.
    EXPECT_EQ(format_real(999999999999999.0), "999999999999999");
    EXPECT_EQ(format_real(1e15), "1e+15");
    EXPECT_EQ(format_real(123456789012345678.0), "1.23456789012346e+17");
    EXPECT_EQ(format_real(9999999999999999.0), "1e+16");
    EXPECT_EQ(format_real(1e300), "1e+300");
    EXPECT_EQ(format_real(5e-324), "4.94065645841247e-324");
}

TEST(Exchange, RealsAreShownAsTheCLibrarysPercent15g)
{
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::mt19937_64 bits(20260101);
    std::mt19937_64 digits(7);
    std::uniform_real_distribution<double> scale(-30.0, 30.0);
    int compared = 0;
    while (compared < 100000) {
        // Every kind of double, and decimal-looking ones near the ends of
        // the fixed form.
        double value;
        if (compared % 2 == 0) {
            const uint64_t pattern = bits();
            std::memcpy(&value, &pattern, sizeof value);
            if (!std::isfinite(value))
                continue;
        } else {
            value = std::round(std::pow(10.0, scale(digits)) * 1e6) / 1e6;
        }
        ASSERT_EQ(format_real(value), printf_15g(value)) << value;
        ++compared;
    }
}

TEST(Exchange, ShownRealsReadBackToTheValueShown)
{
    // A double passing through its control is rounded to the 15 digits
    // shown, and showing that again changes nothing.
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    for (int i = 0; i < 10000; ++i) {
        const double value = dist(gen);
        const std::string text = format_real(value);
        const auto back = parse_real(text);
        ASSERT_TRUE(back.has_value()) << text;
        EXPECT_EQ(format_real(*back), text);
        EXPECT_EQ(*back, std::strtod(text.c_str(), nullptr));
    }
}

TEST(Exchange, UnsignedsAreShownInDecimal)
{
    EXPECT_EQ(format_unsigned(0), "0");
    EXPECT_EQ(format_unsigned(48000), "48000");
    EXPECT_EQ(format_unsigned(4294967295u), "4294967295");
}

// A locale with a decimal comma, compiled into a temporary folder by
// localedef and used by this thread only.
locale_t comma_locale()
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vesk-exchange-locale-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string make = "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    locale_t made = static_cast<locale_t>(nullptr);
    if (std::system(make.c_str()) == 0) {
        setenv("LOCPATH", dir.c_str(), 1);
        made = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
        unsetenv("LOCPATH");
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return made;
}

TEST(Exchange, TheDesktopsLocaleChangesNothing)
{
    const locale_t comma = comma_locale();
    if (comma == static_cast<locale_t>(nullptr))
        GTEST_SKIP() << "no locale with a decimal comma could be made (localedef is needed)";
    const locale_t previous = uselocale(comma);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    const std::string shown_half = format_real(0.5);
    const auto point = parse_real("0.25");
    const auto comma_text = parse_real("0,25");
    uselocale(previous);
    freelocale(comma);
    ASSERT_STREQ(probe, "0,5"); // the locale really was in force
    EXPECT_EQ(shown_half, "0.5");
    EXPECT_EQ(point, 0.25);
    EXPECT_FALSE(comma_text.has_value());
}

} // namespace
} // namespace vesk
