#include "ui/qt/spectrogram_view.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace vesk {

namespace {

// Moves [from, to] by `by` without leaving [low, high], keeping its width.
void shift_within(double& from, double& to, double by, double low, double high)
{
    by = std::clamp(by, low - from, high - to);
    from += by;
    to += by;
}

// Scales [from, to] by `factor` around `at` within [low, high], no
// narrower than `least`.
void zoom_within(double& from, double& to, double factor, double at, double low, double high, double least)
{
    at = std::clamp(at, from, to);
    double a = at - (at - from) * factor, b = at + (to - at) * factor;
    if (b - a < least)
        return;
    if (b - a >= high - low) {
        from = low, to = high;
        return;
    }
    shift_within(a, b, 0.0, low, high);
    from = a, to = b;
}

} // namespace

SpectrogramCanvas::SpectrogramCanvas(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(640, 420);
}

SpectrogramLayout SpectrogramCanvas::layout() const
{
    return spectrogram_layout(QRectF(rect()), font());
}

void SpectrogramCanvas::changed()
{
    picture_ = QImage();
    update();
}

void SpectrogramCanvas::adopt(QImage picture)
{
    if (picture.size() == size() * devicePixelRatioF())
        picture_ = std::move(picture);
}

void SpectrogramCanvas::zoomTime(double factor, double at)
{
    if (!run)
        return;
    const SpectrogramSpan whole = whole_span(*run, span.log_frequency);
    // A few frames at least: one frame is all the detail there is.
    const double least = std::max(4.0 * run->output.framing.hop / run->output.rate, 1e-3);
    zoom_within(span.t0, span.t1, factor, at, whole.t0, whole.t1, least);
    changed();
}

void SpectrogramCanvas::zoomFrequency(double factor, double at)
{
    if (!run)
        return;
    const SpectrogramSpan whole = whole_span(*run, span.log_frequency);
    if (span.log_frequency) {
        // On a logarithmic axis in octaves, down to a tenth of one.
        double a = std::log2(span.f0), b = std::log2(span.f1);
        zoom_within(a, b, factor, std::log2(std::max(at, span.f0)), std::log2(whole.f0), std::log2(whole.f1), 0.1);
        span.f0 = std::exp2(a), span.f1 = std::exp2(b);
    } else {
        zoom_within(span.f0, span.f1, factor, at, whole.f0, whole.f1, 4.0 * run->output.bin_hz());
    }
    changed();
}

void SpectrogramCanvas::showWhole()
{
    if (run) {
        const bool tracks = span.tracks;
        span = whole_span(*run, span.log_frequency);
        span.tracks = tracks;
    }
    changed();
}

void SpectrogramCanvas::setLogFrequency(bool on)
{
    span.log_frequency = on;
    if (run) {
        const SpectrogramSpan whole = whole_span(*run, on);
        // The logarithmic axis's floor stands for 0 Hz on the linear one.
        span.f0 = !on && span.f0 <= log_low_hz ? whole.f0 : std::max(span.f0, whole.f0);
        if (!(span.f1 > span.f0 * 1.07))
            span.f0 = whole.f0, span.f1 = whole.f1;
    }
    changed();
}

void SpectrogramCanvas::setTracks(bool on)
{
    span.tracks = on;
    changed();
}

void SpectrogramCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!run) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    if (picture_.isNull() || picture_.size() != size() * ratio) {
        picture_ = QImage(size() * ratio, QImage::Format_RGB32);
        picture_.setDevicePixelRatio(ratio);
        QPainter p(&picture_);
        p.setFont(font());
        draw_spectrogram(p, QRectF(rect()), *run, title, span);
    }
    painter.drawImage(QPointF(0, 0), picture_);
}

void SpectrogramCanvas::resizeEvent(QResizeEvent*)
{
    picture_ = QImage();
}

bool SpectrogramCanvas::locate(QPointF at, double& seconds, double& hz) const
{
    const SpectrogramLayout l = layout();
    for (const QRectF& panel : {l.input, l.output})
        if (panel.contains(at)) {
            seconds = time_at(panel, at.x(), span);
            hz = frequency_at_height(panel, at.y(), span);
            return true;
        }
    return false;
}

void SpectrogramCanvas::mousePressEvent(QMouseEvent* event)
{
    dragFrom_ = event->position();
    dragSpan_ = span;
}

void SpectrogramCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (!run)
        return;
    if (event->buttons() & Qt::LeftButton) {
        // The picture follows the pointer: time along, frequency up and down.
        const SpectrogramLayout l = layout();
        const SpectrogramSpan whole = whole_span(*run, span.log_frequency);
        const QPointF moved = event->position() - dragFrom_;
        span.t0 = dragSpan_.t0, span.t1 = dragSpan_.t1;
        shift_within(span.t0, span.t1, -moved.x() / l.input.width() * (span.t1 - span.t0), whole.t0, whole.t1);
        const double share = moved.y() / l.input.height();
        if (span.log_frequency) {
            double a = std::log2(dragSpan_.f0), b = std::log2(dragSpan_.f1);
            shift_within(a, b, share * (b - a), std::log2(whole.f0), std::log2(whole.f1));
            span.f0 = std::exp2(a), span.f1 = std::exp2(b);
        } else {
            span.f0 = dragSpan_.f0, span.f1 = dragSpan_.f1;
            shift_within(span.f0, span.f1, share * (span.f1 - span.f0), whole.f0, whole.f1);
        }
        changed();
    }
    double seconds = 0, hz = 0;
    if (pointed && locate(event->position(), seconds, hz))
        pointed(seconds, hz);
}

