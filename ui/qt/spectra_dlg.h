// The Spectra window: one channel of the input and the latest output as
// spectra, with what the chain's theory predicts over them, and beside them
// as spectrograms with the predicted tracks (spectrogram_view.h).  The
// files are analysed on a worker so the window stays responsive; the
// pictures are the ones vesk-batch writes (spectra_plot.h,
// spectrogram_plot.h).
#pragma once

#include <QDialog>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analysis/run_spectra.h"
#include "engine/params.h"
#include "ui/preview.h"
#include "ui/qt/spectrogram_view.h"
#include "ui/toolkit.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace vesk {

// The drawing area: the spectra between low and high, zoomed by the wheel
// around the pointer.
class SpectraPlot : public QWidget {
public:
    explicit SpectraPlot(QWidget* parent);
    std::optional<analysis::RunSpectra> run;
    std::string title;
    double low = 0, high = 0;
    // The picture as a worker drew it, with the span it shows: painted as
    // it is while the plot's size, span and title are the same.
    struct Picture {
        QImage image;
        double low = 0, high = 0;
        std::string title;
    } picture;
    std::function<void(double hz)> pointed; // the frequency under the pointer
    // Narrows (factor < 1) or widens the span around `hz`, within the
    // default span.
    void zoom(double factor, double hz);
    void resetZoom();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

class SpectraDlg : public QDialog {
public:
    SpectraDlg(Toolkit& toolkit, QWidget* parent = nullptr);
    // Waits for an analysis under way: its hand-over comes to this window.
    ~SpectraDlg() override;

    // Analyses the files of a run with `params` as the run left them,
    // starting with the channel shown.
    void setRun(const std::string& input, const std::string& output, const Params& params);
    // The live preview instead of the files: the span of `input` that
    // `rendering` covers and the rendering, with the parameters the render
    // used.  Nulls go back to the files.
    void setPreview(std::shared_ptr<const InputSamples> input, std::shared_ptr<const SpanRendering> rendering);

    // True until the latest request's result has arrived.
    bool busy() const { return generation_ != shown_; }
    // The same for the spectrogram, which comes after the spectra.
    bool spectrogramBusy() const { return generation_ != spectrogramShown_; }
    QComboBox* channelBox() const { return channelBox_; }
    SpectraPlot* plot() const { return plot_; }
    QTabWidget* tabs() const { return tabs_; }
    SpectrogramView* spectrogram() const { return spectrogram_; }
    QString status() const;
    // The readout's text for a frequency: both levels there.
    QString readoutAt(double hz) const;

private:
    struct Request {
        std::string input, output;
        Params params;
        std::shared_ptr<const InputSamples> previewInput;
        std::shared_ptr<const SpanRendering> preview;
        uint32_t channel = 0;
        // The plot as it is when asked: its size, font and span (none yet
        // for the first run: the whole range).
        QSize size;
        qreal pixelRatio = 1;
        QFont font;
        double low = 0, high = 0;
        SpectrogramView::Look spectrogram; // the Spectrogram view as it is when asked
    };
    static std::string titleOf(const Request& request);
    // The channel asked for of the preview's input span and rendering.
    static bool previewChannels(const Request& request, analysis::Channel& input, analysis::Channel& output);
    void analyse();
    void received(const Request& request, std::optional<analysis::RunSpectra> run, uint32_t channels,
                  const std::string& error, SpectraPlot::Picture picture);

    Toolkit& toolkit_;
    Request request_;
    // The latest request, and the ones whose spectra and spectrogram are shown.
    int generation_ = 0, shown_ = 0, spectrogramShown_ = 0;
    // Workers under way; the last thing each worker touches.
    std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
    // generation_ as the workers see it: a worker whose request is no
    // longer the latest skips its spectrogram.
    std::shared_ptr<std::atomic<int>> latest_ = std::make_shared<std::atomic<int>>(0);

    QComboBox* channelBox_;
    QLabel* statusLabel_;
    QLabel* readoutLabel_;
    SpectraPlot* plot_;
    QTabWidget* tabs_;
    SpectrogramView* spectrogram_;
};

} // namespace vesk
