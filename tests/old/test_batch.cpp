#include "ui/batch.h"

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {

// Readable failure messages for whole-record comparisons.
void PrintTo(const ParamRecord& r, std::ostream* os)
{
    *os << "{inpwavname=\"" << r.inpwavname << "\" outwavname=\"" << r.outwavname
        << "\" fssrc=" << r.fssrc << " ensrc=" << r.ensrc << " fssim=" << r.fssim
        << " bitnr=" << r.bitnr << " aperture=" << r.aperture << " fcloin=" << r.fcloin
        << " fchiin=" << r.fchiin << " fcloout=" << r.fcloout << " fchiout=" << r.fchiout
        << " varispeedt=" << r.varispeedt << " varispeedf=" << r.varispeedf
        << " varispeedsh=" << r.varispeedsh << " jitteramp=" << r.jitteramp << "}";
}

namespace batch {
namespace {

using namespace std::string_literals;

constexpr double st = semitone_ratio;
constexpr double inf = std::numeric_limits<double>::infinity();

struct ReadResult {
    ParamRecord record;
    BatchEnd end;
    int shows = 0;
    int processes = 0;
};

ReadResult read_text(const std::string& text, const ParamRecord& start = {})
{
    ReadResult result{start, BatchEnd::end_of_text};
    BatchStream stream(text);
    BatchActions actions;
    actions.process = [&] { ++result.processes; };
    actions.show = [&] { ++result.shows; };
    result.end = read_batch(stream, result.record, actions);
    return result;
}

// A text, the record it starts from (changed by `setup`) and what it must
// change (`expect`); every field not named must keep its value.
struct Case {
    const char* name;
    std::string text;
    std::function<void(ParamRecord&)> expect;
    std::function<void(ParamRecord&)> setup = nullptr;
};

void run_cases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        ParamRecord start;
        if (c.setup)
            c.setup(start);
        ParamRecord expected = start;
        if (c.expect)
            c.expect(expected);
        const ReadResult got = read_text(c.text, start);
        EXPECT_EQ(got.record, expected) << c.name;
        EXPECT_EQ(got.end, BatchEnd::end_of_text) << c.name;
    }
}

TEST(BatchRead, PathValues)
{
    const std::string long255(255, 'p');
    run_cases({
        {"plain path", "inpwavname in.wav\n", [](ParamRecord& r) { r.inpwavname = "in.wav"; }},
        {"output path", "outwavname\tresult.wav\n", [](ParamRecord& r) { r.outwavname = "result.wav"; }},
        {"inner and trailing blanks are kept",
         "inpwavname \t  my  take\t1.wav  \nfssim 1000",
         [](ParamRecord& r) {
             r.inpwavname = "my  take\t1.wav  ";
             r.fssim = 1000.0;
         }},
        {"CRLF line ends", "inpwavname C:\\a b\\in.wav\r\noutwavname o.wav\r\nfssim 44100\r\n",
         [](ParamRecord& r) {
             r.inpwavname = "C:\\a b\\in.wav";
             r.outwavname = "o.wav";
             r.fssim = 44100.0;
         }},
        {"a carriage return not before a newline stays", "inpwavname a\rb\n",
         [](ParamRecord& r) { r.inpwavname = "a\rb"; }},
        {"path at the end of the text", "outwavname last.wav", [](ParamRecord& r) { r.outwavname = "last.wav"; }},
        {"keyword at the end of a line gives an empty path", "inpwavname\nfssim 5",
         [](ParamRecord& r) {
             r.inpwavname = "";
             r.fssim = 5.0;
         }},
        {"blanks only give an empty path", "inpwavname   \t \nbitnr 3",
         [](ParamRecord& r) {
             r.inpwavname = "";
             r.bitnr = 3;
         }},
        {"path of exactly 255 characters, newline consumed", "inpwavname " + long255 + "\nfssim 3",
         [&](ParamRecord& r) {
             r.inpwavname = long255;
             r.fssim = 3.0;
         }},
        {"longer path: 255 taken, the 256th dropped, the rest read as words",
         "inpwavname " + long255 + "Xfssim 3\n",
         [&](ParamRecord& r) {
             r.inpwavname = long255;
             r.fssim = 3.0;
         }},
        {"a path ends at a NUL byte", "inpwavname ab\0cd\nbitnr 2"s,
         [](ParamRecord& r) {
             r.inpwavname = "ab";
             r.bitnr = 2;
         }},
        {"path words are not keywords", "inpwavname fssim 5\n", [](ParamRecord& r) { r.inpwavname = "fssim 5"; }},
    });
}

TEST(BatchRead, UnsignedValues)
{
    run_cases({
        {"decimal", "fssrc 44100 bitnr 16",
         [](ParamRecord& r) {
             r.fssrc = 44100;
             r.bitnr = 16;
         }},
        {"white space and newlines before the number", "fssrc\n\n \t 96000", [](ParamRecord& r) { r.fssrc = 96000; }},
        {"plus sign", "bitnr +12", [](ParamRecord& r) { r.bitnr = 12; }},
        {"negative wraps", "fssrc -1", [](ParamRecord& r) { r.fssrc = 4294967295u; }},
        {"negative wraps (2)", "bitnr -24", [](ParamRecord& r) { r.bitnr = 4294967272u; }},
        {"2^32 wraps to 0", "fssrc 4294967296", [](ParamRecord& r) { r.fssrc = 0; }},
        {"2^32 + 1 wraps to 1", "fssrc 4294967297", [](ParamRecord& r) { r.fssrc = 1; }},
        {"long number wraps modulo 2^32", "fssrc 100000000000000000000",
         [](ParamRecord& r) { r.fssrc = 1661992960u; }}, // 10^20 mod 2^32
        {"trailing text is the next word", "fssrc 12abc bitnr 5",
         [](ParamRecord& r) {
             r.fssrc = 12;
             r.bitnr = 5;
         }},
        {"no number keeps the value; the word is skipped", "fssrc abc bitnr 8", [](ParamRecord& r) { r.bitnr = 8; }},
        {"a lone sign is no number", "fssrc - 5", nullptr},
        {"hexadecimal is not read", "bitnr 0x10", [](ParamRecord& r) { r.bitnr = 0; }},
        {"keyword as the next word is still read", "fssrc bitnr 7", [](ParamRecord& r) { r.bitnr = 7; }},
        {"keyword at the end of the text keeps the value", "fssrc", nullptr},
    });
}

TEST(BatchRead, FlagValues)
{
    auto on = [](ParamRecord& r) {
        r.ensrc = 1;
        r.varispeedsh = 1;
    };
    run_cases({
        {"TRUE switches on", "ensrc TRUE varispeedsh TRUE", on},
        {"lower-case true is off", "ensrc true", [](ParamRecord& r) { r.ensrc = 0; }, on},
        {"FALSE switches off", "ensrc FALSE varispeedsh FALSE",
         [](ParamRecord& r) {
             r.ensrc = 0;
             r.varispeedsh = 0;
         },
         on},
        {"any other word is off", "varispeedsh 1", [](ParamRecord& r) { r.varispeedsh = 0; }, on},
        {"TRUE with trailing text is off", "ensrc TRUEx", [](ParamRecord& r) { r.ensrc = 0; }, on},
        {"value on the next line", "ensrc\n\nTRUE", [](ParamRecord& r) { r.ensrc = 1; }},
        {"end of text is off", "varispeedsh", [](ParamRecord& r) { r.varispeedsh = 0; }, on},
        {"the value word is taken even if it is a keyword", "ensrc fssim 5",
         [](ParamRecord& r) { r.ensrc = 0; }, on},
    });
}

TEST(BatchRead, PlainRealValues)
{
    run_cases({
        {"decimal", "aperture 0.25 jitteramp 0.001",
         [](ParamRecord& r) {
             r.aperture = 0.25;
             r.jitteramp = 0.001;
         }},
        {"signs and exponent", "aperture +.5 jitteramp -1e-3",
         [](ParamRecord& r) {
             r.aperture = 0.5;
             r.jitteramp = -0.001;
         }},
        {"newlines before the number", "aperture\n\r\n  0.5", [](ParamRecord& r) { r.aperture = 0.5; }},
        {"trailing text is the next word", "aperture 0.5ms fssim 7",
         [](ParamRecord& r) {
             r.aperture = 0.5;
             r.fssim = 7.0;
         }},
        {"incomplete exponent: the digits before it count", "aperture 1e+ jitteramp 2E",
         [](ParamRecord& r) {
             r.aperture = 1.0;
             r.jitteramp = 2.0;
         }},
        {"hexadecimal", "jitteramp 0x1p-4", [](ParamRecord& r) { r.jitteramp = 0.0625; }},
        {"0x without digits is 0", "jitteramp 0xg", [](ParamRecord& r) { r.jitteramp = 0.0; },
         [](ParamRecord& r) { r.jitteramp = 9.0; }},
        {"overflow gives infinity", "aperture 1e999 jitteramp -1e999",
         [](ParamRecord& r) {
             r.aperture = inf;
             r.jitteramp = -inf;
         }},
        {"underflow gives zero", "aperture 1e-999", [](ParamRecord& r) { r.aperture = 0.0; },
         [](ParamRecord& r) { r.aperture = 9.0; }},
        {"subnormal", "aperture 1e-320", [](ParamRecord& r) { r.aperture = 1e-320; }},
        {"infinity", "aperture INF", [](ParamRecord& r) { r.aperture = inf; }},
        {"not a number keeps the value; the word is skipped", "aperture abc fssim 9",
         [](ParamRecord& r) { r.fssim = 9.0; }, [](ParamRecord& r) { r.aperture = 0.3; }},
        {"a keyword after it is still read", "aperture fssim 9", [](ParamRecord& r) { r.fssim = 9.0; },
         [](ParamRecord& r) { r.aperture = 0.3; }},
        {"double sign is no number", "jitteramp +-1", nullptr},
        {"semitone form is not read here", "aperture ST", nullptr, [](ParamRecord& r) { r.aperture = 0.3; }},
        {"keyword at the end of the text keeps the value", "jitteramp", nullptr,
         [](ParamRecord& r) { r.jitteramp = 0.1; }},
    });
}

TEST(BatchRead, ScaledRealValues)
{
    run_cases({
        {"plain number", "fssim 44100 fcloin 20 fchiin 20000 fcloout 30 fchiout 15000 varispeedt 1.5 varispeedf 0.5",
         [](ParamRecord& r) {
             r.fssim = 44100.0;
             r.fcloin = 20.0;
             r.fchiin = 20000.0;
             r.fcloout = 30.0;
             r.fchiout = 15000.0;
             r.varispeedt = 1.5;
             r.varispeedf = 0.5;
         }},
        {"trailing characters are ignored", "fchiin 24000Hz", [](ParamRecord& r) { r.fchiin = 24000.0; },
         [](ParamRecord& r) { r.fchiin = 1.0; }},
        {"ST raises one semitone", "fssim ST", [](ParamRecord& r) { r.fssim = 48000.0 * st; }},
        {"ST12 raises an octave by steps", "fssim ST12",
         [](ParamRecord& r) { r.fssim = 48000.0 * semitone_factor(12); }},
        {"ST-12 lowers an octave", "fssim ST-12", [](ParamRecord& r) { r.fssim = 48000.0 * semitone_factor(-12); }},
        {"ST+7 raises a fifth", "fchiout ST+7", [](ParamRecord& r) { r.fchiout = 24000.0 * semitone_factor(7); }},
        {"ST0x2: hexadecimal count", "fchiin ST0x2", [](ParamRecord& r) { r.fchiin = 24000.0 * semitone_factor(2); }},
        {"ST010: octal count", "varispeedt ST010", [](ParamRecord& r) { r.varispeedt = semitone_factor(8); }},
        {"ST08: octal 0, then ignored", "varispeedf ST08", nullptr},
        {"ST0: no change", "fssim ST0", nullptr},
        {"ST5abc: trailing characters ignored", "fssim ST5abc", [](ParamRecord& r) { r.fssim = 48000.0 * semitone_factor(5); }},
        {"STx keeps the value", "fssim STx", nullptr},
        {"ST- keeps the value", "fssim ST-", nullptr},
        {"STOP keeps the value", "fssim STOP", nullptr},
        {"two ST lines raise by two semitones", "fssim ST\nfssim ST\n",
         [](ParamRecord& r) { r.fssim = 48000.0 * st * st; }},
        {"a key given twice keeps the last value", "fssim 1000 fssim 2000", [](ParamRecord& r) { r.fssim = 2000.0; }},
        {"huge count saturates: the field overflows", "fchiin ST99999999999", [](ParamRecord& r) { r.fchiin = inf; }},
        {"huge negative count", "fchiin ST-99999999999",
         [](ParamRecord& r) { r.fchiin = 24000.0 * semitone_factor(INT_MIN); }},
        {"not a number keeps the value", "fssim abc", nullptr},
        {"the value word is consumed even if it is a keyword", "fssim bitnr 5", nullptr},
        {"keyword at the end of the text keeps the value", "fssim", nullptr},
        {"keyword at the end of the text after white space", "varispeedt \n ", nullptr,
         [](ParamRecord& r) { r.varispeedt = 2.0; }},
        {"scaled field holding 0 stays 0", "fcloin ST fcloout ST-3", nullptr},
    });
}

TEST(BatchParseValue, Words)
{
    struct ValueCase {
        double current;
        const char* word;
        double expected;
    };
    const ValueCase cases[] = {
        {5.0, "44100", 44100.0},
        {5.0, "+2.5", 2.5},
        {5.0, "-2.5e2", -250.0},
        {5.0, "24000Hz", 24000.0},
        {5.0, "1e", 1.0},
        {5.0, ".5", 0.5},
        {5.0, "0x10", 16.0},
        {5.0, "0x", 0.0},
        {5.0, "  7", 7.0},
        {5.0, "infinity", inf},
        {5.0, "-inf", -inf},
        {5.0, "", 5.0},
        {5.0, ".", 5.0},
        {5.0, "-", 5.0},
        {5.0, "e5", 5.0},
        {5.0, "Hz", 5.0},
        {5.0, "S", 5.0},
        {5.0, "st", 5.0},
        {48000.0, "ST", 48000.0 * st},
        {48000.0, "ST1", 48000.0 * st},
        {48000.0, "ST-1", 48000.0 / st},
        {48000.0, "ST0X3", 48000.0 * semitone_factor(3)},
        {48000.0, "ST-0x3", 48000.0 * semitone_factor(-3)},
        {48000.0, "ST017", 48000.0 * semitone_factor(15)},
        {48000.0, "ST0x", 48000.0},
        {48000.0, "STx", 48000.0},
        {48000.0, "ST+", 48000.0},
        {48000.0, "ST.5", 48000.0},
        {48000.0, "ST2147483647", inf},
        {48000.0, "ST2147483648", inf},
        {48000.0, "ST-2147483648", 48000.0 * semitone_factor(INT_MIN)},
    };
    for (const ValueCase& c : cases)
        EXPECT_EQ(parse_value(c.current, c.word), c.expected) << '"' << c.word << '"';

    EXPECT_TRUE(std::isnan(parse_value(5.0, "nan")));
    EXPECT_TRUE(std::isnan(parse_value(5.0, "NaN(123)")));
    // Zero times an overflowed factor: the product carries no value.
    EXPECT_TRUE(std::isnan(parse_value(0.0, "ST2147483647")));
}

TEST(BatchParseValue, OctaveByStepsIsJustAboveTheOctave)
{
    const double up = parse_value(48000.0, "ST12");
    EXPECT_GT(up, 96000.0);
    EXPECT_LT(up, 96000.0 + 1e-9);
    const double down = parse_value(48000.0, "ST-12");
    EXPECT_LT(down, 24000.0);
    EXPECT_GT(down, 24000.0 - 1e-9);
}

TEST(BatchRead, WordsAndCommands)
{
    const std::string x255(255, 'x');
    run_cases({
        {"a line beginning with # is no comment", "# fssim 48000 more\n", [](ParamRecord& r) { r.fssim = 48000.0; },
         [](ParamRecord& r) { r.fssim = 1000.0; }},
        {"keywords are case-sensitive", "FSSIM 5 Fssim 6 fssim7", nullptr},
        {"unknown words are skipped one by one", "hello world bitnr 4 again", [](ParamRecord& r) { r.bitnr = 4; }},
        {"a run of 255 characters ends a word", x255 + "fssim 7", [](ParamRecord& r) { r.fssim = 7.0; }},
        {"a run of 256 characters splits one later", x255 + "xfssim 7", nullptr},
        {"vertical tab and form feed separate words", "fssim\v7\fbitnr\r8", [](ParamRecord& r) {
             r.fssim = 7.0;
             r.bitnr = 8;
         }},
        {"a NUL byte is part of a word", "fssim\0 5 bitnr\0 6"s, nullptr},
        {"bytes above 0x7f are word characters", "\xa0" "fssim 5 bitnr\x85 6 \xff\xfe", nullptr},
        {"empty text", "", nullptr},
        {"white space only", " \n\t\r\n\v\f", nullptr},
    });
}

TEST(BatchRead, ShowFollowsEveryHandledWord)
{
    // Words: "#", "fssim" (with its value), "more", "process", "junk".
    const ReadResult r = read_text("# fssim 48000 more\nprocess junk");
    EXPECT_EQ(r.shows, 5);
    EXPECT_EQ(r.processes, 1);
    EXPECT_EQ(r.end, BatchEnd::end_of_text);
}

TEST(BatchRead, ProcessRunsAndReadingGoesOn)
{
    std::vector<double> seen;
    std::vector<std::string> events;
    ParamRecord record;
    BatchStream stream("fssim 1000 process fssim 2000 process bitnr 3");
    BatchActions actions;
    actions.process = [&] {
        seen.push_back(record.fssim);
        events.push_back("process");
    };
    actions.show = [&] { events.push_back("show"); };
    EXPECT_EQ(read_batch(stream, record, actions), BatchEnd::end_of_text);
    EXPECT_EQ(seen, (std::vector<double>{1000.0, 2000.0}));
    EXPECT_EQ(record.fssim, 2000.0);
    EXPECT_EQ(record.bitnr, 3u);
    EXPECT_EQ(events, (std::vector<std::string>{"show", "process", "show", "show", "process", "show", "show"}));
}

TEST(BatchRead, StopEndsReading)
{
    struct StopCase {
        const char* text;
        BatchEnd end;
        int shows;
        int processes;
        double fssim;
    };
    const StopCase cases[] = {
        {"fssim 1000 stop fssim 2000", BatchEnd::stop, 1, 0, 1000.0},
        {"stop fssim 2000 process", BatchEnd::stop, 0, 0, 48000.0},
        {"process stop process", BatchEnd::stop, 1, 1, 48000.0},
        {"fssim 1000\r\nstop\r\n", BatchEnd::stop, 1, 0, 1000.0},
        // "stop" as the value word of a scaled real is no command.
        {"fssim stop", BatchEnd::end_of_text, 1, 0, 48000.0},
        {"STOP fssim 5", BatchEnd::end_of_text, 2, 0, 5.0},
        {"stops fssim 5", BatchEnd::end_of_text, 2, 0, 5.0},
    };
    for (const StopCase& c : cases) {
        const ReadResult r = read_text(c.text);
        EXPECT_EQ(r.end, c.end) << c.text;
        EXPECT_EQ(r.shows, c.shows) << c.text;
        EXPECT_EQ(r.processes, c.processes) << c.text;
        EXPECT_EQ(r.record.fssim, c.fssim) << c.text;
    }
}

TEST(BatchRead, StopLeavesTheRestUnread)
{
    BatchStream stream("bitnr 4 stop bitnr 5");
    ParamRecord record;
    EXPECT_EQ(read_batch(stream, record, {}), BatchEnd::stop);
    EXPECT_EQ(record.bitnr, 4u);
    EXPECT_EQ(stream.text().substr(stream.position()), " bitnr 5");
}

TEST(BatchRead, WorksWithoutActions)
{
    BatchStream stream("process fssim 5 process");
    ParamRecord record;
    EXPECT_EQ(read_batch(stream, record, {}), BatchEnd::end_of_text);
    EXPECT_EQ(record.fssim, 5.0);
}

TEST(BatchStream, CarriageReturnBeforeNewlineIsDropped)
{
    struct StreamCase {
        std::string in;
        std::string out;
    };
    const StreamCase cases[] = {
        {"a\r\nb", "a\nb"},
        {"a\rb", "a\rb"},
        {"a\r\r\n", "a\r\n"},
        {"\r\n\r\n", "\n\n"},
        {"a\r", "a\r"},
        {"\n\r", "\n\r"},
        {"", ""},
        {"x\0\r\ny"s, "x\0\ny"s},
    };
    for (const StreamCase& c : cases)
        EXPECT_EQ(BatchStream(c.in).text(), c.out);
}

TEST(BatchStream, GetAndPeek)
{
    BatchStream s("\xff" "a"s);
    EXPECT_EQ(s.peek(), 0xff);
    EXPECT_EQ(s.get(), 0xff);
    EXPECT_EQ(s.position(), 1u);
    EXPECT_FALSE(s.at_end());
    EXPECT_EQ(s.get(), 'a');
    EXPECT_TRUE(s.at_end());
    EXPECT_EQ(s.peek(), EOF);
    EXPECT_EQ(s.get(), EOF);
    s.seek(0);
    EXPECT_EQ(s.get(), 0xff);
}

TEST(BatchReadLineValue, TakesTheRestOfTheLine)
{
    struct LineCase {
        std::string text;
        std::string value;
        std::string rest;
    };
    const std::string a255(255, 'a');
    const LineCase cases[] = {
        {"  \t name.wav\nnext", "name.wav", "next"},
        {"a b  \nnext", "a b  ", "next"},
        {"\nnext", "", "next"},
        {"", "", ""},
        {"  ", "", ""},
        {"end", "end", ""},
        {"\v x\n", "\v x", ""},
        {a255 + "\nnext", a255, "next"},
        {a255, a255, ""},
        {a255 + "XYZ\nnext", a255, "YZ\nnext"},
        {"  " + a255 + "b", a255, ""},
    };
    for (const LineCase& c : cases) {
        BatchStream s(c.text);
        char buffer[256];
        std::memset(buffer, '#', sizeof buffer);
        const std::size_t n = read_line_value(s, buffer);
        EXPECT_EQ(n, c.value.size());
        EXPECT_EQ(std::string(buffer, n), c.value);
        EXPECT_EQ(buffer[n], '\0');
        EXPECT_EQ(s.text().substr(s.position()), c.rest);
    }
}

std::string expected_default_file()
{
    return "inpwavname   inp.wav\n"
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
           "jitteramp   0.000000e+000\n";
}

TEST(BatchWrite, DefaultRecord)
{
    const std::string text = write_batch(ParamRecord{});
    EXPECT_EQ(text, expected_default_file());
    EXPECT_EQ(text.find("process"), std::string::npos);
    EXPECT_EQ(text.find("stop"), std::string::npos);
}

TEST(BatchWrite, DefaultRecordReadsBack)
{
    ParamRecord changed;
    changed.inpwavname = "x";
    changed.outwavname = "y";
    changed.fssrc = 1;
    changed.ensrc = 1;
    changed.fssim = 2;
    changed.bitnr = 3;
    changed.aperture = 0.5;
    changed.fcloin = 4;
    changed.fchiin = 5;
    changed.fcloout = 6;
    changed.fchiout = 7;
    changed.varispeedt = 8;
    changed.varispeedf = 9;
    changed.varispeedsh = 1;
    changed.jitteramp = 0.25;
    const ReadResult r = read_text(write_batch(ParamRecord{}), changed);
    EXPECT_EQ(r.record, ParamRecord{});
    EXPECT_EQ(r.shows, 15);
}

TEST(BatchWrite, OddValuesReadBackRoundedToSevenDigits)
{
    ParamRecord r;
    r.inpwavname = "C:\\My Files\\in put.wav  ";
    r.outwavname = "/tmp/out\t1.wav";
    r.fssrc = 4294967295u;
    r.ensrc = 1;
    r.fssim = 1.0 / 3.0;
    r.bitnr = 0;
    r.aperture = 2.0 / 3.0;
    r.fcloin = 1e-10 / 3.0;
    r.fchiin = 12345.678901;
    r.fcloout = 1e300 / 7.0;
    r.fchiout = std::numeric_limits<double>::denorm_min();
    r.varispeedt = 3.14159265358979;
    r.varispeedf = 9.9999996; // rounds up into the next decade
    r.varispeedsh = 1;
    r.jitteramp = -0.000123456789;

    const std::string text = write_batch(r);
    EXPECT_NE(text.find("fssim   3.333333e-001\n"), std::string::npos) << text;
    EXPECT_NE(text.find("fcloout   1.428571e+299\n"), std::string::npos) << text;
    EXPECT_NE(text.find("fchiout   4.940656e-324\n"), std::string::npos) << text;
    EXPECT_NE(text.find("varispeedf   1.000000e+001\n"), std::string::npos) << text;
    EXPECT_NE(text.find("fssrc   4294967295\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ensrc   TRUE\n"), std::string::npos) << text;

    ParamRecord expected = r;
    expected.fssim = 0.3333333;
    expected.aperture = 0.6666667;
    expected.fcloin = 3.333333e-11;
    expected.fchiin = 12345.68;
    expected.fcloout = 1.428571e+299;
    expected.fchiout = std::numeric_limits<double>::denorm_min();
    expected.varispeedt = 3.141593;
    expected.varispeedf = 10.0;
    expected.jitteramp = -1.234568e-04;
    EXPECT_EQ(read_text(text).record, expected);
    // Saved once more, the rounded record writes the same text.
    EXPECT_EQ(write_batch(expected), text);
}

TEST(BatchWrite, FlagIsTrueOnlyWhenOne)
{
    ParamRecord r;
    r.ensrc = 2;
    r.varispeedsh = -1;
    const std::string text = write_batch(r);
    EXPECT_NE(text.find("ensrc   FALSE\n"), std::string::npos);
    EXPECT_NE(text.find("varispeedsh   FALSE\n"), std::string::npos);
    r.ensrc = 0;
    r.varispeedsh = 0;
    EXPECT_EQ(read_text(text).record, r);
}

// The fssim line's value as written.
std::string written_real(double v)
{
    ParamRecord r;
    r.fssim = v;
    const std::string text = write_batch(r);
    const std::string key = "\nfssim   ";
    const std::size_t at = text.find(key) + key.size();
    return text.substr(at, text.find('\n', at) - at);
}

// The C library's "%.6le", with the exponent widened to three digits.
std::string c_library_real(double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6le", v);
    std::string text = buffer;
    const std::size_t e = text.find('e');
    if (e != std::string::npos && text.size() - e == 4)
        text.insert(e + 2, 1, '0');
    return text;
}

TEST(BatchWrite, RealsMatchTheCLibraryFormat)
{
    // The tests run in the C locale, where the C library's "%.6le" is the
    // reference the writer must match digit for digit.
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const double edge_values[] = {
        0.0, -0.0, 1.0, -1.0, 48000.0, 24000.0, 0.1, 1e-5, 1e5, 123456.5, 1234565.0, 9.9999995, 9.9999994999,
        0.99999995, 1e100, 1e-100, 1e-300, 1e300, 5e-324, 2.2250738585072014e-308,
        std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), inf, -inf,
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
    };
    for (double v : edge_values)
        EXPECT_EQ(written_real(v), c_library_real(v)) << v;

    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-320, 308);
    for (int i = 0; i < 20000; ++i) {
        double v;
        if (i % 2 == 0) {
            std::uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
        } else {
            v = mantissa(rng) * std::pow(10.0, exponent(rng));
        }
        ASSERT_EQ(written_real(v), c_library_real(v)) << i;
        // Every finite value reads back as the C library reads its text.
        if (std::isfinite(v)) {
            const std::string text = c_library_real(v);
            ASSERT_EQ(parse_value(-1.0, text.c_str()), std::strtod(text.c_str(), nullptr)) << text;
        }
    }
}

