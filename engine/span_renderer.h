// Renders spans of an input again and again, as a live preview does: each
// span (with its margins) runs through the engine's in-memory entry as if it
// were the whole file, and the engine keeps its tables and buffers from one
// render to the next, so that renders of the same size allocate nothing and
// build no table.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace vesk {

// What a render gives: the span's output alone, the margins dropped.
struct SpanRendering {
    SpanFrames span;      // where the span lies in the input, clamped to it [input frames]
    Params params;        // the parameters as the render used them (fs set, fs-sim and corners snapped)
    uint32_t channels = 0;
    uint32_t sampnump = 0; // the span's transform length
    std::vector<uint8_t> samples; // 24-bit, interleaved, at params.fs
    uint64_t frames() const { return channels ? samples.size() / (3 * uint64_t{channels}) : 0; }
};

// Threads: render() runs on one thread at a time (a worker); begin() may be
// called from any thread.  A newer change stops an older render: the caller
// takes a ticket with begin() for each render it wants, and any render
// holding an older ticket stops at once, or at the engine's next check if it
// is under way.  There is no queue.
class SpanRenderer {
public:
    SpanRenderer();
    SpanRenderer(const SpanRenderer&) = delete;
    SpanRenderer& operator=(const SpanRenderer&) = delete;

    // The ticket of a new render, which stops every older one.
    uint64_t begin();
    // Renders `span` of `input` with `params` for `ticket`.  Done: `out`
    // holds the span's output.  Stopped: a newer ticket was taken before or
    // during the render.  Failed: message() says why (a span that starts at
    // or beyond the input's end is refused before anything is rendered).
    RunOutcome render(uint64_t ticket, const PcmView& input, const Span& span, const Params& params, SpanRendering& out);
    const std::string& message() const { return messages_.last; }
    // Threads the engine's passes may use (0: the machine's).
    void set_threads(unsigned threads) { engine_.threads = threads; }
    // Where a render reports the share of it done (none by default); set
    // between renders only.
    void set_progress_sink(ProgressSink* sink) { engine_.set_progress_sink(sink); }
    // Gives the memory back until the next render.
    void release();

private:
    struct LastMessage : MessageSink {
        std::string last;
        void show_message(const std::string& text) override { last = text; }
    };
    struct NoLog : LogSink {
        void append_log(const std::string&) override {}
    };
    LastMessage messages_;
    NoLog log_;
    Engine engine_{messages_, log_};
    std::atomic<uint64_t> newest_{0};
};

} // namespace vesk
