#include "ui/qt/spectra_plot.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <vector>

namespace vesk {
namespace {

constexpr double floor_dbfs = -160.0;
const QColor input_colour(40, 110, 200);
const QColor output_colour(225, 95, 20);

struct Mark {
    const char* kind;
    const char* label;
    QColor colour;
};
const Mark marks[] = {
    {"tone", "predicted tone", QColor(0, 140, 60)},
    {"image", "predicted image", QColor(170, 0, 170)},
    {"corner", "filter corner", QColor(90, 90, 90)},
    {"noise-floor", "word-length floor", QColor(0, 0, 0)},
    {"jitter", "jitter noise", QColor(200, 0, 40)},
};

const Mark* mark_of(const std::string& kind)
{
    for (const Mark& m : marks)
        if (kind == m.kind)
            return &m;
    return nullptr;
}

// Maps frequency (log) and level (linear) into the frame.
struct Axes {
    QRectF frame;
    double low, high, top, bottom;
    double x(double hz) const
    {
        return frame.left() + frame.width() * std::log(hz / low) / std::log(high / low);
    }
    double y(double db) const { return frame.top() + frame.height() * (top - db) / (top - bottom); }
    bool holds_hz(double hz) const { return hz >= low && hz <= high; }
    bool holds_db(double db) const { return db >= bottom && db <= top; }
};

// The lowest level shown, in 20 dB steps, not below -160 dBFS; the top is
// 0 dBFS unless something lies above it.
void level_range(const analysis::RunSpectra& run, double low, double high, double& top, double& bottom)
{
    double lowest = 0.0, highest = 0.0;
    for (const analysis::Spectrum* s : {&run.input, &run.output})
        for (std::size_t k = 1; k < s->dbfs.size(); ++k) {
            const double hz = k * s->bin_hz;
            if (hz >= low && hz <= high && std::isfinite(s->dbfs[k])) {
                lowest = std::min(lowest, s->dbfs[k]);
                highest = std::max(highest, s->dbfs[k]);
            }
        }
    bottom = std::max(floor_dbfs, std::floor(lowest / 20.0) * 20.0);
    top = std::ceil(highest / 10.0) * 10.0;
    if (top - bottom < 20.0)
        bottom = top - 20.0;
}

void draw_grid(QPainter& p, const Axes& a, const QFontMetricsF& fm)
{
    const QPen minor(QColor(230, 230, 230), 0), major(QColor(190, 190, 190), 0);
    // Decades are labelled; over a narrow span the 2s and 5s are too.
    const bool narrow = a.high / a.low < 100.0;
    for (double decade = std::pow(10.0, std::floor(std::log10(a.low))); decade <= a.high; decade *= 10.0)
        for (int m = 1; m <= 9; ++m) {
            const double hz = decade * m;
            if (!a.holds_hz(hz))
                continue;
            const bool labelled = m == 1 || (narrow && (m == 2 || m == 5));
            p.setPen(m == 1 ? major : minor);
            p.drawLine(QPointF(a.x(hz), a.frame.top()), QPointF(a.x(hz), a.frame.bottom()));
            if (labelled) {
                p.setPen(Qt::black);
                const QString text = hz_label(hz);
                p.drawText(QPointF(a.x(hz) - fm.horizontalAdvance(text) / 2, a.frame.bottom() + fm.height()), text);
            }
        }
    const double step = a.top - a.bottom <= 60.0 ? 10.0 : 20.0;
    for (double db = std::ceil(a.bottom / step) * step; db <= a.top; db += step) {
        p.setPen(major);
        p.drawLine(QPointF(a.frame.left(), a.y(db)), QPointF(a.frame.right(), a.y(db)));
        p.setPen(Qt::black);
        const QString text = QString::number(db, 'f', 0);
        p.drawText(QPointF(a.frame.left() - fm.horizontalAdvance(text) - fm.height() * 0.3,
                           a.y(db) + fm.ascent() / 2 - 1), text);
    }
}

void draw_spectrum(QPainter& p, const Axes& a, const analysis::Spectrum& s, const QColor& colour)
{
    QPainterPath path;
    bool started = false;
    for (std::size_t k = 1; k < s.dbfs.size(); ++k) {
        const double hz = k * s.bin_hz;
        // One bin either side of the axis keeps the line running to its ends.
        if ((k + 1) * s.bin_hz < a.low || (k - 1) * s.bin_hz > a.high)
            continue;
        const QPointF point(a.x(hz), a.y(std::max(s.dbfs[k], floor_dbfs - 20.0)));
        if (started)
            path.lineTo(point);
        else
            path.moveTo(point);
        started = true;
    }
    p.setPen(QPen(colour, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void draw_marker(QPainter& p, const std::string& kind, QPointF at, double r)
{
    if (kind == "tone") {
        p.drawEllipse(at, r, r);
    } else if (kind == "image") {
        const QPointF tri[] = {at + QPointF(-r, -r), at + QPointF(r, -r), at + QPointF(0, r)};
        p.drawPolygon(tri, 3);
    } else { // jitter at a frequency
        p.drawLine(at + QPointF(-r, -r), at + QPointF(r, r));
        p.drawLine(at + QPointF(-r, r), at + QPointF(r, -r));
    }
}

QPen line_pen(const Mark& m)
{
    QPen pen(m.colour, 1.2, m.kind == std::string("jitter") ? Qt::DashDotLine : Qt::DashLine);
    return pen;
}

void draw_prediction(QPainter& p, const Axes& a, const analysis::Prediction& pr, const Mark& m, double r)
{
    p.setPen(QPen(m.colour, 1.6));
    p.setBrush(Qt::NoBrush);
    if (pr.hz && pr.dbfs) {
        draw_marker(p, pr.kind, QPointF(a.x(*pr.hz), a.y(*pr.dbfs)), r);
    } else if (pr.hz) {
        p.setPen(line_pen(m));
        p.drawLine(QPointF(a.x(*pr.hz), a.frame.top()), QPointF(a.x(*pr.hz), a.frame.bottom()));
    } else if (pr.dbfs) {
        p.setPen(line_pen(m));
        p.drawLine(QPointF(a.frame.left(), a.y(*pr.dbfs)), QPointF(a.frame.right(), a.y(*pr.dbfs)));
    }
}

bool inside(const Axes& a, const analysis::Prediction& pr)
{
    return (!pr.hz || a.holds_hz(*pr.hz)) && (!pr.dbfs || a.holds_db(*pr.dbfs));
}

QString describe(const analysis::Prediction& pr)
{
    QString text = QString::fromStdString(pr.kind);
    if (pr.hz)
        text += QStringLiteral(" %1 Hz").arg(*pr.hz, 0, 'f', 0);
    if (pr.dbfs)
        text += QStringLiteral(" %1 dBFS").arg(*pr.dbfs, 0, 'f', 1);
    return text;
}

// How much of the picture a box over the frame would hide: the spectrum
// points and predicted levels that fall inside it.
int covered(const QRectF& box, const Axes& a, const analysis::RunSpectra& run)
{
    int n = 0;
    for (const analysis::Spectrum* s : {&run.input, &run.output})
        for (std::size_t k = 1; k < s->dbfs.size(); ++k)
            n += box.contains(QPointF(a.x(k * s->bin_hz), a.y(s->dbfs[k])));
    for (const analysis::Prediction& pr : run.predictions)
        if (pr.hz && pr.dbfs)
            n += 100 * box.contains(QPointF(a.x(*pr.hz), a.y(*pr.dbfs)));
    return n;
}

void draw_legend(QPainter& p, const Axes& a, const QFontMetricsF& fm, const std::set<std::string>& kinds, double r,
                 const analysis::RunSpectra& run)
{
    struct Entry { QString text; QColor colour; const Mark* mark; };
    std::vector<Entry> entries = {{QStringLiteral("input"), input_colour, nullptr},
                                  {QStringLiteral("output"), output_colour, nullptr}};
    for (const Mark& m : marks)
        if (kinds.count(m.kind))
            entries.push_back({QString::fromLatin1(m.label), m.colour, &m});
    const double h = fm.height() * 1.25, swatch = fm.height() * 2;
    double width = 0;
    for (const Entry& e : entries)
        width = std::max(width, fm.horizontalAdvance(e.text));
    const QSizeF size(width + swatch + fm.height(), h * entries.size() + fm.height() * 0.4);
    const double margin = fm.height() * 0.5;
    // The corner where the legend hides least; a predicted mark counts for
    // much more than a stretch of spectrum.
    QRectF box;
    int least = -1;
    for (const QPointF corner : {QPointF(a.frame.right() - size.width() - margin, a.frame.top() + margin),
                                 QPointF(a.frame.left() + margin, a.frame.top() + margin),
                                 QPointF(a.frame.right() - size.width() - margin, a.frame.bottom() - size.height() - margin),
                                 QPointF(a.frame.left() + margin, a.frame.bottom() - size.height() - margin)}) {
        const QRectF candidate(corner, size);
        const int hidden = covered(candidate, a, run);
        if (least < 0 || hidden < least) {
            least = hidden;
            box = candidate;
        }
    }
    p.setPen(QPen(QColor(160, 160, 160), 0));
    p.setBrush(QColor(255, 255, 255, 225));
    p.drawRect(box);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const double y = box.top() + fm.height() * 0.2 + h * (i + 0.5);
        const QPointF left(box.left() + fm.height() * 0.4, y), right(left.x() + swatch - fm.height() * 0.4, y);
        p.setBrush(Qt::NoBrush);
        if (!e.mark) {
            p.setPen(QPen(e.colour, 2));
            p.drawLine(left, right);
        } else if (e.mark->kind == std::string("tone") || e.mark->kind == std::string("image")) {
            p.setPen(QPen(e.colour, 1.6));
            draw_marker(p, e.mark->kind, (left + right) / 2, r);
        } else {
            p.setPen(line_pen(*e.mark));
            p.drawLine(left, right);
        }
        p.setPen(Qt::black);
        p.drawText(QPointF(right.x() + fm.height() * 0.5, y + fm.ascent() / 2 - 1), e.text);
    }
}

} // namespace

QString hz_label(double hz)
{
    if (hz >= 1000.0)
        return QString::number(hz / 1000.0, 'g', 4) + QStringLiteral(" kHz");
    return QString::number(hz, 'g', 4) + QStringLiteral(" Hz");
}

double default_high_hz(const analysis::RunSpectra& run)
{
    double high = 0.0;
    for (const analysis::Spectrum* s : {&run.input, &run.output})
        if (!s->dbfs.empty())
            high = std::max(high, s->bin_hz * (s->dbfs.size() - 1));
    return high;
}

QRectF spectra_frame(const QRectF& area, const QFont& font)
{
    const QFontMetricsF fm(font);
    const double h = fm.height();
    return area.adjusted(fm.horizontalAdvance(QStringLiteral("-160")) + h * 2.0, h * 2.2, -h * 1.2, -h * 2.8);
}

double frequency_at(const QRectF& frame, double x, double low_hz, double high_hz)
{
    return low_hz * std::pow(high_hz / low_hz, (x - frame.left()) / frame.width());
}

double level_at(const analysis::Spectrum& spectrum, double hz)
{
    if (spectrum.dbfs.empty() || spectrum.bin_hz <= 0.0 || hz < 0.0)
        return std::numeric_limits<double>::quiet_NaN();
    const double k = std::round(hz / spectrum.bin_hz);
    if (k > spectrum.dbfs.size() - 1)
        return std::numeric_limits<double>::quiet_NaN();
    return spectrum.dbfs[static_cast<std::size_t>(k)];
}

void draw_spectra(QPainter& painter, const QRectF& area, const analysis::RunSpectra& run, const std::string& title, double low_hz, double high_hz)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    const QFontMetricsF fm(painter.font());
    Axes a{spectra_frame(area, painter.font()), low_hz, high_hz, 0, 0};
    if (!(a.low > 0.0))
        a.low = default_low_hz;
    if (!(a.high > a.low))
        a.high = a.low * 10.0;
    level_range(run, a.low, a.high, a.top, a.bottom);

    painter.setPen(Qt::black);
    const QFont plain = painter.font();
    QFont bold = plain;
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRectF(area.left(), area.top(), area.width(), fm.height() * 1.8), Qt::AlignCenter,
                     QString::fromStdString(title));
    painter.setFont(plain);

