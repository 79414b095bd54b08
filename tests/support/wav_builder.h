// Building, reading and checking WAV files in tests.
//
// Tests describe an input file by its samples and a few deliberate defects
// (odd fmt size, wrong data size, foreign chunks) instead of shipping binary
// fixtures, so every file a test uses is visible in the test itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vesk::test {

// Appends little-endian numbers and raw bytes to a growing buffer.
class ByteWriter {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v)
    {
        u8(static_cast<uint8_t>(v & 0xFFu));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v)
    {
        for (int shift = 0; shift < 32; shift += 8)
            u8(static_cast<uint8_t>((v >> shift) & 0xFFu));
    }
    // The low `nbytes` bytes of v, least significant first (two's complement
    // for negative values).
    void int_le(int32_t v, unsigned nbytes)
    {
        const auto u = static_cast<uint32_t>(v);
        for (unsigned i = 0; i < nbytes && i < 4; ++i)
            u8(static_cast<uint8_t>((u >> (8 * i)) & 0xFFu));
    }
    // A four-character identifier; shorter ids are blank-padded, longer ones cut.
    void id(std::string_view four)
    {
        for (std::size_t i = 0; i < 4; ++i)
            u8(static_cast<uint8_t>(i < four.size() ? four[i] : ' '));
    }
    void append(const std::vector<uint8_t>& more)
    {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
    }
    // Overwrites 4 bytes at `offset` with v, for patching a size afterwards.
    void patch_u32(std::size_t offset, uint32_t v)
    {
        for (std::size_t i = 0; i < 4; ++i)
            bytes_.at(offset + i) = static_cast<uint8_t>((v >> (8 * i)) & 0xFFu);
    }

    std::size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const& { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

inline uint16_t get_u16(const std::vector<uint8_t>& b, std::size_t off)
{
    return static_cast<uint16_t>(b.at(off) | (b.at(off + 1) << 8));
}

inline uint32_t get_u32(const std::vector<uint8_t>& b, std::size_t off)
{
    return static_cast<uint32_t>(b.at(off)) | (static_cast<uint32_t>(b.at(off + 1)) << 8) |
           (static_cast<uint32_t>(b.at(off + 2)) << 16) |
           (static_cast<uint32_t>(b.at(off + 3)) << 24);
}

// A chunk other than fmt and data: written as id, payload size, payload.
// An odd-sized payload gets no pad byte, matching how the reader skips.
struct ExtraChunk {
    std::string id;
    std::vector<uint8_t> payload;
};

struct WavOptions {
    uint16_t format_tag = 1;
    std::vector<ExtraChunk> before_fmt;
    std::vector<ExtraChunk> between_fmt_and_data;
    // Replaces only the size field of the fmt chunk; the 16 contents bytes
    // are written as usual.
    std::optional<uint32_t> fmt_size;
    // Replaces only the size field of the data chunk; the samples are written
    // as usual.
    std::optional<uint32_t> data_size;
    // Replaces the RIFF size field (by default file length - 8).
    std::optional<uint32_t> riff_size;

    // Chainable setters, e.g. WavOptions().with_format_tag(3).with_data_size(5),
    // so a test names only what it changes.  (Designated initializers would
    // do, but GCC 12 warns about every member they leave out.)
    WavOptions& with_format_tag(uint16_t tag) { format_tag = tag; return *this; }
    WavOptions& with_chunk_before_fmt(std::string id, std::vector<uint8_t> contents = {})
    {
        before_fmt.push_back({std::move(id), std::move(contents)});
        return *this;
    }
    WavOptions& with_chunk_before_data(std::string id, std::vector<uint8_t> contents = {})
    {
        between_fmt_and_data.push_back({std::move(id), std::move(contents)});
        return *this;
    }
    WavOptions& with_fmt_size(uint32_t size) { fmt_size = size; return *this; }
    WavOptions& with_data_size(uint32_t size) { data_size = size; return *this; }
    WavOptions& with_riff_size(uint32_t size) { riff_size = size; return *this; }
};

// A PCM WAV file.  `channels` goes into the header as given; the samples are
// interleaved frame by frame from the vectors of `samples_per_channel`, which
// must all have the same length.  The two need not agree, so a test can build
// a file whose data size does not fit its channel count.  Sample values are
// integers at the file's width: 8 bits as offset binary (stored byte v + 128),
// wider samples as little-endian two's complement in (bits + 7) / 8 bytes.
inline std::vector<uint8_t> make_pcm_wav(uint16_t channels, uint32_t rate, uint16_t bits,
                                         const std::vector<std::vector<int32_t>>& samples_per_channel,
                                         const WavOptions& options = {})
{
    const unsigned bytes_per_sample = (bits + 7u) / 8u;
    std::size_t frames = samples_per_channel.empty() ? 0 : samples_per_channel.front().size();
    for (const auto& ch : samples_per_channel)
        if (ch.size() != frames)
            throw std::invalid_argument("make_pcm_wav: channels differ in length");

    ByteWriter data;
    for (std::size_t i = 0; i < frames; ++i) {
        for (const auto& ch : samples_per_channel) {
            if (bytes_per_sample == 1)
                data.u8(static_cast<uint8_t>(ch[i] + 128));
            else
                data.int_le(ch[i], bytes_per_sample);
        }
    }

    ByteWriter w;
    auto chunk = [&w](const ExtraChunk& c) {
        w.id(c.id);
        w.u32(static_cast<uint32_t>(c.payload.size()));
        w.append(c.payload);
    };

    w.id("RIFF");
    w.u32(0); // patched below
    w.id("WAVE");
    for (const auto& c : options.before_fmt)
        chunk(c);
    w.id("fmt ");
    w.u32(options.fmt_size.value_or(16));
    w.u16(options.format_tag);
    w.u16(channels);
    w.u32(rate);
    w.u32(rate * channels * bytes_per_sample);
    w.u16(static_cast<uint16_t>(channels * bytes_per_sample));
    w.u16(bits);
    for (const auto& c : options.between_fmt_and_data)
        chunk(c);
    w.id("data");
    w.u32(options.data_size.value_or(static_cast<uint32_t>(data.size())));
    w.append(data.bytes());
    w.patch_u32(4, options.riff_size.value_or(static_cast<uint32_t>(w.size() - 8)));
    return w.take();
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("write_file: cannot write " + path);
}

inline std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("read_file: cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// A path in the system's temporary directory that no other test process uses
// (ctest runs test cases in parallel processes).  The file is not created.
inline std::string unique_temp_path(std::string_view stem, std::string_view suffix = ".wav")
{
    static std::mt19937_64 gen{std::random_device{}()};
    const auto tag = std::to_string(gen());
    return (std::filesystem::temp_directory_path() /
            (std::string(stem) + "-" + tag + std::string(suffix)))
        .string();
}

// The samples of a 24-bit output file, one vector per channel.
struct Pcm24File {
    uint32_t channels = 0;
    uint32_t rate = 0;
    std::vector<std::vector<int32_t>> samples;
};

// Accepts exactly the canonical 44-byte-header layout of a 24-bit PCM file
// whose data chunk runs to the end of the file, and decodes its samples.
// Returns false, leaving `out` unchanged, on any deviation.
inline bool parse_pcm24_output(const std::vector<uint8_t>& bytes, Pcm24File& out)
{
    auto is = [&bytes](std::size_t off, const char* id) {
        for (std::size_t i = 0; i < 4; ++i)
            if (bytes[off + i] != static_cast<uint8_t>(id[i]))
                return false;
        return true;
    };
    if (bytes.size() < 44)
        return false;
    const uint32_t datasize = get_u32(bytes, 40);
    const uint32_t channels = get_u16(bytes, 22);
    const uint32_t rate = get_u32(bytes, 24);
    if (!is(0, "RIFF") || !is(8, "WAVE") || !is(12, "fmt ") || !is(36, "data"))
        return false;
    if (bytes.size() - 44 != datasize || get_u32(bytes, 4) != datasize + 36u)
        return false;
    if (get_u32(bytes, 16) != 16 || get_u16(bytes, 20) != 1 || get_u16(bytes, 34) != 24)
        return false;
    if (channels == 0 || get_u32(bytes, 28) != rate * channels * 3u ||
        get_u16(bytes, 32) != channels * 3u)
        return false;
    if (datasize % (channels * 3u) != 0)
        return false;

    out.channels = channels;
    out.rate = rate;
    const std::size_t frames = datasize / (channels * 3u);
    out.samples.assign(channels, std::vector<int32_t>(frames));
    std::size_t p = 44;
    for (std::size_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c, p += 3) {
            uint32_t u = static_cast<uint32_t>(bytes[p]) |
                         (static_cast<uint32_t>(bytes[p + 1]) << 8) |
                         (static_cast<uint32_t>(bytes[p + 2]) << 16);
            // Sign-extend from bit 23 without relying on shifts of negatives.
            out.samples[c][i] = static_cast<int32_t>(u & 0x7FFFFFu) - static_cast<int32_t>(u & 0x800000u);
        }
    }
    return true;
}

// The bytes in an anonymous temporary file, positioned at offset 0, ready for
// the reader.  Returns nullptr when no temporary file can be made.  The caller
// closes it (see FilePtr).
inline std::FILE* open_memory_file(const std::vector<uint8_t>& bytes)
{
    std::FILE* f = std::tmpfile();
    if (!f)
        return nullptr;
    // An empty vector may have no storage at all; fwrite must not see null.
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fclose(f);
        return nullptr;
    }
    std::rewind(f);
    return f;
}

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

} // namespace vesk::test
