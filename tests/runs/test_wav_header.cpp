// WAV headers read in-process from a table of files, valid and hostile, and
// written headers read back byte for byte.  Arbitrary bytes are the fuzz
// target's business (fuzz/wav_header_fuzzer.cpp); these are the named cases.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/batch_runs.h"
#include "tests/support/wav_builder.h"
#include "wav/wav_header.h"

namespace vesk {
namespace {

using test::make_pcm_wav;
using test::WavOptions;
using Bytes = std::vector<uint8_t>;

// `bytes` with the little-endian `value` of `width` bytes at `offset`.
Bytes patched(Bytes bytes, std::size_t offset, uint32_t value, unsigned width = 4)
{
    for (unsigned i = 0; i < width; ++i)
        bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

Bytes prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

// The 22 bytes of an extensible fmt chunk's extension: its size, the valid
// bits, the channel mask and a sub-format GUID whose first field is `code`
// (the standard GUIDs' tail unless `tail_byte` changes its last byte).
Bytes extension(uint32_t valid_bits, uint32_t mask, uint32_t code, uint32_t size = 22, uint8_t tail_byte = 0x71)
{
    test::ByteWriter w;
    w.u16(size).u16(valid_bits).u32(mask).u32(code);
    for (const uint8_t b : {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B})
        w.le(b, 1);
    w.le(tail_byte, 1);
    return w.bytes;
}

// `samples` in the extensible form, as SoX and FFmpeg write files of more
// than 16 bits or two channels.
Bytes extensible_wav(uint16_t channels, uint16_t bits, const std::vector<std::vector<int32_t>>& samples,
                     const Bytes& ext)
{
    return make_pcm_wav(channels, 48000, bits, samples, WavOptions().with_format_tag(0xFFFE).with_fmt_extension(ext));
}

struct HeaderCase {
    const char* name;
    Bytes bytes;
    std::size_t sample_bytes; // after the header, when accepted
    const char* reason;       // nullptr: accepted
    wav::WavFormat format;    // when accepted
    int fmttag;               // the tag handed out; -1: never read
};

std::vector<HeaderCase> header_cases()
{
    const Bytes stereo16 = make_pcm_wav(2, 44100, 16, {{1, -2, 3}, {-4, 5, -6}});
    const Bytes mono8 = make_pcm_wav(1, 8000, 8, {{7}});
    // A data chunk first, then fmt: the walk passes data looking for fmt.
    test::ByteWriter data_first;
    data_first.id("RIFF").u32(100).id("WAVE").id("data").u32(2).u16(0);
    data_first.id("fmt ").u32(16).u16(1).u16(1).u32(8000).u32(16000).u16(2).u16(16);
    const wav::WavFormat none{};
    const std::vector<std::vector<int32_t>> one{{-3}};
    return {
        {"extensible, 24 bits stereo", extensible_wav(2, 24, {{1}, {2}}, extension(24, 3, 1)), 6, nullptr,
         {48000, 2, 24, 3}, 1},
        {"extensible, 16 bits in three channels", extensible_wav(3, 16, {{1}, {2}, {3}}, extension(16, 7, 1)), 6,
         nullptr, {48000, 3, 16, 2}, 1},
        {"extensible, 20 valid bits in 24", extensible_wav(1, 24, one, extension(20, 4, 1)), 3, nullptr,
         {48000, 1, 24, 3}, 1},
        {"extensible float, the caller's to judge", extensible_wav(1, 32, one, extension(32, 4, 3)), 4, nullptr,
         {48000, 1, 32, 4}, 3},
        {"extensible with an unknown GUID keeps its tag", extensible_wav(1, 16, one, extension(16, 4, 1, 22, 0x72)), 2,
         nullptr, {48000, 1, 16, 2}, 0xFFFE},
        {"extensible with a code beyond 16 bits keeps its tag", extensible_wav(1, 16, one, extension(16, 4, 0x00010001)),
         2, nullptr, {48000, 1, 16, 2}, 0xFFFE},
        {"fmt of 18 bytes, empty extension", make_pcm_wav(1, 8000, 16, one, WavOptions().with_fmt_extension({0, 0})), 2,
         nullptr, {8000, 1, 16, 2}, 1},
        {"fmt of 18 bytes with an extension size", make_pcm_wav(1, 8000, 16, one, WavOptions().with_fmt_extension({2, 0})),
         0, "invalid FMT csize", none, -1},
        {"fmt of 40 bytes with the PCM tag", make_pcm_wav(1, 8000, 16, one, WavOptions().with_fmt_extension(extension(16, 4, 1))),
         0, "invalid FMT csize", none, -1},
        {"extension size 20", extensible_wav(1, 16, one, extension(16, 4, 1, 20)), 0, "invalid FMT csize", none, -1},
        {"no valid bits", extensible_wav(1, 16, one, extension(0, 4, 1)), 0, "invalid FMT csize", none, -1},
        {"more valid bits than the container", extensible_wav(1, 16, one, extension(17, 4, 1)), 0, "invalid FMT csize", none, -1},
        {"8 bits mono", make_pcm_wav(1, 8000, 8, {{1, 2, 3, 4, 5}}), 5, nullptr, {8000, 1, 8, 5}, 1},
        {"16 bits stereo", stereo16, 12, nullptr, {44100, 2, 16, 6}, 1},
        {"24 bits in six channels", make_pcm_wav(6, 96000, 24, std::vector<std::vector<int32_t>>(6, {-90000, 90000})),
         36, nullptr, {96000, 6, 24, 6}, 1},
        {"odd chunks without their pad bytes before fmt and data",
         make_pcm_wav(1, 22050, 16, {{5, 6}}, WavOptions().with_chunk_before_fmt("LIST", {1, 2, 3, 4, 5}).with_chunk_before_data("fact", {9}).without_pad_bytes()),
         4, nullptr, {22050, 1, 16, 4}, 1},
        {"an odd chunk without its pad byte, data size 'A'", make_pcm_wav(1, 8000, 8, {std::vector<int32_t>(65)},
         WavOptions().with_chunk_before_data("iXML", Bytes(7, 'x')).without_pad_bytes()), 65, nullptr, {8000, 1, 8, 65}, 1},
        {"an odd chunk without its pad byte, then another chunk", make_pcm_wav(1, 8000, 8, {{1, 2}},
         WavOptions().with_chunk_before_data("LIST", Bytes(3, 'L')).with_chunk_before_data("cue ", Bytes(4)).without_pad_bytes()),
         2, nullptr, {8000, 1, 8, 2}, 1},
        {"an odd chunk without its pad byte, then empty data ending the file", make_pcm_wav(1, 8000, 8, {{}},
         WavOptions().with_chunk_before_data("LIST", Bytes(3, 'L')).without_pad_bytes()), 0, nullptr, {8000, 1, 8, 0}, 1},
        {"a blank for a pad byte, then another chunk", patched(make_pcm_wav(1, 8000, 8, {{1, 2}},
         WavOptions().with_chunk_before_data("LIST", Bytes(3, 'L')).with_chunk_before_data("JUNK", Bytes(4))), 47, ' ', 1),
         2, nullptr, {8000, 1, 8, 2}, 1},
        {"riff size 4, the least allowed", patched(mono8, 4, 4), 1, nullptr, {8000, 1, 8, 1}, 1},
        {"riff size 4 GiB - 1, not trusted", patched(mono8, 4, 0xFFFFFFFFu), 1, nullptr, {8000, 1, 8, 1}, 1},
        {"a float tag, the caller's to judge", make_pcm_wav(1, 8000, 16, {{1}}, WavOptions().with_format_tag(3)), 2,
         nullptr, {8000, 1, 16, 2}, 3},
        {"data size near 4 GiB, beyond the file", make_pcm_wav(2, 8000, 8, {{0}, {0}}, WavOptions().with_data_size(0xFFFFFFFEu)),
         2, nullptr, {8000, 2, 8, 1}, 1},
        {"empty file", {}, 0, "read WAVE RIFF-header", none, -1},
        {"eleven bytes", prefix(stereo16, 11), 0, "read WAVE RIFF-header", none, -1},
        {"RIFX", patched(stereo16, 3, 'X', 1), 0, "no RIFF", none, -1},
        {"lower-case riff", patched(stereo16, 0, 'r', 1), 0, "no RIFF", none, -1},
        {"WAVX", patched(stereo16, 11, 'X', 1), 0, "no WAVE", none, -1},
        {"riff size below 4", patched(mono8, 4, 3), 0, "invalid fsize", none, -1},
        {"fmt without its blank, a foreign chunk", patched(stereo16, 15, 0, 1), 0, "read WAVE FMT-header", none, -1},
        {"foreign chunk of nearly 4 GiB", patched(make_pcm_wav(1, 8000, 8, {{1}}, WavOptions().with_chunk_before_fmt("JUNK")), 16, 0xFFFFFFF0u),
         0, "read WAVE FMT-header", none, -1},
        {"fmt of 14 bytes", make_pcm_wav(1, 8000, 16, {{1}}, WavOptions().with_fmt_size(14)), 0, "invalid FMT csize", none, -1},
        {"fmt contents cut short", prefix(stereo16, 30), 0, "read WAVE FMT-header", none, -1},
        {"zero channels", make_pcm_wav(0, 8000, 16, {}), 0, "invalid chnr", none, 1},
        {"zero bits", make_pcm_wav(1, 8000, 0, {{1}}), 0, "invalid bitnr", none, 1},
        {"data before fmt", data_first.bytes, 0, "read WAVE DATA-header", none, 1},
        {"data header cut short", prefix(stereo16, 40), 0, "read WAVE DATA-header", none, 1},
        {"data size not whole frames", make_pcm_wav(2, 8000, 8, {{1}, {2}}, WavOptions().with_data_size(5)), 0, "invalid totsize", none, 1},
        {"data size 4 GiB - 1 in two channels", make_pcm_wav(2, 8000, 8, {{0}, {0}}, WavOptions().with_data_size(0xFFFFFFFFu)),
         0, "invalid totsize", none, 1},
    };
}

TEST(WavHeader, EachCaseOfTheTableIsReadAsExpected)
{
    for (const HeaderCase& c : header_cases()) {
        SCOPED_TRACE(c.name);
        const test::FilePtr file = test::open_memory_file(c.bytes);
        ASSERT_TRUE(file);
        wav::WavFormat format{1, 2, 3, 4};
        const char* reason = nullptr;
        int tag = -1;
        const int result = wav::read_wav_header(file.get(), &reason, &tag, format);
        EXPECT_EQ(tag, c.fmttag);
        EXPECT_EQ(result, c.reason ? -1 : 0);
        EXPECT_STREQ(reason, c.reason);
        // A refused file leaves what the reader published before.
        const wav::WavFormat want = c.reason ? wav::WavFormat{1, 2, 3, 4} : c.format;
        EXPECT_EQ(std::tie(format.fsinp, format.chnr, format.bitnrinp, format.inpchdatasize),
                  std::tie(want.fsinp, want.chnr, want.bitnrinp, want.inpchdatasize));
        // An accepted file is left at the first sample byte.
        EXPECT_EQ(c.reason ? 0 : std::ftell(file.get()), c.reason ? 0 : static_cast<long>(c.bytes.size() - c.sample_bytes));
    }
}

TEST(WavHeader, WrittenHeadersAreTheCanonicalBytes)
{
    const uint32_t rows[][4] = {{1, 8000, 8, 0}, {6, 96000, 16, 7200}, {21845, 1, 24, 65535}, {1, 44100, 24, 0xFFFFFFFFu - 36}};
    for (const auto& r : rows) {
        test::ByteWriter canonical; // as the format defines it, field by field
        canonical.id("RIFF").u32(r[3] + 36).id("WAVE").id("fmt ").u32(16).u16(1).u16(r[0]).u32(r[1]);
        canonical.u32(r[1] * r[0] * (r[2] / 8)).u16(r[0] * (r[2] / 8)).u16(r[2]).id("data").u32(r[3]);
        const test::FilePtr file(std::tmpfile(), std::fclose);
        ASSERT_EQ(wav::write_wav_header(file.get(), r[0], r[1], r[2], r[3]), 0);
        std::rewind(file.get());
        Bytes back(64);
        back.resize(std::fread(back.data(), 1, back.size(), file.get()));
        EXPECT_EQ(back, canonical.bytes) << r[0] << " channels, " << r[2] << " bits";
    }
}

using ExtendedForms = test::WholeRun;

TEST_F(ExtendedForms, RunExactlyLikeTheirPlainTwinsAndFloatIsNoPcm)
{
    struct Form {
        uint16_t channels, bits;
        Bytes ext;
    };
    const Form forms[] = {{2, 24, extension(24, 3, 1)}, {3, 16, extension(16, 7, 1)}, {1, 24, extension(20, 4, 1)},
                          {2, 8, extension(8, 3, 1)}, {2, 16, {0, 0}}};
    Params chain = engine.params;
    chain.fssim = 11025.0, chain.bitnr = 12;
    const auto run = [&](const Bytes& file) {
        input(file);
        engine.params = chain;
        EXPECT_EQ(engine.process_wav(), RunOutcome::done);
        return test::read_file(dir.file("out.wav"));
    };
    for (const Form& f : forms) {
        std::vector<std::vector<int32_t>> samples;
        for (int c = 0; c < f.channels; ++c)
            samples.push_back(test::ramp(500 + c, (f.bits == 8 ? 100 : 20000) / (c + 1)));
        const Bytes twin = f.ext.size() == 2 ? make_pcm_wav(f.channels, 48000, f.bits, samples, WavOptions().with_fmt_extension(f.ext))
                                             : extensible_wav(f.channels, f.bits, samples, f.ext);
        EXPECT_EQ(run(twin), run(make_pcm_wav(f.channels, 48000, f.bits, samples)))
            << f.channels << " channels of " << f.bits << " bits, fmt of " << 16 + f.ext.size() << " bytes";
    }
    for (const Bytes& floats : {extensible_wav(1, 32, {{0}}, extension(32, 4, 3)),
                                make_pcm_wav(1, 48000, 32, {{0}}, WavOptions().with_format_tag(3).with_fmt_extension({0, 0}))}) {
        input(floats);
        engine.params = chain;
        EXPECT_EQ(engine.process_wav(), RunOutcome::failed);
        EXPECT_EQ(messages.texts.back(), "wav-in: WAV must be PCM\n");
    }
}

} // namespace
} // namespace vesk
