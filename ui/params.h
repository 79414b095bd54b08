// The parameter record the user edits: the main window's fields, the
// keywords of batch files and (but for fssrc/ensrc, which become the engine's
// fs) the engine's parameters.  Each of the fifteen is described once, in
// param_table(): its keyword, how it is read and written, its default, its
// range and its help text.  The record's defaults, the batch reader and
// writer, the window's exchange and spin buttons and vesk-batch's help all
// draw from that one table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vesk {

struct ParamRecord {
    ParamRecord(); // every field at its table default

    std::string inpwavname;    // at most 256 characters
    std::string outwavname;    // at most 256 characters
    uint32_t fssrc;            // target rate of the rate conversion [Hz]
    int ensrc;                 // rate conversion on (0 or 1)
    double fssim;              // simulated sampling rate [Hz]
    uint32_t bitnr;            // quantization bits
    double aperture;           // fraction of the fs-sim period
    double fcloin;             // input filter corners [Hz]
    double fchiin;
    double fcloout;            // output filter corners [Hz]
    double fchiout;
    double varispeedt;         // vari-speed factor in time
    double varispeedf;         // vari-speed factor in frequency
    int varispeedsh;           // hold sample (0 or 1)
    double jitteramp;          // fraction of the fs-sim period

    bool operator==(const ParamRecord&) const = default;
};

// How a parameter's value is written and read.
enum class ParamKind {
    path,         // the rest of the line in a batch file; an edit text
    unsigned_int, // decimal digits
    flag,         // TRUE / FALSE; a check box
    plain_real,   // a number
    scaled_real,  // a number, or a semitone step "ST", "ST<n>" from the current value
};

using ParamMember = std::variant<std::string ParamRecord::*, uint32_t ParamRecord::*, int ParamRecord::*,
                                 double ParamRecord::*>;

struct ParamInfo {
    std::string_view keyword;    // in batch files and in the help
    ParamKind kind;
    ParamMember member;
    int edit;                    // the main window's edit or check box
    int spin;                    // its semitone spin button, 0 = none
    std::string_view fallback;   // the default, as a batch file would write it
    std::string_view value_name; // what the help calls the value
    std::string_view help;       // one line: what it is, unit and range
};

// The fifteen parameters in the order batch files list them and the window
// takes them.
const std::array<ParamInfo, 15>& param_table();

// Longest path a field holds.
constexpr std::size_t max_path_length = 256;

// Where the UTF-8 character that starts at text[begin] ends (begin <
// text.size()): after its first byte and the continuation bytes (10xxxxxx)
// that follow it.  Path lengths are counted in these characters everywhere
// (the window's edit, the exchange, batch files), so a cut never splits one.
// No character is longer than four bytes: a fourth continuation byte in a
// row (text that is not UTF-8) starts a character of its own, so that any
// text counts at least one character per four bytes.
std::size_t character_end(std::string_view text, std::size_t begin);

// Every field back to its default except the two paths (the Reset action).
void reset_keeping_paths(ParamRecord& record);

// 2^(n/12) as the product (or quotient) of |n| successive steps by the
// semitone ratio, each rounded to double; n = 0 gives 1.0.
double semitone_factor(int n);

// The ratio of one semitone, 2^(1/12) as a double.
constexpr double semitone_ratio = 1.0594630943592953;

} // namespace vesk
