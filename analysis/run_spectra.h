// The spectra of one channel of a run's input and output, with the chain's
// predictions over them: what the Spectra window draws and vesk-batch
// --spectra writes, computed the same way for both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/spectra.h"
#include "engine/params.h"

namespace vesk::analysis {

// One channel of a PCM WAV file as full-scale values.
struct Channel {
    std::vector<double> samples;
    double rate = 0.0;
    uint32_t channels = 0; // of the file
};

// Reads channel `channel` (the last one when the file has fewer) of the PCM
// WAV file at `path`.  False, with the reason in `error` ("cannot open WAV
// input", "invalid or unsupported WAV-format", "WAV must be PCM"), when it
// cannot be read.
bool read_channel(const std::string& path, uint32_t channel, Channel& out, std::string& error);

struct RunSpectra {
    Spectrum input, output;
    std::vector<Tone> tones;              // the input's strongest, highest first
    std::vector<Prediction> predictions;  // over the output, at its level
};

// `params` as the run left them (fs-sim and the corners snapped, fs set).
RunSpectra analyse_run(const Channel& input, const Channel& output, const Params& params);

} // namespace vesk::analysis
