// Whole runs on generated files: an engine driven in-process with its files
// in a fresh folder, and vesk-batch as a process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/support/recording_sinks.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

namespace vesk::test {

inline void write_text(const std::string& path, const std::string& text)
{
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline ProcessResult vesk_batch(const std::vector<std::string>& args, const std::string& input = "")
{
    return run_process(VESK_BATCH_EXE, args, input);
}

// An engine whose run reads dir/in.wav and writes dir/out.wav, reporting
// into recording sinks.
class WholeRun : public ::testing::Test {
public:
    RecordingMessages messages;
    RecordingLog log;
    Engine engine{messages, log};
    TempDir dir;

    WholeRun()
    {
        engine.params.inpwavname = dir.file("in.wav");
        engine.params.outwavname = dir.file("out.wav");
        engine.threads = 1;
    }
    void input(const std::vector<uint8_t>& bytes) { write_file(dir.file("in.wav"), bytes); }
    // Raises the stop request when a log line starting with `prefix` arrives.
    void stop_at(const std::string& prefix)
    {
        log.on_line = [this, prefix](const std::string& line) {
            if (line.rfind(prefix, 0) == 0)
                engine.stopflag = 1;
        };
    }
    // The output's samples; fails the test when the file is not a canonical
    // 24-bit WAV.
    Pcm24File output()
    {
        Pcm24File file;
        EXPECT_TRUE(parse_pcm24_output(read_file(dir.file("out.wav")), file));
        return file;
    }
};

} // namespace vesk::test
