// The batch reader on arbitrary bytes: a whole text read with no actions,
// the same bytes as one value word (parse_value) and as a run of path lines
// (read_line_value: at most 255 characters of at most four bytes each).
//
// A text the writer makes from any record the reader produced reads back to
// a record that writes the same text again: what the writer puts out is
// what the reader takes in (values are written with six decimals, so the
// first round may round them; after that nothing may move).  A path that
// ends in a carriage return is left out: the writer ends its line right
// after it, and a carriage return before a line end belongs to the line end
// (batch files written on Windows), so such a path loses it when read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/batch.h"
#include "ui/exchange.h"

namespace {

using namespace vesk::batch;

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "batch_fuzzer: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    vesk::ParamRecord record;
    BatchStream stream(text);
    if (read_batch(stream, record, BatchActions{}) == BatchEnd::end_of_text && !stream.at_end())
        broken("the reader ended before the end of the text");
    if (record.inpwavname.size() > 4 * max_word_length || record.outwavname.size() > 4 * max_word_length)
        broken("a path longer than its field");

    if (!record.inpwavname.ends_with('\r') && !record.outwavname.ends_with('\r')) {
        const std::string first = write_batch(record);
        vesk::ParamRecord again;
        BatchStream written(first);
        if (read_batch(written, again, BatchActions{}) != BatchEnd::end_of_text)
            broken("a written record holds a stop");
        const std::string second = write_batch(again);
        vesk::ParamRecord third;
        BatchStream rewritten(second);
        read_batch(rewritten, third, BatchActions{});
        if (write_batch(third) != second)
            broken("a written record does not read back");
    }

    // The bytes as one word (up to a NUL, as a C string ends).
    const double value = parse_value(1.0, text.c_str());
    (void)value;

    BatchStream lines(text);
    std::string path;
    while (!lines.at_end()) {
        const std::size_t before = lines.position();
        const std::size_t n = read_line_value(lines, path);
        if (n > max_word_length || n != vesk::character_count(path) || path.size() > 4 * n)
            broken("a path value of more characters than it may hold");
        if (lines.position() == before)
            broken("read_line_value took nothing");
    }
    return 0;
}
