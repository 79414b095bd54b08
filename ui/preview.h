// The live preview's span: the stretch around the play position that the
// Listen window renders with the current parameters (see SpanRenderer).
#pragma once

#include "engine/span.h"

namespace vesk {

// The lengths the window offers, and where a span starts: a little before
// the play position, so that the place being listened to is heard with
// some music before it.
constexpr double preview_default_seconds = 10.0;
constexpr double preview_min_seconds = 2.0;
constexpr double preview_max_seconds = 30.0;
constexpr double preview_lead_seconds = 1.0;

// `seconds` (held within the lengths offered) from preview_lead_seconds
// before `position`, clamped to an input of `duration` seconds: a span that
// would run past the end ends there, as long as it is, where the input is
// long enough; a shorter input is taken whole.
Span preview_span(double position, double seconds, double duration);

} // namespace vesk
