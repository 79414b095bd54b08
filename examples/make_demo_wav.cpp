// Writes the demo input: 48000 Hz, 16 bit, stereo.  Four seconds of a
// logarithmic sine sweep from 20 Hz to 20 kHz (left channel, the right
// channel 6 dB lower), half a second of silence, then a 1.5-second A major
// chord on both channels.  The sweep makes aliasing and filter corners
// audible; the chord makes quantization and jitter audible.
#include <cmath>
#include <cstdio>
#include <vector>

#include "wav/wav_header.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-demo-wav OUTPUT.wav\n");
        return 2;
    }
    const double pi = 3.141592653589793;
    const uint32_t rate = 48000;
    const double sweep_seconds = 4.0, gap_seconds = 0.5, chord_seconds = 1.5;
    const double f0 = 20.0, f1 = 20000.0;
    const auto sweep_len = static_cast<uint32_t>(sweep_seconds * rate);
    const auto gap_len = static_cast<uint32_t>(gap_seconds * rate);
    const auto chord_len = static_cast<uint32_t>(chord_seconds * rate);
    const uint32_t frames = sweep_len + gap_len + chord_len;

    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    // Exponential sweep: the phase is the integral of f0 * (f1/f0)^(t/T).
    const double k = std::log(f1 / f0);
    for (uint32_t i = 0; i < sweep_len; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = 2 * pi * f0 * sweep_seconds / k * (std::exp(t / sweep_seconds * k) - 1.0);
        // 10 ms fades keep the ends free of clicks.
        const double fade = std::fmin(1.0, std::fmin(t, sweep_seconds - t) / 0.01);
        left[i] = 0.5 * fade * std::sin(phase);
        right[i] = 0.5 * left[i];
    }
    const double chord[] = {220.0, 277.1826309768721, 329.6275569128699, 440.0};
    for (uint32_t i = 0; i < chord_len; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double envelope = std::exp(-2.0 * t) * std::fmin(1.0, t / 0.005);
        double sum = 0.0;
        for (const double f : chord)
            sum += std::sin(2 * pi * f * t);
        left[sweep_len + gap_len + i] = 0.15 * envelope * sum;
        right[sweep_len + gap_len + i] = 0.15 * envelope * sum;
    }

    std::vector<uint8_t> data;
    data.reserve(static_cast<std::size_t>(frames) * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        for (const double x : {left[i], right[i]}) {
            const auto v = static_cast<int16_t>(std::lround(x * 32767.0));
            data.push_back(static_cast<uint8_t>(v & 0xFF));
            data.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const auto header = vesk::wav::make_wav_header(2, rate, 16, static_cast<uint32_t>(data.size()));
    const bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                    std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "make-demo-wav: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
