#include "ui/qt/fixed_font.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace vesk {

QFont fixed_pitch_font()
{
    QFont font(QStringLiteral("Courier"), 8);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (QFontInfo(font).fixedPitch())
        return font;
    // Font matching may hand a proportional face to an unknown family name,
    // and the numbers would then no longer line up.
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fallback.setPointSize(8);
    return fallback;
}

} // namespace vesk