// A German locale (decimal comma) compiled into a folder of the test's own,
// so the test does not depend on which locales the machine has generated.
const char* german_locale()
{
    static const std::string folder = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("vesk-locale-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
        const std::string command = "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 ? dir.string() : std::string();
    }();
    if (folder.empty())
        return nullptr;
    setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr ? "de_DE.UTF-8" : nullptr;
}

TEST(BatchLocale, ReadingAndWritingIgnoreTheProcessLocale)
{
    const char* found = german_locale();
    if (found == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma could be made (localedef and the locales package are needed)";
    char with_comma[16];
    std::snprintf(with_comma, sizeof with_comma, "%.1f", 0.5);
    ASSERT_STREQ(with_comma, "0,5"); // the locale really is in force
    ParamRecord r;
    r.aperture = 0.25;
    const std::string text = write_batch(r);
    const ParamRecord back = read_text(text + "fssim 44100.5\n").record;
    const double half = parse_value(0.0, "0.5");
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(text.find("aperture   2.500000e-001\n"), std::string::npos) << found;
    EXPECT_EQ(back.aperture, 0.25);
    EXPECT_EQ(back.fssim, 44100.5);
    EXPECT_EQ(half, 0.5);
}

TEST(BatchFile, LoadFileReadsEveryByte)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vesk_batch_test_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const fs::path file = dir / "params.txt";
    const std::string bytes = "fssim   4.410000e+04\r\nensrc   TRUE\r\n\0\xff"s;
    {
        std::ofstream out(file, std::ios::binary);
        out << bytes;
    }
    std::string text = "old";
    ASSERT_TRUE(load_file(file.string(), text));
    EXPECT_EQ(text, bytes);

    BatchStream stream(text);
    ParamRecord record;
    read_batch(stream, record, {});
    EXPECT_EQ(record.fssim, 44100.0);
    EXPECT_EQ(record.ensrc, 1);

    const fs::path empty = dir / "empty.txt";
    { std::ofstream out(empty, std::ios::binary); }
    ASSERT_TRUE(load_file(empty.string(), text));
    EXPECT_EQ(text, "");

    text = "kept";
    EXPECT_FALSE(load_file((dir / "missing.txt").string(), text));
    EXPECT_FALSE(load_file(dir.string(), text)); // a directory cannot be read
    EXPECT_EQ(text, "kept");
    fs::remove_all(dir);
}

