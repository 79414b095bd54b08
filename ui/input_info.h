// What Info tells about an input WAV file.  The facts are read into a record
// of their own, never into an engine, so Info may be used while a run is
// under way without disturbing the header values that run works with.
#pragma once

#include <cstdint>
#include <string>

namespace vesk {

struct InputInfo {
    uint32_t samples = 0;      // samples per channel
    uint32_t quantization = 0; // bits per sample
    uint32_t size = 0;         // sample bytes of all channels
    uint32_t samplerate = 0;   // Hz
    uint32_t channels = 0;
};

enum class InputInfoResult { ok, cannot_open, invalid_format, not_pcm };

// Opens `path`, reads its header and closes it again.  Fills `info` only on
// success.
InputInfoResult read_input_info(const std::string& path, InputInfo& info);

// The message for a failure: "cannot open WAV input",
// "wav-in: invalid or unsupported WAV-format" or "wav-in: WAV must be PCM\n";
// empty for ok.
std::string input_info_message(InputInfoResult result);

// The five lines of the Info window, each number right-aligned in ten
// columns so that they line up in a fixed-pitch font.
std::string format_input_info(const InputInfo& info);

} // namespace vesk
