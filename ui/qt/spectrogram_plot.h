// The picture of a run's spectrograms: input above output on one time axis,
// levels in a perceptually uniform colour map with a dBFS scale bar, and
// the predicted tracks as thin lines over the output.  One renderer for the
// Spectra window's Spectrogram view, PNG and SVG, beside the spectra
// picture (spectra_plot.h).
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>
#include <string>

#include "analysis/spectrogram.h"

namespace vesk {

// The part of a run a picture shows and how.
struct SpectrogramSpan {
    double t0 = 0.0, t1 = 1.0; // [s]
    double f0 = 0.0, f1 = 1.0; // [Hz]
    bool log_frequency = false;
    bool tracks = true;
    bool operator==(const SpectrogramSpan&) const = default;
};

// The lowest frequency on a logarithmic axis.
constexpr double log_low_hz = 20.0;
// Everything: from 0 to the longer of the two signals, from 0 (log_low_hz
// on a logarithmic axis) to the higher Nyquist frequency.
SpectrogramSpan whole_span(const analysis::RunSpectrogram& run, bool log_frequency);

// Where the two panels and the scale bar lie inside `area` with `font`.
struct SpectrogramLayout {
    QRectF input, output, bar;
};
SpectrogramLayout spectrogram_layout(const QRectF& area, const QFont& font);

// The time at `x` and the frequency at `y` of a panel showing `span`.
double time_at(const QRectF& panel, double x, const SpectrogramSpan& span);
double frequency_at_height(const QRectF& panel, double y, const SpectrogramSpan& span);

// The level of the frame and bin nearest (seconds, hz) in dBFS; NaN
// outside the signal or above its top bin.
double level_at(const analysis::Spectrogram& spectrogram, double seconds, double hz);

// The colour map: 0 the lowest level shown, 1 the highest.
QColor level_colour(double position);

// Draws both spectrograms of `run` with the tracks over the output into
// `area`.
void draw_spectrogram(QPainter& painter, const QRectF& area, const analysis::RunSpectrogram& run,
                      const std::string& title, const SpectrogramSpan& span);
// Writes the whole run's picture as "png" or "svg" at `path` (see
// write_picture in spectra_plot.h); false when it cannot be written.
bool write_spectrogram_picture(const analysis::RunSpectrogram& run, const std::string& title,
                               const std::string& format, const std::string& path);

} // namespace vesk
