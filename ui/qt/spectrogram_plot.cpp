#include "ui/qt/spectrogram_plot.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "ui/qt/spectra_plot.h"

namespace vesk {
namespace {

// Viridis (van der Walt and Smith, CC0), 33 of its 256 steps, between which
// straight lines stay within 2/255 of the full table: perceptually uniform,
// so equal steps in dB look equally far apart, and readable in grey.
const QRgb colour_map[] = {
    qRgb(68, 1, 84),    qRgb(71, 13, 96),   qRgb(72, 24, 106),  qRgb(72, 35, 116),  qRgb(71, 45, 123),
    qRgb(69, 55, 129),  qRgb(66, 64, 134),  qRgb(62, 73, 137),  qRgb(59, 82, 139),  qRgb(55, 91, 141),
    qRgb(51, 99, 141),  qRgb(47, 107, 142), qRgb(44, 114, 142), qRgb(41, 122, 142), qRgb(38, 130, 142),
    qRgb(35, 137, 142), qRgb(33, 145, 140), qRgb(31, 151, 139), qRgb(31, 159, 136), qRgb(33, 166, 133),
    qRgb(39, 173, 129), qRgb(49, 181, 123), qRgb(61, 188, 116), qRgb(76, 194, 108), qRgb(92, 200, 99),
    qRgb(110, 206, 88), qRgb(129, 211, 77), qRgb(149, 216, 64), qRgb(170, 220, 50), qRgb(192, 223, 37),
    qRgb(213, 226, 26), qRgb(234, 229, 26), qRgb(253, 231, 37),
};
constexpr int map_steps = sizeof colour_map / sizeof colour_map[0] - 1;
// Where a signal has nothing to show: past its end or above its Nyquist
// frequency.
const QRgb no_data = qRgb(232, 232, 232);
// The range of levels the colours span.
constexpr double shown_range_db = 120.0;

struct TrackStyle {
    const char* kind;
    const char* label;
    QColor colour;
    Qt::PenStyle pen;
};
// Bright against the colour map's dark end and its yellow ridges alike.
const TrackStyle track_styles[] = {
    {"tone", "predicted tone", QColor(255, 40, 40), Qt::SolidLine},
    {"image", "predicted image", QColor(255, 90, 255), Qt::SolidLine},
    {"corner", "filter corner", QColor(255, 255, 255), Qt::DashLine},
};

const TrackStyle* style_of(const std::string& kind)
{
    for (const TrackStyle& s : track_styles)
        if (kind == s.kind)
            return &s;
    return nullptr;
}

// The levels the colour map spans: 120 dB under the highest level of
// either signal, rounded up to 10 dB.
struct LevelScale {
    double top, bottom;
    double position(double db) const { return std::clamp((db - bottom) / (top - bottom), 0.0, 1.0); }
};

LevelScale level_scale(const analysis::RunSpectrogram& run)
{
    int highest = std::numeric_limits<int16_t>::min();
    for (const analysis::Spectrogram* s : {&run.input, &run.output}) {
        const int16_t* levels = s->centi_db.data();
        const std::size_t count = s->framing.frames * s->bins;
        if (count > 0)
            highest = std::max<int>(highest, *std::max_element(levels, levels + count));
    }
    const double top = highest == std::numeric_limits<int16_t>::min() ? 0.0 : std::ceil(highest / 1000.0) * 10.0;
    return {top, top - shown_range_db};
}

double y_of(const QRectF& panel, double hz, const SpectrogramSpan& s)
{
    const double share = s.log_frequency ? std::log(hz / s.f0) / std::log(s.f1 / s.f0) : (hz - s.f0) / (s.f1 - s.f0);
    return panel.bottom() - share * panel.height();
}

double x_of(const QRectF& panel, double seconds, const SpectrogramSpan& s)
{
    return panel.left() + (seconds - s.t0) / (s.t1 - s.t0) * panel.width();
}

// The panel's picture: each pixel the highest level of the frames and bins
// it covers (so that a narrow line stays visible however far the picture
// is zoomed out), or the nearest frame and bin where it covers none.
QImage panel_image(const analysis::Spectrogram& s, QSize size, const SpectrogramSpan& span, const LevelScale& scale)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(no_data);
    if (s.framing.frames == 0 || size.isEmpty())
        return image;
    const QRectF panel(QPointF(0, 0), QSizeF(size));
    QRgb colours[1024];
    for (int i = 0; i < 1024; ++i)
        colours[i] = level_colour(i / 1023.0).rgb();
    const double bin = s.bin_hz();
    std::vector<int> low(size.height(), -1), high(size.height(), -1);
    for (int y = 0; y < size.height(); ++y) {
        const double below = frequency_at_height(panel, y + 1, span), above = frequency_at_height(panel, y, span);
        const double middle = frequency_at_height(panel, y + 0.5, span);
        if (middle < 0.0 || std::round(middle / bin) > static_cast<double>(s.bins - 1))
            continue;
        double a = std::ceil(below / bin), b = std::ceil(above / bin) - 1;
        if (a > b)
            a = b = std::round(middle / bin);
        low[y] = static_cast<int>(std::max(a, 0.0));
        high[y] = static_cast<int>(std::min(b, static_cast<double>(s.bins - 1)));
    }
    const double first = s.time_s(0), step = s.framing.hop / s.rate;
    const double last = static_cast<double>(s.framing.frames - 1);
    std::vector<int> peak(size.height());
    for (int x = 0; x < size.width(); ++x) {
        const double from = time_at(panel, x, span), to = time_at(panel, x + 1, span), middle = (from + to) / 2;
        if (middle < 0.0 || middle > s.duration_s)
            continue;
        double a = std::ceil((from - first) / step), b = std::ceil((to - first) / step) - 1;
        if (a > b)
            a = b = std::round((middle - first) / step);
        a = std::clamp(a, 0.0, last), b = std::clamp(b, 0.0, last);
        std::fill(peak.begin(), peak.end(), std::numeric_limits<int>::min());
        for (auto f = static_cast<std::size_t>(a); f <= static_cast<std::size_t>(b); ++f) {
            const int16_t* levels = s.centi_db.data() + f * s.bins;
            for (int y = 0; y < size.height(); ++y)
                if (low[y] >= 0)
                    peak[y] = std::max<int>(peak[y], *std::max_element(levels + low[y], levels + high[y] + 1));
        }
        for (int y = 0; y < size.height(); ++y)
            if (low[y] >= 0)
                reinterpret_cast<QRgb*>(image.scanLine(y))[x] =
                    colours[static_cast<int>(scale.position(peak[y] * 0.01) * 1023.0 + 0.5)];
    }
    return image;
}

double nice_step(double at_least)
{
    const double decade = std::pow(10.0, std::floor(std::log10(at_least)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= at_least)
            return m * decade;
    return 10.0 * decade;
}

// The frequency labels left of a panel.
void frequency_ticks(QPainter& p, const QRectF& panel, const SpectrogramSpan& span, const QFontMetricsF& fm)
{
    std::vector<double> ticks;
    if (span.log_frequency) {
        const bool narrow = span.f1 / span.f0 < 100.0;
        for (double decade = std::pow(10.0, std::floor(std::log10(span.f0))); decade <= span.f1; decade *= 10.0)
            for (double m : {1.0, 2.0, 5.0})
                if ((m == 1.0 || narrow) && decade * m >= span.f0 && decade * m <= span.f1)
                    ticks.push_back(decade * m);
    } else {
        const double step = nice_step((span.f1 - span.f0) * fm.height() * 2.5 / panel.height());
        for (double hz = std::ceil(span.f0 / step) * step; hz <= span.f1; hz += step)
            ticks.push_back(hz);
    }
    for (double hz : ticks) {
        const double y = y_of(panel, hz, span);
        p.setPen(QPen(Qt::black, 0));
        p.drawLine(QPointF(panel.left() - fm.height() * 0.3, y), QPointF(panel.left(), y));
        const QString text = hz_label(hz);
        p.drawText(QPointF(panel.left() - fm.horizontalAdvance(text) - fm.height() * 0.45, y + fm.ascent() / 2 - 1), text);
    }
}

// The time ticks under a panel, labelled only under the lower one.
void time_ticks(QPainter& p, const QRectF& panel, const SpectrogramSpan& span, const QFontMetricsF& fm, bool labelled)
{
    const double step = nice_step((span.t1 - span.t0) * fm.horizontalAdvance(QStringLiteral("000.00")) * 1.6 / panel.width());
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    for (double t = std::ceil(span.t0 / step) * step; t <= span.t1 + step * 1e-9; t += step) {
        const double x = x_of(panel, t, span);
        p.setPen(QPen(Qt::black, 0));
        p.drawLine(QPointF(x, panel.bottom()), QPointF(x, panel.bottom() + fm.height() * 0.3));
        if (labelled) {
            const QString text = QString::number(t, 'f', decimals);
            p.drawText(QPointF(x - fm.horizontalAdvance(text) / 2, panel.bottom() + fm.height() * 1.2), text);
        }
    }
}

void panel_name(QPainter& p, const QRectF& panel, const QString& name, const QFontMetricsF& fm)
{
    const QRectF box(panel.left() + fm.height() * 0.3, panel.top() + fm.height() * 0.3,
                     fm.horizontalAdvance(name) + fm.height() * 0.6, fm.height() * 1.1);
    p.fillRect(box, QColor(255, 255, 255, 210));
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignCenter, name);
}

void scale_bar(QPainter& p, const QRectF& bar, const LevelScale& scale, const QFontMetricsF& fm)
{
    QImage strip(1, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y)
        strip.setPixel(0, y, level_colour(1.0 - y / 255.0).rgb());
    p.drawImage(bar, strip);
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(bar);
    for (double db = scale.top; db >= scale.bottom - 1e-9; db -= 20.0) {
        const double y = bar.bottom() - scale.position(db) * bar.height();
        p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + fm.height() * 0.3, y));
        p.drawText(QPointF(bar.right() + fm.height() * 0.45, y + fm.ascent() / 2 - 1), QString::number(db, 'f', 0));
    }
    const QString unit = QStringLiteral("dBFS");
    p.drawText(QPointF(bar.center().x() - fm.horizontalAdvance(unit) / 2, bar.top() - fm.height() * 0.5), unit);
}

