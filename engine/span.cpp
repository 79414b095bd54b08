#include "engine/span.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vesk {

namespace {

// Seconds to the nearest frame within 0 .. limit; a value that is not a
// number counts as 0.
uint64_t frame_at(double seconds, uint32_t rate, uint64_t limit)
{
    const double frame = std::round(seconds * rate);
    if (!(frame > 0))
        return 0;
    return frame >= static_cast<double>(limit) ? limit : static_cast<uint64_t>(frame);
}

} // namespace

SpanFrames span_frames(const Span& span, uint64_t frames, uint32_t rate)
{
    SpanFrames s;
    s.first = frame_at(span.start, rate, frames);
    s.count = std::min(frame_at(span.seconds, rate, frames), frames - s.first);
    if (s.count == 0)
        return s;
    const uint64_t margin = frame_at(span_margin_seconds, rate, frames);
    s.margins.before = std::min(margin, s.first);
    s.margins.after = std::min(margin, frames - s.first - s.count);
    return s;
}

const char* span_refusal(const Span& span, uint64_t frames, uint32_t rate)
{
    if (span_frames(span, frames, rate).count != 0)
        return nullptr;
    return frame_at(span.seconds, rate, UINT64_MAX) == 0 ? "excerpt has no length" : "excerpt starts beyond the end of the input";
}

} // namespace vesk
