// Integrated loudness (EBU R 128) of a decoded file, measured by libebur128.
#pragma once

#include "ui/player.h"

namespace vesk {

// LUFS of the channels as the Listen window plays them: a mono file plays
// on both sides, so it counts as dual mono, as the recommendation has it for
// a single channel reproduced by two loudspeakers.  Minus infinity for
// silence or when the measurement cannot be made.
double integrated_loudness(const Pcm& pcm);

} // namespace vesk
