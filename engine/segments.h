// How a long file run is cut into segments (engine/segments.cpp).
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "engine/span.h"

namespace vesk {

struct Engine::SegmentPlan {
    uint64_t count = 0;  // segments; 0: the run renders the whole file at once
    uint32_t points = 0; // each segment's transform length
    uint64_t hop = 0;    // input frames each segment keeps (the last keeps the rest)
    uint64_t margin = 0; // input frames rendered and dropped on each side, where the input goes on
    uint64_t frames = 0; // the input's frames
    Params asked;        // the run's parameters before their frequencies snapped, fs set
    // Segment k's kept frames and margins in the input.
    SpanFrames segment(uint64_t k) const;
};

// The frames of input a segment of `points` can render at most: the longest
// input whose working arrays the length holds, for the rate ratio and the
// vari-speed factors of `params` (fs set) on an input at `rate`.
uint64_t segment_capacity(uint32_t points, const Params& params, uint32_t rate);

// The memory the system reports available to a new process, in bytes; 0
// when it cannot tell.
uint64_t available_memory();

} // namespace vesk
