// What batch values mean: tables of (text -> the one field it sets), each row
// comparing the whole record.  Arbitrary bytes and the write-read round trip
// are the fuzz target's job (fuzz/batch_fuzzer.cpp).
#include <climits>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "record_tables.h"
#include "tests/support/temp_dir.h"

namespace vesk::batch {
namespace {

using namespace std::string_literals;
using R = ParamRecord;

template <typename T>
struct Row { std::string text; T R::*field; T start, expected; }; // the field before and after the text

template <typename T>
void check_rows(const std::vector<Row<T>>& rows)
{
    for (const Row<T>& row : rows) {
        R start, expected;
        start.*row.field = row.start, expected.*row.field = row.expected;
        EXPECT_EQ(test::read_text(row.text, start), expected) << "text: \"" << row.text << '"';
    }
}

const double st = semitone_ratio;

TEST(BatchValues, PlainRealsReadAsTheCLibraryReadsThemAndKeepTheFieldWhenUnreadable)
{
    check_rows<double>({
        {"aperture +.5", &R::aperture, 0.3, 0.5},          {"jitteramp -1e-3", &R::jitteramp, 0.3, -0.001},
        {"aperture\n\r\n  0.5ms", &R::aperture, 0.3, 0.5},   {"aperture 1e+", &R::aperture, 0.3, 1.0},
        {"jitteramp 0x1p-4", &R::jitteramp, 0.3, 0.0625},  {"jitteramp -0X.8", &R::jitteramp, 0.3, -0.5},
        {"jitteramp 0xg", &R::jitteramp, 9.0, 0.0},        {"aperture 1e-999", &R::aperture, 9.0, 0.0},
        {"aperture 0x1p-99999", &R::aperture, 9.0, 0.0},   {"aperture 1e-320", &R::aperture, 9.0, 1e-320},
        {"aperture abc", &R::aperture, 0.3, 0.3},          {"jitteramp +-1", &R::jitteramp, 0.3, 0.3},
        {"aperture ST", &R::aperture, 0.3, 0.3},           {"jitteramp", &R::jitteramp, 0.3, 0.3},
    });
}

TEST(BatchValues, ScaledRealsTakeANumberOrASemitoneStepFromTheCurrentValue)
{
    check_rows<double>({
        {"fssim 44100", &R::fssim, 48000.0, 44100.0},       {"fchiin 24000Hz", &R::fchiin, 1.0, 24000.0},
        {"fssim -5", &R::fssim, 48000.0, -5.0},             {"fssim 0x10", &R::fssim, 48000.0, 16.0},
        {"fssim 0x", &R::fssim, 48000.0, 0.0},              {"fssim ST", &R::fssim, 48000.0, 48000.0 * st},
        {"fssim ST-1", &R::fssim, 48000.0, 48000.0 / st},   {"fssim ST\r\nfssim ST", &R::fssim, 1.0, st * st},
        {"varispeedf ST08", &R::varispeedf, 2.0, 2.0}, // octal 0, then the word "8"
        {"fssim 1000 fssim 2000", &R::fssim, 7.0, 2000.0},  {"varispeedt \n ", &R::varispeedt, 2.0, 2.0},
    });
    // The count after ST in the C syntax of "%i": a sign, octal, hexadecimal, trailing text ignored.
    const std::tuple<const char*, double R::*, int> steps[] = {
        {"fssim ST12", &R::fssim, 12},        {"fssim ST-12", &R::fssim, -12},   {"fchiout ST+7", &R::fchiout, 7},
        {"fchiin ST0x2", &R::fchiin, 2},      {"fcloout ST-0X3", &R::fcloout, -3}, {"fcloin ST5abc", &R::fcloin, 5},
        {"varispeedt ST010", &R::varispeedt, 8}, {"fchiin ST-99999999999", &R::fchiin, INT_MIN},
    };
    for (const auto& [text, field, n] : steps)
        check_rows<double>({{text, field, 240.0, 240.0 * semitone_factor(n)}});
    for (const char* word : {"ST0", "STx", "ST-", "ST.5", "STOP", "st", "abc", ".", "bitnr 5"})
        check_rows<double>({{"fssim "s + word, &R::fssim, 7.0, 7.0}});
}

// No field means anything by infinity or NaN: they keep it, as unreadable values do.
TEST(BatchValues, ValuesThatAreNotFiniteKeepTheField)
{
    std::vector<Row<double>> rows = {
        {"fchiin ST99999999999", &R::fchiin, 24000.0, 24000.0}, // a semitone step that overflows
        {"fchiin ST2147483647", &R::fchiin, 24000.0, 24000.0},
        {"fssim ST13000", &R::fssim, 48000.0, 48000.0},
        {"fcloin ST2147483647", &R::fcloin, 0.0, 0.0}, // zero times an infinite factor
    };
    for (const char* word : {"inf", "-INFINITY", "nan", "NaN(123)", "1e999", "-1e999", "0x1p99999"}) {
        rows.push_back({"aperture "s + word, &R::aperture, 0.3, 0.3});
        rows.push_back({"fssim "s + word, &R::fssim, 7.0, 7.0});
    }
    check_rows(rows);
}

TEST(BatchValues, UnsignedValuesAreDecimalModuloTwoToThe32AndFlagsAreOnOnlyForTRUE)
{
    check_rows<uint32_t>({
        {"fssrc\n\n \t 96000", &R::fssrc, 1, 96000},       {"bitnr +007", &R::bitnr, 1, 7},
        {"fssrc -1", &R::fssrc, 1, 4294967295u},            {"bitnr -24", &R::bitnr, 1, 4294967272u},
        {"fssrc 4294967296", &R::fssrc, 1, 0},              {"fssrc 4294967297", &R::fssrc, 1, 1},
        {"fssrc 100000000000000000000", &R::fssrc, 1, 1661992960u}, // 10^20 mod 2^32
        {"fssrc 12abc", &R::fssrc, 1, 12},                  {"bitnr 0x10", &R::bitnr, 1, 0},
        {"fssrc abc", &R::fssrc, 1, 1},                     {"fssrc - 5", &R::fssrc, 1, 1},
    });
    check_rows<int>({
        {"ensrc TRUE", &R::ensrc, 0, 1},                    {"varispeedsh\n\nTRUE", &R::varispeedsh, 0, 1},
        {"ensrc true", &R::ensrc, 1, 0},  {"ensrc FALSE", &R::ensrc, 1, 0},  {"varispeedsh 1", &R::varispeedsh, 1, 0},
        {"ensrc TRUEx", &R::ensrc, 1, 0}, {"varispeedsh", &R::varispeedsh, 1, 0},
    });
}

TEST(BatchValues, APathIsTheRestOfItsLineUpTo255CharactersAndNeverSplitsOne)
{
    check_rows<std::string>({
        {"outwavname\tresult.wav", &R::outwavname, "x", "result.wav"},
        {"inpwavname \t  my  take\t1.wav  \n", &R::inpwavname, "x", "my  take\t1.wav  "},
        {"inpwavname C:\\a b\\in.wav\r\n", &R::inpwavname, "x", "C:\\a b\\in.wav"},
        {"inpwavname a\rb\n", &R::inpwavname, "x", "a\rb"}, {"inpwavname   \t \nin.wav", &R::inpwavname, "x", ""},
        {"inpwavname ab\0cd\n"s, &R::inpwavname, "x", "ab"}, // a file name ends at NUL
        {"inpwavname fssim 5\n", &R::inpwavname, "x", "fssim 5"},
    });
    // The 256-character limit counts characters, as the window's edit and the
    // exchange do, never bytes: 255 are taken, the 256th is dropped whole, and
    // the rest of the line is read as words (here "bitnr 3").
    using test::repeat;
    const std::string a = "a", e = "\xc3\xa4", euro = "\xe2\x82\xac", clef = "\xf0\x9d\x84\x9e";
    const std::pair<std::string, std::string> rows[] = { // (line, path)
        {repeat(a, 255) + "\nbitnr 3", repeat(a, 255)},     {repeat(a, 255) + "Xbitnr 3", repeat(a, 255)},
        {repeat(e, 200) + "\nbitnr 3", repeat(e, 200)},     {repeat(e, 255) + "\nbitnr 3", repeat(e, 255)},
        {repeat(e, 256) + "bitnr 3", repeat(e, 255)},       {repeat(clef, 256) + "bitnr 3", repeat(clef, 255)},
        {repeat(euro, 254) + "a" + euro + "bitnr 3", repeat(euro, 254) + "a"},
        {repeat(clef, 254) + "\nbitnr 3", repeat(clef, 254)},
    };
    for (const auto& [line, path] : rows) {
        const R got = test::read_text("inpwavname " + line);
        // Byte counts, not the texts: a thousand escaped bytes tell nothing.
        EXPECT_TRUE(got.inpwavname == path && got.bitnr == 3u)
            << "line of " << line.size() << " bytes: path of " << got.inpwavname.size() << " bytes, expected "
            << path.size() << "; bitnr " << got.bitnr << ", expected 3";
    }
}

TEST(BatchValues, WordsCommandsAndLineEnds)
{
    check_rows<double>({
        {"# fssim 48000 more\n", &R::fssim, 1000.0, 48000.0}, // no comment syntax
        {"FSSIM 5 Fssim 6 fssim7", &R::fssim, 1000.0, 1000.0},
        {"hello world fssim 4 again", &R::fssim, 1000.0, 4.0},
        {std::string(255, 'x') + "fssim 7", &R::fssim, 1000.0, 7.0}, // a word ends at 255
        {std::string(256, 'x') + "fssim 7", &R::fssim, 1000.0, 1000.0},
        {"fssim\v7\f", &R::fssim, 1000.0, 7.0},             {"fssim\0 5"s, &R::fssim, 1000.0, 1000.0},
        {"\xff fssim\xa0 5 fssim 6", &R::fssim, 1000.0, 6.0}, {"STOP fssim 5", &R::fssim, 7.0, 5.0},
        {"fssim 1000\r\nstop\r\nfssim 2000", &R::fssim, 7.0, 1000.0},
        {"stop fssim 2000", &R::fssim, 7.0, 7.0},           {"stops fssim 5", &R::fssim, 7.0, 5.0},
        {"fssim stop fssim 5", &R::fssim, 7.0, 5.0}, // "stop" as a value is no command
    });
    const std::pair<std::string, std::string> streams[] = {
        {"a\r\nb", "a\nb"}, {"a\rb", "a\rb"}, {"a\r\r\n", "a\r\n"}, {"\r\n\r\n", "\n\n"}, {"a\r", "a\r"},
        {"\n\r", "\n\r"},   {"x\0\r\ny"s, "x\0\ny"s},
    };
    for (const auto& [in, out] : streams)
        EXPECT_EQ(BatchStream(in).text(), out) << "a carriage return belongs to the line end only before \\n";
}

TEST(BatchFile, LoadFileReadsEveryByteAndRefusesWhatCannotBeRead)
{
    test::TempDir dir;
    const std::string bytes = "fssim 5\r\n\0\xff"s + std::string(70000, 'x'); // more than one read
    std::ofstream(dir.file("b.txt"), std::ios::binary) << bytes;
    std::string text = "kept";
    EXPECT_TRUE(load_file(dir.file("b.txt"), text) && text == bytes) << text.size() << " bytes of " << bytes.size();
    EXPECT_FALSE(load_file(dir.file("missing"), text) || load_file(dir.path().string(), text) || text != bytes);
}

TEST(BatchRead, ProcessRunsWithTheValuesSoFarAndShowFollowsEveryWord)
{
    R record;
    std::vector<std::string> events;
    BatchActions actions;
    actions.process = [&] { events.push_back("process at " + std::to_string(int(record.fssim))); };
    actions.show = [&] { events.push_back("show"); };
    BatchStream stream("fssim 1000 process junk fssim ST0 process\nstop bitnr 5");
    EXPECT_EQ(read_batch(stream, record, actions), BatchEnd::stop);
    EXPECT_EQ(events, (std::vector<std::string>{"show", "process at 1000", "show", "show", "show",
                                                "process at 1000", "show"}));
    EXPECT_EQ(stream.text().substr(stream.position()), " bitnr 5");
}

} // namespace
} // namespace vesk::batch
