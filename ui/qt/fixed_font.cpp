#include "ui/qt/fixed_font.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace vesk {

QFont fixed_pitch_font(double points)
{
    QFont font(QStringLiteral("Courier"));
    font.setPointSizeF(points);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (QFontInfo(font).fixedPitch())
        return font;
    // Font matching may hand a proportional face to an unknown family name,
    // and the numbers would then no longer line up.
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fallback.setPointSizeF(points);
    return fallback;
}

} // namespace vesk
