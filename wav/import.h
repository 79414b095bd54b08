// Audio files that a run does not take (FLAC, Ogg Vorbis and Opus, MP3,
// AIFF, CAF, W64, WAV of float or 32-bit samples, ...) converted into a PCM
// WAV that it does: the plain 16-byte fmt chunk, the source's rate and
// channels, 16 bits for integer sources of up to 16 bits and 24 bits for
// everything else.  Decoding is libsndfile's; nothing here knows a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vesk::wav {

// What a source holds, as the decoder reads it.
struct AudioFacts {
    std::string kind;              // "FLAC, 24 bit", "WAV, 32 bit float", "MP3", "Ogg Vorbis"
    uint32_t channels = 0;
    uint32_t rate = 0;             // Hz
    std::optional<uint64_t> frames; // samples per channel, when the file tells
    uint32_t target_bits = 0;      // what a conversion writes: 16 or 24
};

// Opens `path` and tells what it holds.  False, with the decoder's reason,
// for a file it cannot read.
bool read_audio_facts(const std::string& path, AudioFacts& facts, std::string& reason);

// "FLAC, 24 bit, 2 ch, 44100 Hz, 3:12.4": the kind, the layout and, when
// known, the length of `frames` samples per channel.
std::string describe_audio(const AudioFacts& facts, std::optional<uint64_t> frames);

enum class ImportStatus { done, failed, stopped };

struct ImportResult {
    ImportStatus status = ImportStatus::failed;
    std::string reason; // why it failed: "song.wav exists", "cannot write song.wav", ...
    AudioFacts source;
    uint64_t frames = 0;  // samples per channel written
    uint64_t clipped = 0; // samples beyond full scale (or not numbers at all), clipped
};

struct ImportControl {
    // Read between blocks: nonzero stops the conversion, which then leaves
    // nothing behind.
    const std::atomic<int>* stop = nullptr;
    // The share done (0 ... 1) after each block, on the converting thread.
    std::function<void(double)> progress;
};

// Converts `source` into a new file `target`.  The samples go into a hidden
// temporary file beside the target, which takes the target's name only when
// complete, and never in place of a file that is there: a failed or stopped
// conversion leaves no file, and an existing target is refused.
ImportResult import_audio(const std::string& source, const std::string& target, const ImportControl& control = {});

// The line that says what a conversion did:
// "imported song.flac (FLAC, 24 bit, 2 ch, 44100 Hz, 3:12.4) as song.wav (24 bit); 0 samples clipped".
std::string import_summary(const std::string& source, const std::string& target, const ImportResult& result);

} // namespace vesk::wav