QPen track_pen(const TrackStyle& style)
{
    QPen pen(style.colour, 1.3, style.pen);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

// The tracks over the output panel.  A stretch predicted below the lowest
// level the colours show is left out: the picture could not show it.
void draw_tracks(QPainter& p, const QRectF& panel, const analysis::RunSpectrogram& run, const SpectrogramSpan& span,
                 double lowest_db)
{
    p.save();
    p.setClipRect(panel);
    p.setBrush(Qt::NoBrush);
    for (const analysis::Track& track : run.tracks) {
        const TrackStyle* style = style_of(track.kind);
        if (!style)
            continue;
        // A dark edge on either side keeps the line apart from a bright
        // ridge under it as well as from the dark floor.
        QPen edge = track_pen(*style);
        edge.setColor(QColor(0, 0, 0, 150));
        edge.setWidthF(3.0);
        QPolygonF line;
        const auto draw = [&] {
            // Each point stands for its input frame, which reaches half a
            // hop either side, and the first and last frames to the ends.
            const analysis::Spectrogram& in = run.input;
            const double half = in.framing.hop / in.rate / run.speed / 2, x0 = x_of(panel, 0.0, span);
            const double first = x_of(panel, in.time_s(0) / run.speed, span), step = x_of(panel, half, span) - x0;
            const double last = x_of(panel, in.time_s(in.framing.frames - 1) / run.speed, span);
            const double end = x_of(panel, in.duration_s / run.speed, span);
            line.prepend(QPointF(line.front().x() <= first + 1e-6 ? x0 : line.front().x() - step, line.front().y()));
            line.append(QPointF(line.back().x() >= last - 1e-6 ? end : line.back().x() + step, line.back().y()));
            for (const QPen& pen : {edge, track_pen(*style)}) {
                p.setPen(pen);
                p.drawPolyline(line);
            }
            line.clear();
        };
        for (const analysis::TrackPoint& point : track.points) {
            if ((point.hz > 0.0 || !span.log_frequency) && (!point.dbfs || *point.dbfs >= lowest_db))
                line << QPointF(x_of(panel, point.time_s, span), y_of(panel, point.hz, span));
            else if (!line.isEmpty())
                draw();
        }
        if (!line.isEmpty())
            draw();
    }
    p.restore();
}

// One entry per kind of track drawn, on a swatch of the colour map's dark
// end, as the lines appear over the picture.
void legend(QPainter& p, const QRectF& area, const QRectF& output, const analysis::RunSpectrogram& run,
            const QFontMetricsF& fm)
{
    std::set<std::string> kinds;
    for (const analysis::Track& t : run.tracks)
        if (!t.points.empty())
            kinds.insert(t.kind);
    double x = output.left();
    const double y = area.bottom() - fm.height() * 0.9;
    for (const TrackStyle& style : track_styles) {
        if (!kinds.count(style.kind))
            continue;
        const QRectF swatch(x, y - fm.height() * 0.45, fm.height() * 2.2, fm.height() * 0.9);
        p.fillRect(swatch, level_colour(0.1));
        p.setPen(track_pen(style));
        p.drawLine(QPointF(swatch.left() + 2, swatch.center().y()), QPointF(swatch.right() - 2, swatch.center().y()));
        p.setPen(Qt::black);
        const QString text = QString::fromLatin1(style.label);
        p.drawText(QPointF(swatch.right() + fm.height() * 0.4, y + fm.ascent() / 2 - 1), text);
        x = swatch.right() + fm.height() * 1.6 + fm.horizontalAdvance(text);
    }
}

} // namespace

