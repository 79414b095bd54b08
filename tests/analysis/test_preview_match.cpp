// A preview (a span rendered as if it were the whole file) against the same
// stretch of the full run's output: their Welch spectra, each relative to
// its own peak, agree within 1 dB at every bin within 40 dB of the peak and
// by 0.75 dB on average within 60 dB, for tones, a sweep and noise through
// chains without jitter (whose draws differ).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "analysis/spectra.h"
#include "engine/span_renderer.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/recording_sinks.h"

namespace vesk {
namespace {

constexpr uint32_t rate = 32000, frames = 6 * rate;
constexpr double pi = 3.141592653589793;

std::vector<double> generated(int kind)
{
    std::vector<double> x(frames);
    if (kind == 2)
        return test::random_values(frames, 5, 0.5);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        if (kind == 0)
            x[i] = 0.4 * std::sin(2 * pi * 440 * t) + 0.2 * std::sin(2 * pi * 3000 * t) + 0.1 * std::sin(2 * pi * 7000 * t);
        else // 100 Hz to 14 kHz, exponentially, over the file
            x[i] = 0.5 * std::sin(2 * pi * 100 * 6 / std::log(140.0) * (std::pow(140.0, t / 6) - 1));
    }
    return x;
}

std::vector<double> decoded(const uint8_t* bytes, uint64_t count)
{
    std::vector<double> v(count);
    for (uint64_t i = 0; i < count; ++i, bytes += 3)
        v[i] = ((bytes[0] | (bytes[1] << 8) | (bytes[2] << 16)) - ((bytes[2] & 0x80) << 17)) / 8388608.0;
    return v;
}

std::vector<double> relative(const analysis::Spectrum& s)
{
    const double peak = *std::max_element(s.dbfs.begin(), s.dbfs.end());
    std::vector<double> v;
    for (double level : s.dbfs)
        v.push_back(level - peak);
    return v;
}

TEST(PreviewMatch, SpectraOfAPreviewAndOfTheSameStretchOfTheFullRunAgree)
{
    // Dense spectra (a sweep, noise) are left out where a chain cannot
    // match them: through vari-speed in frequency they differ bin by bin
    // (the span's coarser bins move each differently), and through the
    // ideal filters a full run carries faint ringing at the corners from
    // sounds beyond the span.  The chain's clocks (the simulated sampling,
    // the stretched reads) start with the rendered span: fs-sim and the
    // factors here keep them in step with the file's at the span's start, as
    // aliases that overlap what they fold onto (near DC, fs-sim / 2, the
    // top of the band) add up with other phases otherwise.
    struct Chain { const char* name; std::function<void(Params&)> set; bool dense; };
    const Chain chains[] = {
        {"every stage but jitter", [](Params& p) {
             p.fs = 24000, p.fcloin = 50, p.fchiin = 9000, p.varispeedsh = 1, p.varispeedt = 1.1, p.varispeedf = 0.9;
             p.bitnr = 10, p.fssim = 7300, p.aperture = 0.5, p.fcloout = 60, p.fchiout = 8000; }, false},
        {"rate, filters, 8 bits", [](Params& p) {
             p.fs = 22050, p.fcloin = 200, p.fchiin = 6000, p.bitnr = 8, p.fcloout = 300, p.fchiout = 5000; }, false},
        {"vari-speed in frequency", [](Params& p) { p.varispeedf = 1.3; }, false},
        {"rate, vari-speed in time, 12 bits", [](Params& p) { p.fs = 44100, p.varispeedt = 1.25, p.bitnr = 12; }, true},
        {"sampling, aperture, 12 bits", [](Params& p) { p.fssim = 9000, p.aperture = 1, p.bitnr = 12; }, true},
        {"held and slowed", [](Params& p) { p.varispeedsh = 1, p.varispeedt = 0.8, p.fssim = 8000; }, true},
    };
    const char* inputs[] = {"tones", "sweep", "noise"};
    const Span span{2.0, 2.0};
    for (const Chain& chain : chains)
        for (int kind = 0; kind < 3; ++kind) {
            if (kind != 0 && !chain.dense)
                continue;
            SCOPED_TRACE(testing::Message() << chain.name << ", " << inputs[kind]);
            std::vector<uint8_t> bytes;
            for (double x : generated(kind)) {
                const auto v = static_cast<int16_t>(std::lround(x * 32767));
                bytes.insert(bytes.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
            }
            const PcmView input{rate, 1, 16, frames, bytes.data()};
            Params params;
            chain.set(params);
            // Frequencies snap to the span's bins, coarser than the file's:
            // both runs take the span's, which are the file's bins too.
            SpanRenderer renderer;
            SpanRendering preview;
            ASSERT_EQ(renderer.render(renderer.begin(), input, span, params, preview), RunOutcome::done);
            for (double Params::*hz : {&Params::fssim, &Params::fcloin, &Params::fchiin, &Params::fcloout, &Params::fchiout})
                params.*hz = preview.params.*hz;

            test::RecordingMessages messages;
            test::RecordingLog log;
            Engine engine(messages, log);
            engine.params = params;
            Pcm24View full;
            ASSERT_EQ(engine.process_samples(input, full), RunOutcome::done);
            ASSERT_EQ(renderer.render(renderer.begin(), input, span, params, preview), RunOutcome::done);

            const double out_rate = engine.params.fs;
            const auto first = static_cast<uint64_t>(std::round(span.start * out_rate / (params.varispeedt * params.varispeedf)));
            ASSERT_LE(first + preview.frames(), full.frames);
            const std::vector<double> p = relative(analysis::welch_spectrum(decoded(preview.samples.data(), preview.frames()), out_rate));
            const std::vector<double> f = relative(analysis::welch_spectrum(decoded(full.data + 3 * first, preview.frames()), out_rate));
            double worst = 0, sum = 0;
            int counted = 0;
            for (std::size_t k = 0; k < f.size(); ++k) {
                const double difference = std::fabs(p[k] - f[k]);
                if (f[k] >= -40)
                    worst = std::max(worst, difference);
                if (f[k] >= -60)
                    sum += difference, ++counted;
            }
            EXPECT_LE(worst, 1.0);
            EXPECT_LE(sum / counted, 0.75);
        }
}

} // namespace
} // namespace vesk