// Random texts: mostly pieces that mean something to the reader, mixed
// with arbitrary bytes (NUL and bytes above 0x7f included).
std::string random_text(std::mt19937& rng)
{
    static const char* const pieces[] = {
        "inpwavname", "outwavname", "fssrc", "ensrc", "fssim", "bitnr", "aperture", "fcloin", "fchiin",
        "fcloout", "fchiout", "varispeedt", "varispeedf", "varispeedsh", "jitteramp", "process", "stop",
        "TRUE", "ST", "ST-", "ST0x", "ST99999999999", "0x", "1e", "1e999", "-", "+", ".", "nan(", "inf",
        " ", " ", "\t", "\n", "\r\n", "\r", "\v", "123", "-7", "4294967296", "0.5",
    };
    std::uniform_int_distribution<int> length(0, 60);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> run(200, 300);
    std::string text;
    const int n = length(rng);
    for (int i = 0; i < n; ++i) {
        const int k = kind(rng);
        if (k < 6) {
            text += pieces[piece(rng)];
        } else if (k < 9) {
            text += static_cast<char>(byte(rng));
        } else {
            text += std::string(static_cast<std::size_t>(run(rng)), static_cast<char>(byte(rng)));
        }
    }
    return text;
}

TEST(BatchFuzz, ArbitraryTextNeverHangsOrCrashes)
{
    std::mt19937 rng(12345);
    for (int i = 0; i < 4000; ++i) {
        const std::string text = random_text(rng);
        const ReadResult r = read_text(text);
        // Every show follows a word, and a word takes at least one byte.
        EXPECT_LE(static_cast<std::size_t>(r.shows + r.processes), text.size()) << i;
        for (const std::string* path : {&r.record.inpwavname, &r.record.outwavname}) {
            EXPECT_LE(path->size(), max_word_length) << i;
            EXPECT_EQ(path->find('\n'), std::string::npos) << i;
            EXPECT_EQ(path->find('\0'), std::string::npos) << i;
        }
        EXPECT_TRUE(r.record.ensrc == 0 || r.record.ensrc == 1) << i;
        EXPECT_TRUE(r.record.varispeedsh == 0 || r.record.varispeedsh == 1) << i;
        // Whatever was read can be written.
        EXPECT_FALSE(write_batch(r.record).empty());
    }
}

TEST(BatchFuzz, ArbitraryWordsNeverCrashParseValue)
{
    std::mt19937 rng(777);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> length(0, 40);
    const char* prefixes[] = {"", "ST", "ST-", "ST0x", "0x", "-", "1e", "inf", "nan("};
    std::uniform_int_distribution<std::size_t> prefix(0, std::size(prefixes) - 1);
    for (int i = 0; i < 4000; ++i) {
        std::string word = prefixes[prefix(rng)];
        const int n = length(rng);
        for (int k = 0; k < n; ++k)
            word += static_cast<char>(byte(rng));
        const double v = parse_value(3.0, word.c_str());
        (void)v;
    }
    SUCCEED();
}

} // namespace
} // namespace batch
} // namespace vesk
