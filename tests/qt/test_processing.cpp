// A run started from the main window: the Processing window and its log,
// stopping, quitting, and the main window's state around a run.  The runs
// are real ones on generated files; the scripted toolkit records what the
// Processing window showed at each of the worker's hand-overs.
#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QTest>
#include <atomic>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "run_window_fixture.h"
#include "window_test_support.h"

namespace vesk::testing {
namespace {

const std::string processing_title = "Processing samples, please wait ...";
const std::string stopping_title = "Stopping, please wait ...";
const std::string done_line = "--- DONE ---\n";
const std::string channel0_line = "--- processing channel 0: ---\n";
const std::string channel1_line = "--- processing channel 1: ---\n";

std::string last_lines(const std::vector<std::string>& lines, std::size_t count)
{
    std::string text;
    for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        text += lines[i];
    return text;
}

class Processing : public RunWindowTest {
protected:
    // A run that takes a while: many channels, each through the rate
    // conversion.
    void setUpLongRun()
    {
        input = writeInput("in.wav", 8, 48000);
        output = dir.file("out.wav");
        setPaths(input, output);
        QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("ensrcCheck")), Qt::LeftButton);
        type("fssrcEdit", std::string("44100"));
    }

    // Runs `act` on the user-interface thread at the hand-over of `line`,
    // while the worker waits for it, besides taking the snapshot.
    void atLine(const std::string& line, std::function<void()> act)
    {
        toolkit.afterHandOver([this, line, act] {
            snapshots.push_back(snapshot());
            if (dlg->procinfo().window() && dlg->procinfo().logline == line)
                act();
        });
    }

    // Starts a long run and holds its worker after the first channel's
    // line until something asks the run to stop, so that what the test does
    // then cannot come too late.  False if the run never got there.
    bool startHeldUntilStopAsked()
    {
        setUpLongRun();
        std::atomic<int>& stopflag = dlg->engine().stopflag;
        reached = false;
        atLine(channel0_line, [this, &stopflag] {
            reached = true;
            toolkit.holdWorkerWhile([&stopflag] { return stopflag.load() == 0; });
        });
        click("processButton");
        return QTest::qWaitFor([this] { return reached; }, 30000);
    }

    std::vector<int> pauses() const
    {
        std::vector<int> ms;
        for (const ToolkitRequest& r : toolkit.requests())
            if (r.kind == ToolkitRequest::Kind::pause)
                ms.push_back(r.milliseconds);
        return ms;
    }

    std::string input;
    std::string output;
    bool reached = false;
};

TEST_F(Processing, AWholeRunFromProcessToTheWindowClosing)
{
    input = writeInput("in.wav", 2, 4800);
    output = dir.file("out.wav");
    setPaths(input, output);
    type("fssimEdit", std::string("24000"));
    type("bitnrEdit", std::string("12"));
    bool fixedPitch = false;
    atLine("input:             4800 samples (16 bit)\n", [&] {
        fixedPitch = QFontInfo(dlg->procinfo().window()->logLabel()->font()).fixedPitch();
        // Enter in the Processing window does nothing.
        QTest::keyClick(dlg->procinfo().window(), Qt::Key_Return);
    });

    click("processButton");
    ASSERT_TRUE(waitForIdle());

    // The window has gone and the buttons are back.
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_TRUE(dlg->findChildren<ProcinfoWindow*>().isEmpty());
    EXPECT_TRUE(button("processButton")->isEnabled());
    EXPECT_TRUE(button("openButton")->isEnabled());
    EXPECT_EQ(dlg->engine().stopflag.load(), 1);

    // Every line of the engine arrived, in order, as a run of the same
    // engine without a window logs them.
    const HeadlessRun expected = headless(dlg->record(), dir.file("headless.wav"));
    ASSERT_EQ(expected.result, 0);
    const std::vector<std::string> lines = linesShown();
    EXPECT_EQ(lines, expected.lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), done_line);
    EXPECT_TRUE(fixedPitch);

    // At each line the window was up, titled, showed the lines so far, and
    // "Process" and "Open..." were greyed.
    ASSERT_GE(snapshots.size(), lines.size() + 1);
    std::vector<std::string> sofar;
    for (std::size_t i = 0; i + 1 < snapshots.size(); ++i) {
        const Snapshot& s = snapshots[i];
        sofar.push_back(s.logline);
        ASSERT_TRUE(s.window) << i;
        EXPECT_TRUE(s.visible) << i;
        EXPECT_EQ(s.caption, "Processing");
        EXPECT_EQ(s.title, processing_title) << i;
        EXPECT_EQ(s.log, last_lines(sofar, 24)) << i;
        EXPECT_FALSE(s.processEnabled) << i;
        EXPECT_FALSE(s.openEnabled) << i;
    }
    // The last hand-over is the end of the run.
    EXPECT_FALSE(snapshots.back().window);
    EXPECT_TRUE(snapshots.back().processEnabled);
    EXPECT_TRUE(snapshots.back().openEnabled);

    EXPECT_EQ(pauses(), std::vector<int>{700});
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(test::read_file(output), expected.output);
    test::Pcm24File written;
    ASSERT_TRUE(test::parse_pcm24_output(test::read_file(output), written));
    EXPECT_EQ(written.channels, 2u);
    EXPECT_EQ(written.rate, 48000u);
    EXPECT_EQ(written.samples[0].size(), 4800u);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"headless.wav", "in.wav", "out.wav"}));
}

