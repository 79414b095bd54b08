// What a dropped file is taken for, from its first bytes; where the presets are.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/sound_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/drop.h"

namespace vesk {
namespace {

TEST(Drop, AnAudioOrABatchFileAloneAndNotDuringARunIsTakenAnythingElseRefused)
{
    test::TempDir dir;
    const auto write = [&](const char* name, const std::string& text) {
        test::write_file(dir.file(name), std::vector<uint8_t>(text.begin(), text.end()));
        return dir.file(name);
    };
    const std::string wav = dir.file("x.txt"); // the name says nothing
    test::write_file(wav, test::make_pcm_wav(1, 8000, 16, {{1, 2}}));
    const std::string batch = write("b", "\r\n\t fssim 8000\nprocess\n"), proc = write("p", "process"),
                      stop = write("s", " stop"), notes = write("n", "fssim8000 is a nice rate"),
                      riff = write("r", std::string("RIFF\x24\0\0\0AVI LIST", 16)), nul = write("z", std::string("bitnr 8\0\x01", 9));
    const std::string flac = dir.file("f");
    ASSERT_TRUE(test::write_sound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, std::vector<int>(100)));
    const struct { std::vector<std::string> paths; bool run; DropKind kind; } rows[] = {
        {{wav}, false, DropKind::audio},           {{flac}, false, DropKind::audio}, {{batch}, false, DropKind::batch},
        {{proc}, false, DropKind::batch},        {{stop}, false, DropKind::batch},
        {{notes}, false, DropKind::unknown},     {{riff}, false, DropKind::unknown},
        {{nul}, false, DropKind::unknown},       {{write("e", "")}, false, DropKind::unknown},
        {{dir.file("missing")}, false, DropKind::unknown}, {{dir.path().string()}, false, DropKind::unknown},
        {{wav}, true, DropKind::during_run},     {{batch}, true, DropKind::during_run},
        {{wav, batch}, false, DropKind::several}, {{}, false, DropKind::several}};
    for (const auto& row : rows)
        EXPECT_EQ(classify_drop(row.paths, row.run), row.kind) << (row.paths.empty() ? "" : row.paths[0]);
    EXPECT_TRUE(drop_refusal(DropKind::audio).empty() && drop_refusal(DropKind::batch).empty());
}

TEST(Drop, PresetsAreFoundInTheBuildTreeOrTheInstalledShareFolder)
{
    test::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.path() / "bin");
    EXPECT_EQ(presets_folder(dir.file("bin")), "");
    fs::create_directories(dir.path() / "share/vesk/presets");
    EXPECT_EQ(presets_folder(dir.file("bin")), dir.file("share/vesk/presets"));
    fs::create_directories(dir.path() / "bin/examples/presets");
    EXPECT_EQ(presets_folder(dir.file("bin")), dir.file("bin/examples/presets"));
}

} // namespace
} // namespace vesk
