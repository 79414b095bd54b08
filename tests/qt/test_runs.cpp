// Runs started from the main window and from batch files: the Processing
// window and its log, the ways to stop a run, quitting during one, and the
// parameters each run hands to the engine.  Whole-run output is checked by
// the engine's own tests; here a run only has to leave its file.
#include <QFontInfo>
#include <csignal>
#include <sys/resource.h>

#include "ui/batch.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

using Runs = WindowTest;

TEST_F(Runs, AWholeRunHandsTheTypedParametersToTheEngineAndShowsEveryLine)
{
    type("inpwavnameEdit", writeInput("in.wav", 2, 4800));
    type("outwavnameEdit", dir.file("out.wav"));
    type("fssimEdit", "24000");
    type("bitnrEdit", "12");
    check("ensrcCheck");
    type("fssrcEdit", "44100");
    bool fixedPitch = false;
    atLine(channel0_line, [&] {
        fixedPitch = QFontInfo(dlg->procinfo().window()->logLabel()->font()).fixedPitch();
        QTest::keyClick(dlg->procinfo().window(), Qt::Key_Return); // does nothing
        type("bitnrEdit", "8"); // does not reach the run
        dlg->take();
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(dlg->engine().params.inpwavname, dir.file("in.wav"));
    EXPECT_EQ(dlg->engine().params.outwavname, dir.file("out.wav"));
    EXPECT_EQ(dlg->engine().params.fs, 44100u);
    EXPECT_EQ(dlg->engine().params.bitnr, 12u);
    EXPECT_EQ(dlg->record().bitnr, 8u);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
    EXPECT_TRUE(fixedPitch);
    // At each line the window was up under its heading, showing the last 24
    // lines so far, oldest first, with "Process" and "Open..." greyed; the
    // last hand-over ends it.
    const std::vector<std::string> lines = linesShown();
    ASSERT_GT(lines.size(), 24u);
    EXPECT_EQ(lines.back(), done_line);
    std::vector<std::string> sofar;
    for (const Snapshot& s : snapshots) {
        if (!s.window)
            continue;
        if (sofar.empty() || s.logline != sofar.back())
            sofar.push_back(s.logline);
        std::string last24;
        for (std::size_t i = sofar.size() > 24 ? sofar.size() - 24 : 0; i < sofar.size(); ++i)
            last24 += sofar[i];
        EXPECT_EQ(s.log, last24);
        EXPECT_EQ(s.title, "Processing samples, please wait ...");
        EXPECT_FALSE(s.processEnabled || s.openEnabled);
    }
    EXPECT_FALSE(snapshots.back().window);
    EXPECT_EQ(toolkit.texts('z'), std::vector<std::string>{"700"});
    EXPECT_TRUE(button("processButton")->isEnabled() && button("openButton")->isEnabled());

    // The stop request that the end of the run leaves standing does not
    // reach the next run.
    ASSERT_EQ(dlg->engine().stopflag.load(), 1);
    snapshots.clear();
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(linesShown().back(), done_line);
    EXPECT_EQ(linesShown().front(), lines.front()) << "the second run's log starts empty";
}

class StopRequest : public WindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StopRequest, FromEscapeOrTheCloseBoxEndsTheRunLeavingNoOutput)
{
    setUpLongRun();
    bool stillVisible = false;
    atLine(channel0_line, [&] {
        ProcinfoWindow* window = dlg->procinfo().window();
        if (GetParam())
            QTest::keyClick(window, Qt::Key_Escape);
        else
            window->close();
        stillVisible = window->isVisible();
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(stillVisible);
    EXPECT_EQ(dlg->procinfo().title, stopping_title);
    EXPECT_FALSE(contains(linesShown(), "--- processing channel 1: ---\n"));
    EXPECT_FALSE(snapshots.back().window);
    EXPECT_TRUE(toolkit.texts('z').empty());
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
    EXPECT_TRUE(button("processButton")->isEnabled() && button("openButton")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Ways, StopRequest, ::testing::Values(true, false));

TEST_F(Runs, QuittingDuringARunStopsItAsTheProcessingWindowDoesAndWaits)
{
    ASSERT_TRUE(startHeldUntilStopAsked());
    toolkit.answers = {true};
    click("quitButton");
    EXPECT_FALSE(dlg->runUnderWay());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->procinfo().title, stopping_title);
    EXPECT_FALSE(contains(linesShown(), done_line));
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
}

TEST_F(Runs, DestroyingTheWindowDuringARunStopsItTheSameWayAndWaits)
{
    ASSERT_TRUE(startHeldUntilStopAsked());
    CProcinfoDlg* info = &dlg->procinfo();
    std::vector<std::string> titles;
    toolkit.afterHandOver = [&] { titles.push_back(info->title); };
    dlg.reset();
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles, std::vector<std::string>(titles.size(), stopping_title));
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
}

TEST_F(Runs, QuitAnsweredNoLetsTheRunFinish)
{
    setUpLongRun();
    atLine(channel0_line, [&] {
        toolkit.answers = {false};
        click("quitButton");
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(toolkit.texts('q'), std::vector<std::string>{quit_question});
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_F(Runs, AFailingRunShowsTheEnginesMessageAndInvalidParametersStartNone)
{
    type("inpwavnameEdit", dir.file("missing.wav"));
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot open WAV input"});
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    type("inpwavnameEdit", writeInput("in.wav", 1, 480));
    type("bitnrEdit", "0");
    ASSERT_FALSE(snapshots.empty());
    EXPECT_TRUE(snapshots[0].window) << "the message came with the window up";
    snapshots.clear();
    click("processButton");
    EXPECT_FALSE(dlg->runUnderWay());
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_EQ(toolkit.texts('m').back(), "invalid bitnr (must be 1 ... 24)");
    EXPECT_TRUE(snapshots.empty());
}

class BatchFiles : public WindowTest {
protected:
    void openBatch(const std::string& contents)
    {
        writeText(dir.file("batch.txt"), contents);
        toolkit.files = {dir.file("batch.txt")};
        click("openButton");
    }
};

// The second "process" waits for the first run; what the user types
// meanwhile must not replace what the file gave.
TEST_F(BatchFiles, EachProcessCommandRunsTheRecordTheFileGaveInTurn)
{
    const std::string input = writeInput("in.wav", 8, 24000);
    std::vector<Params> runs;
    toolkit.afterHandOver = [&] {
        snapshots.push_back(snapshot());
        if (dlg->procinfo().logline == channel0_line) {
            runs.push_back(dlg->engine().params);
            type("fssimEdit", "9000");
            type("bitnrEdit", "3");
            dlg->take(); // as Enter or a spin arrow would
        }
    };
    openBatch("inpwavname " + input + "\noutwavname " + dir.file("a.wav") + "\nfssim 16000\nprocess\n"
              "outwavname " + dir.file("b.wav") + "\nfssim ST-12\nbitnr 8\nprocess\n");
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(runs.size(), 2u);
    // The engine fits fs-sim to its transform grid: within a bin of 2.7 Hz.
    EXPECT_NEAR(runs[0].fssim, 16000.0, 3.0);
    EXPECT_EQ(runs[0].bitnr, 24u);
    EXPECT_NEAR(runs[1].fssim, 8000.0, 3.0); // 16000 an octave down
    EXPECT_EQ(runs[1].bitnr, 8u);
    EXPECT_EQ(runs[1].outwavname, dir.file("b.wav"));
    EXPECT_EQ(text("outwavnameEdit"), dir.file("b.wav"));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"a.wav", "b.wav", "batch.txt", "in.wav"}));
    EXPECT_EQ(toolkit.texts('z').size(), 2u);
}

TEST_F(BatchFiles, OpenReadsWithoutTakingGoesOnAfterARefusedProcessAndEndsAtStop)
{
    type("fssimEdit", "abc"); // typed, not taken, and no number
    openBatch("bitnr 0\nprocess\nbitnr 12 stop bitnr 13\n");
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"invalid bitnr (must be 1 ... 24)"});
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_EQ(dlg->record().bitnr, 12u);
    EXPECT_EQ(text("bitnrEdit"), "12");
    EXPECT_EQ(text("fssimEdit"), "48000");
    EXPECT_EQ(toolkit.requests.at(0).choice.title, "Open batch file");
    EXPECT_EQ(toolkit.requests.at(0).choice.filter, "TXT files (*.txt)|*.txt|All files|*|");
}

