#include "ui/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/sample_codec.h"
#include "wav/wav_header.h"

namespace vesk {

Span preview_span(double position, double seconds, double duration)
{
    const double length = std::clamp(std::isnan(seconds) ? preview_default_seconds : seconds, preview_min_seconds,
                                     preview_max_seconds);
    const double whole = duration > 0 ? duration : 0.0;
    if (length >= whole)
        return {0.0, whole};
    const double start = std::clamp(position - preview_lead_seconds, 0.0, whole - length);
    return {std::isnan(start) ? 0.0 : start, length};
}

namespace {

// Channels 0 and 1 of `frames` frames of `channels` samples `width` bytes
// wide, as the player takes them.
Pcm decoded(const uint8_t* bytes, uint64_t frames, uint32_t channels, uint32_t width)
{
    Pcm pcm;
    pcm.channels = std::min<uint32_t>(channels, 2);
    pcm.samples.resize(frames * pcm.channels);
    for (uint64_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < pcm.channels; ++c)
            pcm.samples[i * pcm.channels + c] = static_cast<float>(decode_sample(bytes + (i * channels + c) * width, width));
    return pcm;
}

} // namespace

bool read_input_samples(const std::string& path, InputSamples& samples, std::size_t max_bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    wav::WavFormat format;
    int fmttag = 0;
    bool ok = wav::read_wav_header(file, nullptr, &fmttag, format) == 0 && fmttag == 1 &&
              (format.bitnrinp == 8 || format.bitnrinp == 16 || format.bitnrinp == 24) &&
              uint64_t{format.inpchdatasize} * format.chnr <= max_bytes;
    if (ok) {
        samples.rate = format.fsinp;
        samples.channels = format.chnr;
        samples.bits = format.bitnrinp;
        samples.bytes.resize(uint64_t{format.inpchdatasize} * format.chnr);
        // A file cut shorter since its header was read gives what it holds.
        const std::size_t frame = std::size_t{format.chnr} * (format.bitnrinp / 8);
        samples.bytes.resize(std::fread(samples.bytes.data(), 1, samples.bytes.size(), file) / frame * frame);
    }
    std::fclose(file);
    return ok;
}

Pcm input_span_pcm(const InputSamples& input, const SpanFrames& span)
{
    const uint32_t width = input.bits / 8;
    Pcm pcm = decoded(input.bytes.data() + span.first * input.channels * width, span.count, input.channels, width);
    pcm.rate = input.rate;
    pcm.start = static_cast<double>(span.first) / input.rate;
    return pcm;
}

Pcm rendered_pcm(const SpanRendering& rendering, uint32_t input_rate)
{
    Pcm pcm = decoded(rendering.samples.data(), rendering.frames(), rendering.channels, 3);
    pcm.rate = rendering.params.fs;
    pcm.start = static_cast<double>(rendering.span.first) / input_rate / rendering.params.varispeedt;
    return pcm;
}

std::string live_preview_text(const SpanFrames& span, uint32_t input_rate, double render_ms)
{
    // The length as a person says it: "10 s", "7.5 s".
    char length[32];
    std::snprintf(length, sizeof length, "%g", std::round(10.0 * span.count / input_rate) / 10);
    return "live preview: " + std::string(length) + " s from " + format_time(static_cast<double>(span.first) / input_rate) +
           ", rendered in " + std::to_string(std::lround(render_ms)) + " ms";
}

} // namespace vesk
