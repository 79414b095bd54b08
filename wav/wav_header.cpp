// RIFF/WAVE header reading and writing.
//
// Every multi-byte field is assembled or split byte by byte so that the code
// is independent of the host's byte order, and four-character identifiers are
// compared byte for byte (case-sensitive, "fmt " with its trailing blank).

#include "wav/wav_header.h"

#include <climits>
#include <cstring>

namespace vesk::wav {

namespace {

uint16_t get_u16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t get_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put_u16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFFu);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFFu);
}

void put_u32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFFu);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFFu);
    p[2] = static_cast<uint8_t>((v >> 16) & 0xFFu);
    p[3] = static_cast<uint8_t>((v >> 24) & 0xFFu);
}

bool is_id(const uint8_t* p, const char (&id)[5])
{
    return std::memcmp(p, id, 4) == 0;
}

bool read_exact(std::FILE* file, uint8_t* buf, std::size_t n)
{
    return std::fread(buf, 1, n, file) == n;
}

// Moves `file` forward by a chunk size taken from the file.  The size is a
// full u32, so it must never pass through a signed 32-bit offset: on hosts
// where `long` is 32 bits a size of 0x80000000 or more would turn into a
// backward seek, and the chunk walk could then revisit the same header
// forever.  Where the C library offers a 64-bit seek we use it; otherwise the
// distance is covered in a few forward steps that each fit a `long`.
//
// Seeking past the end of a regular file succeeds; the walk then ends because
// the next 8-byte header read comes up short, which is the failure we want.
bool skip_forward(std::FILE* file, uint32_t distance)
{
#if defined(_WIN32)
    return _fseeki64(file, static_cast<long long>(distance), SEEK_CUR) == 0;
#else
    if constexpr (sizeof(long) >= 8) {
        return std::fseek(file, static_cast<long>(distance), SEEK_CUR) == 0;
    } else {
        // A zero distance still goes through fseek once, so a stream that
        // cannot seek at all is reported the same way whatever the size.
        uint32_t left = distance;
        do {
            const uint32_t step = left > static_cast<uint32_t>(LONG_MAX)
                                      ? static_cast<uint32_t>(LONG_MAX)
                                      : left;
            if (std::fseek(file, static_cast<long>(step), SEEK_CUR) != 0)
                return false;
            left -= step;
        } while (left > 0);
        return true;
    }
#endif
}

// Reads chunk headers until one carries `id`; every other chunk is skipped by
// exactly its stored size (no pad byte for odd sizes).  A failed skip is
// recorded in `reason` but does not stop the walk: on a stream that cannot
// seek the next read simply continues where the stream is, and the reason is
// overwritten by whatever failure comes later.  The loop always ends: each
// pass either consumes 8 header bytes or fails to.
bool find_chunk(std::FILE* file, const char (&id)[5], const char* read_reason,
                const char* seek_reason, const char** reason, uint32_t& size)
{
    uint8_t hdr[8];
    for (;;) {
        if (!read_exact(file, hdr, sizeof hdr)) {
            if (reason)
                *reason = read_reason;
            return false;
        }
        size = get_u32(hdr + 4);
        if (is_id(hdr, id))
            return true;
        if (!skip_forward(file, size) && reason)
            *reason = seek_reason;
    }
}

// The format tag of the extensible fmt chunk.
constexpr int extensible_tag = 0xFFFE;

int fail(const char** reason, const char* text)
{
    if (reason)
        *reason = text;
    return -1;
}

} // namespace

