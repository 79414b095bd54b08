// What the window does with an input file a run does not take: which files
// it offers to convert, and the texts it shows.  Where the converted file
// goes is tested with the window.
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
    const std::pair<std::string, InputKind> rows[] = {
        {wav("8.wav", 8, 1), InputKind::runnable},        {wav("24.wav", 24, 1), InputKind::runnable},
        {wav("32.wav", 32, 1), InputKind::convertible},   {wav("float.wav", 32, 3), InputKind::convertible},
        {dir.file("s.flac"), InputKind::convertible},     {dir.file("notes.txt"), InputKind::other},
        {dir.file("gone.flac"), InputKind::other},
    };
    wav::AudioFacts facts;
    for (const auto& [path, kind] : rows)
        EXPECT_EQ(classify_input(path, facts), kind) << path;
    EXPECT_EQ(conversion_offer("/cd/s.flac", facts), "s.flac: FLAC, 16 bit, 2 ch, 44100 Hz, 0:00.1\n\n" + conversion_question("s.flac"));
    const wav::AudioFacts mp3{"MP3", 2, 44100, std::nullopt, 24};
    EXPECT_EQ(wav::describe_audio(mp3, 44100ull * 3725 + 4410), "MP3, 2 ch, 44100 Hz, 1:02:05.1");
    EXPECT_EQ(wav::describe_audio(mp3, std::nullopt), "MP3, 2 ch, 44100 Hz");
}

} // namespace
} // namespace vesk
