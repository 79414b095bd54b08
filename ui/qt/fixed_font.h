// The fixed-pitch font of the Processing log and the Info text, whose
// columns must line up.
#pragma once

#include <QFont>

namespace vesk {

// An 8-point Courier, or the desktop's own fixed-pitch font at 8 points
// where no Courier (nor a fixed-pitch stand-in for it) is installed.
QFont fixed_pitch_font();

} // namespace vesk
