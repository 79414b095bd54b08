// The fixed-pitch font of the Processing log and the Info text, whose
// columns must line up.
#pragma once

#include <QFont>

namespace vesk {

// Courier at `points` (8 by default), or the desktop's own fixed-pitch font
// at that size where no Courier (nor a fixed-pitch stand-in for it) is
// installed.
QFont fixed_pitch_font(double points = 8);

} // namespace vesk
