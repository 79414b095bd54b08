// Running vesk-batch on generated files, and measuring what comes out.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/wav_builder.h"

namespace vesk::test {

inline void write_text(const std::string& path, const std::string& text)
{
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline ProcessResult vesk_batch(const std::vector<std::string>& args, const std::string& input = "")
{
    return run_process(VESK_BATCH_EXE, args, "", input);
}

// A sine of `cycles_per_sample` as integer samples of the given amplitude.
inline std::vector<int32_t> tone(std::size_t frames, double amplitude, double cycles_per_sample)
{
    std::vector<int32_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = static_cast<int32_t>(std::lround(amplitude * std::sin(6.283185307179586 * cycles_per_sample * i)));
    return v;
}

// A sine fitted at `hz` over samples [from, to) by least squares: its
// amplitude (in fractions of full scale) and the RMS of what the fit leaves,
// relative to the amplitude.
struct SineFit {
    double amplitude;
    double relative_residual;
};

inline SineFit fit_sine(const std::vector<int32_t>& samples, double rate, double hz, std::size_t from, std::size_t to)
{
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    const double w = 6.283185307179586 * hz / rate;
    for (std::size_t i = from; i < to; ++i) {
        const double x = samples[i] / 8388608.0, s = std::sin(w * i), c = std::cos(w * i);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += x * s;
        xc += x * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    double residual = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double e = samples[i] / 8388608.0 - a * std::sin(w * i) - b * std::cos(w * i);
        residual += e * e;
    }
    const double amplitude = std::hypot(a, b);
    return {amplitude, std::sqrt(residual / static_cast<double>(to - from)) / amplitude};
}

} // namespace vesk::test
