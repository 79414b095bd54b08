// What the window does with an input file a run does not take: which files
// it offers to convert, the question, and where the converted file goes.
#include <gtest/gtest.h>

#include "tests/support/batch_runs.h"
#include "tests/support/sound_file.h"
#include "ui/import_offer.h"

namespace vesk {
namespace {

TEST(ImportOffer, APcmWavOf8To24BitsIsTakenOtherAudioIsOfferedAndTheRestLeftToTheRun)
{
    test::TempDir dir;
    const auto wav = [&](const char* name, uint16_t bits, uint16_t tag) {
        test::write_file(dir.file(name), test::make_pcm_wav(1, 8000, bits, {{1, -2}}, test::WavOptions().with_format_tag(tag)));
        return dir.file(name);
    };
    ASSERT_TRUE(test::write_sound(dir.file("s.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, std::vector<int>(8820)));
    test::write_text(dir.file("notes.txt"), "fssim 8000");
    const struct { std::string path; InputKind kind; std::string offer; } rows[] = {
        {wav("8.wav", 8, 1), InputKind::runnable, ""},
        {wav("24.wav", 24, 1), InputKind::runnable, ""},
        {wav("32.wav", 32, 1), InputKind::convertible, "32.wav: WAV, 32 bit, 1 ch, 8000 Hz, 0:00.0"},
        {wav("float.wav", 32, 3), InputKind::convertible, "float.wav: WAV, 32 bit float, 1 ch, 8000 Hz, 0:00.0"},
        {dir.file("s.flac"), InputKind::convertible, "s.flac: FLAC, 16 bit, 2 ch, 44100 Hz, 0:00.1"},
        {dir.file("notes.txt"), InputKind::other, ""},
        {dir.file("gone.flac"), InputKind::other, ""},
    };
    for (const auto& row : rows) {
        wav::AudioFacts facts;
        EXPECT_EQ(classify_input(row.path, facts), row.kind) << row.path;
        if (row.kind == InputKind::convertible) {
            EXPECT_EQ(conversion_offer(row.path, facts), row.offer + "\n\n" + conversion_question(row.path));
        }
    }
    EXPECT_EQ(conversion_question("/music/song.flac"),
              "Vesk processes PCM WAV files. Convert 'song.flac' to a PCM WAV and use it as input?");
    EXPECT_EQ(import_failure("/music/song.flac", "format not recognised"), "cannot import song.flac: format not recognised");
    const wav::AudioFacts mp3{"MP3", 2, 44100, std::nullopt, 24};
    EXPECT_EQ(wav::describe_audio(mp3, 44100ull * 3725 + 4410), "MP3, 2 ch, 44100 Hz, 1:02:05.1");
    EXPECT_EQ(wav::describe_audio(mp3, std::nullopt), "MP3, 2 ch, 44100 Hz");
}

TEST(ImportOffer, TheConvertedFileTakesAFreeNameInAFolderThatTakesNewFiles)
{
    test::TempDir dir;
    const std::string folder = dir.path().string();
    EXPECT_EQ(free_wav_name(folder, "/music/song.flac"), dir.file("song.wav"));
    test::write_text(dir.file("song.wav"), "");
    EXPECT_EQ(free_wav_name(folder, "song.flac"), dir.file("song-1.wav"));
    test::write_text(dir.file("song-1.wav"), "");
    EXPECT_EQ(free_wav_name(folder, "song.wav"), dir.file("song-2.wav"));
    EXPECT_TRUE(folder_takes_new_files(folder));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"song-1.wav", "song.wav"}));
    EXPECT_FALSE(folder_takes_new_files(dir.file("missing")));
    const test::LockedFolder locked(dir.path());
    EXPECT_FALSE(folder_takes_new_files(folder));
}

} // namespace
} // namespace vesk
