// Spans of an input: where they lie in frames, the renderer that renders
// them again and again (and stops for a newer change), and vesk-batch
// --excerpt, which renders the same span through the same code into a file.
#include <gtest/gtest.h>

#include <tuple>

#include "engine/span_renderer.h"
#include "tests/support/batch_runs.h"
#include "tests/support/dsp_reference.h"

namespace vesk {
namespace {

TEST(SpanFrames, ClampedToTheInputWithMarginsWhereItGoesOn)
{
    // 10 s at 1000 Hz: (start, seconds) -> first, count, margin before, after; or the refusal.
    const std::tuple<double, double, uint64_t, uint64_t, uint64_t, uint64_t, const char*> rows[] = {
        {2.0, 3.0, 2000, 3000, 500, 500, nullptr},     {0.0, 3.0, 0, 3000, 0, 500, nullptr},
        {0.2, 3.0, 200, 3000, 200, 500, nullptr},      {8.0, 5.0, 8000, 2000, 500, 0, nullptr},
        {9.7, 0.1, 9700, 100, 500, 200, nullptr},      {-1.0, 2.0, 0, 2000, 0, 500, nullptr},
        {0.0, 1e300, 0, 10000, 0, 0, nullptr},         {1.0006, 1.0, 1001, 1000, 500, 500, nullptr},
        {10.0, 1.0, 0, 0, 0, 0, "excerpt starts beyond the end of the input"},
        {12.0, 1.0, 0, 0, 0, 0, "excerpt starts beyond the end of the input"},
        {2.0, 0.0, 0, 0, 0, 0, "excerpt has no length"},
        {2.0, -1.0, 0, 0, 0, 0, "excerpt has no length"},
    };
    for (const auto& [start, seconds, first, count, before, after, refusal] : rows) {
        SCOPED_TRACE(testing::Message() << start << " s, " << seconds << " s");
        const SpanFrames s = span_frames({start, seconds}, 10000, 1000);
        const char* why = span_refusal({start, seconds}, 10000, 1000);
        EXPECT_EQ(std::string(why ? why : ""), std::string(refusal ? refusal : ""));
        if (!refusal) {
            EXPECT_EQ(std::tie(s.first, s.count, s.margins.before, s.margins.after), std::tie(first, count, before, after));
        }
        EXPECT_EQ(s.count == 0, refusal != nullptr);
    }
}

// The renderer and vesk-batch --excerpt give the same bytes for a span
// (a chain without jitter: its draws are seeded by the clock); the renderer
// keeps its engine, so a second render gives them again.
class Excerpt : public test::WholeRun {
public:
    std::vector<uint8_t> wav;
    PcmView view;
    Excerpt()
    {
        std::vector<std::vector<int32_t>> ints(2);
        for (int c = 0; c < 2; ++c)
            for (double x : test::random_values(40000, 20 + c, 20000.0))
                ints[c].push_back(static_cast<int32_t>(x));
        ints[0][30000] = 32767; // a click in the margin after the span of the tests

        wav = test::make_pcm_wav(2, 8000, 16, ints);
        input(wav);
        view = {8000, 2, 16, 40000, wav.data() + wav::header_size};
    }
    static Params chain()
    {
        Params p;
        p.fs = 11025, p.fssim = 6000, p.aperture = 0.7, p.bitnr = 9, p.fchiin = 3000, p.varispeedt = 0.9, p.varispeedf = 1.2;
        return p;
    }
};

TEST_F(Excerpt, TheRendererAndTheFileRunGiveTheSameSpan)
{
    const Span span{1.5, 2.0};
    SpanRenderer renderer;
    SpanRendering first, again;
    ASSERT_EQ(renderer.render(renderer.begin(), view, span, chain(), first), RunOutcome::done);
    EXPECT_EQ(std::tie(first.span.first, first.span.count, first.channels), std::make_tuple(12000u, 16000u, 2u));

    engine.params = chain();
    engine.params.inpwavname = dir.file("in.wav"), engine.params.outwavname = dir.file("out.wav");
    engine.excerpt = span;
    ASSERT_EQ(engine.process_wav(), RunOutcome::done);
    EXPECT_EQ(log.lines.front(), "excerpt:          2.000 s from 1.500 s (margins 0.500 s and 0.500 s)\n");
    EXPECT_EQ(log.lines[2], "output:           30625 samples (24 bit)\n"); // the span and its margins
    const auto file_samples = [&] {
        const std::vector<uint8_t> file = test::read_file(dir.file("out.wav"));
        return std::vector<uint8_t>(file.begin() + wav::header_size, file.end());
    };
    EXPECT_EQ(file_samples(), first.samples);
    EXPECT_EQ(output(2, 11025)[0].size(), first.frames()); // the header tells the span's length
    EXPECT_EQ(first.params.fssim, engine.params.fssim);
    EXPECT_EQ(first.sampnump, engine.sizes().sampnump);

    // What the renderer keeps from one render to the next follows a change,
    // and an idle chain renders the span as the file run does.
    Params changed = chain();
    changed.aperture = 0.2;
    ASSERT_EQ(renderer.render(renderer.begin(), view, span, changed, again), RunOutcome::done);
    SpanRenderer fresh;
    ASSERT_EQ(fresh.render(fresh.begin(), view, span, changed, first), RunOutcome::done);
    EXPECT_EQ(again.samples, first.samples);
    ASSERT_EQ(renderer.render(renderer.begin(), view, span, Params{}, again), RunOutcome::done);
    engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")};
    ASSERT_EQ(engine.process_wav(), RunOutcome::done);
    EXPECT_EQ(file_samples(), again.samples);

    EXPECT_EQ(renderer.render(renderer.begin(), view, {5.0, 1.0}, chain(), again), RunOutcome::failed);
    EXPECT_EQ(renderer.message(), "excerpt starts beyond the end of the input");
}

// A newer ticket stops an older render, whether it comes before the render
// begins or while it runs; the newest renders.
TEST_F(Excerpt, ANewerChangeStopsAnOlderRender)
{
    SpanRenderer renderer;
    SpanRendering out;
    const uint64_t older = renderer.begin(), newer = renderer.begin();
    EXPECT_EQ(renderer.render(older, view, {0, 5}, chain(), out), RunOutcome::stopped);
    EXPECT_EQ(renderer.render(newer, view, {0, 5}, chain(), out), RunOutcome::done);

    // A change that arrives while a render runs (here at its first report,
    // on the render's own thread) stops it at the engine's next check.
    struct ChangeMidway : ProgressSink {
        SpanRenderer& renderer;
        explicit ChangeMidway(SpanRenderer& r) : renderer(r) {}
        void report_progress(double) override { renderer.begin(); }
    } change(renderer);
    renderer.set_progress_sink(&change);
    EXPECT_EQ(renderer.render(renderer.begin(), view, {0, 5}, chain(), out), RunOutcome::stopped);
}

TEST_F(Excerpt, VeskBatchRendersTheSpanAndRefusesOnesItCannot)
{
    const std::string run_text = "inpwavname " + dir.file("in.wav") + "\noutwavname " + dir.file("b.wav") + "\nfssim 6000 bitnr 9 process";
    test::ProcessResult run = test::vesk_batch({"--excerpt", "4.5,9", "-e", run_text});
    EXPECT_EQ(std::tie(run.status, run.err), std::make_tuple(0, ""));
    engine.params.fssim = 6000, engine.params.bitnr = 9;
    engine.excerpt = Span{4.5, 9};
    ASSERT_EQ(engine.process_wav(), RunOutcome::done);
    EXPECT_EQ(run.out, log.joined() + "--- DONE ---\n");
    EXPECT_EQ(log.lines.front(), "excerpt:          0.500 s from 4.500 s (margins 0.500 s and 0.000 s)\n");
    EXPECT_EQ(test::read_file(dir.file("b.wav")), test::read_file(dir.file("out.wav")));

    const std::string usage = "usage: vesk-batch [-e LINE]... [FILE]...\nTry 'vesk-batch --help' for more information.\n";
    for (const auto& [excerpt, err] : std::vector<std::pair<std::string, std::string>>{
             {"5,1", "vesk-batch: excerpt starts beyond the end of the input (" + dir.file("in.wav") + ": 5.000 s)\n"},
             {"1,0", "vesk-batch: --excerpt needs a length above 0 seconds\n"},
             {"-1,2", "vesk-batch: --excerpt cannot start before 0 seconds\n"},
             {"1", "vesk-batch: --excerpt needs START,SECONDS (two numbers of seconds)\n"},
             {"1,2s", "vesk-batch: --excerpt needs START,SECONDS (two numbers of seconds)\n"},
             {"nan,2", "vesk-batch: --excerpt needs START,SECONDS (two numbers of seconds)\n"}}) {
        run = test::vesk_batch({"--excerpt", excerpt, "-e", run_text, "-e", "outwavname " + dir.file("c.wav") + "\nprocess"});
        EXPECT_EQ(std::tie(run.status, run.err, run.out), std::make_tuple(2, err + usage, std::string())) << excerpt;
    }
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"b.wav", "in.wav", "out.wav"}));
}

} // namespace
} // namespace vesk
