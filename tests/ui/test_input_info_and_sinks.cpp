// What Info reads from an input file and shows, and how a run's messages and
// log lines reach the user-interface thread.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/input_info.h"
#include "ui/toolkit_sinks.h"

namespace vesk {
namespace {

using test::make_pcm_wav;
using test::TempDir;
using test::WavOptions;

// Samples per channel count the whole bytes a sample takes in the file:
// (bits + 7) / 8, one byte below 8 bits.
TEST(InputInfo, FactsOfPcmFilesOfEveryWidth)
{
    const struct {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        uint32_t frames;
        uint32_t size; // sample bytes of all channels
    } rows[] = {
        {2, 44100, 16, 1234, 4936}, {1, 48000, 24, 500, 1500}, {2, 8000, 4, 10, 20},
        {1, 8000, 12, 10, 20},      {3, 96000, 8, 7, 21},      {1, 22050, 32, 9, 36},
    };
    TempDir dir;
    for (const auto& row : rows) {
        const std::string path = dir.file("in.wav");
        test::write_file(path, make_pcm_wav(row.channels, row.rate, row.bits,
                                            std::vector<std::vector<int32_t>>(row.channels, std::vector<int32_t>(row.frames, 3))));
        InputInfo info;
        ASSERT_EQ(read_input_info(path, info), InputInfoResult::ok) << row.bits << " bits";
        EXPECT_EQ(info.samples, row.frames) << row.bits << " bits";
        EXPECT_EQ(info.quantization, row.bits);
        EXPECT_EQ(info.size, row.size) << row.bits << " bits";
        EXPECT_EQ(info.samplerate, row.rate);
        EXPECT_EQ(info.channels, row.channels);
    }
}

TEST(InputInfo, ARefusedFileLeavesTheFactsAloneAndSaysWhy)
{
    TempDir dir;
    const std::vector<int32_t> four(4, 0);
    test::write_file(dir.file("float.wav"), make_pcm_wav(1, 48000, 16, {four}, WavOptions().with_format_tag(3)));
    test::write_file(dir.file("fmt18.wav"), make_pcm_wav(1, 48000, 16, {four}, WavOptions().with_fmt_size(18)));
    test::write_file(dir.file("text.wav"), {'h', 'e', 'l', 'l', 'o', '\n'});
    const std::pair<std::string, InputInfoResult> rows[] = {
        {"missing.wav", InputInfoResult::cannot_open},
        {"float.wav", InputInfoResult::not_pcm},
        {"fmt18.wav", InputInfoResult::invalid_format},
        {"text.wav", InputInfoResult::invalid_format},
    };
    for (const auto& [name, result] : rows) {
        InputInfo info;
        info.samples = 77;
        EXPECT_EQ(read_input_info(dir.file(name), info), result) << name;
        EXPECT_EQ(info.samples, 77u) << name;
    }
    EXPECT_EQ(input_info_message(InputInfoResult::cannot_open), "cannot open WAV input");
    EXPECT_EQ(input_info_message(InputInfoResult::invalid_format), "wav-in: invalid or unsupported WAV-format");
    EXPECT_EQ(input_info_message(InputInfoResult::not_pcm), "wav-in: WAV must be PCM\n");
    EXPECT_EQ(input_info_message(InputInfoResult::ok), "");
}

TEST(InputInfo, FiveLinesWithTheNumbersInTenColumns)
{
    const InputInfo info{4294967295u, 16, 192000, 48000, 2};
    EXPECT_EQ(format_input_info(info),
              "samples:     4294967295\n"
              "quantization:        16 bit\n"
              "size:            192000 bytes\n"
              "samplerate:       48000 Hz\n"
              "channels:             2\n");
}

// Remembers whether each service ran inside call_on_ui, as the worker's
// hand-over to the user-interface thread.
struct ThreadCheckingToolkit : Toolkit {
    bool on_ui = false;
    std::vector<std::pair<std::string, bool>> messages;
    void message(const std::string& text) override { messages.emplace_back(text, on_ui); }
    bool question(const std::string&) override { return false; }
    std::optional<std::string> choose_file(const FileChoice&) override { return std::nullopt; }
    void start_thread(std::function<void()>) override {}
    void call_on_ui(const std::function<void()>& call) override
    {
        on_ui = true;
        call();
        on_ui = false;
    }
    void play(const std::string&) override {}
    void pause(int) override {}
};

TEST(ToolkitSinks, MessagesAndLogLinesAreHandedToTheUserInterfaceThreadInOrder)
{
    ThreadCheckingToolkit toolkit;
    std::vector<std::pair<std::string, bool>> shown;
    ToolkitLogSink log(toolkit, [&](const std::string& line) { shown.emplace_back(line, toolkit.on_ui); });
    ToolkitMessageSink messages(toolkit);
    log.append_log("one\n");
    messages.show_message("bad value");
    log.append_log("two\n");
    using Seen = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(shown, (Seen{{"one\n", true}, {"two\n", true}}));
    EXPECT_EQ(toolkit.messages, (Seen{{"bad value", true}}));
}

} // namespace
} // namespace vesk
