// The parameter record the user edits: the main window's fields, the
// keywords of batch files and (but for fssrc/ensrc, which become the engine's
// fs) the engine's parameters.
#pragma once

#include <cstdint>
#include <string>

namespace vesk {

struct ParamRecord {
    std::string inpwavname = "inp.wav"; // at most 256 characters
    std::string outwavname = "out.wav"; // at most 256 characters
    uint32_t fssrc = 48000;    // target rate of the rate conversion [Hz]
    int ensrc = 0;             // rate conversion on (0 or 1)
    double fssim = 48000.0;    // simulated sampling rate [Hz]
    uint32_t bitnr = 24;       // quantization bits
    double aperture = 0.0;     // fraction of the fs-sim period
    double fcloin = 0.0;       // input filter corners [Hz]
    double fchiin = 24000.0;
    double fcloout = 0.0;      // output filter corners [Hz]
    double fchiout = 24000.0;
    double varispeedt = 1.0;   // vari-speed factor in time
    double varispeedf = 1.0;   // vari-speed factor in frequency
    int varispeedsh = 0;       // hold sample (0 or 1)
    double jitteramp = 0.0;    // fraction of the fs-sim period

    bool operator==(const ParamRecord&) const = default;
};

// Longest path a field holds.
constexpr std::size_t max_path_length = 256;

// Every field back to its default except the two paths (the Reset action).
void reset_keeping_paths(ParamRecord& record);

// 2^(n/12) as the product (or quotient) of |n| successive steps by the
// semitone ratio, each rounded to double; n = 0 gives 1.0.
double semitone_factor(int n);

// The ratio of one semitone, 2^(1/12) as a double.
constexpr double semitone_ratio = 1.0594630943592953;

} // namespace vesk
