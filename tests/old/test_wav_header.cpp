// Tests of the RIFF/WAVE header reader and writer, and of the WAV builder that
// the other tests use to make their input files.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/wav_builder.h"
#include "wav/wav_header.h"

#if __has_include(<unistd.h>)
#include <unistd.h>
#define VESK_HAVE_PIPE 1
#endif

namespace {

using vesk::test::FilePtr;
using vesk::test::make_pcm_wav;
using vesk::test::open_memory_file;
using vesk::test::WavOptions;
using vesk::wav::read_wav_header;
using vesk::wav::WavFormat;
using Bytes = std::vector<uint8_t>;

// Values no valid header produces, so "unchanged" is observable.
constexpr WavFormat sentinel_format{11, 22, 33, 44};
constexpr int untouched_tag = -12345;

bool same_format(const WavFormat& a, const WavFormat& b)
{
    return a.fsinp == b.fsinp && a.chnr == b.chnr && a.bitnrinp == b.bitnrinp &&
           a.inpchdatasize == b.inpchdatasize;
}

struct ReadOutcome {
    int rc = 0;
    const char* reason = nullptr;
    int fmttag = untouched_tag;
    WavFormat format = sentinel_format;
    long position = -1;     // file position after the call
    int next_byte = EOF;    // the byte read right after the call
};

ReadOutcome read_header_of(const Bytes& bytes)
{
    FilePtr f(open_memory_file(bytes));
    EXPECT_NE(f, nullptr);
    ReadOutcome out;
    if (!f)
        return out;
    out.rc = read_wav_header(f.get(), &out.reason, &out.fmttag, out.format);
    out.position = std::ftell(f.get());
    out.next_byte = std::fgetc(f.get());
    return out;
}

Bytes payload(std::size_t n, uint8_t fill = 0xA5)
{
    return Bytes(n, fill);
}

// Inserts a bare chunk header (no contents) at `offset`, announcing `size`
// bytes of contents that the file does not hold.
Bytes with_chunk_header_at(Bytes bytes, std::size_t offset, const char* id, uint32_t size)
{
    vesk::test::ByteWriter hdr;
    hdr.id(id);
    hdr.u32(size);
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(offset), hdr.bytes().begin(),
                 hdr.bytes().end());
    return bytes;
}

Bytes truncated(Bytes bytes, std::size_t n)
{
    bytes.resize(n);
    return bytes;
}

Bytes patched(Bytes bytes, std::size_t offset, const char* text)
{
    std::memcpy(bytes.data() + offset, text, std::strlen(text));
    return bytes;
}

Bytes patched_u32(Bytes bytes, std::size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    return bytes;
}

// A small valid file to derive broken ones from: mono, 16 bits, 2 samples,
// canonical layout (fmt contents at 20..35, data header at 36, samples at 44).
Bytes canonical_mono16()
{
    return make_pcm_wav(1, 44100, 16, {{1000, -1000}});
}

// ---------------------------------------------------------------------------
// Files the reader accepts.

struct AcceptCase {
    const char* name;
    Bytes file;
    WavFormat expected;
    int fmttag;
    long data_offset;
};

std::ostream& operator<<(std::ostream& os, const AcceptCase& c) { return os << c.name; }

