// RIFF/WAVE header reading and writing.  All numbers in the file are
// little-endian and are assembled byte by byte, whatever the machine's order.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vesk::wav {

// What the reader publishes about an input file.
struct WavFormat {
    uint32_t fsinp = 0;         // sample rate [Hz]
    uint32_t chnr = 0;          // channels (never 0 after a successful read)
    uint32_t bitnrinp = 0;      // bits per sample (never 0 after a successful read)
    uint32_t inpchdatasize = 0; // data bytes the file holds / channels
    uint32_t declared_datasize = 0; // the data chunk's stored size
};

// Walks the RIFF structure of `file` (positioned at offset 0) up to the first
// byte of the data chunk's contents.  Returns 0 and fills `format` on
// success; on failure returns -1, sets *reason (when given) to a constant
// text naming the failed step and leaves `format` unchanged.  *fmttag (when
// given) receives the format tag as soon as the fmt contents have been read;
// the tag is not checked here.  The file is not closed.
//
// A data chunk that claims more bytes than the file holds after its header
// (a WAV written to a pipe, a recording cut short) is taken as the whole
// sample frames that are there: inpchdatasize counts those, and
// declared_datasize keeps the claim.  A stream that cannot tell its length
// is taken at its word.
int read_wav_header(std::FILE* file, const char** reason, int* fmttag, WavFormat& format);

// The log line that says a data chunk was cut short, "wav-in: warning,
// data chunk cut short: reading N of M bytes\n"; empty when the file holds
// the whole chunk.
std::string cut_short_warning(const WavFormat& format);

// The fixed 44-byte header of a PCM file with the given layout:
// "RIFF", datasize + 36, "WAVE", a 16-byte fmt chunk, "data", datasize.
// The caller makes sure datasize + 36 fits 32 bits.
constexpr std::size_t header_size = 44;
std::array<uint8_t, header_size> make_wav_header(uint32_t chnr, uint32_t fs, uint32_t bits,
                                                 uint32_t datasize);

// Writes make_wav_header(...) to `file` in four pieces (RIFF header, fmt chunk
// header, fmt contents, data chunk header), checking each.  Returns 0, or -1
// at the first short write (the partial header stays in the file).
int write_wav_header(std::FILE* file, uint32_t chnr, uint32_t fs, uint32_t bits,
                     uint32_t datasize);

} // namespace vesk::wav
