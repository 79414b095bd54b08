// What the window offers for an input file that a run does not take: the
// decision, the question's text, and where the converted file goes.
#pragma once

#include <string>

#include "wav/import.h"

namespace vesk {

enum class InputKind {
    runnable,    // a PCM WAV of 8, 16 or 24 bits: taken as it is
    convertible, // any other file the converter reads
    other,       // neither: taken as it is, and the run or Info says why not
};

// Reads as much of `path` as it takes to tell; fills `facts` for a
// convertible file.
InputKind classify_input(const std::string& path, wav::AudioFacts& facts);

// "Vesk processes PCM WAV files. Convert 'song.flac' to a PCM WAV and use it
// as input?", with the file's name alone.
std::string conversion_question(const std::string& source);

// Info's version: what the file is, then the same question.
std::string conversion_offer(const std::string& source, const wav::AudioFacts& facts);

// "cannot import song.flac: <reason>", with the file's name alone.
std::string import_failure(const std::string& source, const std::string& reason);

// The converted file's name in `folder`: the source's name with ".wav" for
// its extension, or with "-1", "-2", ... before it while that name is taken.
std::string free_wav_name(const std::string& folder, const std::string& source);

// True when `folder` takes a new file: tried with a hidden temporary one,
// removed again, because permissions alone do not tell (a read-only file
// system, an immutable folder, a full disk's reserve).
bool folder_takes_new_files(const std::string& folder);

} // namespace vesk
