#include "ui/qt/spectra_dlg.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <thread>
#include <cmath>

#include "engine/sample_codec.h"
#include "ui/qt/spectra_plot.h"
#include "ui/qt/spectrogram_view.h"

namespace vesk {

SpectraPlot::SpectraPlot(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(640, 380);
}

void SpectraPlot::resetZoom()
{
    low = default_low_hz;
    high = run ? std::max(default_high_hz(*run), low * 10) : low * 10;
    update();
}

void SpectraPlot::zoom(double factor, double hz)
{
    if (!run)
        return;
    const double floor = default_low_hz, ceiling = std::max(default_high_hz(*run), floor * 10);
    hz = std::clamp(hz, low, high);
    // The pointer's frequency stays where it is; the span keeps at least a
    // tenth of an octave.
    double l = hz * std::pow(low / hz, factor), h = hz * std::pow(high / hz, factor);
    if (h / l < std::pow(2.0, 0.1))
        return;
    if (l < floor) { h *= floor / l; l = floor; }
    if (h > ceiling) { l = std::max(floor, l * ceiling / h); h = ceiling; }
    low = l;
    high = h;
    update();
}

void SpectraPlot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Drawing the picture takes longer than a prompt window may: after an
    // analysis the worker has drawn it already.
    if (run && picture.image.deviceIndependentSize() == QSizeF(size()) && picture.low == low && picture.high == high
        && picture.title == title)
        painter.drawImage(0, 0, picture.image);
    else if (run)
        draw_spectra(painter, rect(), *run, title, low, high);
    else
        painter.fillRect(rect(), Qt::white);
}

void SpectraPlot::mouseMoveEvent(QMouseEvent* event)
{
    const QRectF frame = spectra_frame(rect(), font());
    if (run && pointed && frame.contains(event->position()))
        pointed(frequency_at(frame, event->position().x(), low, high));
}

void SpectraPlot::wheelEvent(QWheelEvent* event)
{
    const QRectF frame = spectra_frame(rect(), font());
    const double steps = event->angleDelta().y() / 120.0;
    zoom(std::pow(0.8, steps), frequency_at(frame, event->position().x(), low, high));
    event->accept();
}

SpectraDlg::SpectraDlg(Toolkit& toolkit, QWidget* parent) : QDialog(parent), toolkit_(toolkit)
{
    setWindowTitle(QStringLiteral("Spectra"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Channel:"), this));
    channelBox_ = new QComboBox(this);
    channelBox_->setObjectName(QStringLiteral("channelBox"));
    row->addWidget(channelBox_);
    row->addSpacing(20);
    statusLabel_ = new QLabel(this);
    row->addWidget(statusLabel_, 1);
    layout->addLayout(row);
    tabs_ = new QTabWidget(this);
    auto* spectraPage = new QWidget(tabs_);
    auto* page = new QVBoxLayout(spectraPage);
    auto* zoomRow = new QHBoxLayout;
    auto* zoomIn = new QPushButton(QStringLiteral("+"), spectraPage);
    auto* zoomOut = new QPushButton(QStringLiteral("-"), spectraPage);
    auto* reset = new QPushButton(QStringLiteral("Whole range"), spectraPage);
    for (QPushButton* b : {zoomIn, zoomOut, reset}) {
        b->setAutoDefault(false);
        zoomRow->addWidget(b);
    }
    zoomRow->addStretch(1);
    zoomIn->setToolTip(QStringLiteral("Zoom in on the frequency axis (or turn the mouse wheel)"));
    zoomOut->setToolTip(QStringLiteral("Zoom out on the frequency axis"));
    page->addLayout(zoomRow);
    plot_ = new SpectraPlot(spectraPage);
    page->addWidget(plot_, 1);
    readoutLabel_ = new QLabel(QStringLiteral("Point at the picture to read the levels."), spectraPage);
    readoutLabel_->setTextFormat(Qt::PlainText);
    page->addWidget(readoutLabel_);
    tabs_->addTab(spectraPage, QStringLiteral("Spectra"));
    spectrogram_ = new SpectrogramView(tabs_);
    tabs_->addTab(spectrogram_, QStringLiteral("Spectrogram"));
    layout->addWidget(tabs_, 1);
    resize(1000, 700);

    auto centre = [this] { return std::sqrt(plot_->low * plot_->high); };
    connect(zoomIn, &QPushButton::clicked, this, [this, centre] { plot_->zoom(0.5, centre()); });
    connect(zoomOut, &QPushButton::clicked, this, [this, centre] { plot_->zoom(2.0, centre()); });
    connect(reset, &QPushButton::clicked, this, [this] { plot_->resetZoom(); });
    plot_->pointed = [this](double hz) { readoutLabel_->setText(readoutAt(hz)); };
    connect(channelBox_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && static_cast<uint32_t>(index) != request_.channel) {
            request_.channel = static_cast<uint32_t>(index);
            analyse();
        }
    });
}

