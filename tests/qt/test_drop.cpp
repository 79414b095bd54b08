// Files dropped on the main window, and where Open... starts its chooser.
#include "ui/drop.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

using DropAndPresets = WindowTest;

TEST_F(DropAndPresets, AWavBecomesTheInputABatchFileIsReadAndAnythingElseOrDuringARunIsRefused)
{
    const std::string wav = writeInput("in.wav", 1, 4800), batch = dir.file("b.txt"), notes = dir.file("t.txt");
    writeText(batch, "fssim 8000\nbitnr 8\n");
    writeText(notes, "Notes: fssim 11025\n");
    type("fssimEdit", "22050");
    EXPECT_TRUE(drop(wav));
    EXPECT_EQ(text("inpwavnameEdit"), wav);
    EXPECT_EQ(dlg->record().fssim, 22050); // taken first, as Browse... does
    EXPECT_TRUE(drop(batch));
    EXPECT_EQ(text("fssimEdit"), "8000");
    EXPECT_EQ(text("bitnrEdit"), "8");
    EXPECT_TRUE(drop(notes));
    EXPECT_TRUE(startHeldUntilStopAsked());
    const ParamRecord during = dlg->record();
    EXPECT_TRUE(drop(wav));
    EXPECT_EQ(text("inpwavnameEdit"), during.inpwavname);
    dlg->engine().stopflag = 1;
    EXPECT_TRUE(waitForIdle());
    EXPECT_EQ(dlg->record().fssim, 8000);
    EXPECT_EQ(toolkit.texts('m'), (std::vector<std::string>{"Only an audio file or a batch file can be dropped here.",
                                   "A run is under way: please drop files when it has ended."}));
}

TEST_F(DropAndPresets, OpenStartsInThePresetsUntilAFileIsPickedElsewhereThenInThatFilesFolder)
{
    writeText(dir.file("p.txt"), "bitnr 12\n");
    toolkit.files = {std::nullopt, dir.file("p.txt"), std::nullopt};
    for (int i = 0; i < 3; ++i)
        click("openButton");
    const std::string presets = presets_folder(QCoreApplication::applicationDirPath().toStdString());
    EXPECT_EQ(toolkit.folders, (std::vector<std::string>{presets, presets, dir.path().string()}));
}

} // namespace
} // namespace vesk::testing