TEST_F(Processing, ARunThatFailsShowsTheEnginesMessageOnTheUserInterfaceThread)
{
    setPaths(dir.file("missing.wav"), dir.file("out.wav"));
    bool onUiThread = false;
    bool windowUp = false;
    toolkit.onRequest([&](const ToolkitRequest& r) {
        if (r.kind == ToolkitRequest::Kind::message) {
            onUiThread = QtToolkit::onUiThread();
            windowUp = dlg->procinfo().window() != nullptr;
        }
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(toolkit.messages(), std::vector<std::string>{"cannot open WAV input"});
    EXPECT_TRUE(onUiThread);
    EXPECT_TRUE(windowUp);
    // No "--- DONE ---", no pause; the window closes as after success.
    EXPECT_TRUE(linesShown().empty());
    EXPECT_TRUE(pauses().empty());
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_TRUE(button("processButton")->isEnabled());
    EXPECT_TRUE(button("openButton")->isEnabled());
    EXPECT_EQ(dir.listing(), std::vector<std::string>{});
}

TEST_F(Processing, InvalidParametersGiveOnlyTheChecksMessage)
{
    setPaths(writeInput("in.wav", 1, 100), dir.file("out.wav"));
    type("bitnrEdit", std::string("0"));
    click("processButton");
    EXPECT_EQ(toolkit.messages(), std::vector<std::string>{"invalid bitnr (must be 1 ... 24)"});
    EXPECT_FALSE(dlg->runUnderWay());
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_TRUE(dlg->findChildren<ProcinfoWindow*>().isEmpty());
    EXPECT_TRUE(button("processButton")->isEnabled());
    EXPECT_TRUE(button("openButton")->isEnabled());
    QTest::qWait(50);
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
}

TEST_F(Processing, MoreThan24LinesShowOnlyTheLast24OldestFirst)
{
    setPaths(writeInput("in.wav", 4, 9600), dir.file("out.wav"));
    type("fssimEdit", std::string("16000"));
    type("bitnrEdit", std::string("10"));
    type("fchioutEdit", std::string("6000"));
    type("jitterampEdit", std::string("0.1"));
    std::string shownAtDone;
    atLine(done_line, [&] {
        shownAtDone = dlg->procinfo().window()->logLabel()->text().toStdString();
        grabWindow(dlg->procinfo().window(), QStringLiteral("processing-done"));
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());

    const std::vector<std::string> lines = linesShown();
    ASSERT_GT(lines.size(), 30u);
    EXPECT_EQ(lines.back(), done_line);
    EXPECT_EQ(shownAtDone, last_lines(lines, 24));
    // The first line of the run has long been pushed out.
    EXPECT_EQ(shownAtDone.find(lines.front()), std::string::npos);
}

TEST_F(Processing, ASecondRunStartsWithAnEmptyLog)
{
    setPaths(writeInput("in.wav", 1, 2000), dir.file("out.wav"));
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    const std::size_t first = snapshots.size();
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    ASSERT_GT(snapshots.size(), first);
    const Snapshot& start = snapshots[first];
    EXPECT_EQ(start.title, processing_title);
    EXPECT_EQ(start.log, start.logline);
    EXPECT_EQ(start.logindex, 1);
    EXPECT_EQ(pauses(), (std::vector<int>{700, 700}));
}

struct StopWay {
    const char* name;
    std::function<void(QWidget*)> ask;
};

class StopRequest : public Processing, public ::testing::WithParamInterface<StopWay> {};

TEST_P(StopRequest, EndsTheRunLeavingNoOutput)
{
    setUpLongRun();
    bool stillVisible = false;
    std::string titleAfter;
    atLine(channel0_line, [&] {
        ProcinfoWindow* window = dlg->procinfo().window();
        GetParam().ask(window);
        stillVisible = window->isVisible();
        titleAfter = window->titleLabel()->text().toStdString();
        grabWindow(window, QStringLiteral("processing-stopping"));
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());

    EXPECT_TRUE(stillVisible);
    EXPECT_EQ(titleAfter, stopping_title);
    EXPECT_EQ(dlg->procinfo().title, stopping_title);
    const std::vector<std::string> lines = linesShown();
    EXPECT_TRUE(contains(lines, channel0_line));
    EXPECT_FALSE(contains(lines, channel1_line));
    EXPECT_FALSE(contains(lines, done_line));
    // Every line after the request was shown under the new heading, until
    // the window went.
    bool after = false;
    for (const Snapshot& s : snapshots) {
        if (after && s.window) {
            EXPECT_EQ(s.title, stopping_title);
        }
        after = after || s.logline == channel0_line;
    }
    EXPECT_FALSE(snapshots.back().window);
    EXPECT_TRUE(pauses().empty());
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
    EXPECT_TRUE(button("processButton")->isEnabled());
    EXPECT_TRUE(button("openButton")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    ProcessingWindow, StopRequest,
    ::testing::Values(StopWay{"Escape", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }},
                      StopWay{"CloseBox", [](QWidget* w) { w->close(); }}),
    [](const ::testing::TestParamInfo<StopWay>& info) { return std::string(info.param.name); });

TEST_F(Processing, QuittingDuringARunStopsItAndWaitsForTheWorker)
{
    ASSERT_TRUE(startHeldUntilStopAsked());

    toolkit.answerQuestions({true});
    click("quitButton");
    // When the quit has gone through, the worker has ended.
    EXPECT_FALSE(dlg->runUnderWay());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(toolkit.questions(), std::vector<std::string>{"Do you really want to quit?"});
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_FALSE(contains(linesShown(), done_line));
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
    toolkit.holdWorkerWhile({});
}

TEST_F(Processing, QuitAnsweredNoLetsTheRunFinish)
{
    setUpLongRun();
    std::atomic<bool> asked{false};
    toolkit.onRequest([&](const ToolkitRequest& r) {
        if (r.kind == ToolkitRequest::Kind::question)
            asked = true;
    });
    bool reached = false;
    atLine(channel0_line, [&] {
        reached = true;
        toolkit.holdWorkerWhile([&asked] { return !asked.load(); });
    });
    click("processButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return reached; }, 30000));
    toolkit.answerQuestions({false});
    click("quitButton");
    ASSERT_TRUE(waitForIdle());
    toolkit.holdWorkerWhile({});
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(contains(linesShown(), done_line));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_F(Processing, EditsDuringARunDoNotReachIt)
{
    input = writeInput("in.wav", 2, 4800);
    output = dir.file("out.wav");
    setPaths(input, output);
    const ParamRecord started = [&] {
        dlg->take();
        return dlg->record();
    }();
    std::map<std::string, bool> liveDuringRun;
    atLine(channel0_line, [&] {
        for (const char* name : {"saveButton", "resetButton", "aboutButton", "browseInputButton",
                                 "browseOutputButton", "playInputButton", "playOutputButton",
                                 "infoButton", "quitButton"})
            liveDuringRun[name] = button(name)->isEnabled();
        // Typed and taken while the run goes on.
        type("fssimEdit", std::string("8000"));
        type("outwavnameEdit", dir.file("other.wav"));
        dlg->take();
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(liveDuringRun.size(), 9u);
    for (const auto& [name, live] : liveDuringRun)
        EXPECT_TRUE(live) << name;
    EXPECT_EQ(dlg->record().fssim, 8000.0);
    const HeadlessRun expected = headless(started, dir.file("headless.wav"));
    EXPECT_EQ(test::read_file(output), expected.output);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"headless.wav", "in.wav", "out.wav"}));
}

TEST_F(Processing, ClosingTheMainWindowObjectDuringARunStopsAndWaits)
{
    ASSERT_TRUE(startHeldUntilStopAsked());
    toolkit.afterHandOver({});
    dlg.reset();
    toolkit.holdWorkerWhile({});
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
}

TEST_F(Processing, TheDesktopDuringARun)
{
    // Short names, as a person working in the folder would type them.
    writeInput("recording.wav", 2, 48000);
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path().string()));
    setPaths("recording.wav", "aliased.wav");
    type("fssimEdit", std::string("11025"));
    type("bitnrEdit", std::string("8"));
    type("fchioutEdit", std::string("5000"));
    type("jitterampEdit", std::string("0.05"));
    QImage picture;
    atLine("--- processing channel 1: ---\n", [&] {
        picture = grabSideBySide({dlg.get(), dlg->procinfo().window()}, QStringLiteral("desktop-run"));
    });
    click("processButton");
    const bool ended = waitForIdle();
    QDir::setCurrent(before);
    ASSERT_TRUE(ended);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"aliased.wav", "recording.wav"}));
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), dlg->width() + 200);
}

