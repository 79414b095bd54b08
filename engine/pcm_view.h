// Samples held in memory, as a run takes them in and gives them out: the
// layout of a WAV file's data chunk, frame after frame, each frame one
// sample of every channel, little-endian.
#pragma once

#include <cstdint>

namespace vesk {

// Input samples: 8 bits offset binary, 16 or 24 bits two's complement.
// Only viewed: the caller keeps them for the length of the run.
struct PcmView {
    uint32_t rate = 0;     // [Hz]
    uint32_t channels = 0;
    uint32_t bits = 0;     // 8, 16 or 24
    uint64_t frames = 0;
    const uint8_t* data = nullptr; // frames * channels * bits / 8 bytes
};

// A run's output: 24-bit two's complement samples at `rate`.  The engine
// owns the bytes; they stay valid until its next run or its buffers are
// released.
struct Pcm24View {
    uint32_t rate = 0;     // [Hz]
    uint32_t channels = 0;
    uint64_t frames = 0;
    const uint8_t* data = nullptr; // frames * channels * 3 bytes
};

// Frames at the ends of a run's input that are rendered but left out of
// its output, so that what the chain does at a cut (a filter's ringing, a
// stretched read's taps) happens out of earshot.  The output samples that
// stand for them do not count for the output level either.
struct Margins {
    uint64_t before = 0; // [input frames]
    uint64_t after = 0;  // [input frames]
};

} // namespace vesk
