// Long files in segments, on short files cut into small segments: where
// every sample's chain is its own (quantization alone) a segmented run gives
// the whole run's bytes, which only whole-file gains and an exact tiling of
// the segments can give; a stop or a failure in any pass leaves the folder
// as it was; vesk-batch chooses segments by its memory limit and says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/support/batch_runs.h"

namespace vesk {
namespace {

// Two channels at 8000 Hz: a quiet first four seconds (more than a segment
// of 2^16 points renders), then both at full level, channel 1 another
// signal, so that the peaks lie in later segments.
std::vector<uint8_t> loud_late(uint32_t frames)
{
    std::vector<int32_t> left = test::ramp(frames, 30000), right = test::ramp(frames + 7, 20000);
    right.erase(right.begin(), right.begin() + 7);
    for (uint32_t i = 0; i < std::min(frames, 32000u); ++i)
        left[i] /= 100, right[i] /= 100;
    return test::make_pcm_wav(2, 8000, 16, {left, right});
}

// Stops and failures in each pass: the share of progress at which a test
// acts falls in the first pass (the quantization peak), the second (the
// unscaled output) or the last (scaling into the output).
struct Act : ProgressSink {
    double at = 2;
    std::function<void()> action;
    std::vector<double> reports;
    void report_progress(double fraction) override
    {
        reports.push_back(fraction);
        if (fraction >= at && action)
            std::exchange(action, nullptr)();
    }
};

class Segments : public test::WholeRun {
public:
    std::vector<uint8_t> run(bool segmented)
    {
        engine.segmented = segmented;
        // 2^16 points: the channels of a segment go side by side.
        engine.segment_points = uint32_t{1} << 16;
        EXPECT_EQ(engine.process_wav(), RunOutcome::done);
        return test::read_file(dir.file("out.wav"));
    }
};

TEST_F(Segments, QuantizationAloneGivesTheWholeRunsBytes)
{
    for (uint32_t bits : {3u, 9u}) {
        SCOPED_TRACE(bits);
        input(loud_late(9 * 8000 + 123));
        engine.params.bitnr = bits;
        const std::vector<uint8_t> whole = run(false);
        EXPECT_EQ(engine.sizes().segments, 0u);
        log.lines.clear();
        // The share done grows over all three passes, up to 1 at the end.
        Act progress;
        engine.set_progress_sink(&progress);
        EXPECT_EQ(run(true), whole);
        engine.set_progress_sink(nullptr);
        EXPECT_TRUE(std::is_sorted(progress.reports.begin(), progress.reports.end()));
        EXPECT_GT(std::count_if(progress.reports.begin(), progress.reports.end(), [](double f) { return f > 0.1 && f < 0.9; }), 10);
        EXPECT_EQ(progress.reports.back(), 1.0);
        EXPECT_GE(engine.sizes().segments, 3u);
        EXPECT_EQ(log.lines.at(0).rfind("rendering in " + std::to_string(engine.sizes().segments) + " segments: the whole file needs ", 0), 0u);
        EXPECT_EQ(log.lines.at(1).rfind("input:", 0), 0u);
    }
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_F(Segments, AStopOrAFailureInAnyPassLeavesTheFolderAsItWas)
{
    const std::vector<uint8_t> existing = {'k', 'e', 'p', 't'};
    struct Row { const char* name; double at; bool truncate; RunOutcome outcome; };
    const Row rows[] = {
        {"stop while finding the peak", 0.05, false, RunOutcome::stopped},
        {"stop while rendering", 0.5, false, RunOutcome::stopped},
        {"stop while scaling", 0.9, false, RunOutcome::stopped},
        {"input cut short while finding the peak", 0.05, true, RunOutcome::failed},
        {"input cut short while rendering", 0.4, true, RunOutcome::failed},
    };
    Act act;
    engine.set_progress_sink(&act);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        input(loud_late(5 * 8000));
        test::write_file(dir.file("out.wav"), existing);
        engine.params.bitnr = 6;
        engine.stopflag = 0;
        engine.segmented = true;
        engine.segment_points = uint32_t{1} << 15;
        messages.texts.clear();
        act.at = row.at;
        act.action = [&] {
            if (row.truncate)
                std::filesystem::resize_file(dir.file("in.wav"), 20000);
            else
                engine.stopflag = 1;
        };
        EXPECT_EQ(engine.process_wav(), row.outcome);
        EXPECT_EQ(act.action, nullptr);
        EXPECT_EQ(test::read_file(dir.file("out.wav")), existing);
        EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
        EXPECT_EQ(messages.texts, row.truncate ? std::vector<std::string>{"cannot read samples"} : std::vector<std::string>{});
    }
}

TEST(SegmentsBatch, TheMemoryLimitChoosesSegmentsAndIsAUsageErrorWhenItIsNoSize)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), loud_late(3 * 8000));
    const std::vector<std::string> run = {"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e", "bitnr 8 process"};
    const auto with = [&](std::vector<std::string> options) {
        options.insert(options.end(), run.begin(), run.end());
        return test::vesk_batch(options);
    };
    const test::ProcessResult plain = with({});
    ASSERT_EQ(plain.status, 0);
    const std::vector<uint8_t> whole = test::read_file(dir.file("out.wav"));
    struct Row { std::vector<std::string> options; int status; const char* first_line; };
    const Row rows[] = {
        {{"--memory-limit", "64G"}, 0, "input:"},
        {{"--memory-limit", "1.5k"}, 0, "rendering in 3 segments: the whole file needs 0.0 GB, the limit is 0.0 GB\n"},
        {{"--segmented"}, 0, "rendering in 1 segments: the whole file needs 0.0 GB, the limit is "},
        {{"--memory-limit", "0"}, 2, nullptr},
        {{"--memory-limit", "2X"}, 2, nullptr},
        {{"--memory-limit", "G"}, 2, nullptr},
        {{"--memory-limit"}, 2, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options.front() + " " + row.options.back());
        const test::ProcessResult result = with(row.options);
        EXPECT_EQ(result.status, row.status);
        if (row.first_line == nullptr) {
            EXPECT_NE(result.err.find("vesk-batch: --memory-limit needs a size such as 512M or 2G\n"), std::string::npos);
            continue;
        }
        EXPECT_EQ(result.out.rfind(row.first_line, 0), 0u) << result.out;
        if (row.options.size() == 2 && row.options[1] == "64G") {
            EXPECT_EQ(result.out, plain.out);
        }
        // One segment renders the whole file with margins of nothing: the
        // whole run's bytes, at the whole run's bins.
        EXPECT_EQ(test::read_file(dir.file("out.wav")), whole);
    }
}

} // namespace
} // namespace vesk