TEST_F(BatchFiles, SaveWritesTheTakenRecordAndOpenGivesItBack)
{
    type("inpwavnameEdit", dir.file("with blanks.wav"));
    type("fssimEdit", "22050.5");
    check("varispeedshCheck");
    toolkit.files = {dir.file("saved.txt")};
    click("saveButton");
    const ParamRecord saved = dlg->record();
    EXPECT_EQ(saved.fssim, 22050.5);
    std::string written;
    ASSERT_TRUE(batch::load_file(dir.file("saved.txt"), written));
    EXPECT_EQ(written, batch::write_batch(saved));
    type("inpwavnameEdit", "elsewhere.wav");
    dlg->take();
    toolkit.files = {dir.file("saved.txt")};
    click("openButton");
    EXPECT_EQ(dlg->record(), saved);
    EXPECT_EQ(text("fssimEdit"), "22050.5");
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"saved.txt"});
}

TEST_F(BatchFiles, FilesThatCannotBeOpenedOrSavedAreReportedAndCancelsDoNothing)
{
    click("openButton");
    click("saveButton");
    EXPECT_TRUE(toolkit.texts('m').empty());
    toolkit.files = {dir.file("missing.txt"), dir.file("no-folder/x.txt"), std::string("/dev/full")};
    const ParamRecord before = dlg->record();
    click("openButton");
    click("saveButton");
    click("saveButton");
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>({"cannot open file", "cannot save file", "cannot save file"}));
    EXPECT_EQ(dlg->record(), before);
}

// A write cut short (the disk full, a quota) must not leave a truncated
// batch file in place of the one that was there.
TEST_F(BatchFiles, ASaveCutShortIsReportedAndKeepsTheFileBefore)
{
    const std::string file = dir.file("kept.txt");
    writeText(file, "bitnr 8\n");
    toolkit.files = {file};
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64; // the batch text is about 400 bytes
    setrlimit(RLIMIT_FSIZE, &small);
    click("saveButton");
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot save file"});
    std::string text;
    ASSERT_TRUE(batch::load_file(file, text));
    EXPECT_EQ(text, "bitnr 8\n");
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"kept.txt"});
}

} // namespace
} // namespace vesk::testing
