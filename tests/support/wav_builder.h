// Building and reading WAV files in tests: a file is described by its samples
// and a few deliberate defects, so every file a test uses is visible in it.
#pragma once

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesk::test {

// Appends little-endian numbers and four-character identifiers.
struct ByteWriter {
    std::vector<uint8_t> bytes;
    ByteWriter& le(uint32_t v, unsigned nbytes) // low bytes first; two's complement for negatives
    {
        for (unsigned i = 0; i < nbytes; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    ByteWriter& u16(uint32_t v) { return le(v, 2); }
    ByteWriter& u32(uint32_t v) { return le(v, 4); }
    ByteWriter& id(const std::string& four)
    {
        for (char c : four)
            le(static_cast<uint8_t>(c), 1);
        return *this;
    }
};

// What a test changes in an otherwise plain PCM file; each setter names one.
struct WavOptions {
    uint16_t format_tag = 1;
    // Chunks other than fmt and data: id, payload size, payload, and a zero
    // pad byte after an odd size unless pad_odd_chunks is off.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> before_fmt, before_data;
    bool pad_odd_chunks = true;
    std::optional<uint32_t> fmt_size, data_size; // the size fields only
    std::vector<uint8_t> fmt_extension;          // after the 16 plain fmt bytes, counted in its size
    WavOptions& with_format_tag(uint16_t tag) { format_tag = tag; return *this; }
    WavOptions& with_chunk_before_fmt(std::string id, std::vector<uint8_t> p = {}) { before_fmt.push_back({id, p}); return *this; }
    WavOptions& with_chunk_before_data(std::string id, std::vector<uint8_t> p = {}) { before_data.push_back({id, p}); return *this; }
    WavOptions& with_fmt_size(uint32_t size) { fmt_size = size; return *this; }
    WavOptions& with_fmt_extension(std::vector<uint8_t> e) { fmt_extension = std::move(e); return *this; }
    WavOptions& with_data_size(uint32_t size) { data_size = size; return *this; }
    WavOptions& without_pad_bytes() { pad_odd_chunks = false; return *this; }
};

// A PCM WAV file with `channels` in its header and the samples interleaved
// frame by frame from equally long vectors (the two need not agree).  Values
// are integers at the file's width: 8 bits stored as offset binary (v + 128),
// wider ones as little-endian two's complement.
inline std::vector<uint8_t> make_pcm_wav(uint16_t channels, uint32_t rate, uint16_t bits,
                                         const std::vector<std::vector<int32_t>>& samples,
                                         const WavOptions& options = {})
{
    const unsigned width = (bits + 7u) / 8u;
    ByteWriter data;
    for (std::size_t i = 0; !samples.empty() && i < samples.front().size(); ++i)
        for (const auto& ch : samples)
            data.le(static_cast<uint32_t>(width == 1 ? ch.at(i) + 128 : ch.at(i)), width);
    ByteWriter w;
    const auto chunk = [&w, &options](const auto& c) {
        w.id(c.first).u32(static_cast<uint32_t>(c.second.size())).bytes.insert(w.bytes.end(), c.second.begin(), c.second.end());
        if (options.pad_odd_chunks && c.second.size() % 2 != 0)
            w.le(0, 1);
    };
    w.id("RIFF").u32(0).id("WAVE");
    for (const auto& c : options.before_fmt)
        chunk(c);
    const auto fmt_bytes = static_cast<uint32_t>(16 + options.fmt_extension.size());
    w.id("fmt ").u32(options.fmt_size.value_or(fmt_bytes)).u16(options.format_tag).u16(channels).u32(rate);
    w.u32(rate * channels * width).u16(channels * width).u16(bits);
    w.bytes.insert(w.bytes.end(), options.fmt_extension.begin(), options.fmt_extension.end());
    for (const auto& c : options.before_data)
        chunk(c);
    w.id("data").u32(options.data_size.value_or(static_cast<uint32_t>(data.bytes.size())));
    w.bytes.insert(w.bytes.end(), data.bytes.begin(), data.bytes.end());
    const auto riff = static_cast<uint32_t>(w.bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        w.bytes[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return w.bytes;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("write_file: cannot write " + path);
}

inline std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("read_file: cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes in an anonymous temporary file at offset 0, for the reader.
using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

inline FilePtr open_memory_file(const std::vector<uint8_t>& bytes)
{
    FilePtr f(std::tmpfile(), std::fclose);
    if (f && !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size())
        std::rewind(f.get());
    return f;
}

} // namespace vesk::test
