// WAV headers read in-process from a table of files, valid and hostile, and
// written headers read back byte for byte.  Arbitrary bytes are the fuzz
// target's business (fuzz/wav_header_fuzzer.cpp); these are the named cases.
#include <gtest/gtest.h>

#include <optional>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "wav/wav_header.h"

namespace vesk {
namespace {

using test::ByteWriter;
using test::make_pcm_wav;
using test::WavOptions;

struct HeaderCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::size_t sample_bytes;     // bytes after the header when accepted
    const char* reason;           // nullptr: accepted
    wav::WavFormat format;        // expected when accepted
    int fmttag;                   // expected tag; -1: never read
};

std::vector<int32_t> values(std::size_t n, int32_t step)
{
    std::vector<int32_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<int32_t>(i) * step - 3 * step;
    return v;
}

// A RIFF/WAVE prefix followed by whatever the case writes.
ByteWriter riff_wave(uint32_t riff_size = 100)
{
    ByteWriter w;
    w.id("RIFF").u32(riff_size).id("WAVE");
    return w;
}

ByteWriter& fmt16(ByteWriter& w, uint32_t channels, uint32_t rate, uint32_t bits)
{
    return w.id("fmt ").u32(16).u16(1).u16(channels).u32(rate).u32(0).u16(0).u16(bits);
}

std::vector<HeaderCase> header_cases()
{
    const auto stereo16 = make_pcm_wav(2, 44100, 16, {values(3, 1000), values(3, -700)});
    std::vector<uint8_t> truncated_fmt = riff_wave().id("fmt ").u32(16).u16(1).u16(1).bytes;
    ByteWriter data_first = riff_wave();
    data_first.id("data").u32(2).u16(0);
    fmt16(data_first, 1, 8000, 16);
    ByteWriter fmt_no_blank = riff_wave();
    fmt_no_blank.id("fmt").u8(0).u32(16).u16(1).u16(1).u32(8000).u32(0).u16(0).u16(16).id("data").u32(0);
    ByteWriter short_data = riff_wave();
    fmt16(short_data, 1, 8000, 16).id("data");
    ByteWriter zero_channels = riff_wave(), zero_bits = riff_wave(), huge_data = riff_wave(), odd_huge = riff_wave();
    fmt16(zero_channels, 0, 8000, 16).id("data").u32(0);
    fmt16(zero_bits, 1, 8000, 0).id("data").u32(0);
    fmt16(huge_data, 2, 8000, 8).id("data").u32(0xFFFFFFFEu).u16(0);
    fmt16(odd_huge, 2, 8000, 8).id("data").u32(0xFFFFFFFFu);
    ByteWriter huge_chunk = riff_wave();
    huge_chunk.id("JUNK").u32(0xFFFFFFF0u).u32(0);
    fmt16(huge_chunk, 1, 8000, 16).id("data").u32(0);
    std::vector<uint8_t> riffx = stereo16, lower = stereo16, wavx = stereo16;
    riffx[3] = 'X';
    lower[0] = 'r';
    wavx[11] = 'X';
    const wav::WavFormat none{};
    return {
        {"eight bit mono", make_pcm_wav(1, 8000, 8, {values(5, 20)}), 5, nullptr, {8000, 1, 8, 5}, 1},
        {"sixteen bit stereo", stereo16, 12, nullptr, {44100, 2, 16, 6}, 1},
        {"twenty-four bit in six channels",
         make_pcm_wav(6, 96000, 24, std::vector<std::vector<int32_t>>(6, values(4, 90000))), 72, nullptr,
         {96000, 6, 24, 12}, 1},
        {"foreign chunks before fmt and before data, odd sized",
         make_pcm_wav(1, 22050, 16, {values(2, 5)},
                      WavOptions().with_chunk_before_fmt("LIST", {1, 2, 3, 4, 5}).with_chunk_before_data("fact", {9})),
         4, nullptr, {22050, 1, 16, 4}, 1},
        {"riff size of 4, the least allowed", make_pcm_wav(1, 8000, 8, {values(1, 1)}, WavOptions().with_riff_size(4)),
         1, nullptr, {8000, 1, 8, 1}, 1},
        {"riff size of 4 GiB is not trusted", make_pcm_wav(1, 8000, 8, {values(1, 1)}, WavOptions().with_riff_size(0xFFFFFFFFu)),
         1, nullptr, {8000, 1, 8, 1}, 1},
        {"a float tag is the caller's to judge", make_pcm_wav(1, 8000, 16, {values(1, 1)}, WavOptions().with_format_tag(3)),
         2, nullptr, {8000, 1, 16, 2}, 3},
        {"data size near 4 GiB, whole frames", huge_data.bytes, 2, nullptr, {8000, 2, 8, 0x7FFFFFFFu}, 1},
        {"empty file", {}, 0, "read WAVE RIFF-header", none, -1},
        {"eleven bytes", std::vector<uint8_t>(stereo16.begin(), stereo16.begin() + 11), 0, "read WAVE RIFF-header", none, -1},
        {"RIFX", riffx, 0, "no RIFF", none, -1},
        {"lower-case riff", lower, 0, "no RIFF", none, -1},
        {"WAVX", wavx, 0, "no WAVE", none, -1},
        {"riff size below 4", make_pcm_wav(1, 8000, 8, {values(1, 1)}, WavOptions().with_riff_size(3)), 0, "invalid fsize", none, -1},
        {"fmt without its blank is a foreign chunk", fmt_no_blank.bytes, 0, "read WAVE FMT-header", none, -1},
        {"foreign chunk of nearly 4 GiB", huge_chunk.bytes, 0, "read WAVE FMT-header", none, -1},
        {"extended fmt of 18 bytes", make_pcm_wav(1, 8000, 16, {values(1, 1)}, WavOptions().with_fmt_size(18)), 0,
         "invalid FMT csize", none, -1},
        {"fmt of 14 bytes", make_pcm_wav(1, 8000, 16, {values(1, 1)}, WavOptions().with_fmt_size(14)), 0, "invalid FMT csize", none, -1},
        {"fmt contents cut short", truncated_fmt, 0, "read WAVE FMT-header", none, -1},
        {"zero channels", zero_channels.bytes, 0, "invalid chnr", none, 1},
        {"zero bits", zero_bits.bytes, 0, "invalid bitnr", none, 1},
        {"data before fmt", data_first.bytes, 0, "read WAVE DATA-header", none, 1},
        {"data header cut short", short_data.bytes, 0, "read WAVE DATA-header", none, 1},
        {"data size not whole frames", make_pcm_wav(2, 8000, 8, {values(3, 1)}, WavOptions().with_data_size(5)), 0,
         "invalid totsize", none, 1},
        {"data size of 4 GiB - 1 in two channels", odd_huge.bytes, 0, "invalid totsize", none, 1},
    };
}

TEST(WavHeader, EachCaseOfTheTableIsReadAsExpected)
{
    for (const HeaderCase& c : header_cases()) {
        SCOPED_TRACE(c.name);
        const test::FilePtr file = test::open_memory_file(c.bytes);
        ASSERT_TRUE(file);
        const wav::WavFormat before{1, 2, 3, 4};
        wav::WavFormat format = before;
        const char* reason = nullptr;
        int tag = -1;
        const int result = wav::read_wav_header(file.get(), &reason, &tag, format);
        EXPECT_EQ(tag, c.fmttag);
        if (c.reason != nullptr) {
            EXPECT_EQ(result, -1);
            EXPECT_STREQ(reason, c.reason);
            // A refused file leaves what the reader published before.
            EXPECT_EQ(format.fsinp, 1u);
            EXPECT_EQ(format.chnr, 2u);
            EXPECT_EQ(format.bitnrinp, 3u);
            EXPECT_EQ(format.inpchdatasize, 4u);
            continue;
        }
        EXPECT_EQ(result, 0) << (reason ? reason : "");
        EXPECT_EQ(format.fsinp, c.format.fsinp);
        EXPECT_EQ(format.chnr, c.format.chnr);
        EXPECT_EQ(format.bitnrinp, c.format.bitnrinp);
        EXPECT_EQ(format.inpchdatasize, c.format.inpchdatasize);
        // The file is left at the first sample byte.
        EXPECT_EQ(std::ftell(file.get()), static_cast<long>(c.bytes.size() - c.sample_bytes));
    }
}

// The canonical header, written down field by field.
std::vector<uint8_t> canonical(uint32_t channels, uint32_t rate, uint32_t bits, uint32_t datasize)
{
    ByteWriter w;
    w.id("RIFF").u32(datasize + 36).id("WAVE").id("fmt ").u32(16).u16(1).u16(channels).u32(rate);
    w.u32(rate * channels * (bits / 8)).u16(channels * (bits / 8)).u16(bits).id("data").u32(datasize);
    return w.bytes;
}

TEST(WavHeader, WrittenHeadersAreTheCanonicalBytesAndReadBack)
{
    struct Row {
        uint32_t channels, rate, bits, datasize;
    };
    const Row rows[] = {
        {1, 8000, 8, 0},         {2, 48000, 24, 600},     {6, 96000, 16, 7200},
        {21845, 1, 24, 65535},   {1, 44100, 24, 0xFFFFFFFFu - 36},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.channels << " channels, " << r.bits << " bits, " << r.datasize << " bytes");
        const std::vector<uint8_t> expected = canonical(r.channels, r.rate, r.bits, r.datasize);
        const auto made = wav::make_wav_header(r.channels, r.rate, r.bits, r.datasize);
        EXPECT_EQ(std::vector<uint8_t>(made.begin(), made.end()), expected);

        const test::FilePtr file(std::tmpfile());
        ASSERT_EQ(wav::write_wav_header(file.get(), r.channels, r.rate, r.bits, r.datasize), 0);
        std::rewind(file.get());
        std::vector<uint8_t> back(64);
        back.resize(std::fread(back.data(), 1, back.size(), file.get()));
        EXPECT_EQ(back, expected);

        std::rewind(file.get());
        wav::WavFormat format;
        int tag = 0;
        ASSERT_EQ(wav::read_wav_header(file.get(), nullptr, &tag, format), 0);
        EXPECT_EQ(tag, 1);
        EXPECT_EQ(format.fsinp, r.rate);
        EXPECT_EQ(format.chnr, r.channels);
        EXPECT_EQ(format.bitnrinp, r.bits);
        EXPECT_EQ(format.inpchdatasize, r.datasize / r.channels);
    }
}

TEST(WavHeader, WritingToAFileThatRefusesBytesFails)
{
    test::TempDir dir;
    test::write_file(dir.file("x"), {});
    const test::FilePtr read_only(std::fopen(dir.file("x").c_str(), "rb"));
    EXPECT_EQ(wav::write_wav_header(read_only.get(), 1, 8000, 24, 3), -1);
}

} // namespace
} // namespace vesk
