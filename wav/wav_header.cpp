// RIFF/WAVE header reading and writing.
//
// Every multi-byte field is assembled or split byte by byte so that the code
// is independent of the host's byte order, and four-character identifiers are
// compared byte for byte (case-sensitive, "fmt " with its trailing blank).

#include "wav/wav_header.h"

#include <algorithm>
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

// Whether four bytes can be a chunk identifier: printable ASCII only.
bool is_chunk_id(const uint8_t* p)
{
    return std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// Reads the 8-byte header of the chunk that follows a skipped one, while
// looking for `sought`.  RIFF follows a chunk of odd size with one pad
// byte, so after such a chunk the header starts one byte further on.  Some
// writers leave the pad out, so both places are looked at: the one that
// holds `sought` is taken, else the padded one unless only the unpadded one
// starts with an identifier.  (Seen from one byte too far, "data" and its
// size read as "ata" and the size's low byte, an identifier whenever that
// byte is printable.)  When the unpadded place is taken, the byte read
// beyond it goes back to the stream.
bool read_chunk_header(std::FILE* file, uint8_t (&hdr)[8], bool after_odd_chunk, const char (&sought)[5])
{
    if (!read_exact(file, hdr, sizeof hdr))
        return false;
    if (!after_odd_chunk)
        return true;
    const int next = std::fgetc(file);
    if (next == EOF) // only the unpadded place holds a whole header
        return is_chunk_id(hdr);
    uint8_t padded[8];
    std::memcpy(padded, hdr + 1, sizeof padded - 1);
    padded[sizeof padded - 1] = static_cast<uint8_t>(next);
    const bool unpadded = is_id(hdr, sought) != is_id(padded, sought)
                              ? is_id(hdr, sought)
                              : is_chunk_id(hdr) && !is_chunk_id(padded);
    if (unpadded)
        return std::ungetc(next, file) != EOF;
    std::memcpy(hdr, padded, sizeof hdr);
    return true;
}

// Reads chunk headers until one carries `id`; every other chunk is skipped
// by its stored size and the pad byte after an odd size (see
// read_chunk_header).  A failed skip is recorded in `reason` but does not
// stop the walk: on a stream that cannot seek the next read simply
// continues where the stream is, and the reason is overwritten by whatever
// failure comes later.  The loop always ends: each pass either consumes 8
// header bytes or fails to.
bool find_chunk(std::FILE* file, const char (&id)[5], const char* read_reason,
                const char* seek_reason, const char** reason, uint32_t& size)
{
    uint8_t hdr[8];
    bool after_odd_chunk = false;
    for (;;) {
        if (!read_chunk_header(file, hdr, after_odd_chunk, id)) {
            if (reason)
                *reason = read_reason;
            return false;
        }
        size = get_u32(hdr + 4);
        if (is_id(hdr, id))
            return true;
        if (!skip_forward(file, size) && reason)
            *reason = seek_reason;
        after_odd_chunk = (size & 1) != 0;
    }
}

// How many bytes follow where `file` stands, which is where it is left.  A
// stream that cannot tell (a pipe) gives UINT64_MAX; false when the way
// back fails.
bool bytes_left(std::FILE* file, uint64_t& left)
{
    left = UINT64_MAX;
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return true;
    const long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0)
        return false;
    if (end >= here)
        left = static_cast<uint64_t>(end - here);
    return true;
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
    // A writer that cannot go back to fix the size (one writing to a pipe)
    // or a recording cut short claims more than follows: what is there is
    // read, in whole frames, and nothing is ever sized for the claim.
    uint64_t left = 0;
    if (!bytes_left(file, left))
        return fail(reason, "lseek WAVE DATA-header");
    uint32_t held = datasize;
    if (left < datasize) {
        const uint64_t frame = uint64_t{(bits + 7) / 8} * chnr;
        held = static_cast<uint32_t>(left / frame * frame);
    }

    // Published only now, so a refused file leaves the previous values alone.
    format.fsinp = fs;
    format.bitnrinp = bits;
    format.chnr = chnr;
    format.inpchdatasize = held / chnr;
    format.declared_datasize = datasize;
    return 0;
}

std::string cut_short_warning(const WavFormat& format)
{
    const uint64_t held = uint64_t{format.inpchdatasize} * format.chnr;
    if (held >= format.declared_datasize)
        return {};
    char line[96];
    std::snprintf(line, sizeof line, "wav-in: warning, data chunk cut short: reading %u of %u bytes\n",
                  static_cast<uint32_t>(held), format.declared_datasize);
    return line;
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
