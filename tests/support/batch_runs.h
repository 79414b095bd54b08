// Whole runs on generated files: an engine driven in-process with its files
// in a fresh folder, and vesk-batch as a process.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine.h"
#include "tests/support/recording_sinks.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "wav/wav_header.h"

namespace vesk::test {

// A sawtooth-like walk through -scale .. scale.
inline std::vector<int32_t> ramp(std::size_t frames, int32_t scale)
{
    std::vector<int32_t> v;
    for (std::size_t i = 0; i < frames; ++i)
        v.push_back(static_cast<int32_t>((static_cast<int64_t>(i * 37 % 101) - 50) * scale / 50));
    return v;
}

inline void write_text(const std::string& path, const std::string& text) { write_file(path, {text.begin(), text.end()}); }

// Runs vesk-batch to its end with `input` on standard input.
inline ProcessResult vesk_batch(const std::vector<std::string>& args, const std::string& input = "")
{
    Child child(VESK_BATCH_EXE, args);
    child.feed(input), child.close_input();
    return child.finish(60);
}

// An engine whose run reads dir/in.wav and writes dir/out.wav, reporting
// into recording sinks.
class WholeRun : public ::testing::Test {
public:
    RecordingMessages messages;
    RecordingLog log;
    Engine engine{messages, log};
    TempDir dir;

    WholeRun() { engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")}; }
    void input(const std::vector<uint8_t>& bytes) { write_file(dir.file("in.wav"), bytes); }
    // The output's samples per channel, after checking that its header is
    // the canonical one of `channels` at `rate` in 24 bits.
    std::vector<std::vector<int32_t>> output(uint32_t channels, uint32_t rate) { return read_output(dir.file("out.wav"), channels, rate); }
    static std::vector<std::vector<int32_t>> read_output(const std::string& path, uint32_t channels, uint32_t rate)
    {
        const std::vector<uint8_t> bytes = read_file(path);
        const auto header = wav::make_wav_header(channels, rate, 24, static_cast<uint32_t>(std::max<std::size_t>(bytes.size(), 44) - 44));
        EXPECT_TRUE(bytes.size() >= 44 && std::equal(header.begin(), header.end(), bytes.begin()));
        std::vector<std::vector<int32_t>> samples(channels);
        for (std::size_t p = 44; p + 3 * channels <= bytes.size();)
            for (uint32_t c = 0; c < channels; ++c, p += 3) {
                const int32_t u = bytes[p] | (bytes[p + 1] << 8) | (bytes[p + 2] << 16);
                samples[c].push_back(u - ((u & 0x800000) << 1)); // sign from bit 23
            }
        return samples;
    }
};

} // namespace vesk::test