SpectrogramSpan whole_span(const analysis::RunSpectrogram& run, bool log_frequency)
{
    SpectrogramSpan span;
    span.log_frequency = log_frequency;
    span.t1 = std::max(run.input.duration_s, run.output.duration_s);
    span.f0 = log_frequency ? log_low_hz : 0.0;
    for (const analysis::Spectrogram* s : {&run.input, &run.output})
        if (s->bins > 0)
            span.f1 = std::max(span.f1, (s->bins - 1) * s->bin_hz());
    if (!(span.t1 > 0.0))
        span.t1 = 1.0;
    if (!(span.f1 > span.f0))
        span.f1 = std::max(span.f0 * 10.0, 1.0);
    return span;
}

SpectrogramLayout spectrogram_layout(const QRectF& area, const QFont& font)
{
    const QFontMetricsF fm(font);
    const double h = fm.height();
    const double left = area.left() + fm.horizontalAdvance(QStringLiteral("20.25 kHz")) + h * 2.2;
    const double right = area.right() - fm.horizontalAdvance(QStringLiteral("-120")) - h * 3.2;
    const double top = area.top() + h * 2.4, bottom = area.bottom() - h * 4.2, gap = h * 0.8;
    const double panel = std::max(1.0, (bottom - top - gap) / 2);
    SpectrogramLayout layout;
    layout.input = QRectF(left, top, std::max(1.0, right - left), panel);
    layout.output = QRectF(left, top + panel + gap, layout.input.width(), panel);
    layout.bar = QRectF(right + h * 0.8, top, h * 1.1, bottom - top);
    return layout;
}