std::vector<AcceptCase> accept_cases()
{
    return {
        {"canonical_mono16", canonical_mono16(), {44100, 1, 16, 4}, 1, 44},
        {"canonical_stereo24", make_pcm_wav(2, 48000, 24, {{1, 2, 3}, {-1, -2, -3}}),
         {48000, 2, 24, 9}, 1, 44},
        {"mono8", make_pcm_wav(1, 8000, 8, {{-128, 0, 127}}), {8000, 1, 8, 3}, 1, 44},
        {"list_before_fmt", make_pcm_wav(1, 44100, 16, {{7}}, WavOptions().with_chunk_before_fmt("LIST", payload(10))),
         {44100, 1, 16, 2}, 1, 44 + 18},
        {"list_between_fmt_and_data",
         make_pcm_wav(1, 44100, 16, {{7}}, WavOptions().with_chunk_before_data("LIST", payload(10))),
         {44100, 1, 16, 2}, 1, 44 + 18},
        // Odd sizes are skipped without a pad byte, so chunks follow directly.
        {"odd_and_empty_chunks_everywhere",
         make_pcm_wav(2, 22050, 8, {{1}, {2}},
                      WavOptions()
                          .with_chunk_before_fmt("junk", payload(3))
                          .with_chunk_before_fmt("fact")
                          .with_chunk_before_data("fact")
                          .with_chunk_before_data("junk", payload(3))
                          .with_chunk_before_data("LIST", payload(10))),
         {22050, 2, 8, 1}, 1, 44 + 11 + 8 + 8 + 11 + 18},
        // A data chunk before fmt is passed over; the one after fmt counts.
        {"data_before_fmt_is_skipped",
         make_pcm_wav(1, 44100, 16, {{5}}, WavOptions().with_chunk_before_fmt("data", payload(6))),
         {44100, 1, 16, 2}, 1, 44 + 14},
        {"stereo16_six_data_bytes", make_pcm_wav(2, 44100, 16, {{1, 2, 3}}), {44100, 2, 16, 3},
         1, 44},
        {"empty_data_chunk", make_pcm_wav(2, 44100, 16, {}), {44100, 2, 16, 0}, 1, 44},
        // The tag is reported, not judged.
        {"float_tag_3", make_pcm_wav(1, 96000, 32, {{0x3F800000}}, WavOptions().with_format_tag(3)),
         {96000, 1, 32, 4}, 3, 44},
        // Odd bit counts and foreign byte rates are not the reader's concern.
        {"bits_12", make_pcm_wav(1, 32000, 12, {{100}}), {32000, 1, 12, 2}, 1, 44},
        // The RIFF size is not checked against the file length.
        {"riff_size_minimum", make_pcm_wav(1, 44100, 16, {{1}}, WavOptions().with_riff_size(4)),
         {44100, 1, 16, 2}, 1, 44},
        {"riff_size_huge", make_pcm_wav(1, 44100, 16, {{1}}, WavOptions().with_riff_size(0xFFFFFFFFu)),
         {44100, 1, 16, 2}, 1, 44},
        {"max_channels_and_rate", make_pcm_wav(65535, 0xFFFFFFFFu, 16, {}),
         {0xFFFFFFFFu, 65535, 16, 0}, 1, 44},
    };
}

class ReadAccepts : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(ReadAccepts, PublishesFormatAndStopsAtFirstSampleByte)
{
    const AcceptCase& c = GetParam();
    const ReadOutcome r = read_header_of(c.file);
    ASSERT_EQ(r.rc, 0) << (r.reason ? r.reason : "(no reason)");
    EXPECT_EQ(r.format.fsinp, c.expected.fsinp);
    EXPECT_EQ(r.format.chnr, c.expected.chnr);
    EXPECT_EQ(r.format.bitnrinp, c.expected.bitnrinp);
    EXPECT_EQ(r.format.inpchdatasize, c.expected.inpchdatasize);
    EXPECT_EQ(r.fmttag, c.fmttag);
    EXPECT_EQ(r.position, c.data_offset);
    // The samples are the last thing in every accepted file, so what follows
    // the header must be exactly data-size bytes up to the end.
    EXPECT_EQ(static_cast<long>(c.file.size()) - c.data_offset,
              static_cast<long>(c.expected.inpchdatasize * c.expected.chnr));
    const int first = c.data_offset < static_cast<long>(c.file.size())
                          ? c.file[static_cast<std::size_t>(c.data_offset)]
                          : EOF;
    EXPECT_EQ(r.next_byte, first);
}

