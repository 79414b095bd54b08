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
    EXPECT_EQ(drop(wav), Qt::CopyAction);
    EXPECT_EQ(text("inpwavnameEdit"), wav);
    EXPECT_EQ(dlg->record().fssim, 22050); // taken first, as Browse... does
    EXPECT_EQ(drop(batch), Qt::CopyAction);
    EXPECT_EQ(text("fssimEdit"), "8000");
    EXPECT_EQ(text("bitnrEdit"), "8");
    EXPECT_EQ(drop(notes), Qt::IgnoreAction);
    EXPECT_TRUE(startHeldUntilStopAsked());
    const ParamRecord during = dlg->record();
    EXPECT_EQ(drop(wav), Qt::IgnoreAction);
    EXPECT_EQ(text("inpwavnameEdit"), during.inpwavname);
    dlg->engine().stopflag = 1;
    EXPECT_TRUE(waitForIdle());
    EXPECT_EQ(dlg->record().fssim, 8000);
    EXPECT_EQ(toolkit.texts('m'), (std::vector<std::string>{"Only an audio file or a batch file can be dropped here.",
                                   "A run is under way: please drop files when it has ended."}));
}

// A drop is answered at once and taken a moment later: a run that starts
// in between has the files refused then, its input left as it was.
TEST_F(DropAndPresets, FilesDroppedJustBeforeARunStartsAreRefusedOnceItIsUnderWay)
{
    const std::string other = writeInput("other.wav", 1, 4800);
    EXPECT_EQ(drop({other}, Qt::CopyAction, Qt::CopyAction, false), Qt::CopyAction);
    EXPECT_TRUE(startHeldUntilStopAsked());
    EXPECT_EQ(text("inpwavnameEdit"), dir.file("in.wav"));
    dlg->engine().stopflag = 1;
    EXPECT_TRUE(waitForIdle());
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"A run is under way: please drop files when it has ended."});
}

// Each kind of drop from sources offering each set of actions and proposing
// each of them: files taken are answered as a copy, else as a link, never
// as a move; files refused get no action, and the message.
TEST_F(DropAndPresets, FilesTakenAreCopiedElseLinkedNeverMovedAndFilesRefusedGetNoAction)
{
    const std::string wav = writeInput("in.wav", 1, 480), batch = dir.file("b.txt"), notes = dir.file("t.txt");
    writeText(batch, "bitnr 8\n");
    writeText(notes, "Notes\n");
    constexpr Qt::DropAction copy = Qt::CopyAction, move = Qt::MoveAction, link = Qt::LinkAction;
    const struct { std::vector<std::string> paths; bool taken; } kinds[] = {
        {{wav}, true}, {{batch}, true}, {{dir.path().string()}, false}, {{wav, batch}, false}, {{notes}, false}};
    const struct { Qt::DropActions offered; Qt::DropAction takenAs; } offers[] = {
        {copy | move | link, copy}, {copy | move, copy}, {copy | link, copy}, {copy, copy},
        {move | link, link},        {link, link},        {move, Qt::IgnoreAction}};
    for (const auto& kind : kinds)
        for (const auto& offer : offers)
            for (const Qt::DropAction proposed : {copy, move, link}) {
                if (!offer.offered.testFlag(proposed))
                    continue;
                SCOPED_TRACE(kind.paths.size() == 1 ? kind.paths[0] : "two files");
                SCOPED_TRACE(::testing::Message() << "offered " << offer.offered.toInt() << ", proposed " << proposed);
                const std::size_t messages = toolkit.texts('m').size();
                EXPECT_EQ(drop(kind.paths, offer.offered, proposed), kind.taken ? offer.takenAs : Qt::IgnoreAction);
                EXPECT_EQ(toolkit.texts('m').size(), messages + (kind.taken ? 0 : 1));
            }
}

// A drag refused as it entered is never dropped, only seen to leave: moved
// away, or called off with the button held, it is told nothing.
TEST_F(DropAndPresets, ARefusedDragThatIsNotLetGoOverTheWindowIsToldNothing)
{
    const QPoint inside = dlg->rect().center();
    for (const QPoint at : {QPoint(dlg->width() + 20, inside.y()), QPoint(inside.x(), -20), inside}) {
        QCursor::setPos(dlg->mapToGlobal(at));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path().string()))});
        QDragEnterEvent enter(inside, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg.get(), &enter);
        if (at == inside)
            QTest::mousePress(dlg->windowHandle(), Qt::LeftButton, {}, at);
        QDragLeaveEvent leave;
        QApplication::sendEvent(dlg->windowHandle(), &leave);
        if (at == inside)
            QTest::mouseRelease(dlg->windowHandle(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{});
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
