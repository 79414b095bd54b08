// Engine state lifecycle: parameter check, buffers, and the two reporting
// channels.
#include "engine/engine.h"
#include "engine/lanes.h"
#include "engine/memory.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <vector>

namespace vesk {

Engine::Engine(MessageSink& messages, LogSink& log) : messages_(messages), log_(log) {}

Engine::~Engine() = default;

void Engine::message(const char* text)
{
    messages_.show_message(text);
}

void Engine::log_line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line;
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        line.assign(text.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    log_.append_log(line);
}

bool Engine::check_params()
{
    // A value that is not finite fails the test that covers it: an infinite
    // factor or amplitude would otherwise step positions forever.
    const auto finite = [](double v) { return std::isfinite(v); };
    struct Check {
        bool holds;
        const char* text;
    };
    const Check checks[] = {
        {finite(params.fssim) && params.fssim > 0, "invalid fs-sim (must be >0)"},
        {finite(params.aperture) && params.aperture >= 0 && params.aperture <= 1, "invalid aperture (must be 0 ... 1)"},
        {finite(params.fcloin) && params.fcloin >= 0, "invalid input fc-lo (must be >= 0)"},
        {finite(params.fchiin) && params.fchiin >= 0, "invalid input fc-hi (must be >= 0)"},
        {finite(params.fcloout) && finite(params.fchiout) && params.fcloout >= 0 && params.fchiout >= 0,
         "invalid output fc-lo (must be >= 0)"},
        {params.bitnr >= 1 && params.bitnr <= 24, "invalid bitnr (must be 1 ... 24)"},
        {finite(params.varispeedt) && params.varispeedt > 0, "invalid vari-speed-t (must be > 0)"},
        {finite(params.varispeedf) && params.varispeedf > 0, "invalid vari-speed-f (must be > 0)"},
        {finite(params.jitteramp) && params.jitteramp >= 0 && params.jitteramp <= 0.5, "invalid jitter-amp (must be 0 ... 0.5)"},
    };
    for (const Check& check : checks) {
        if (!check.holds) {
            message(check.text);
            return false;
        }
    }
    return true;
}

bool Engine::alloc_buffers(bool input_buffer)
{
    // A run over samples in memory reads them where they are.
    if (!input_buffer)
        wavinpbuf.release();
    else if (!wavinpbuf.reserve(inpdatasize)) {
        message("cannot malloc wavinpbuf");
        return false;
    }
    if (!wavoutbuf.reserve(outdatasize)) {
        message("cannot malloc wavoutbuf");
        return false;
    }
    // A segment's output before its level is known (engine/segments.cpp).
    if (segment_pass_ != SegmentPass::unscaled)
        rawoutbuf.release();
    else if (!rawoutbuf.reserve(uint64_t{sampnumout} * chnr)) {
        message("cannot malloc rawoutbuf");
        return false;
    }
    struct Array {
        Block<double>& buffer;
        const char* text;
    };
    Array arrays[] = {
        {sampbuf1_re, "cannot malloc sampbuf1_re"},
        {sampbuf1_im, "cannot malloc sampbuf1_im"},
        {sampbuf2_re, "cannot malloc sampbuf2_re"},
        {sampbuf2_im, "cannot malloc sampbuf2_im"},
    };
    for (Array& array : arrays) {
        if (!array.buffer.reserve(sampnump)) {
            message(array.text);
            return false;
        }
    }
    return true;
}

void Engine::free_buffers()
{
    for (Block<double>* array : {&sampbuf1_re, &sampbuf1_im, &sampbuf2_re, &sampbuf2_im})
        array->release();
    wavinpbuf.release();
    wavoutbuf.release();
    rawoutbuf.release();
    release_lanes();
    release_responses();
    sigre = sigim = tmpre = tmpim = nullptr;
    inpsampptr = nullptr;
    outsampptr = nullptr;
    rawoutptr = nullptr;
}

} // namespace vesk
