// Open... and Save... of the main window: batch files chosen through the
// scripted toolkit, read into the record and written from it, with their
// "process" commands running one after the other.
#include <QCheckBox>
#include <QTest>

#include <gtest/gtest.h>

#include "run_window_fixture.h"
#include "ui/batch.h"

namespace vesk::testing {
namespace {

class BatchFiles : public RunWindowTest {
protected:
    // Writes a batch file and opens it through "Open...".
    void openBatch(const std::string& name, const std::string& contents)
    {
        const std::string file = dir.file(name);
        writeText(file, contents);
        toolkit.answerFiles({file});
        click("openButton");
    }

    void expectBatchChooser(const ToolkitRequest& request, const std::string& title)
    {
        ASSERT_EQ(request.kind, ToolkitRequest::Kind::choose_file);
        EXPECT_EQ(request.choice.kind, FileChooserKind::save);
        EXPECT_EQ(request.choice.title, title);
        EXPECT_EQ(request.choice.filter, "TXT files (*.txt)|*.txt|All files|*|");
        EXPECT_EQ(request.choice.default_extension, ".txt");
    }
};

TEST_F(BatchFiles, TwoProcessCommandsRenderBothVariantsInTurn)
{
    const std::string input = writeInput("in.wav", 2, 24000);
    const std::string first = dir.file("first.wav");
    const std::string second = dir.file("second.wav");
    const std::string batch = dir.file("two.txt");
    writeText(batch, "inpwavname   " + input + "\n"
                            "outwavname   " + first + "\n"
                            "fssim   16000\n"
                            "process\n"
                            "outwavname   " + second + "\n"
                            "fssim   ST-12\n"
                            "bitnr   8\n"
                            "process\n");
    toolkit.answerFiles({batch});
    click("openButton");
    ASSERT_TRUE(waitForIdle());

    ASSERT_EQ(toolkit.requests().size(), 3u); // the chooser and two pauses
    expectBatchChooser(toolkit.requests()[0], "Open batch file");
    EXPECT_TRUE(toolkit.messages().empty());

    // The record and the controls hold what the file set last.
    EXPECT_EQ(dlg->record().outwavname, second);
    EXPECT_EQ(dlg->record().bitnr, 8u);
    EXPECT_EQ(text("outwavnameEdit").toStdString(), second);
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("8"));

    // Each run rendered its own variant, whole.
    ParamRecord variant;
    variant.inpwavname = input;
    variant.fssim = 16000;
    const HeadlessRun expectedFirst = headless(variant, dir.file("expected-first.wav"));
    variant.fssim = 16000 * semitone_factor(-12);
    variant.bitnr = 8;
    const HeadlessRun expectedSecond = headless(variant, dir.file("expected-second.wav"));
    ASSERT_EQ(expectedFirst.result, 0);
    ASSERT_EQ(expectedSecond.result, 0);
    EXPECT_EQ(test::read_file(first), expectedFirst.output);
    EXPECT_EQ(test::read_file(second), expectedSecond.output);
    EXPECT_NE(expectedFirst.output, expectedSecond.output);

    // Two runs, each with its own log from an empty start.
    std::vector<std::string> both = expectedFirst.lines;
    both.insert(both.end(), expectedSecond.lines.begin(), expectedSecond.lines.end());
    EXPECT_EQ(linesShown(), both);
    EXPECT_TRUE(button("processButton")->isEnabled());
    EXPECT_TRUE(button("openButton")->isEnabled());
}

TEST_F(BatchFiles, WhileASecondProcessWaitsTheWindowStaysResponsive)
{
    const std::string input = writeInput("in.wav", 8, 24000);
    const std::string batch = dir.file("two.txt");
    writeText(batch, "inpwavname " + input + "\noutwavname " + dir.file("a.wav") +
                                "\nprocess\noutwavname " + dir.file("b.wav") + "\nprocess\n");
    // While the first run goes on (the reader waiting at the second
    // "process"), Save... still works and the log is shown.
    bool saved = false;
    std::string logSeen;
    const std::string saveTo = dir.file("during.txt");
    toolkit.afterHandOver([&] {
        snapshots.push_back(snapshot());
        if (!saved && dlg->procinfo().logline == "--- processing channel 3: ---\n") {
            saved = true;
            logSeen = dlg->procinfo().window()->logLabel()->text().toStdString();
            toolkit.answerFiles({saveTo});
            click("saveButton");
        }
    });
    toolkit.answerFiles({batch});
    click("openButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(saved);
    EXPECT_NE(logSeen.find("--- processing channel 3: ---"), std::string::npos);
    // Saved while the reader waited at the second "process": the record
    // already held what the file set before it.
    std::string written;
    ASSERT_TRUE(batch::load_file(saveTo, written));
    EXPECT_NE(written.find("outwavname   " + dir.file("b.wav") + "\n"), std::string::npos);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"a.wav", "b.wav", "during.txt", "in.wav", "two.txt"}));
}

