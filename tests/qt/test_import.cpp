// Audio files that a run does not take, chosen, dropped or asked about:
// the question, the conversion beside the source or in a folder the user
// picks, its progress window, and a stop that loses nothing.
#include <QProgressBar>
#include <QPushButton>

#include "tests/support/sound_file.h"
#include "ui/qt/import_dlg.h"
#include "ui/qt/inpinfo_dlg.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

class Import : public WindowTest {
protected:
    // A FLAC of `frames` stereo samples of a loud buzz.
    std::string flac(const std::string& name, int frames)
    {
        std::vector<int> samples(2 * frames);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = (static_cast<int>(i * 7919 % 65536) - 32768) * 65536;
        EXPECT_TRUE(test::write_sound(dir.file(name), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, samples));
        return dir.file(name);
    }
    static std::string question(const std::string& name)
    {
        return "Vesk processes PCM WAV files. Convert '" + name + "' to a PCM WAV and use it as input?";
    }
};

// Browse... offers every audio file; the converted file goes beside its
// source under a name that is free; a drop is offered too, and a failed
// conversion is told.  Info says what such a file is and offers the same,
// after the facts for a PCM WAV of 32 bits.
TEST_F(Import, BrowseDropAndInfoOfferTheConversionAndNeverOverwrite)
{
    const std::string song = flac("song.flac", 20000);
    std::vector<uint8_t> bytes = test::read_file(song);
    bytes.resize(bytes.size() / 2);
    test::write_file(dir.file("half.flac"), bytes);
    writeText(dir.file("song.wav"), "mine");
    toolkit.files = {song};
    toolkit.answers = {false, true, true, true, false};
    click("browseInputButton"); // No: nothing changes
    EXPECT_EQ(dlg->record().inpwavname, "inp.wav");
    EXPECT_EQ(drop(song), Qt::CopyAction);
    EXPECT_EQ(drop(dir.file("half.flac")), Qt::CopyAction);
    EXPECT_EQ(text("inpwavnameEdit"), dir.file("song-1.wav"));
    type("inpwavnameEdit", song);
    click("infoButton");
    EXPECT_EQ(dlg->record().inpwavname, dir.file("song-2.wav"));
    test::write_file(dir.file("wide.wav"), test::make_pcm_wav(1, 8000, 32, {{1, 2}}));
    type("inpwavnameEdit", dir.file("wide.wav"));
    const auto facts = whenModalAppears<CInpinfoDlg>([](CInpinfoDlg* info) { QTest::keyClick(info, Qt::Key_Return); });
    click("infoButton");
    EXPECT_TRUE(*facts);
    EXPECT_EQ(toolkit.texts('q'), (std::vector<std::string>{question("song.flac"), question("song.flac"), question("half.flac"),
                                                           "song.flac: FLAC, 16 bit, 2 ch, 44100 Hz, 0:00.5\n\n" + question("song.flac"),
                                                           question("wide.wav")}));
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot import half.flac: the file ends after 8192 of its 20000 samples"});
    EXPECT_NE(toolkit.choices[0].filter.find("*.flac;*.mp3;*.ogg"), std::string::npos);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"half.flac", "song-1.wav", "song-2.wav", "song.flac", "song.wav", "wide.wav"}));
    EXPECT_EQ(test::read_file(dir.file("song.wav")), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
}

TEST_F(Import, AFolderThatTakesNoNewFileMakesItAskForOne)
{
    std::filesystem::create_directory(dir.path() / "cd");
    const std::string song = flac("cd/song.flac", 4410);
    const test::LockedFolder locked(dir.path() / "cd");
    toolkit.files = {song, std::nullopt, song, dir.path().string()};
    toolkit.answers = {true, true};
    click("browseInputButton"); // the folder chooser cancelled
    EXPECT_EQ(dlg->record().inpwavname, "inp.wav");
    click("browseInputButton");
    EXPECT_EQ(dlg->record().inpwavname, dir.file("song.wav"));
    EXPECT_EQ(toolkit.texts('c'), (std::vector<std::string>{"Input WAV file", "Folder for the converted WAV file",
                                                           "Input WAV file", "Folder for the converted WAV file"}));
    EXPECT_EQ(toolkit.choices[1].kind, FileChooserKind::folder);
}

// Held after its first block, a conversion outlasts half a second: its
// window shows the share done, and Stop leaves no file and the input as it
// was.  A short one shows no window at all.
TEST_F(Import, ALongConversionShowsItsProgressAndAStopLosesNothing)
{
    std::atomic<bool> stopped{false};
    toolkit.hold = [&stopped] { return !stopped.load(); };
    std::string shown;
    int percent = -1;
    const auto seen = whenModalAppears<ImportProgressDlg>([&](ImportProgressDlg* window) {
        shown = window->titleLabel()->text().toStdString();
        percent = window->progressBar()->value();
        QTest::mouseClick(window->stopButton(), Qt::LeftButton);
        stopped = true;
    });
    toolkit.files = {flac("long.flac", 100000)};
    toolkit.answers = {true};
    click("browseInputButton");
    EXPECT_TRUE(*seen);
    EXPECT_EQ(shown, "Converting 'long.flac' to 'long.wav' ...");
    EXPECT_EQ(percent, 32); // one block of 32768 samples of 100000
    EXPECT_EQ(dlg->record().inpwavname, "inp.wav");
    EXPECT_EQ(dir.listing(), std::vector<std::string>{"long.flac"});
    EXPECT_TRUE(toolkit.texts('m').empty());

    toolkit.hold = {};
    const auto again = whenModalAppears<ImportProgressDlg>([](ImportProgressDlg* window) { window->stopButton()->click(); });
    toolkit.files = {flac("short.flac", 4410)};
    toolkit.answers = {true};
    click("browseInputButton");
    EXPECT_FALSE(*again);
    EXPECT_EQ(dlg->record().inpwavname, dir.file("short.wav"));
}

} // namespace
} // namespace vesk::testing
