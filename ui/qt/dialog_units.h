// Dialog units: the window layouts are drawn in units of the dialog font
// (a quarter of its average character width across, an eighth of its
// height down), so they keep their proportions whatever font the desktop
// uses.  The Designer files hold pixel positions for a font whose units are
// 1.5 by 1.625 pixels; this rescales them to the font the widget really has.
#pragma once

#include <QSize>

class QFont;
class QWidget;

namespace vesk {

struct DialogUnits {
    double x; // pixels per horizontal dialog unit
    double y; // pixels per vertical dialog unit
};

// The unit sizes the Designer files were drawn with.
constexpr DialogUnits designed_units{1.5, 1.625};

DialogUnits dialog_units(const QFont& font);

// Moves and sizes every direct child of `form` and the form itself from the
// designed units to `units`; returns the form's new size.
QSize scale_to_units(QWidget* form, DialogUnits units);

} // namespace vesk