SpectraDlg::~SpectraDlg()
{
    // A worker still analysing touches nothing of this window until it
    // posts its result, which goes with the window; it only has to be done
    // with posting before the window is gone.  No events are served here:
    // this may run while the main window is being taken apart.
    while (running_->load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void SpectraDlg::setRun(const std::string& input, const std::string& output, const Params& params)
{
    request_.input = input;
    request_.output = output;
    request_.params = params;
    request_.preview.reset();
    analyse();
}

void SpectraDlg::setPreview(std::shared_ptr<const InputSamples> input, std::shared_ptr<const SpanRendering> rendering)
{
    if (!request_.preview && !rendering)
        return;
    request_.previewInput = std::move(input);
    request_.preview = std::move(rendering);
    analyse();
}

void SpectraDlg::analyse()
{
    statusLabel_->setText(QStringLiteral("analysing ..."));
    // An analysis still under way goes on, but its result is dropped.
    const int generation = ++generation_;
    latest_->store(generation);
    Request request = request_;
    // A window not yet shown has not laid out its plot: the picture is
    // drawn at the size it will have.
    layout()->activate();
    request.size = plot_->size();
    request.pixelRatio = plot_->devicePixelRatioF();
    request.font = plot_->font();
    request.low = plot_->run ? plot_->low : 0;
    request.high = plot_->run ? plot_->high : 0;
    spectrogram_->layout()->activate();
    request.spectrogram = spectrogram_->look();
    running_->fetch_add(1);
    std::shared_ptr<std::atomic<int>> running = running_, latest = latest_;
    toolkit_.start_thread([this, running, latest, request, generation] {
        analysis::Channel input, output;
        std::string error;
        std::optional<analysis::RunSpectra> run;
        SpectraPlot::Picture picture;
        // A preview's spectra go with the parameters its render used.
        const Params& params = request.preview ? request.preview->params : request.params;
        if (request.preview ? previewChannels(request, input, output)
                            : analysis::read_channel(request.input, request.channel, input, error)
                                  && analysis::read_channel(request.output, request.channel, output, error)) {
            run = analysis::analyse_run(input, output, params);
            // The span a first run is shown with: the whole range.
            picture.low = request.high > 0 ? request.low : default_low_hz;
            picture.high = request.high > 0 ? request.high : std::max(default_high_hz(*run), default_low_hz * 10);
            picture.title = titleOf(request);
            picture.image = QImage(request.size * request.pixelRatio, QImage::Format_ARGB32_Premultiplied);
            picture.image.setDevicePixelRatio(request.pixelRatio);
            picture.image.fill(Qt::white);
            QPainter painter(&picture.image);
            painter.setFont(request.font);
            draw_spectra(painter, QRectF(QPointF(0, 0), QSizeF(request.size)), *run, picture.title, picture.low,
                         picture.high);
        } else if (error.empty()) {
            error = "cannot read the files";
        }
        const bool read = run.has_value();
        // Posted, not waited for: the result (moved into the call, shared
        // with nobody) reaches the window on its own thread, and a window
        // closed meanwhile takes the posted call with it.
        QMetaObject::invokeMethod(
            this,
            [this, request, generation, run = std::move(run), channels = input.channels, error,
             picture = std::move(picture)]() mutable {
                if (generation != generation_)
                    return;
                shown_ = generation;
                received(request, std::move(run), channels, error, std::move(picture));
            },
            Qt::QueuedConnection);
        // The spectrogram takes longer: it follows, unless a newer request
        // has come meanwhile, whose own will.
        // Its picture is drawn here too, as the view will show it.
        std::shared_ptr<const analysis::RunSpectrogram> gram;
        std::string gram_error;
        QImage gram_picture;
        if (read && latest->load() == generation) {
            try {
                gram = std::make_shared<const analysis::RunSpectrogram>(
                    analysis::analyse_spectrogram(input, output, params));
                gram_picture = SpectrogramView::pictureFor(*gram, titleOf(request), request.spectrogram);
            } catch (const std::bad_alloc&) {
                gram_error = "not enough memory for the spectrogram";
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, request, generation, gram, gram_error, gram_picture = std::move(gram_picture)]() mutable {
                if (generation != generation_)
                    return;
                spectrogramShown_ = generation;
                // A view zoomed or resized meanwhile draws its own.
                if (!(spectrogram_->look() == request.spectrogram))
                    gram_picture = QImage();
                spectrogram_->setRun(gram, titleOf(request), std::move(gram_picture));
                if (shown_ == generation && (gram || !gram_error.empty()))
                    statusLabel_->setText(QString::fromStdString(gram_error));
            },
            Qt::QueuedConnection);
        running->fetch_sub(1);
    });
}

bool SpectraDlg::previewChannels(const Request& request, analysis::Channel& input, analysis::Channel& output)
{
    const InputSamples& in = *request.previewInput;
    const SpanRendering& out = *request.preview;
    const auto channel = [&request](const uint8_t* bytes, uint64_t first, uint64_t frames, uint32_t channels,
                                    uint32_t width, double rate, analysis::Channel& to) {
        const uint32_t c = std::min(request.channel, channels - 1);
        to.rate = rate;
        to.channels = channels;
        for (uint64_t i = first; i < first + frames; ++i)
            to.samples.push_back(decode_sample(bytes + (i * channels + c) * width, width));
    };
    channel(in.bytes.data(), out.span.first, out.span.count, in.channels, in.bits / 8, in.rate, input);
    channel(out.samples.data(), 0, out.frames(), out.channels, 3, out.params.fs, output);
    return !input.samples.empty() && !output.samples.empty();
}

std::string SpectraDlg::titleOf(const Request& request)
{
    if (request.preview)
        return QStringLiteral("live preview of %1, channel %2")
            .arg(QFileInfo(QString::fromStdString(request.input)).fileName())
            .arg(request.channel)
            .toStdString();
    return QStringLiteral("%1 and %2, channel %3")
        .arg(QFileInfo(QString::fromStdString(request.input)).fileName(),
             QFileInfo(QString::fromStdString(request.output)).fileName())
        .arg(request.channel)
        .toStdString();
}

void SpectraDlg::received(const Request& request, std::optional<analysis::RunSpectra> run, uint32_t channels,
                          const std::string& error, SpectraPlot::Picture picture)
{
    if (!run) {
        statusLabel_->setText(QString::fromStdString(error));
        plot_->run.reset();
        plot_->update();
        return;
    }
    const QSignalBlocker block(channelBox_);
    if (channelBox_->count() != static_cast<int>(channels)) {
        channelBox_->clear();
        for (uint32_t c = 0; c < channels; ++c)
            channelBox_->addItem(QString::number(c));
    }
    channelBox_->setCurrentIndex(static_cast<int>(std::min(request.channel, channels - 1)));
    const bool fresh = !plot_->run;
    plot_->run = std::move(run);
    plot_->title = titleOf(request);
    plot_->picture = std::move(picture);
    statusLabel_->setText(spectrogramBusy() ? QStringLiteral("drawing the spectrogram ...") : QString());
    if (fresh)
        plot_->resetZoom();
    plot_->update();
}

QString SpectraDlg::status() const
{
    return statusLabel_->text();
}

QString SpectraDlg::readoutAt(double hz) const
{
    if (!plot_->run)
        return QString();
    auto level = [hz](const analysis::Spectrum& s) {
        const double db = level_at(s, hz);
        return std::isnan(db) ? QStringLiteral("-") : QStringLiteral("%1 dBFS").arg(db, 0, 'f', 1);
    };
    return QStringLiteral("%1 Hz    input %2    output %3")
        .arg(hz, 0, 'f', hz < 100 ? 1 : 0)
        .arg(level(plot_->run->input), level(plot_->run->output));
}

} // namespace vesk
