// The WAV header reader on arbitrary bytes.
//
// Each input is read twice: from a memory stream (fmemopen), on which a seek
// past the end fails, so the walk goes on after a failed skip; and from a
// memory-backed regular file (memfd), on which such a seek succeeds and the
// next header read comes up short.  Both are the ways a real input behaves,
// a pipe-like stream and a file on disk.
//
// Besides crashes and hangs the target checks what the reader promises:
// a success leaves the stream at the first byte of a data chunk's contents,
// whose header carries exactly the published declared size, publishes as
// held the whole chunk or, when the file ends first, the whole frames that
// follow (and only then a warning), and never publishes a zero channel count
// or bit depth; a failure always names its reason and
// leaves the published format alone.  A header written from a published
// format reads back as the same format.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "wav/wav_header.h"

namespace {

using vesk::wav::WavFormat;

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "wav_header_fuzzer: %s\n", what);
    std::abort();
}

uint32_t u32_at(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool known_reason(const char* reason)
{
    static const char* const reasons[] = {
        "read WAVE RIFF-header", "no RIFF",           "invalid fsize",         "no WAVE",
        "read WAVE FMT-header",  "invalid FMT csize", "invalid chnr",          "invalid bitnr",
        "read WAVE DATA-header", "invalid totsize",       "lseek WAVE DATA-header",
    };
    for (const char* r : reasons)
        if (std::string_view(r) == reason)
            return true;
    return false;
}

// Reads `file` (holding the `size` bytes of `data`) and checks the outcome.
void check_read(std::FILE* file, const uint8_t* data, std::size_t size)
{
    const WavFormat sentinel{0xA5A5A5A5u, 0x5A5A5A5Au, 0xC3C3C3C3u, 0x3C3C3C3Cu, 0x96969696u};
    WavFormat format = sentinel;
    const char* reason = nullptr;
    int fmttag = -1;
    if (vesk::wav::read_wav_header(file, &reason, &fmttag, format) != 0) {
        if (reason == nullptr || !known_reason(reason))
            broken("a failure without a known reason");
        if (std::memcmp(&format, &sentinel, sizeof format) != 0)
            broken("a failure changed the format");
        return;
    }
    if (format.chnr == 0 || format.chnr > 0xFFFF || format.bitnrinp == 0 || format.bitnrinp > 0xFFFF)
        broken("a channel count or bit depth out of its field");
    if (fmttag < 0 || fmttag > 0xFFFF)
        broken("no format tag on success");
    const long position = std::ftell(file);
    if (position < 12 + 8 + 16 + 8 || static_cast<std::size_t>(position) > size)
        broken("success away from the data");
    const uint8_t* header = data + position - 8;
    if (std::memcmp(header, "data", 4) != 0)
        broken("success not right after a data chunk header");
    const uint32_t declared = u32_at(header + 4);
    const uint64_t left = size - static_cast<std::size_t>(position);
    const uint64_t frame = uint64_t{(format.bitnrinp + 7) / 8} * format.chnr;
    const uint64_t held = declared <= left ? declared : left / frame * frame;
    if (format.declared_datasize != declared || uint64_t{format.inpchdatasize} * format.chnr != held)
        broken("published data sizes are not the chunk's and what the file holds of it");
    if (vesk::wav::cut_short_warning(format).empty() != (held == declared))
        broken("a warning for a whole data chunk, or none for one cut short");

    // What the writer makes of this format reads back the same, for every
    // size the writer takes: the RIFF size, datasize + 36, must fit 32 bits
    // (runs refuse larger outputs before they write a header).  The header
    // is read alone, so only the declared size can come back.
    const uint32_t datasize = format.inpchdatasize * format.chnr;
    if (datasize > 0xFFFFFFFFu - 36u)
        return;
    const auto written = vesk::wav::make_wav_header(format.chnr, format.fsinp, format.bitnrinp, datasize);
    std::FILE* again = fmemopen(const_cast<uint8_t*>(written.data()), written.size(), "rb");
    if (again == nullptr)
        return;
    WavFormat back;
    int tag = 0;
    if (vesk::wav::read_wav_header(again, nullptr, &tag, back) != 0 || tag != 1 || back.chnr != format.chnr ||
        back.fsinp != format.fsinp || back.bitnrinp != format.bitnrinp ||
        back.declared_datasize != datasize || std::ftell(again) != 44)
        broken("a written header does not read back");
    std::fclose(again);
}

std::FILE* memory_file()
{
    static std::FILE* file = [] {
        const int fd = memfd_create("wav_header_fuzzer", 0);
        return fd < 0 ? nullptr : fdopen(fd, "w+b");
    }();
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // fmemopen wants a writable pointer even to read, and refuses a
    // zero-length buffer: the memory file below covers the empty input.
    if (size > 0) {
        if (std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb")) {
            check_read(stream, data, size);
            std::fclose(stream);
        }
    }
    if (std::FILE* file = memory_file()) {
        if (ftruncate(fileno(file), 0) != 0)
            broken("cannot empty the memory file");
        std::rewind(file);
        if (size > 0 && std::fwrite(data, 1, size, file) != size)
            broken("cannot fill the memory file");
        std::fflush(file);
        std::rewind(file);
        check_read(file, data, size);
    }
    return 0;
}
