#include "engine/span_renderer.h"

#include <algorithm>

namespace vesk {

SpanRenderer::SpanRenderer() = default;

uint64_t SpanRenderer::begin()
{
    // The newest ticket first, then the stop: a render that clears the stop
    // after this raised it sees the newer ticket when it checks its own.
    const uint64_t ticket = newest_.fetch_add(1) + 1;
    engine_.stopflag.store(1);
    return ticket;
}

RunOutcome SpanRenderer::render(uint64_t ticket, const PcmView& input, const Span& span, const Params& params,
                                SpanRendering& out)
{
    // Cleared before the ticket is compared: a begin() in between is seen
    // here, and one after it leaves the stop raised for the engine to see.
    engine_.stopflag.store(0);
    if (newest_.load() != ticket)
        return RunOutcome::stopped;
    messages_.last.clear();
    const char* refusal = Engine::format_refusal(input.rate, input.channels, input.bits);
    if (refusal == nullptr)
        refusal = span_refusal(span, input.frames, input.rate);
    if (refusal != nullptr) {
        messages_.show_message(refusal);
        return RunOutcome::failed;
    }
    const SpanFrames frames = span_frames(span, input.frames, input.rate);
    PcmView stretch = input;
    stretch.data += frames.render_first() * input.channels * (input.bits / 8);
    stretch.frames = frames.render_count();
    engine_.params = params;
    Pcm24View output;
    const RunOutcome outcome = engine_.process_samples(stretch, output, frames.margins);
    if (outcome != RunOutcome::done)
        return outcome;
    out.span = frames;
    out.params = engine_.params;
    out.channels = output.channels;
    out.sampnump = engine_.sizes().sampnump;
    out.samples.assign(output.data, output.data + output.frames * 3 * output.channels);
    return RunOutcome::done;
}

void SpanRenderer::release()
{
    engine_.fft_free();
    engine_.free_buffers();
}

} // namespace vesk