INSTANTIATE_TEST_SUITE_P(WavHeader, ReadAccepts, ::testing::ValuesIn(accept_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Files the reader refuses, one per failure reason and then some.

struct RejectCase {
    const char* name;
    Bytes file;
    const char* reason;
    int fmttag; // untouched_tag when the fmt contents are never reached
};

std::ostream& operator<<(std::ostream& os, const RejectCase& c) { return os << c.name; }

std::vector<RejectCase> reject_cases()
{
    const Bytes good = canonical_mono16();
    auto with_fmt_size = [](uint32_t size) {
        return make_pcm_wav(1, 44100, 16, {{1}}, WavOptions().with_fmt_size(size));
    };
    return {
        {"empty_file", {}, "read WAVE RIFF-header", untouched_tag},
        {"eleven_bytes", truncated(good, 11), "read WAVE RIFF-header", untouched_tag},
        {"rifx", patched(good, 0, "RIFX"), "no RIFF", untouched_tag},
        {"lower_case_riff", patched(good, 0, "riff"), "no RIFF", untouched_tag},
        {"riff_size_3", patched_u32(good, 4, 3), "invalid fsize", untouched_tag},
        {"riff_size_0", patched_u32(good, 4, 0), "invalid fsize", untouched_tag},
        {"not_wave", patched(good, 8, "AVI "), "no WAVE", untouched_tag},
        {"only_riff_header", truncated(good, 12), "read WAVE FMT-header", untouched_tag},
        {"partial_chunk_header", truncated(good, 16), "read WAVE FMT-header", untouched_tag},
        // Identifiers are case-sensitive: "FMT " is just another chunk.
        {"upper_case_fmt", patched(good, 12, "FMT "), "read WAVE FMT-header", untouched_tag},
        {"fmt_size_18", with_fmt_size(18), "invalid FMT csize", untouched_tag},
        {"fmt_size_14", with_fmt_size(14), "invalid FMT csize", untouched_tag},
        {"fmt_size_0", with_fmt_size(0), "invalid FMT csize", untouched_tag},
        {"fmt_size_max", with_fmt_size(0xFFFFFFFFu), "invalid FMT csize", untouched_tag},
        {"fmt_contents_cut", truncated(good, 30), "read WAVE FMT-header", untouched_tag},
        // From here on the tag has been read and is handed out despite failing.
        {"zero_channels", make_pcm_wav(0, 44100, 16, {}, WavOptions().with_format_tag(3)), "invalid chnr", 3},
        {"zero_bits", make_pcm_wav(1, 44100, 0, {}), "invalid bitnr", 1},
        {"ends_after_fmt", truncated(good, 36), "read WAVE DATA-header", 1},
        {"data_header_cut", truncated(good, 40), "read WAVE DATA-header", 1},
        {"data_only_before_fmt",
         truncated(make_pcm_wav(1, 44100, 16, {}, WavOptions().with_chunk_before_fmt("data", payload(4))),
                   12 + 12 + 24),
         "read WAVE DATA-header", 1},
        {"no_data_after_other_chunks",
         truncated(make_pcm_wav(1, 44100, 16, {}, WavOptions().with_chunk_before_data("LIST", payload(4))),
                   36 + 12),
         "read WAVE DATA-header", 1},
        {"stereo_odd_data_size", make_pcm_wav(2, 44100, 8, {{1, 2, 3, 4, 5}}), "invalid totsize",
         1},
        {"stereo_odd_data_size_field", make_pcm_wav(2, 44100, 16, {{1, 2}}, WavOptions().with_data_size(3)),
         "invalid totsize", 1},
        {"three_channels_eight_bytes", make_pcm_wav(3, 44100, 8, {{1, 2, 3, 4, 5, 6, 7, 8}}),
         "invalid totsize", 1},
        // Chunk sizes near 2^32 move the walk past the end of the file; the
        // next header read fails instead of the walk wrapping around.
        {"huge_chunk_before_fmt", with_chunk_header_at(good, 12, "LIST", 0xFFFFFFFFu),
         "read WAVE FMT-header", untouched_tag},
        {"huge_chunk_before_fmt_2g", with_chunk_header_at(good, 12, "LIST", 0x80000000u),
         "read WAVE FMT-header", untouched_tag},
        {"huge_chunk_before_data", with_chunk_header_at(good, 36, "LIST", 0xFFFFFFF8u),
         "read WAVE DATA-header", 1},
        {"huge_chunk_before_data_max", with_chunk_header_at(good, 36, "LIST", 0xFFFFFFFFu),
         "read WAVE DATA-header", 1},
    };
}

class ReadRejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(ReadRejects, FailsWithReasonAndKeepsFormat)
{
    const RejectCase& c = GetParam();
    const ReadOutcome r = read_header_of(c.file);
    EXPECT_EQ(r.rc, -1);
    ASSERT_NE(r.reason, nullptr);
    EXPECT_STREQ(r.reason, c.reason);
    EXPECT_EQ(r.fmttag, c.fmttag);
    EXPECT_TRUE(same_format(r.format, sentinel_format));
}

INSTANTIATE_TEST_SUITE_P(WavHeader, ReadRejects, ::testing::ValuesIn(reject_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

TEST(WavHeaderRead, OptionalOutputsMayBeOmitted)
{
    for (const Bytes& file : {canonical_mono16(), truncated(canonical_mono16(), 36)}) {
        FilePtr f(open_memory_file(file));
        ASSERT_NE(f, nullptr);
        WavFormat format = sentinel_format;
        const int rc = read_wav_header(f.get(), nullptr, nullptr, format);
        EXPECT_EQ(rc, file.size() > 36 ? 0 : -1);
    }
}

TEST(WavHeaderRead, FileStaysOpenForTheSamples)
{
    FilePtr f(open_memory_file(make_pcm_wav(1, 44100, 16, {{0x1234, -2}})));
    ASSERT_NE(f, nullptr);
    WavFormat format;
    ASSERT_EQ(read_wav_header(f.get(), nullptr, nullptr, format), 0);
    uint8_t samples[4] = {};
    ASSERT_EQ(std::fread(samples, 1, sizeof samples, f.get()), sizeof samples);
    EXPECT_EQ(samples[0], 0x34);
    EXPECT_EQ(samples[1], 0x12);
    EXPECT_EQ(samples[2], 0xFE);
    EXPECT_EQ(samples[3], 0xFF);
}

#ifdef VESK_HAVE_PIPE
// A stream that cannot seek: the failed skip is noted, and the walk carries on
// reading where the stream is.  With empty chunks that is exactly right.
TEST(WavHeaderRead, FailedSkipDoesNotStopTheWalk)
{
    const Bytes file =
        make_pcm_wav(1, 44100, 16, {{1, 2}}, WavOptions().with_chunk_before_fmt("fact").with_chunk_before_data("fact"));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fds[1]);
    FilePtr f(fdopen(fds[0], "rb"));
    ASSERT_NE(f, nullptr);

    const char* reason = nullptr;
    WavFormat format;
    ASSERT_EQ(read_wav_header(f.get(), &reason, nullptr, format), 0);
    EXPECT_EQ(format.inpchdatasize, 4u);
    EXPECT_STREQ(reason, "lseek WAVE DATA-header");
}
#endif

// ---------------------------------------------------------------------------
// Writer.

Bytes written_header(uint32_t chnr, uint32_t fs, uint32_t bits, uint32_t datasize)
{
    FilePtr f(std::tmpfile());
    EXPECT_NE(f, nullptr);
    if (!f)
        return {};
    EXPECT_EQ(vesk::wav::write_wav_header(f.get(), chnr, fs, bits, datasize), 0);
    std::fflush(f.get());
    std::rewind(f.get());
    Bytes bytes(64);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f.get()));
    return bytes;
}

TEST(WavHeaderWrite, StereoFortyEightKilohertzTwentyFourBits)
{
    // 1000 frames of 6 bytes: data 6000, RIFF 6036, byte rate 288000, align 6.
    const Bytes expected = {
        'R', 'I', 'F', 'F', 0x94, 0x17, 0x00, 0x00, 'W', 'A', 'V', 'E',
        'f', 'm', 't', ' ', 0x10, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x02, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0x65, 0x04, 0x00,
        0x06, 0x00, 0x18, 0x00,
        'd', 'a', 't', 'a', 0x70, 0x17, 0x00, 0x00,
    };
    EXPECT_EQ(written_header(2, 48000, 24, 6 * 1000), expected);
    const auto made = vesk::wav::make_wav_header(2, 48000, 24, 6 * 1000);
    EXPECT_EQ(Bytes(made.begin(), made.end()), expected);
}

struct LayoutCase {
    uint32_t chnr, fs, bits, datasize;
    uint32_t riff_size, byte_rate;
    uint16_t channel_field, block_align;
};

TEST(WavHeaderWrite, DerivedFields)
{
    const LayoutCase cases[] = {
        {2, 48000, 24, 6, 42, 288000, 2, 6},
        {1, 44100, 24, 9, 45, 132300, 1, 3},        // odd data size, no pad
        {6, 96000, 24, 0, 36, 1728000, 6, 18},
        {2, 44100, 16, 40, 76, 176400, 2, 4},
        {0x10002, 8000, 24, 0, 36, 1572912000, 2, 6}, // only the low 16 bits fit
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.chnr << " ch, " << c.fs << " Hz, " << c.bits
                                        << " bits, " << c.datasize << " bytes");
        const Bytes h = written_header(c.chnr, c.fs, c.bits, c.datasize);
        ASSERT_EQ(h.size(), 44u);
        EXPECT_EQ(vesk::test::get_u32(h, 4), c.riff_size);
        EXPECT_EQ(vesk::test::get_u16(h, 22), c.channel_field);
        EXPECT_EQ(vesk::test::get_u32(h, 24), c.fs);
        EXPECT_EQ(vesk::test::get_u32(h, 28), c.byte_rate);
        EXPECT_EQ(vesk::test::get_u16(h, 32), c.block_align);
        EXPECT_EQ(vesk::test::get_u16(h, 34), c.bits);
        EXPECT_EQ(vesk::test::get_u32(h, 40), c.datasize);
    }
}

