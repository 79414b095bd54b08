#include "ui/qt/dialog_units.h"

#include <QFont>
#include <QFontMetricsF>
#include <QRect>
#include <QWidget>
#include <cmath>

namespace vesk {

DialogUnits dialog_units(const QFont& font)
{
    // The average width is that of the 52 letters, as dialog templates have
    // always measured it; the average of all glyphs would count wide symbols.
    const QFontMetricsF metrics(font);
    const double letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{std::ceil(letters / 52.0) / 4.0, std::ceil(metrics.height()) / 8.0};
}

namespace {

// Edges rather than sizes are converted, so that neighbouring controls
// that touch in the layout still touch after rounding.
int convert(int pixels, double from, double to)
{
    return static_cast<int>(std::lround(pixels / from * to));
}

QRect convert(const QRect& r, DialogUnits units)
{
    const int left = convert(r.left(), designed_units.x, units.x);
    const int top = convert(r.top(), designed_units.y, units.y);
    const int right = convert(r.left() + r.width(), designed_units.x, units.x);
    const int bottom = convert(r.top() + r.height(), designed_units.y, units.y);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace

QSize scale_to_units(QWidget* form, DialogUnits units)
{
    for (QObject* child : form->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            widget->setGeometry(convert(widget->geometry(), units));
    }
    const QSize size = convert(QRect(QPoint(0, 0), form->size()), units).size();
    form->resize(size);
    return size;
}

} // namespace vesk