double time_at(const QRectF& panel, double x, const SpectrogramSpan& span)
{
    return span.t0 + (x - panel.left()) / panel.width() * (span.t1 - span.t0);
}

double frequency_at_height(const QRectF& panel, double y, const SpectrogramSpan& span)
{
    const double share = (panel.bottom() - y) / panel.height();
    return span.log_frequency ? span.f0 * std::pow(span.f1 / span.f0, share) : span.f0 + share * (span.f1 - span.f0);
}

double level_at(const analysis::Spectrogram& spectrogram, double seconds, double hz)
{
    const auto frame = spectrogram.frame_at(seconds);
    const auto bin = spectrogram.bin_at(hz);
    if (!frame || !bin)
        return std::numeric_limits<double>::quiet_NaN();
    return spectrogram.level(*frame, *bin);
}

QColor level_colour(double position)
{
    const double at = std::clamp(position, 0.0, 1.0) * map_steps;
    const int i = std::min(static_cast<int>(at), map_steps - 1);
    const double w = at - i;
    const auto mix = [w](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * w)); };
    const QRgb a = colour_map[i], b = colour_map[i + 1];
    return QColor(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
}

void draw_spectrogram(QPainter& painter, const QRectF& area, const analysis::RunSpectrogram& run,
                      const std::string& title, const SpectrogramSpan& span)
{
    painter.save();
    painter.fillRect(area, Qt::white);
    const QFontMetricsF fm(painter.font());
    const SpectrogramLayout layout = spectrogram_layout(area, painter.font());
    const LevelScale scale = level_scale(run);

    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(area.left(), area.top(), area.width(), fm.height() * 1.8), Qt::AlignCenter,
                     QString::fromStdString(title));
    painter.restore();

    for (const auto& [panel, signal, name] :
         {std::tuple{layout.input, &run.input, QStringLiteral("input")}, {layout.output, &run.output, QStringLiteral("output")}}) {
        painter.drawImage(panel, panel_image(*signal, panel.size().toSize(), span, scale));
        painter.setRenderHint(QPainter::Antialiasing);
        if (panel == layout.output && span.tracks)
            draw_tracks(painter, panel, run, span, scale.bottom);
        painter.setPen(QPen(Qt::black, 0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(panel);
        panel_name(painter, panel, name, fm);
        frequency_ticks(painter, panel, span, fm);
        time_ticks(painter, panel, span, fm, panel == layout.output);
    }
    painter.setPen(Qt::black);
    const QString xtitle = QStringLiteral("time [s]");
    painter.drawText(QPointF(layout.output.center().x() - fm.horizontalAdvance(xtitle) / 2,
                             layout.output.bottom() + fm.height() * 2.4), xtitle);
    painter.save();
    painter.translate(area.left() + fm.height(), (layout.input.top() + layout.output.bottom()) / 2);
    painter.rotate(-90);
    const QString ytitle = QStringLiteral("frequency");
    painter.drawText(QPointF(-fm.horizontalAdvance(ytitle) / 2, 0), ytitle);
    painter.restore();
    scale_bar(painter, layout.bar, scale, fm);
    if (span.tracks)
        legend(painter, area, layout.output, run, fm);
    painter.restore();
}

bool write_spectrogram_picture(const analysis::RunSpectrogram& run, const std::string& title,
                               const std::string& format, const std::string& path)
{
    return write_picture(QSize(1200, 900), title, format, path, [&](QPainter& painter, const QRectF& area) {
        draw_spectrogram(painter, area, run, title, whole_span(run, false));
    });
}

} // namespace vesk