int read_wav_header(std::FILE* file, const char** reason, int* fmttag, WavFormat& format)
{
    uint8_t riff[12];
    if (!read_exact(file, riff, sizeof riff))
        return fail(reason, "read WAVE RIFF-header");
    if (!is_id(riff, "RIFF"))
        return fail(reason, "no RIFF");
    // The RIFF size is otherwise not trusted: files whose writer never went
    // back to patch it are common, so only an impossible value is refused.
    if (get_u32(riff + 4) < 4)
        return fail(reason, "invalid fsize");
    if (!is_id(riff + 8, "WAVE"))
        return fail(reason, "no WAVE");

    uint32_t fmtsize = 0;
    if (!find_chunk(file, "fmt ", "read WAVE FMT-header", "lseek WAVE FMT-header", reason,
                    fmtsize))
        return -1;
    // Three forms carry plain PCM: the 16-byte chunk, the 18-byte chunk whose
    // extension is empty, and the 40-byte extensible chunk, whose real
    // format is the code of a sub-format GUID.  Anything else is refused
    // rather than half-read.
    if (fmtsize != 16 && fmtsize != 18 && fmtsize != 40)
        return fail(reason, "invalid FMT csize");

    uint8_t fmt[40];
    if (!read_exact(file, fmt, fmtsize))
        return fail(reason, "read WAVE FMT-header");
    int tag = get_u16(fmt);
    if (fmtsize == 18 && get_u16(fmt + 16) != 0)
        return fail(reason, "invalid FMT csize");
    if (fmtsize == 40) {
        // The extension: its size (22), the valid bits per sample, the
        // channel mask (ignored: channels stay in stored order) and the
        // sub-format.  Samples are read at the container's width, so valid
        // bits may be anything from 1 up to it.
        const uint32_t container_bits = get_u16(fmt + 14);
        const uint32_t valid_bits = get_u16(fmt + 18);
        if (tag != extensible_tag || get_u16(fmt + 16) != 22 || valid_bits == 0 || valid_bits > container_bits)
            return fail(reason, "invalid FMT csize");
        // The standard GUIDs differ only in their first field, which is the
        // format's code; an unknown GUID leaves the tag as it is.  Codes
        // are 16 bits, so a wider first field names no format either.
        static constexpr uint8_t standard_tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                      0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        const uint32_t code = get_u32(fmt + 24);
        if (std::memcmp(fmt + 28, standard_tail, sizeof standard_tail) == 0 && code <= 0xFFFF)
            tag = static_cast<int>(code);
    }
    // The tag goes out before any further check so that callers can tell a
    // non-PCM file apart; judging it is their business.
    if (fmttag)
        *fmttag = tag;
    const uint32_t chnr = get_u16(fmt + 2);
    const uint32_t fs = get_u32(fmt + 4);
    const uint32_t bits = get_u16(fmt + 14);
    // Both are divisors further on (data size per channel, bytes per sample).
    if (chnr == 0)
        return fail(reason, "invalid chnr");
    if (bits == 0)
        return fail(reason, "invalid bitnr");

    uint32_t datasize = 0;
    if (!find_chunk(file, "data", "read WAVE DATA-header", "lseek WAVE DATA-header", reason,
                    datasize))
        return -1;
    if (datasize % chnr != 0)
        return fail(reason, "invalid totsize");

    // Published only now, so a refused file leaves the previous values alone.
    format.fsinp = fs;
    format.bitnrinp = bits;
    format.chnr = chnr;
    format.inpchdatasize = datasize / chnr;
    return 0;
}

std::array<uint8_t, header_size> make_wav_header(uint32_t chnr, uint32_t fs, uint32_t bits,
                                                 uint32_t datasize)
{
    const uint32_t bytes_per_sample = bits / 8;
    std::array<uint8_t, header_size> h{};
    std::memcpy(h.data() + 0, "RIFF", 4);
    put_u32(h.data() + 4, datasize + 36u);
    std::memcpy(h.data() + 8, "WAVE", 4);
    std::memcpy(h.data() + 12, "fmt ", 4);
    put_u32(h.data() + 16, 16u);
    put_u16(h.data() + 20, 1u);
    put_u16(h.data() + 22, chnr & 0xFFFFu);
    put_u32(h.data() + 24, fs);
    put_u32(h.data() + 28, fs * chnr * bytes_per_sample);
    put_u16(h.data() + 32, (bytes_per_sample * chnr) & 0xFFFFu);
    put_u16(h.data() + 34, bits & 0xFFFFu);
    std::memcpy(h.data() + 36, "data", 4);
    put_u32(h.data() + 40, datasize);
    return h;
}

int write_wav_header(std::FILE* file, uint32_t chnr, uint32_t fs, uint32_t bits,
                     uint32_t datasize)
{
    const auto h = make_wav_header(chnr, fs, bits, datasize);
    // RIFF header, fmt chunk header, fmt contents, data chunk header.
    static constexpr std::size_t pieces[][2] = {{0, 12}, {12, 8}, {20, 16}, {36, 8}};
    for (const auto& piece : pieces) {
        if (std::fwrite(h.data() + piece[0], 1, piece[1], file) != piece[1])
            return -1;
    }
    return 0;
}

} // namespace vesk::wav
