// Spectra over time of a run's input and output, and where the chain's
// theory says each component of the output must run: the input's strongest
// components frame by frame, moved by vari-speed, with their images of
// sampling at fs-sim under the hold or aperture roll-off and the filters,
// and the filter corners.  Numbers only, as spectra.h: a window or a
// picture is drawn from them elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/run_spectra.h"
#include "engine/memory.h"
#include "engine/params.h"

namespace vesk::analysis {

// How a signal of `samples` samples is cut into frames: Hann frames of
// 4096 points, 1024 apart.  A signal shorter than a frame takes the largest
// power of two it fills (at least 256 points, zero-padded below that); a
// short one takes a shorter hop (down to a sixteenth of the frame) so that
// it still gets 200 frames; a long one a longer hop so that it gets at most
// max_frames, which bounds the memory a picture holds.
struct Framing {
    unsigned size = 0;
    unsigned hop = 0;
    std::size_t frames = 0;
};
constexpr std::size_t max_frames = 16384;
Framing framing(std::size_t samples);

// The short-time spectra of one signal: frame f starts at sample f * hop,
// and level(f, k) is its bin k (k = 0 .. size / 2) in dBFS on the scale of
// the Welch spectra (a full-scale sine reads 0 dBFS at its bin), kept to a
// hundredth of a dB: a 5-minute file has 30 million of them.
struct Spectrogram {
    double rate = 0.0;
    Framing framing;
    std::size_t bins = 0;     // size / 2 + 1
    Block<int16_t> centi_db; // frame by frame, bins apart
    double bin_hz() const { return framing.size ? rate / framing.size : 0.0; }
    // The middle of frame f [s].
    double time_s(std::size_t frame) const;
    // The time the signal lasts [s].
    double duration_s = 0.0;
    double level(std::size_t frame, std::size_t bin) const { return centi_db[frame * bins + bin] * 0.01; }
    // The frame whose middle is nearest `seconds`, and the bin nearest
    // `hz`; empty outside the signal or above its top bin.
    std::optional<std::size_t> frame_at(double seconds) const;
    std::optional<std::size_t> bin_at(double hz) const;
};

Spectrogram spectrogram(const std::vector<double>& samples, double rate);

// One point of a predicted track, on the output's time axis; a corner has
// no level.
struct TrackPoint {
    double time_s = 0.0;
    double hz = 0.0;
    std::optional<double> dbfs;
};

// A line the output should show: kind "tone", "image" or "corner", points
// in time order, one per frame while the component lasts.  A component
// that fades out and comes back makes a new track.
struct Track {
    std::string kind;
    std::vector<TrackPoint> points;
};

// A peak measured in the output: what the spectra analysis would call a
// tone in that frame (at most 8 a frame).
struct MeasuredPeak {
    double time_s = 0.0;
    Tone peak;
};

struct RunSpectrogram {
    Spectrogram input, output;
    std::vector<Track> tracks;
    // What the input holds at time t the output holds at t / speed (see
    // speed_factor in spectra.h).
    double speed = 1.0;
    // The output's normalisation as found frame by frame (see
    // output_gain_db in spectra.h).
    double output_gain_db = 0.0;
};

// At most this many predicted points a frame, the strongest: sampling at a
// low fs-sim has hundreds of images, which no picture can tell apart.
constexpr std::size_t max_track_points = 64;

// The spectrograms of a run's input and output with the predicted tracks,
// `params` as the run left them (fs-sim and the corners snapped, fs set).
// What the input holds at time t the output holds at t / speed_factor.
// `threads` as in engine/parallel.h (0: as many as the machine has).
RunSpectrogram analyse_spectrogram(const Channel& input, const Channel& output, const Params& params,
                                   unsigned threads = 0);

// The peaks of each frame of `output` in time order, each frame's highest
// first.  Apart from analyse_spectrogram, which needs them for the input
// only: a picture does not show them.
std::vector<MeasuredPeak> measured_peaks(const Spectrogram& output, unsigned threads = 0);

// "time_s,kind,frequency_hz,level_dbfs", then one line per track point and
// per measured peak (kind "measured"), in time order.
std::string tracks_csv(const std::vector<Track>& tracks, const std::vector<MeasuredPeak>& measured);

} // namespace vesk::analysis