TEST_F(BatchFiles, SaveThenOpenGivesBackTheRecord)
{
    type("inpwavnameEdit", dir.file("with blanks in.wav"));
    type("outwavnameEdit", dir.file("out put.wav"));
    type("fssrcEdit", std::string("44100"));
    QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("ensrcCheck")), Qt::LeftButton);
    type("fssimEdit", std::string("22050.5"));
    type("bitnrEdit", std::string("12"));
    type("apertureEdit", std::string("0.25"));
    type("fcloinEdit", std::string("20"));
    type("fchiinEdit", std::string("16000"));
    type("fclooutEdit", std::string("40"));
    type("fchioutEdit", std::string("8000"));
    type("varispeedtEdit", std::string("1.5"));
    type("varispeedfEdit", std::string("0.75"));
    QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("varispeedshCheck")), Qt::LeftButton);
    type("jitterampEdit", std::string("0.125"));

    const std::string file = dir.file("saved.txt");
    toolkit.answerFiles({file});
    click("saveButton"); // takes first
    const ParamRecord saved = dlg->record();
    EXPECT_EQ(saved.fssim, 22050.5);
    EXPECT_EQ(saved.ensrc, 1);
    expectBatchChooser(toolkit.requests().at(0), "Save parameters to batch file");
    std::string written;
    ASSERT_TRUE(batch::load_file(file, written));
    EXPECT_EQ(written, batch::write_batch(saved));
    EXPECT_EQ(written.find("process"), std::string::npos);

    toolkit.answerQuestions({true});
    click("resetButton");
    type("inpwavnameEdit", std::string("elsewhere.wav"));
    type("outwavnameEdit", std::string("other.wav"));
    dlg->take();
    ASSERT_NE(dlg->record(), saved);

    toolkit.answerFiles({file});
    click("openButton");
    EXPECT_EQ(dlg->record(), saved);
    EXPECT_EQ(text("inpwavnameEdit").toStdString(), saved.inpwavname);
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("22050.5"));
    EXPECT_TRUE(dlg->findChild<QCheckBox*>(QStringLiteral("varispeedshCheck"))->isChecked());
    expectBatchChooser(toolkit.requests().back(), "Open batch file");
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_FALSE(dlg->runUnderWay());
}

TEST_F(BatchFiles, OpenDoesNotTakeFirst)
{
    // Typed but not taken, and no number: Open shows no notice about it and
    // the first show puts the stored value back.
    type("fssimEdit", std::string("abc"));
    openBatch("bits.txt", "bitnr 12\n");
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(dlg->record().bitnr, 12u);
    EXPECT_EQ(text("fssimEdit"), QStringLiteral("48000"));
}

TEST_F(BatchFiles, StopEndsTheReading)
{
    openBatch("stop.txt", "bitnr 12 stop bitnr 13\n");
    EXPECT_EQ(dlg->record().bitnr, 12u);
    EXPECT_EQ(text("bitnrEdit"), QStringLiteral("12"));
}

TEST_F(BatchFiles, ARefusedProcessShowsTheCheckAndReadingGoesOn)
{
    openBatch("bad.txt", "bitnr 0\nprocess\nbitnr 7\n");
    EXPECT_EQ(toolkit.messages(), std::vector<std::string>{"invalid bitnr (must be 1 ... 24)"});
    EXPECT_FALSE(dlg->runUnderWay());
    EXPECT_EQ(dlg->procinfo().window(), nullptr);
    EXPECT_EQ(dlg->record().bitnr, 7u);
}

TEST_F(BatchFiles, CancelledChoosersDoNothing)
{
    type("bitnrEdit", std::string("9"));
    click("openButton"); // no answer scripted: cancelled
    EXPECT_EQ(dlg->record().bitnr, 24u);
    click("saveButton");
    EXPECT_EQ(dlg->record().bitnr, 9u); // Save took first
    EXPECT_EQ(toolkit.unanswered(), 2);
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(dir.listing(), std::vector<std::string>{});
}

TEST_F(BatchFiles, FilesThatCannotBeOpenedOrSaved)
{
    toolkit.answerFiles({dir.file("missing.txt"), dir.file("no-such-folder/x.txt")});
    const ParamRecord before = dlg->record();
    click("openButton");
    click("saveButton");
    EXPECT_EQ(toolkit.messages(), (std::vector<std::string>{"cannot open file", "cannot save file"}));
    EXPECT_EQ(dlg->record(), before);
}

} // namespace
} // namespace vesk::testing
