// Spectra of a run's input and output, and what the chain's theory says the
// output should hold: the tones moved by vari-speed, the images of sampling
// at fs-sim under the hold or aperture roll-off, the filter corners, the
// word length's noise floor and the jitter noise.  Numbers only: a window
// or a picture is drawn from them elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/params.h"

namespace vesk::analysis {

// Points per analysis segment; the bins are rate / segment_size apart.
constexpr unsigned segment_size = 8192;

// A one-sided magnitude spectrum: levels[k] is bin k (k = 0 .. 4096) in
// dBFS, where a full-scale sine reads 0 dBFS at its bin.
struct Spectrum {
    double bin_hz = 0.0;
    std::vector<double> dbfs;
};

// Welch's average over the whole signal: Hann-windowed segments of
// segment_size points, half overlapping, their powers averaged.  Samples are
// in full scale (-1 .. 1).  A signal shorter than a segment is one segment
// padded with zeros; an empty one reads as silence.
Spectrum welch_spectrum(const std::vector<double>& samples, double rate);

struct Tone {
    double hz = 0.0;
    double dbfs = 0.0;
};

// The peak near `hz` (the highest bin within one bin of it), its frequency
// and level refined by a parabola through the dB values of it and its
// neighbours, which takes out most of the Hann window's scalloping.
Tone peak_near(const Spectrum& spectrum, double hz);

// The highest peaks, at most 8, each at least 30 dB above the spectrum's
// median level and within 120 dB of the highest bin, highest first; a peak
// is a bin above both neighbours, so a tone's skirt does not count again.
std::vector<Tone> strongest_tones(const Spectrum& spectrum);

// What predict needs besides the parameters.
struct Facts {
    double input_rate = 0.0;
    double output_rate = 0.0;
    // Added to every level: the output's normalisation (see output_gain_db).
    double output_gain_db = 0.0;
};

// kind: "tone", "image", "corner", "noise-floor" or "jitter"; hz is empty
// for a floor, dbfs for a corner.  path tells how a tone or image came
// about (0 the tone itself; otherwise which image of which sampling), so
// that the same image of a tone that moves can be followed from one moment
// to the next.
struct Prediction {
    std::string kind;
    std::optional<double> hz;
    std::optional<double> dbfs;
    uint64_t path = 0;
};

// The predictions for the input `tones` (strongest first) through a run
// with `params` as the run leaves them (fs-sim and the corners snapped, fs
// set).  Components the output filter removes are not listed.
std::vector<Prediction> predict(const std::vector<Tone>& tones, const Params& params, const Facts& facts);

// The factor by which vari-speed multiplies every frequency and divides
// every duration: the product of its factors in time and in frequency.
double speed_factor(const Params& params);

// What one input tone becomes, the part of predict for each tone: the tone
// as moved by vari-speed and its images, lowest first, those the filters
// remove left out.
std::vector<Prediction> predict_tone(const Tone& tone, const Params& params, const Facts& facts);

// The gain normalisation applied: the output's measured level at the first
// predicted tone minus its level predicted without gain (0 when nothing is
// predicted).
double output_gain_db(const std::vector<Tone>& tones, const Params& params, Facts facts, const Spectrum& output);

// "frequency_hz,input_dbfs,output_dbfs", then one line per output bin; the
// input's level is that of its nearest bin, empty above its top bin.
std::string spectra_csv(const Spectrum& input, const Spectrum& output);

// "kind,frequency_hz,level_dbfs", then one line per prediction.
std::string predicted_csv(const std::vector<Prediction>& predictions);

// Appends `value` to a csv text in the "C" form whatever the locale:
// `decimals` places, or with decimals < 0 the shortest form that reads back
// the same (so that a bin's frequency stays exact).
void append_number(std::string& text, double value, int decimals);

} // namespace vesk::analysis
