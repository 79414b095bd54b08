// Engine state lifecycle: parameter check, buffers, and the two reporting
// channels.
#include "engine/engine.h"
#include "engine/memory.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <vector>

namespace vesk {

Engine::Engine(MessageSink& messages, LogSink& log) : messages_(messages), log_(log) {}

Engine::~Engine()
{
    fft_free();
    free_buffers();
}

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

int Engine::check_params()
{
    // A value that is not finite fails the test that covers it: an infinite
    // factor or amplitude would otherwise step positions forever.
    const auto finite = [](double v) { return std::isfinite(v); };
    struct Check {
        bool holds;
        const char* text;
    };
    const Check checks[] = {
        {finite(fssim) && fssim > 0, "invalid fs-sim (must be >0)"},
        {finite(aperture) && aperture >= 0 && aperture <= 1, "invalid aperture (must be 0 ... 1)"},
        {finite(fcloin) && fcloin >= 0, "invalid input fc-lo (must be >= 0)"},
        {finite(fchiin) && fchiin >= 0, "invalid input fc-hi (must be >= 0)"},
        {finite(fcloout) && finite(fchiout) && fcloout >= 0 && fchiout >= 0,
         "invalid output fc-lo (must be >= 0)"},
        {bitnr >= 1 && bitnr <= 24, "invalid bitnr (must be 1 ... 24)"},
        {finite(varispeedt) && varispeedt > 0, "invalid vari-speed-t (must be > 0)"},
        {finite(varispeedf) && varispeedf > 0, "invalid vari-speed-f (must be > 0)"},
        {finite(jitteramp) && jitteramp >= 0 && jitteramp <= 0.5, "invalid jitter-amp (must be 0 ... 0.5)"},
    };
    for (const Check& check : checks) {
        if (!check.holds) {
            message(check.text);
            return -1;
        }
    }
    return 0;
}

namespace {

// Keeps `buffer` when it already has `bytes`; otherwise replaces it.  The
// cached size changes only on success, so a failed allocation leaves the
// buffer absent with its old size remembered.
template <typename T>
bool reserve_buffer(T*& buffer, uint64_t& cached, uint64_t count)
{
    if (count == cached)
        return true;
    std::free(buffer);
    buffer = nullptr;
    if (count > UINT64_MAX / sizeof(T))
        return false;
    buffer = static_cast<T*>(allocate_block(count * sizeof(T)));
    if (buffer == nullptr)
        return false;
    cached = count;
    return true;
}

} // namespace

int Engine::alloc_buffers()
{
    if (!reserve_buffer(wavinpbuf, wavinpbuf_size, inpdatasize)) {
        message("cannot malloc wavinpbuf");
        return -1;
    }
    if (!reserve_buffer(wavoutbuf, wavoutbuf_size, outdatasize)) {
        message("cannot malloc wavoutbuf");
        return -1;
    }
    if (sampnump == sampbuf_size)
        return 0;
    // One count governs all four arrays; it is updated only once all four
    // exist, so a partial failure makes the next call allocate again.
    struct Array {
        double*& buffer;
        const char* text;
    };
    Array arrays[] = {
        {sampbuf1_re, "cannot malloc sampbuf1_re"},
        {sampbuf1_im, "cannot malloc sampbuf1_im"},
        {sampbuf2_re, "cannot malloc sampbuf2_re"},
        {sampbuf2_im, "cannot malloc sampbuf2_im"},
    };
    for (Array& array : arrays) {
        uint64_t unused = 0;
        if (!reserve_buffer(array.buffer, unused, sampnump)) {
            message(array.text);
            return -1;
        }
    }
    sampbuf_size = sampnump;
    return 0;
}

int Engine::free_buffers()
{
    for (double** array : {&sampbuf1_re, &sampbuf1_im, &sampbuf2_re, &sampbuf2_im}) {
        std::free(*array);
        *array = nullptr;
    }
    std::free(wavinpbuf);
    wavinpbuf = nullptr;
    std::free(wavoutbuf);
    wavoutbuf = nullptr;
    wavinpbuf_size = wavoutbuf_size = sampbuf_size = 0;
    sigre = sigim = tmpre = tmpim = nullptr;
    inpsampptr = nullptr;
    outsampptr = nullptr;
    return 0;
}

} // namespace vesk