void SpectrogramCanvas::wheelEvent(QWheelEvent* event)
{
    double seconds = 0, hz = 0;
    if (locate(event->position(), seconds, hz)) {
        const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
        if (event->modifiers() & Qt::ShiftModifier)
            zoomFrequency(factor, hz);
        else
            zoomTime(factor, seconds);
    }
    event->accept();
}

SpectrogramView::SpectrogramView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    logBox_ = new QCheckBox(QStringLiteral("Logarithmic frequency"), this);
    tracksBox_ = new QCheckBox(QStringLiteral("Predicted tracks"), this);
    tracksBox_->setChecked(true);
    tracksBox_->setToolTip(QStringLiteral("Where the chain's theory puts each tone, image and filter corner"));
    row->addWidget(logBox_);
    row->addWidget(tracksBox_);
    row->addSpacing(20);
    canvas_ = new SpectrogramCanvas(this);
    const auto centre = [this](double a, double b) { return (a + b) / 2; };
    const struct {
        const char* text;
        const char* tip;
        std::function<void()> act;
    } buttons[] = {
        {"Time +", "Zoom in on the time axis (or turn the mouse wheel over the picture)",
         [=, this] { canvas_->zoomTime(0.5, centre(canvas_->span.t0, canvas_->span.t1)); }},
        {"Time -", "Zoom out on the time axis", [=, this] { canvas_->zoomTime(2.0, centre(canvas_->span.t0, canvas_->span.t1)); }},
        {"Frequency +", "Zoom in on the frequency axis (or turn the mouse wheel with Shift held)",
         [=, this] { canvas_->zoomFrequency(0.5, canvas_->span.log_frequency ? std::sqrt(canvas_->span.f0 * canvas_->span.f1)
                                                                             : centre(canvas_->span.f0, canvas_->span.f1)); }},
        {"Frequency -", "Zoom out on the frequency axis",
         [=, this] { canvas_->zoomFrequency(2.0, canvas_->span.log_frequency ? std::sqrt(canvas_->span.f0 * canvas_->span.f1)
                                                                             : centre(canvas_->span.f0, canvas_->span.f1)); }},
        {"Whole range", "Show all of both files", [this] { canvas_->showWhole(); }},
    };
    for (const auto& b : buttons) {
        auto* button = new QPushButton(QString::fromLatin1(b.text), this);
        button->setAutoDefault(false);
        button->setToolTip(QString::fromLatin1(b.tip));
        connect(button, &QPushButton::clicked, this, b.act);
        row->addWidget(button);
    }
    row->addStretch(1);
    layout->addLayout(row);
    layout->addWidget(canvas_, 1);
    readout_ = new QLabel(QStringLiteral("Point at the picture to read time, frequency and both levels; drag to move it."), this);
    readout_->setTextFormat(Qt::PlainText);
    layout->addWidget(readout_);

    connect(logBox_, &QCheckBox::toggled, this, [this](bool on) { canvas_->setLogFrequency(on); });
    connect(tracksBox_, &QCheckBox::toggled, this, [this](bool on) { canvas_->setTracks(on); });
    canvas_->pointed = [this](double seconds, double hz) { readout_->setText(readoutAt(seconds, hz)); };
}

SpectrogramView::Look SpectrogramView::look() const
{
    SpectrogramSpan span = canvas_->span;
    span.log_frequency = logBox_->isChecked();
    span.tracks = tracksBox_->isChecked();
    return {canvas_->size(), canvas_->devicePixelRatioF(), canvas_->font(), span, canvas_->run != nullptr};
}

SpectrogramSpan SpectrogramView::spanFor(const analysis::RunSpectrogram& run, const Look& look)
{
    const SpectrogramSpan whole = whole_span(run, look.span.log_frequency);
    const SpectrogramSpan& s = look.span;
    const bool covered = look.shown && s.t0 >= whole.t0 && s.t1 <= whole.t1 && s.f0 >= whole.f0 && s.f1 <= whole.f1;
    if (covered)
        return s;
    SpectrogramSpan span = whole;
    span.tracks = s.tracks;
    return span;
}

QImage SpectrogramView::pictureFor(const analysis::RunSpectrogram& run, const std::string& title, const Look& look)
{
    QImage picture(look.size * look.pixelRatio, QImage::Format_RGB32);
    picture.setDevicePixelRatio(look.pixelRatio);
    QPainter painter(&picture);
    painter.setFont(look.font);
    draw_spectrogram(painter, QRectF(QPointF(0, 0), QSizeF(look.size)), run, title, spanFor(run, look));
    return picture;
}

void SpectrogramView::setRun(std::shared_ptr<const analysis::RunSpectrogram> run, const std::string& title, QImage picture)
{
    SpectrogramCanvas& c = *canvas_;
    const Look before = look();
    c.run = std::move(run);
    c.title = title;
    if (c.run)
        c.span = spanFor(*c.run, before);
    c.changed();
    if (c.run)
        c.adopt(std::move(picture));
}

QString SpectrogramView::readoutAt(double seconds, double hz) const
{
    const analysis::RunSpectrogram* run = canvas_->run.get();
    if (!run)
        return QString();
    const auto level = [&](const analysis::Spectrogram& s) {
        const double db = level_at(s, seconds, hz);
        return std::isnan(db) ? QStringLiteral("-") : QStringLiteral("%1 dBFS").arg(db, 0, 'f', 1);
    };
    return QStringLiteral("%1 s    %2 Hz    input %3    output %4")
        .arg(seconds, 0, 'f', 3)
        .arg(hz, 0, 'f', hz < 100 ? 1 : 0)
        .arg(level(run->input), level(run->output));
}

} // namespace vesk