// What the writer produces must be what the reader and the output checker of
// the end-to-end tests take, down to a mono file of an odd number of samples
// that ends right after its last byte.
TEST(WavHeaderWrite, OutputRoundTrips)
{
    const std::vector<int32_t> samples = {8388607, -8388608, -1};
    FilePtr f(std::tmpfile());
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(vesk::wav::write_wav_header(f.get(), 1, 44100, 24, 9), 0);
    vesk::test::ByteWriter data;
    for (int32_t s : samples)
        data.int_le(s, 3);
    ASSERT_EQ(std::fwrite(data.bytes().data(), 1, data.size(), f.get()), data.size());
    std::fflush(f.get());
    std::rewind(f.get());
    Bytes all(128);
    all.resize(std::fread(all.data(), 1, all.size(), f.get()));
    EXPECT_EQ(all.size(), 44u + 9u);

    vesk::test::Pcm24File parsed;
    ASSERT_TRUE(vesk::test::parse_pcm24_output(all, parsed));
    EXPECT_EQ(parsed.channels, 1u);
    EXPECT_EQ(parsed.rate, 44100u);
    ASSERT_EQ(parsed.samples.size(), 1u);
    EXPECT_EQ(parsed.samples[0], samples);

    std::rewind(f.get());
    WavFormat format;
    int tag = 0;
    ASSERT_EQ(read_wav_header(f.get(), nullptr, &tag, format), 0);
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(format.inpchdatasize, 9u);
    EXPECT_EQ(std::ftell(f.get()), 44);
}

