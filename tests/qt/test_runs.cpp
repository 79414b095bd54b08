// Runs started from the main window and from batch files: the Processing
// window, the ways to stop a run, and the parameters each run hands to the
// engine (whose own tests check the output; here a run leaves its file).
#include <QFontInfo>
#include <QPointer>
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
        EXPECT_FALSE(s.runButtonsEnabled);
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

enum class Way { escape, closeBox, quit, destroy };
class StopRequest : public WindowTest, public ::testing::WithParamInterface<Way> {};

// Quitting and destroying the window stop a run through the Processing
// window's own stop, as Escape and its close box do.
TEST_P(StopRequest, EndsTheRunUnderTheStoppingTitleLeavingNoOutput)
{
    ASSERT_TRUE(startHeldUntilStopAsked());
    CProcinfoDlg* info = &dlg->procinfo();
    QPointer<ProcinfoWindow> window = info->window();
    std::vector<std::string> titles;
    toolkit.afterHandOver = [&] { titles.push_back(info->title); };
    toolkit.answers = {true};
    switch (GetParam()) {
    case Way::escape: QTest::keyClick(window, Qt::Key_Escape); break;
    case Way::closeBox: window->close(); break;
    case Way::quit: click("quitButton"); break;
    case Way::destroy: dlg.reset(); break;
    }
    if (dlg && GetParam() != Way::quit) {
        EXPECT_TRUE(window && window->isVisible());
        ASSERT_TRUE(waitForIdle());
        EXPECT_TRUE(button("processButton")->isEnabled() && button("openButton")->isEnabled());
    }
    EXPECT_TRUE(!dlg || dlg->isVisible() == (GetParam() != Way::quit));
    EXPECT_TRUE(window.isNull());
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles, std::vector<std::string>(titles.size(), stopping_title));
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
}

INSTANTIATE_TEST_SUITE_P(Ways, StopRequest, ::testing::Values(Way::escape, Way::closeBox, Way::quit, Way::destroy));

TEST_F(Runs, AFailingRunShowsTheEnginesMessageWithTheWindowUp)
{
    type("inpwavnameEdit", dir.file("missing.wav"));
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot open WAV input"});
    ASSERT_FALSE(snapshots.empty());
    EXPECT_TRUE(snapshots[0].window);
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
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
    std::string before; // progress reports hand over too, with the line unchanged
    toolkit.afterHandOver = [&] {
        if (dlg->procinfo().logline == channel0_line && std::exchange(before, channel0_line) != channel0_line) {
            runs.push_back(dlg->engine().params);
            type("fssimEdit", "9000");
            type("bitnrEdit", "3");
            dlg->take(); // as Enter or a spin arrow would
        }
        before = dlg->procinfo().logline;
    };
    openBatch("inpwavname " + input + "\noutwavname " + dir.file("a.wav") + "\nfssim 16000\nprocess\n"
              "outwavname " + dir.file("b.wav") + "\nfssim ST-12\nbitnr 8\nprocess\n");
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(runs.size(), 2u);
    // The engine fits fs-sim to its transform grid: within a bin of 2.7 Hz.
    EXPECT_NEAR(runs[0].fssim, 16000.0, 3.0);
    EXPECT_NEAR(runs[1].fssim, 8000.0, 3.0); // 16000 an octave down
    EXPECT_EQ(runs[1].bitnr, 8u);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"a.wav", "b.wav", "batch.txt", "in.wav"}));
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
    EXPECT_EQ(toolkit.texts('c'), std::vector<std::string>{"Open batch file"});
}

// A write cut short (the disk full, a quota) must not leave a truncated
// batch file in place of the one that was there.
TEST_F(BatchFiles, SaveWritesTheTakenRecordOrReportsAFileItCouldNotWriteWholeAndKeepsTheOneBefore)
{
    click("openButton");
    click("saveButton"); // cancels do nothing
    const std::string kept = dir.file("kept.txt");
    writeText(kept, "bitnr 8\n");
    toolkit.files = {dir.file("missing.txt"), dir.file("no-folder/x.txt"), std::string("/dev/full"), kept};
    click("openButton");
    click("saveButton");
    click("saveButton");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{64, old.rlim_max}; // the batch text is about 400 bytes
    setrlimit(RLIMIT_FSIZE, &small);
    click("saveButton");
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>({"cannot open file", "cannot save file", "cannot save file", "cannot save file"}));
    std::string text;
    ASSERT_TRUE(batch::load_file(kept, text));
    EXPECT_EQ(text, "bitnr 8\n");
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"kept.txt"}); // nothing left beside it
    type("fssimEdit", "22050.5"); // taken first
    toolkit.files = {kept};
    click("saveButton");
    ASSERT_TRUE(batch::load_file(kept, text));
    EXPECT_EQ(text, batch::write_batch(dlg->record()));
    EXPECT_EQ(dlg->record().fssim, 22050.5);
}

} // namespace
} // namespace vesk::testing
