// The live preview's span: the stretch around the play position that the
// Listen window renders with the current parameters (see SpanRenderer).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/span.h"
#include "engine/span_renderer.h"
#include "ui/player.h"

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

// An input's samples as a run reads them, held for the renders of its spans.
struct InputSamples {
    uint32_t rate = 0, channels = 0, bits = 0;
    std::vector<uint8_t> bytes;
    uint64_t frames() const { return channels && bits ? bytes.size() / (channels * (bits / 8)) : 0; }
    PcmView view() const { return {rate, channels, bits, frames(), bytes.data()}; }
};

// Reads the samples of the PCM WAV file at `path` (as far as the file goes);
// false when it cannot be read as one or they would take more than
// `max_bytes`.
bool read_input_samples(const std::string& path, InputSamples& samples, std::size_t max_bytes);

// What the Listen window plays of a span: channels 0 and 1 as floats, placed
// where the span starts in its file.  The input's at the input's time; the
// rendering's at the output's, which runs `varispeedt` times slower.
Pcm input_span_pcm(const InputSamples& input, const SpanFrames& span);
Pcm rendered_pcm(const SpanRendering& rendering, uint32_t input_rate);

// "live preview: 10 s from 1:23.0, rendered in 84 ms"
std::string live_preview_text(const SpanFrames& span, uint32_t input_rate, double render_ms);

} // namespace vesk