TEST(WavHeaderWrite, ShortWriteFails)
{
    const std::string path = vesk::test::unique_temp_path("vesk-readonly");
    const Bytes before = {1, 2, 3};
    vesk::test::write_file(path, before);
    {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(vesk::wav::write_wav_header(f.get(), 2, 48000, 24, 6), -1);
    }
    EXPECT_EQ(vesk::test::read_file(path), before);
    std::filesystem::remove(path);
}

// ---------------------------------------------------------------------------
// The builder itself: other tests rely on its encodings.

TEST(WavBuilder, EncodesSamplesPerWidth)
{
    const Bytes b8 = make_pcm_wav(1, 8000, 8, {{-128, -1, 0, 127}});
    EXPECT_EQ(Bytes(b8.begin() + 44, b8.end()), (Bytes{0x00, 0x7F, 0x80, 0xFF}));

    const Bytes b16 = make_pcm_wav(2, 8000, 16, {{-32768, 1}, {32767, -2}});
    EXPECT_EQ(Bytes(b16.begin() + 44, b16.end()),
              (Bytes{0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00, 0xFE, 0xFF}));

    const Bytes b24 = make_pcm_wav(1, 8000, 24, {{-8388608, 0x123456}});
    EXPECT_EQ(Bytes(b24.begin() + 44, b24.end()), (Bytes{0x00, 0x00, 0x80, 0x56, 0x34, 0x12}));
    EXPECT_EQ(vesk::test::get_u32(b24, 4), b24.size() - 8);
    EXPECT_EQ(vesk::test::get_u32(b24, 28), 8000u * 3u);
    EXPECT_EQ(vesk::test::get_u16(b24, 32), 3u);
}

TEST(WavBuilder, Pcm24ParserRefusesNonCanonicalFiles)
{
    const Bytes good = make_pcm_wav(2, 48000, 24, {{1, 2}, {3, 4}});
    vesk::test::Pcm24File out;
    ASSERT_TRUE(vesk::test::parse_pcm24_output(good, out));
    EXPECT_EQ(out.samples, (std::vector<std::vector<int32_t>>{{1, 2}, {3, 4}}));

    const Bytes bad[] = {
        truncated(good, 43),
        truncated(good, good.size() - 1),                    // data shorter than its size
        patched_u32(good, 4, 0),                             // RIFF size
        make_pcm_wav(2, 48000, 16, {{1, 2}, {3, 4}}),        // 16 bits
        make_pcm_wav(2, 48000, 24, {{1}, {3}}, WavOptions().with_format_tag(3)),
        make_pcm_wav(2, 48000, 24, {{1}, {3}}, WavOptions().with_fmt_size(18)),
        make_pcm_wav(2, 48000, 24, {{1}, {3}}, WavOptions().with_chunk_before_data("LIST")),
        patched_u32(good, 28, 0),                            // byte rate
    };
    for (const Bytes& b : bad)
        EXPECT_FALSE(vesk::test::parse_pcm24_output(b, out));
}

} // namespace
