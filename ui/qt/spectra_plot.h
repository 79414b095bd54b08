// The picture of a run's spectra: input and output overlaid on a logarithmic
// frequency axis with the chain's predictions over them.  One renderer for
// the Spectra window, PNG and SVG, so what vesk-batch writes is what the
// window shows.  Needs Qt's painting only (no widgets).
#pragma once

#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <functional>
#include <string>

#include "analysis/run_spectra.h"

namespace vesk {

// Draws the input and output spectra of `run` and the predictions over them into `area`: the one renderer for the window, PNG and SVG.
void draw_spectra(QPainter& painter, const QRectF& area, const analysis::RunSpectra& run, const std::string& title, double low_hz, double high_hz);
// Writes the picture as "png" or "svg" at `path`; false when it cannot be written. Makes sure a QGuiApplication exists (an offscreen one when the process has none: vesk-batch has no window system), so a program without a window can call it.
bool write_spectra_picture(const analysis::RunSpectra& run, const std::string& title, const std::string& format, const std::string& path);

// Writes a picture of `size` drawn by `draw` as "png" or "svg" at `path`,
// in the font every picture file uses; false when it cannot be written.
// Makes sure a QGuiApplication exists, as write_spectra_picture says.
bool write_picture(QSize size, const std::string& title, const std::string& format, const std::string& path,
                   const std::function<void(QPainter&, const QRectF&)>& draw);
// "440 Hz", "5.5 kHz": a frequency as the axes label it.
QString hz_label(double hz);

// The lowest frequency shown by default, and the highest: the higher
// Nyquist frequency of the two spectra.
constexpr double default_low_hz = 10.0;
double default_high_hz(const analysis::RunSpectra& run);
// Where draw_spectra puts the axes' frame inside `area` with `font`.
QRectF spectra_frame(const QRectF& area, const QFont& font);
// The frequency at `x` on a frame spanning low_hz .. high_hz logarithmically.
double frequency_at(const QRectF& frame, double x, double low_hz, double high_hz);
// The level of the bin nearest `hz`; NaN beyond the spectrum's top bin.
double level_at(const analysis::Spectrum& spectrum, double hz);

} // namespace vesk