TEST(ProcessingWindow, ShowsTheLast24LinesAndLetsALineRunOn)
{
    std::atomic<int> stopflag{0};
    int ended = 0;
    CProcinfoDlg procinfo(stopflag, [&] { ++ended; });
    QWidget owner;
    procinfo.Create(&owner);
    procinfo.title = "Processing samples, please wait ...";
    procinfo.clearLog();
    procinfo.UpdateData();
    procinfo.ShowWindow();
    ASSERT_NE(procinfo.window(), nullptr);
    EXPECT_EQ(procinfo.window()->windowTitle(), QStringLiteral("Processing"));
    EXPECT_EQ(procinfo.window()->titleLabel()->text(), QStringLiteral("Processing samples, please wait ..."));
    EXPECT_TRUE(procinfo.window()->titleLabel()->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(procinfo.window()->logLabel()->text().isEmpty());
    EXPECT_TRUE(QFontInfo(procinfo.logfont).fixedPitch());

    procinfo.logline = "wav-in: warning, no samples";
    procinfo.OnLogLine();
    procinfo.logline = "input:                0 samples (16 bit)\n";
    procinfo.OnLogLine();
    EXPECT_EQ(procinfo.window()->logLabel()->text(),
              QStringLiteral("wav-in: warning, no samplesinput:                0 samples (16 bit)\n"));

    std::string expected;
    for (int i = 1; i <= 30; ++i) {
        procinfo.logline = "line " + std::to_string(i) + "\n";
        procinfo.OnLogLine();
        if (i > 6)
            expected += procinfo.logline;
    }
    EXPECT_EQ(procinfo.logindex(), 32 % 24);
    EXPECT_EQ(procinfo.logtext, expected);
    EXPECT_EQ(procinfo.window()->logLabel()->text().toStdString(), expected);

    procinfo.OnRunDone();
    EXPECT_EQ(procinfo.window(), nullptr);
    EXPECT_EQ(stopflag.load(), 1);
    EXPECT_EQ(ended, 1);
    // The texts outlive the window, which the next run creates anew.
    EXPECT_EQ(procinfo.logtext, expected);
}

TEST(ProcessingWindow, AStopAskedBeforeTheRunClearedTheFlagStillStands)
{
    std::atomic<int> stopflag{1};
    CProcinfoDlg procinfo(stopflag, {});
    QWidget owner;
    procinfo.Create(&owner);
    procinfo.clearLog();
    procinfo.OnCancel();
    // The worker clears the flag as its run begins ...
    stopflag = 0;
    // ... and its first line raises it again.
    procinfo.logline = "input:\n";
    procinfo.OnLogLine();
    EXPECT_EQ(stopflag.load(), 1);
    EXPECT_EQ(procinfo.title, "Stopping, please wait ...");
    // A new run starts without the request.
    procinfo.clearLog();
    stopflag = 0;
    procinfo.OnLogLine();
    EXPECT_EQ(stopflag.load(), 0);
}

} // namespace
} // namespace vesk::testing
