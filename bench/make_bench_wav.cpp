// vesk-bench-wav SECONDS OUTPUT.wav: the input of the whole-process
// comparison, 48000 Hz, 16 bit, stereo.  Pink-ish noise plus a few steady
// tones: broadband content keeps every band filter and interpolator busy
// with realistic data (no long runs of zeros a program could skip), and the
// tones give SoX and vesk-batch something that would show a gross error in
// a listening check.  The noise comes from a fixed seed through a generator
// whose output the C++ standard fixes, so every machine times the same file.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "wav/wav_header.h"

namespace {

// Equal energy per octave, approximately: white noise through a sum of
// first-order low passes (a well-known economical approximation, within
// about 0.5 dB of -3 dB/octave above 10 Hz at this rate).
class PinkNoise {
public:
    explicit PinkNoise(uint32_t seed) : rng_(seed) {}

    double next()
    {
        // mt19937's output sequence is fixed by the standard; the
        // distributions are not, so the conversion to -1 .. 1 is done here.
        const double white = static_cast<double>(rng_()) / 2147483648.0 - 1.0;
        b0_ = 0.99886 * b0_ + white * 0.0555179;
        b1_ = 0.99332 * b1_ + white * 0.0750759;
        b2_ = 0.96900 * b2_ + white * 0.1538520;
        b3_ = 0.86650 * b3_ + white * 0.3104856;
        b4_ = 0.55000 * b4_ + white * 0.5329522;
        b5_ = -0.7616 * b5_ - white * 0.0168980;
        const double pink = b0_ + b1_ + b2_ + b3_ + b4_ + b5_ + b6_ + white * 0.5362;
        b6_ = white * 0.115926;
        return pink * 0.11; // about unit peak
    }

private:
    std::mt19937 rng_;
    double b0_ = 0, b1_ = 0, b2_ = 0, b3_ = 0, b4_ = 0, b5_ = 0, b6_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vesk-bench-wav SECONDS OUTPUT.wav\n");
        return 2;
    }
    char* end = nullptr;
    const double seconds = std::strtod(argv[1], &end);
    const uint32_t rate = 48000;
    const uint32_t channels = 2;
    // The data chunk's size field is 32 bits.
    if (end == argv[1] || *end != '\0' || !(seconds > 0) || seconds * rate * channels * 2 > 4.0e9) {
        std::fprintf(stderr, "vesk-bench-wav: SECONDS must be a positive number below 41666\n");
        return 2;
    }
    const auto frames = static_cast<uint32_t>(std::llround(seconds * rate));

    constexpr double pi = 3.141592653589793;
    struct Tone {
        double hz, left, right;
    };
    // Spread over the band, with different levels per side so that the
    // channels differ (a program may not assume identical channels).
    const Tone tones[] = {{110.0, 0.08, 0.05}, {440.0, 0.06, 0.08}, {1000.0, 0.05, 0.04},
                          {5000.0, 0.03, 0.04}, {12000.0, 0.02, 0.01}};

    PinkNoise noise_left(1), noise_right(2);
    std::vector<uint8_t> data;
    data.reserve(std::size_t{frames} * channels * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        double left = 0.3 * noise_left.next();
        double right = 0.3 * noise_right.next();
        for (const Tone& tone : tones) {
            const double s = std::sin(2 * pi * tone.hz * t);
            left += tone.left * s;
            right += tone.right * s;
        }
        for (double x : {left, right}) {
            x = std::fmax(-1.0, std::fmin(1.0, x));
            const auto v = static_cast<int16_t>(std::lround(x * 32767.0));
            data.push_back(static_cast<uint8_t>(v & 0xFF));
            data.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    }

    std::FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    const auto header = vesk::wav::make_wav_header(channels, rate, 16, static_cast<uint32_t>(data.size()));
    const bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                    std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "vesk-bench-wav: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
