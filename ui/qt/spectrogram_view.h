// The Spectra window's Spectrogram view: the picture of spectrogram_plot.h
// with its switches (logarithmic frequency, the predicted tracks), zoom in
// time and frequency, and a line that reads time, frequency and both levels
// under the pointer.  It shows what it is handed; the window analyses the
// files off its own thread (spectra_dlg.h).
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "analysis/spectrogram.h"
#include "ui/qt/spectrogram_plot.h"

class QCheckBox;
class QLabel;

namespace vesk {

// The drawing area.  The wheel zooms the time axis around the pointer
// (with Shift held, the frequency axis); dragging moves the picture.
class SpectrogramCanvas : public QWidget {
public:
    explicit SpectrogramCanvas(QWidget* parent);
    std::shared_ptr<const analysis::RunSpectrogram> run;
    std::string title;
    SpectrogramSpan span;
    // Time and frequency under the pointer, in either panel.
    std::function<void(double seconds, double hz)> pointed;

    // Narrows (factor < 1) or widens the shown time or frequency around
    // `at`, within the whole run.
    void zoomTime(double factor, double at);
    void zoomFrequency(double factor, double at);
    void showWhole();
    void setLogFrequency(bool on);
    void setTracks(bool on);
    // Where the panels lie now.
    SpectrogramLayout layout() const;
    void changed(); // redraw: the cached picture no longer holds
    // Takes a picture drawn elsewhere of the run, title and span shown now,
    // at the canvas's size; one of another size is left.
    void adopt(QImage picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The panel under `at` and the time and frequency there; false outside both.
    bool locate(QPointF at, double& seconds, double& hz) const;
    QImage picture_; // the last picture drawn, until something changes
    QPointF dragFrom_;
    SpectrogramSpan dragSpan_;
};

class SpectrogramView : public QWidget {
public:
    explicit SpectrogramView(QWidget* parent);
    // What a worker needs to draw a run's picture as setRun will show it.
    struct Look {
        QSize size;
        qreal pixelRatio = 1;
        QFont font;
        SpectrogramSpan span;
        bool shown = false; // a run is shown: its zoom is kept while a new one covers it
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    // The span a run is shown with after a view that looked like `look`.
    static SpectrogramSpan spanFor(const analysis::RunSpectrogram& run, const Look& look);
    // The run's picture as setRun shows it, drawn off the window's thread.
    static QImage pictureFor(const analysis::RunSpectrogram& run, const std::string& title, const Look& look);
    // Shows a run's spectrograms; null shows nothing.  The zoom is kept
    // while the new run covers it.  `picture`, from pictureFor, is painted
    // as it is if the view still looks as it did.
    void setRun(std::shared_ptr<const analysis::RunSpectrogram> run, const std::string& title, QImage picture = {});
    SpectrogramCanvas* canvas() const { return canvas_; }
    QCheckBox* logBox() const { return logBox_; }
    QCheckBox* tracksBox() const { return tracksBox_; }
    // The readout's text for a time and a frequency: both levels there.
    QString readoutAt(double seconds, double hz) const;

private:
    SpectrogramCanvas* canvas_;
    QCheckBox* logBox_;
    QCheckBox* tracksBox_;
    QLabel* readout_;
};

} // namespace vesk
