// Browse..., Play and Info: choosing the two files, handing them to the
// desktop's player, and the input file's format in its own window.
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "run_window_fixture.h"
#include "ui/qt/inpinfo_dlg.h"
#include "window_test_support.h"

namespace vesk::testing {
namespace {

class FileActions : public RunWindowTest {
protected:
    // What the Info window showed, closed as the user would.
    struct InfoShown {
        bool seen = false;
        QString caption;
        std::string text;
        bool fixedPitch = false;
        bool okIsDefault = false;
    };

    void expectWavChooser(FileChooserKind kind, const std::string& title)
    {
        ASSERT_EQ(toolkit.requests().size(), 1u);
        const FileChoice choice = toolkit.requests()[0].choice;
        EXPECT_EQ(choice.kind, kind);
        EXPECT_EQ(choice.title, title);
        EXPECT_EQ(choice.filter, "WAV files (*.wav)|*.wav|All files|*|");
        EXPECT_EQ(choice.default_extension, ".wav");
    }

    InfoShown clickInfo(const QString& screenshot = {})
    {
        auto shown = std::make_shared<InfoShown>();
        whenModalAppears<CInpinfoDlg>([shown, screenshot](CInpinfoDlg* info) {
            shown->seen = true;
            shown->caption = info->windowTitle();
            shown->text = info->infoLabel()->text().toStdString();
            shown->fixedPitch = QFontInfo(info->infoLabel()->font()).fixedPitch();
            auto* ok = info->findChild<QPushButton*>(QStringLiteral("okButton"));
            shown->okIsDefault = ok != nullptr && ok->isDefault();
            if (!screenshot.isEmpty())
                grabWindow(info, screenshot);
            QTest::keyClick(info, Qt::Key_Return);
        });
        click("infoButton");
        return *shown;
    }
};

TEST_F(FileActions, BrowseSetsTheInputPath)
{
    const std::string chosen = dir.file("chosen in.wav");
    toolkit.answerFiles({chosen});
    type("outwavnameEdit", std::string("typed.wav"));
    click("browseInputButton");
    EXPECT_EQ(text("inpwavnameEdit").toStdString(), chosen);
    EXPECT_EQ(dlg->record().inpwavname, chosen);
    // Browse took the controls first.
    EXPECT_EQ(dlg->record().outwavname, "typed.wav");
    expectWavChooser(FileChooserKind::open, "Input WAV file");
}

TEST_F(FileActions, BrowseSetsTheOutputPath)
{
    const std::string chosen = dir.file("chosen-out.wav");
    toolkit.answerFiles({chosen});
    click("browseOutputButton");
    EXPECT_EQ(text("outwavnameEdit").toStdString(), chosen);
    EXPECT_EQ(dlg->record().outwavname, chosen);
    expectWavChooser(FileChooserKind::save, "Output WAV file");
    // Choosing a name creates nothing.
    EXPECT_EQ(dir.listing(), std::vector<std::string>{});
}

TEST_F(FileActions, ACancelledBrowseKeepsWhatWasTaken)
{
    type("inpwavnameEdit", std::string("typed.wav"));
    click("browseInputButton");
    EXPECT_EQ(dlg->record().inpwavname, "typed.wav");
    EXPECT_EQ(text("inpwavnameEdit"), QStringLiteral("typed.wav"));
}

TEST_F(FileActions, PlayHandsThePathOverAndReportsNothing)
{
    type("inpwavnameEdit", std::string("no such input.wav"));
    type("outwavnameEdit", dir.file("out.wav"));
    click("playInputButton");
    click("playOutputButton");
    const std::vector<ToolkitRequest> requests = toolkit.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, ToolkitRequest::Kind::play);
    EXPECT_EQ(requests[0].text, "no such input.wav");
    EXPECT_EQ(requests[1].kind, ToolkitRequest::Kind::play);
    EXPECT_EQ(requests[1].text, dir.file("out.wav"));
    EXPECT_EQ(dlg->record().inpwavname, "no such input.wav");
}

TEST_F(FileActions, InfoShowsFiveLinesForAStereoSixteenBitFile)
{
    const std::size_t n = 12345;
    type("inpwavnameEdit", writeInput("stereo.wav", 2, n, 44100));
    const InfoShown shown = clickInfo(QStringLiteral("input-info"));
    ASSERT_TRUE(shown.seen);
    EXPECT_EQ(shown.caption, QStringLiteral("Input WAV info"));
    EXPECT_EQ(shown.text, "samples:          12345\n"
                          "quantization:        16 bit\n"
                          "size:             49380 bytes\n"
                          "samplerate:       44100 Hz\n"
                          "channels:             2\n");
    EXPECT_TRUE(shown.fixedPitch);
    EXPECT_TRUE(shown.okIsDefault);
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(FileActions, InfoMessages)
{
    std::vector<std::string> paths = {dir.file("missing.wav"), dir.file("float.wav"), dir.file("fmt18.wav")};
    test::write_file(paths[1], test::make_pcm_wav(1, 48000, 16, {{1, 2, 3}}, test::WavOptions().with_format_tag(3)));
    test::write_file(paths[2], test::make_pcm_wav(1, 48000, 16, {{1, 2, 3}}, test::WavOptions().with_fmt_size(18)));
    // No Info window is expected; should one come all the same, it is
    // closed so the test fails instead of hanging.  The guard goes with the
    // main window, so it cannot act on a later test.
    bool windowShown = false;
    QTimer::singleShot(2000, dlg.get(), [&windowShown] {
        if (auto* info = qobject_cast<CInpinfoDlg*>(QApplication::activeModalWidget())) {
            windowShown = true;
            info->reject();
        }
    });
    for (const std::string& path : paths) {
        type("inpwavnameEdit", path);
        click("infoButton");
    }
    EXPECT_FALSE(windowShown);
    EXPECT_EQ(toolkit.messages(), (std::vector<std::string>{"cannot open WAV input", "wav-in: WAV must be PCM\n",
                                                            "wav-in: invalid or unsupported WAV-format"}));
}

TEST_F(FileActions, InfoDuringARunLeavesTheRunAlone)
{
    const std::string input = writeInput("in.wav", 4, 24000);
    const std::string other = writeInput("other.wav", 1, 800, 8000);
    const std::string output = dir.file("out.wav");
    setPaths(input, output);
    dlg->take();
    const ParamRecord started = dlg->record();
    InfoShown shown;
    uint32_t runRate = 0;
    toolkit.afterHandOver([&] {
        snapshots.push_back(snapshot());
        if (dlg->procinfo().logline == "--- processing channel 1: ---\n") {
            type("inpwavnameEdit", other);
            shown = clickInfo();
            runRate = dlg->engine().fsinp;
        }
    });
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(shown.seen);
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_NE(shown.text.find("samplerate:        8000 Hz\n"), std::string::npos);
    EXPECT_EQ(runRate, 48000u);
    EXPECT_EQ(test::read_file(output), headless(started, dir.file("headless.wav")).output);
}

} // namespace
} // namespace vesk::testing