    draw_grid(painter, a, fm);
    painter.setPen(Qt::black);
    const QString xtitle = QStringLiteral("frequency");
    painter.drawText(QPointF(a.frame.center().x() - fm.horizontalAdvance(xtitle) / 2, a.frame.bottom() + fm.height() * 2.3), xtitle);
    painter.save();
    painter.translate(area.left() + fm.height(), a.frame.center().y());
    painter.rotate(-90);
    const QString ytitle = QStringLiteral("level [dBFS]");
    painter.drawText(QPointF(-fm.horizontalAdvance(ytitle) / 2, 0), ytitle);
    painter.restore();

    painter.save();
    painter.setClipRect(a.frame);
    draw_spectrum(painter, a, run.input, input_colour);
    draw_spectrum(painter, a, run.output, output_colour);
    painter.restore();
    const double r = std::max(4.0, fm.height() * 0.4);
    std::set<std::string> kinds;
    QStringList outside;
    for (const analysis::Prediction& pr : run.predictions) {
        if (!mark_of(pr.kind))
            continue;
        if (inside(a, pr))
            kinds.insert(pr.kind);
        else
            outside << describe(pr);
    }
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(a.frame);
    draw_legend(painter, a, fm, kinds, r, run);
    // The marks go over the legend: a prediction is never hidden behind it.
    painter.save();
    painter.setClipRect(a.frame);
    for (const analysis::Prediction& pr : run.predictions)
        if (const Mark* m = mark_of(pr.kind); m && inside(a, pr))
            draw_prediction(painter, a, pr, *m, r);
    painter.restore();
    if (!outside.isEmpty()) {
        painter.setPen(Qt::black);
        double y = a.frame.bottom() - fm.height() * (outside.size() - 0.2);
        for (const QString& line : outside) {
            painter.drawText(QPointF(a.frame.left() + fm.height() * 0.5, y), QStringLiteral("outside the plot: ") + line);
            y += fm.height();
        }
    }
    painter.restore();
}

bool write_picture(QSize size, const std::string& title, const std::string& format, const std::string& path,
                   const std::function<void(QPainter&, const QRectF&)>& draw)
{
    if (!QCoreApplication::instance()) {
        // A program without a window system draws offscreen; the
        // application lives as long as the process.
        static int argc = 3;
        static char arg0[] = "vesk", arg1[] = "-platform", arg2[] = "offscreen";
        static char* argv[] = {arg0, arg1, arg2, nullptr};
        // The toolkit's own notices (a missing runtime folder, fonts) are
        // no concern of the caller, whose standard error carries its own
        // messages only.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        new QGuiApplication(argc, argv);
    }
    QFont font(QGuiApplication::font());
    font.setPixelSize(14);
    if (format == "png") {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(font);
        draw(painter, QRectF(QPointF(0, 0), size));
        painter.end();
        return image.save(QString::fromStdString(path), "PNG");
    }
    if (format != "svg")
        return false;
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setResolution(96);
    svg.setTitle(QString::fromStdString(title));
    {
        QPainter painter(&svg);
        painter.setFont(font);
        draw(painter, QRectF(QPointF(0, 0), size));
    }
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(buffer.data()) == buffer.data().size() && file.flush();
}

bool write_spectra_picture(const analysis::RunSpectra& run, const std::string& title, const std::string& format, const std::string& path)
{
    const double high = default_high_hz(run);
    return write_picture(QSize(1200, 700), title, format, path, [&](QPainter& painter, const QRectF& area) {
        draw_spectra(painter, area, run, title, default_low_hz, high);
    });
}

} // namespace vesk
