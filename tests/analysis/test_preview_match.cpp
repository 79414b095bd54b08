// A preview (a span rendered as if it were the whole file) against the same
// stretch of the full run's output: their Welch spectra, each relative to
// its own peak, agree within 1 dB at every bin within 40 dB of the peak and
// by 0.75 dB on average within 60 dB, for tones, a sweep and noise through
// chains without jitter (whose draws differ).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "analysis/run_match.h"
#include "engine/span_renderer.h"
#include "tests/support/batch_runs.h"
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

// Within 1 dB at every bin within 40 dB of the reference's peak, and by
// 0.75 dB on average over the bins within 60 dB.
void expect_spectra_agree(const std::vector<double>& part, const std::vector<double>& full, double rate)
{
    const analysis::SpectrumMatch match = analysis::spectrum_match(part, full, rate);
    EXPECT_LE(match.worst_db, 1.0);
    EXPECT_LE(match.mean_db, 0.75);
}

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

std::vector<uint8_t> pcm16(const std::vector<double>& x)
{
    std::vector<uint8_t> bytes;
    for (double v : x) {
        const auto i = static_cast<int16_t>(std::lround(v * 32767));
        bytes.insert(bytes.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)});
    }
    return bytes;
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
    const Span span{2.0, 2.0};
    for (const Chain& chain : chains)
        for (int kind = 0; kind < 3; ++kind) {
            if (kind != 0 && !chain.dense)
                continue;
            SCOPED_TRACE(testing::Message() << chain.name << ", " << inputs[kind]);
            const std::vector<uint8_t> bytes = pcm16(generated(kind));
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
            expect_spectra_agree(decoded(preview.samples.data(), preview.frames()), decoded(full.data + 3 * first, preview.frames()), out_rate);
        }
}

// A long file in segments (five or more here, of 2^17 points) against the same file
// rendered whole with the segments' frequencies: the spectra of stretches
// at the start, the middle and the end and across the first and the last
// join agree as a preview's do (the same chains; the segments' clocks start
// with each segment), channel 0 peaks at the whole file's level, and no
// join steps from one sample to the next by more than the samples around it
// step within their segments.
TEST(SegmentMatch, SegmentedRunsAgreeWithTheWholeRunAndJoinWithoutSteps)
{
    test::TempDir dir;
    for (const Chain& chain : chains)
        for (int kind = 0; kind < 3; ++kind) {
            if (kind != 0 && !chain.dense)
                continue;
            SCOPED_TRACE(testing::Message() << chain.name << ", " << inputs[kind]);
            std::vector<int32_t> ints;
            for (double x : generated(kind))
                ints.push_back(static_cast<int32_t>(std::lround(x * 32767)));
            test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, rate, 16, {ints}));
            std::vector<std::vector<int32_t>> out[2];
            test::RecordingMessages messages;
            test::RecordingLog log;
            Engine engine(messages, log);
            engine.segment_points = uint32_t{1} << 17;
            uint64_t segments = 0, hop = 0;
            for (int whole = 0; whole < 2; ++whole) {
                const Params snapped = engine.params;
                engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")};
                chain.set(engine.params);
                // fs-sim on a simple fraction of the rate, whose clock runs
                // on from segment to segment, and (as for a preview) no
                // image of a tone on the top of the band, where it adds up
                // with its fold in the phase of the segment's clock.
                if (engine.params.fssim == 7300 || engine.params.fssim == 9000)
                    engine.params.fssim = engine.params.fssim == 7300 ? 6000 : 8000;
                if (whole)
                    for (double Params::*hz : {&Params::fssim, &Params::fcloin, &Params::fchiin, &Params::fcloout, &Params::fchiout})
                        engine.params.*hz = snapped.*hz;
                engine.segmented = !whole;
                ASSERT_EQ(engine.process_wav(), RunOutcome::done);
                if (!whole) {
                    ASSERT_GE(engine.sizes().segments, 3u);
                    segments = engine.sizes().segments, hop = engine.sizes().segment_frames;
                }
                out[whole] = test::WholeRun::read_output(dir.file("out.wav"), 1, engine.params.fs);
            }
            const std::vector<int32_t>& seg = out[0][0];
            const std::vector<int32_t>& full = out[1][0];
            ASSERT_EQ(seg.size(), full.size());
            EXPECT_EQ(std::max(*std::max_element(seg.begin(), seg.end()), -*std::min_element(seg.begin(), seg.end())), 5931642);
            const auto stretch = [](const std::vector<int32_t>& x, std::size_t first, std::size_t count) {
                std::vector<double> v(count);
                for (std::size_t i = 0; i < count; ++i)
                    v[i] = x[first + i] / 8388608.0;
                return v;
            };
            const double out_rate = engine.params.fs;
            const std::size_t length = static_cast<std::size_t>(out_rate * 2);
            const double per_frame = out_rate / rate / (engine.params.varispeedt * engine.params.varispeedf);
            const auto join = [&](uint64_t k) { return static_cast<std::size_t>(std::llround(k * hop * per_frame)); };
            const auto around = [&](std::size_t at) { return std::clamp(at, length / 2, seg.size() - length / 2) - length / 2; };
            for (std::size_t first : {std::size_t{0}, (seg.size() - length) / 2, seg.size() - length, around(join(1)), around(join(segments - 1))}) {
                SCOPED_TRACE(testing::Message() << "stretch from output sample " << first);
                expect_spectra_agree(stretch(seg, first, length), stretch(full, first, length), out_rate);
            }
            for (uint64_t k = 1; k < segments; ++k) {
                const std::size_t at = join(k);
                const analysis::JoinSteps steps = analysis::join_steps(seg, at);
                EXPECT_LE(steps.at_join, steps.around) << "join " << k << " at output sample " << at;
            }
        }
}

} // namespace
} // namespace vesk
