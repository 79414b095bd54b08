// Hostile WAV inputs through vesk-batch: the damaged and unusual files that
// WAV readers meet in the wild (zero or odd channel counts and bit depths,
// chunk sizes near 2^32, data sizes larger than the file, chunks out of
// order, truncated files, extended formats).  Each one either runs to a
// complete output or ends with its exact message and status 1, and then
// leaves nothing behind: no output file, no temporary file, and a file that
// was already at the output path is untouched.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/batch_runs.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "wav/wav_header.h"

namespace vesk {
namespace {

using test::make_pcm_wav;
using test::ProcessResult;
using test::tone;
using test::vesk_batch;
using test::WavOptions;
using Bytes = std::vector<uint8_t>;

const std::string invalid_format = "vesk: wav-in: invalid or unsupported WAV-format\n";

Bytes mono16(std::size_t frames = 100, const WavOptions& options = {})
{
    return make_pcm_wav(1, 48000, 16, {tone(frames, 10000, 0.01)}, options);
}

// The 16 bytes of a fmt chunk's contents.
Bytes fmt_contents(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    test::ByteWriter w;
    w.u16(tag);
    w.u16(channels);
    w.u32(rate);
    w.u32(rate * channels * ((bits + 7u) / 8u));
    w.u16(static_cast<uint16_t>(channels * ((bits + 7u) / 8u)));
    w.u16(bits);
    return w.take();
}

// A file assembled from chunks as given: "RIFF", size, "WAVE", then each
// chunk's id, size field and contents, with no pad bytes unless a chunk's
// contents carry one.
struct Chunk {
    std::string id;
    uint32_t size;
    Bytes contents;
};

Bytes riff(const std::vector<Chunk>& chunks)
{
    test::ByteWriter w;
    w.id("RIFF");
    w.u32(0);
    w.id("WAVE");
    for (const Chunk& c : chunks) {
        w.id(c.id);
        w.u32(c.size);
        w.append(c.contents);
    }
    w.patch_u32(4, static_cast<uint32_t>(w.size() - 8));
    return w.take();
}

Chunk fmt(uint16_t tag = 1, uint16_t channels = 1, uint32_t rate = 48000, uint16_t bits = 16)
{
    return {"fmt ", 16, fmt_contents(tag, channels, rate, bits)};
}

Chunk data(const Bytes& samples)
{
    return {"data", static_cast<uint32_t>(samples.size()), samples};
}

Bytes samples16(std::size_t count)
{
    test::ByteWriter w;
    for (const int32_t v : tone(count, 10000, 0.01))
        w.int_le(v, 2);
    return w.take();
}

Bytes prefix(const Bytes& bytes, std::size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

struct Row {
    const char* name;
    Bytes file;
    // Empty: the run succeeds and writes `channels` x `frames` samples.
    std::string err;
    uint32_t channels = 0;
    uint32_t frames = 0;
};

std::vector<Row> hostile_rows()
{
    const std::string bad_bitnr = "vesk: wav-in: invalid bitnr\n";
    const std::string not_pcm = "vesk: wav-in: WAV must be PCM\n";
    Bytes chunk_near_4g_before_data = mono16(100, WavOptions().with_chunk_before_data("junk"));
    // The junk chunk's size field follows "RIFF" size "WAVE" (12), the fmt
    // chunk (24) and the junk id (4).
    for (std::size_t i = 0; i < 4; ++i)
        chunk_near_4g_before_data[40 + i] = i == 0 ? 0xF8 : 0xFF;

    const Bytes full = mono16(100);
    std::vector<Row> rows = {
        {"zero channels", make_pcm_wav(0, 48000, 16, {}), invalid_format},
        {"zero bits per sample", make_pcm_wav(1, 48000, 0, {tone(100, 1, 0.1)}), invalid_format},
        {"4 bits per sample", make_pcm_wav(1, 48000, 4, {tone(100, 5, 0.1)}), bad_bitnr},
        {"12 bits per sample", make_pcm_wav(1, 48000, 12, {tone(100, 1000, 0.1)}), bad_bitnr},
        {"32 bits per sample", make_pcm_wav(1, 48000, 32, {tone(100, 100000, 0.1)}), bad_bitnr},
        // 3 bytes a sample: 21845 channels are the most whose frame fits the
        // 16-bit block align of a 24-bit output.  Beyond, no valid header
        // can describe the output, and the run is refused before it starts.
        {"21845 channels", make_pcm_wav(21845, 8000, 8, std::vector<std::vector<int32_t>>(21845, {3, -5})), "", 21845, 2},
        {"65535 channels", make_pcm_wav(65535, 8000, 8, std::vector<std::vector<int32_t>>(65535, {3, -5})),
         "vesk: wav-out: output too large for WAV\n"},
        // 65535 x 65536 bytes: 32768 samples per channel, whose 24-bit
        // output would need 6 GiB of data.
        {"65535 channels declaring 4 GiB", make_pcm_wav(65535, 8000, 16, {}, WavOptions().with_data_size(0xFFFF0000u)),
         "vesk: wav-out: output too large for WAV\n"},
        {"fmt size 0", mono16(100, WavOptions().with_fmt_size(0)), invalid_format},
        {"fmt size 14", mono16(100, WavOptions().with_fmt_size(14)), invalid_format},
        {"fmt size 18", mono16(100, WavOptions().with_fmt_size(18)), invalid_format},
        {"fmt size 40", mono16(100, WavOptions().with_fmt_size(40)), invalid_format},
        {"fmt size 0xFFFFFFFF", mono16(100, WavOptions().with_fmt_size(0xFFFFFFFFu)), invalid_format},
        {"chunk of 2^32 - 8 bytes before the data", chunk_near_4g_before_data, invalid_format},
        {"chunk of 2^32 - 1 bytes before the fmt", riff({{"junk", 0xFFFFFFFFu, {}}, fmt(), data(samples16(10))}),
         invalid_format},
        {"data declared larger than the file", mono16(100, WavOptions().with_data_size(4000)),
         "vesk: cannot read samples\n"},
        {"data declared 4 MiB in a small file", mono16(100, WavOptions().with_data_size(4u << 20)),
         "vesk: cannot read samples\n"},
        {"data declared 4 GiB", mono16(100, WavOptions().with_data_size(0xFFFFFFFEu)),
         "vesk: sampnump too large for u_int\n"},
        {"data before fmt", riff({data(samples16(10)), fmt()}), invalid_format},
        {"no data chunk", riff({fmt()}), invalid_format},
        {"no data chunk, other chunks", riff({fmt(), {"LIST", 4, {'I', 'N', 'F', 'O'}}}), invalid_format},
        // The first fmt chunk describes the file; a second one is skipped
        // like any other chunk before the data.
        {"two fmt chunks", riff({fmt(1, 1, 48000, 16), fmt(1, 2, 8000, 8), data(samples16(10))}), "", 1, 10},
        {"two fmt chunks, the first refused", riff({fmt(1, 0, 48000, 16), fmt(), data(samples16(10))}), invalid_format},
        {"empty file", {}, invalid_format},
        {"11 bytes", prefix(full, 11), invalid_format},
        {"12 bytes", prefix(full, 12), invalid_format},
        {"cut inside the fmt chunk", prefix(full, 30), invalid_format},
        {"cut inside the data chunk header", prefix(full, 40), invalid_format},
        {"cut inside the samples", prefix(full, 100), "vesk: cannot read samples\n"},
        {"format tag 3", mono16(100, WavOptions().with_format_tag(3)), not_pcm},
        {"format tag 0xFFFE", mono16(100, WavOptions().with_format_tag(0xFFFE)), not_pcm},
        {"format tag 0xFFFE with its 40-byte fmt", mono16(100, WavOptions().with_format_tag(0xFFFE).with_fmt_size(40)),
         invalid_format},
        {"rate 0", make_pcm_wav(1, 0, 16, {tone(10, 1, 0.1)}), "vesk: wav-in: invalid sample rate\n"},
        {"empty data chunk", make_pcm_wav(2, 8000, 8, {{}, {}}), "vesk: sampnump too small\n"},
        // Odd chunks are skipped by exactly their size: a writer that pads
        // them as RIFF asks is read one byte off and the walk finds no data.
        {"odd-sized chunk", riff({fmt(), {"LIST", 3, {'a', 'b', 'c'}}, data(samples16(10))}), "", 1, 10},
        {"odd-sized chunk with its pad byte", riff({fmt(), {"LIST", 3, {'a', 'b', 'c', 0}}, data(samples16(10))}),
         invalid_format},
        {"odd-sized chunk before fmt", riff({{"JUNK", 1, {'x'}}, fmt(), data(samples16(10))}), "", 1, 10},
        // Stereo 16 bit: 6 bytes are 3 per channel, one whole sample each.
        {"data of one and a half frames", make_pcm_wav(2, 48000, 16, {{1000, 3}, {-1000, 0}}, WavOptions().with_data_size(6)),
         "", 2, 1},
        {"data of two and a half samples", mono16(3, WavOptions().with_data_size(5)), "", 1, 2},
        {"data size not a multiple of the channels", make_pcm_wav(2, 48000, 16, {{1, 2}, {3, 4}}, WavOptions().with_data_size(7)),
         invalid_format},
    };
    return rows;
}

class HostileWav : public ::testing::Test {
public:
    test::TempDir dir;

    ProcessResult run()
    {
        return vesk_batch({"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e",
                           "process"});
    }
};

TEST_F(HostileWav, EachGivesItsMessageOrACompleteOutputAndLosesNothing)
{
    const Bytes previous = {'k', 'e', 'e', 'p'};
    for (const Row& row : hostile_rows()) {
        SCOPED_TRACE(row.name);
        test::write_file(dir.file("in.wav"), row.file);
        if (row.err.empty()) {
            const ProcessResult first = run();
            EXPECT_EQ(first.status, 0);
            EXPECT_EQ(first.err, "");
            EXPECT_TRUE(first.out.ends_with("writing output ...\n--- DONE ---\n"));
            EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
            test::Pcm24File output;
            EXPECT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
            EXPECT_EQ(output.channels, row.channels);
            ASSERT_EQ(output.samples.size(), row.channels);
            EXPECT_EQ(output.samples[0].size(), row.frames);
        } else {
            // Once with nothing at the output path, once with a file there.
            std::filesystem::remove(dir.file("out.wav"));
            const ProcessResult first = run();
            EXPECT_EQ(first.status, 1);
            EXPECT_EQ(first.err, row.err);
            EXPECT_EQ(first.out.find("writing output"), std::string::npos);
            EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});

            test::write_file(dir.file("out.wav"), previous);
            const ProcessResult second = run();
            EXPECT_EQ(second.status, 1);
            EXPECT_EQ(second.err, row.err);
            EXPECT_EQ(test::read_file(dir.file("out.wav")), previous);
            EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
        }
        // The input is read, never written.
        EXPECT_EQ(test::read_file(dir.file("in.wav")), row.file);
        std::filesystem::remove(dir.file("out.wav"));
    }
}

} // namespace
} // namespace vesk
