// The parameters of a run: what the front-end sets before it, in the units
// the chain speaks.  One value, so a front-end hands a whole set over in one
// assignment and a test can state one in one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vesk {

struct Params {
    std::optional<std::string> inpwavname; // input WAV path; absent ends a run at once
    std::optional<std::string> outwavname; // output WAV path
    uint32_t fs = 0;          // output rate [Hz]; 0 = the input's rate
    double fssim = 48000.0;   // simulated sampling rate fs-sim [Hz]
    double aperture = 0.0;    // aperture [fraction of the fs-sim period, 0 .. 1]
    uint32_t bitnr = 24;      // quantization word length [bits, 1 .. 24]
    double fcloin = 0.0;      // input band filter, low corner [Hz]
    double fchiin = 24000.0;  // input band filter, high corner [Hz]
    double fcloout = 0.0;     // output band filter, low corner [Hz]
    double fchiout = 24000.0; // output band filter, high corner [Hz]
    double varispeedt = 1.0;  // vari-speed factor in time (> 0)
    double varispeedf = 1.0;  // vari-speed factor in frequency (> 0)
    int varispeedsh = 0;      // hold sample before vari-speed (0 or 1)
    double jitteramp = 0.0;   // jitter amplitude [fraction of the fs-sim period, 0 .. 0.5]
};

// How a run ended.
enum class RunOutcome {
    done,    // the output is written
    failed,  // a message has said why; nothing is written
    stopped, // the stop request was seen; nothing is written
};

// The level channel 0 is normalised to: its largest |sample| becomes this
// fraction of full scale (-3 dB); every other channel takes the same gain.
constexpr double output_peak = 0.707106781;

} // namespace vesk
