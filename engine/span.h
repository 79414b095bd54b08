// A span of a recording rendered as if it were the whole file: the part of
// the input it covers, and the margins rendered with it and dropped.
#pragma once

#include <cstdint>

#include "engine/pcm_view.h"

namespace vesk {

// A stretch of the input, in seconds.
struct Span {
    double start = 0.0;   // [s]
    double seconds = 0.0; // [s]
};

// Rendered on each side of a span where the input goes on, and dropped.
constexpr double span_margin_seconds = 0.5;

// A span in frames of an input of `frames` frames at `rate`: clamped to the
// input (a start before 0 counts as 0), with its margins.
struct SpanFrames {
    uint64_t first = 0; // the span's first frame
    uint64_t count = 0; // its frames; 0 when it starts at or beyond the end
    Margins margins;    // up to span_margin_seconds, as far as the input goes
    uint64_t render_first() const { return first - margins.before; }
    uint64_t render_count() const { return margins.before + count + margins.after; }
};
SpanFrames span_frames(const Span& span, uint64_t frames, uint32_t rate);

// Why a span leaves nothing of an input of `frames` frames at `rate` to
// render: "excerpt has no length" or "excerpt starts beyond the end of the
// input"; null when it covers at least one frame.
const char* span_refusal(const Span& span, uint64_t frames, uint32_t rate);

} // namespace vesk
