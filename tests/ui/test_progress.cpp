// A run's progress: the reports of real runs (in order, short of 1 until the
// run is done, none once a stop is asked for) and the text shown of them.
#include <cmath>
#include <gtest/gtest.h>

#include "tests/support/batch_runs.h"
#include "ui/progress_text.h"
#include "ui/run.h"

namespace vesk {
namespace {

TEST(ProgressText, PercentRoundsDownAndTimeLeftFollowsThePaceSoFar)
{
    const std::tuple<double, double, int, const char*> rows[] = { // fraction, elapsed, percent, text
        {0.5, 10, 50, "time left 0:10"},      {0.25, 14, 25, "time left 0:42"},  {0.1, 60, 10, "time left 9:00"},
        {0.9, 1, 90, "time left 0:01"},       {0.999, 999, 99, "time left 0:01"}, {0.5, 3600, 50, "time left 1:00:00"},
        {0.5, 3725.5, 50, "time left 1:02:06"}, {1.0, 5, 100, "time left 0:00"},  {0.0, 5, 0, "time left --:--"},
        {0.5, 0, 50, "time left --:--"},      {1e-9, 10, 0, "time left --:--"},  {NAN, 3, 0, "time left --:--"},
        {-0.5, 3, 0, "time left --:--"},      {0.4999, 1, 49, "time left 0:02"},
    };
    for (const auto& [fraction, elapsed, percent, text] : rows) {
        EXPECT_EQ(progress_percent(fraction), percent) << fraction;
        EXPECT_EQ(time_left_text(fraction, elapsed), text) << fraction << " after " << elapsed;
    }
}

TEST(ProgressText, ATimeLeftWaitsForTwoReportsAndHalfASecond)
{
    const std::tuple<int, double, bool> rows[] = {{0, 9, false}, {1, 9, false}, {2, 0.49, false},
                                                  {2, 0.5, true}, {7, 3, true},   {9, 0.1, false}};
    for (const auto& [reports, elapsed, settled] : rows)
        EXPECT_EQ(time_left_settled(reports, elapsed), settled) << reports << " reports after " << elapsed;
}

struct RecordingProgress : ProgressSink {
    std::vector<double> fractions;
    const std::atomic<int>* stopflag = nullptr;
    int after_stop = 0; // reports made while a stop was asked for
    void report_progress(double fraction) override
    {
        fractions.push_back(fraction);
        after_stop += *stopflag != 0;
    }
};

class Progress : public test::WholeRun {
public:
    RecordingProgress progress;
    Progress()
    {
        progress.stopflag = &engine.stopflag;
        input(test::make_pcm_wav(2, 48000, 16, {test::ramp(1000, 9000), test::ramp(1000, 3000)}));
    }
    void every_stage()
    {
        engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav"), .fs = 44100, .fssim = 11025,
                         .aperture = 0.5, .bitnr = 12, .fcloin = 100, .fchiin = 15000, .fcloout = 50, .fchiout = 5000,
                         .varispeedt = 0.9, .varispeedf = 1.1, .varispeedsh = 1, .jitteramp = 0.1};
        engine.fixed_seed = 1;
    }
};

// Without a stage, each channel's 1000 samples count 1001 in and 1001 out,
// as do reading and writing: 8008 in all.  The samples go in channel by
// channel and out together, as the output is written (one block here).
TEST_F(Progress, AnIdleChainReportsByTheSamplesEachStepPasses)
{
    engine.set_progress_sink(&progress);
    EXPECT_EQ(run_worker_steps(engine), RunOutcome::done);
    EXPECT_EQ(progress.fractions, (std::vector<double>{0.0, 0.25, 0.375, 0.5, 0.75, 1.0}));
}

// Every stage: start, reading, 12 steps a channel and the end; the log is
// the one a run without reports writes.
TEST_F(Progress, EveryStageReportsInOrderAndOnly1WhenDone)
{
    every_stage();
    ASSERT_EQ(run_worker_steps(engine), RunOutcome::done);
    const std::string plain = log.joined();
    log.lines.clear();
    every_stage();
    engine.set_progress_sink(&progress);
    ASSERT_EQ(run_worker_steps(engine), RunOutcome::done);
    EXPECT_EQ(log.joined(), plain);
    const std::vector<double>& f = progress.fractions;
    ASSERT_EQ(f.size(), 27u);
    EXPECT_EQ(f.front(), 0.0);
    EXPECT_EQ(f.back(), 1.0);
    for (std::size_t i = 1; i < f.size(); ++i)
        EXPECT_TRUE(f[i] > f[i - 1] && (f[i] < 1.0 || i + 1 == f.size())) << i << ": " << f[i - 1] << " " << f[i];
}

TEST_F(Progress, AStoppedOrFailedRunNeverReaches1AndReportsNothingAfterTheStop)
{
    engine.set_progress_sink(&progress);
    for (const char* trigger : {"chnr:", "reading input", "SRC", "hold ...", "jitter ...", "--- processing channel 1"}) {
        every_stage();
        engine.stopflag = 0;
        progress.fractions.clear();
        log.on_line = [&, trigger = std::string(trigger)](const std::string& line) {
            engine.stopflag |= line.starts_with(trigger);
        };
        EXPECT_EQ(run_worker_steps(engine), RunOutcome::stopped) << trigger;
        EXPECT_EQ(progress.after_stop, 0) << trigger;
        EXPECT_TRUE(std::ranges::all_of(progress.fractions, [](double f) { return f < 1.0; })) << trigger;
    }
    log.on_line = nullptr;
    engine.stopflag = 0;
    progress.fractions.clear();
    engine.params.outwavname = dir.file("missing/out.wav");
    EXPECT_EQ(run_worker_steps(engine), RunOutcome::failed);
    EXPECT_TRUE(std::ranges::all_of(progress.fractions, [](double f) { return f < 1.0; }));
}

} // namespace
} // namespace vesk
