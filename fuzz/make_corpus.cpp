// Writes the seed corpora of the fuzz targets: make-fuzz-corpus FOLDER
// fills FOLDER/wav_header, FOLDER/batch and FOLDER/process_wav.
//
// The seeds are small on purpose: each one shows the fuzzer a structure to
// vary (a chunk layout, a keyword, a stage of the chain), not a workload.
// Every file is described here, so the corpus can be read as well as run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/wav_builder.h"
#include "ui/batch.h"

namespace fs = std::filesystem;
using vesk::test::make_pcm_wav;
using vesk::test::WavOptions;

namespace {

using Bytes = std::vector<uint8_t>;

// A sine of `cycles` per sample as integer samples of the given amplitude.
std::vector<int32_t> tone(std::size_t frames, int32_t amplitude, double cycles)
{
    std::vector<int32_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = static_cast<int32_t>(std::lround(amplitude * std::sin(6.283185307179586 * cycles * i)));
    return v;
}

void put(const fs::path& folder, const std::string& name, const Bytes& bytes)
{
    fs::create_directories(folder);
    vesk::test::write_file((folder / name).string(), bytes);
}

void put_text(const fs::path& folder, const std::string& name, const std::string& text)
{
    put(folder, name, Bytes(text.begin(), text.end()));
}

Bytes mono16(std::size_t frames = 24, const WavOptions& options = {})
{
    return make_pcm_wav(1, 8000, 16, {tone(frames, 12000, 0.05)}, options);
}

// Files as recorders, editors and pipes write them: odd-sized chunks before
// the data with their pad byte (and one without), and data chunks that run
// past the end of the file.
std::vector<std::pair<std::string, Bytes>> recorded_files()
{
    const auto with = [](const WavOptions& options) { return mono16(10, options); };
    Bytes cut_in_frame = make_pcm_wav(2, 8000, 16, {tone(10, 9000, 0.05), tone(10, 3000, 0.1)},
                                      WavOptions().with_data_size(0x7FFFF000u));
    cut_in_frame.pop_back();
    return {
        {"bext-603", with(WavOptions().with_chunk_before_data("bext", Bytes(603, ' ')))},
        {"ixml-odd", with(WavOptions().with_chunk_before_data("iXML", {'<', 'B', 'W', 'F', 'X', 'M', 'L', '/', '>'}))},
        {"list-info-odd", with(WavOptions().with_chunk_before_data("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x'}))},
        {"junk", with(WavOptions().with_chunk_before_fmt("JUNK", Bytes(28)))},
        {"odd-without-pad", with(WavOptions().with_chunk_before_data("iXML", Bytes(5, 'x')).without_pad_bytes())},
        {"piped", with(WavOptions().with_data_size(0x7FFFF000u))},
        {"cut-in-frame", cut_in_frame},
    };
}

void wav_header_seeds(const fs::path& folder)
{
    put(folder, "mono16", mono16());
    put(folder, "stereo24", make_pcm_wav(2, 44100, 24, {tone(8, 3000000, 0.1), tone(8, -2000000, 0.2)}));
    put(folder, "mono8", make_pcm_wav(1, 11025, 8, {tone(12, 100, 0.1)}));
    put(folder, "list-before-fmt", mono16(4, WavOptions().with_chunk_before_fmt("LIST", {'I', 'N', 'F', 'O'})));
    put(folder, "list-before-data", mono16(4, WavOptions().with_chunk_before_data("LIST", {'a', 'b', 'c'})));
    put(folder, "fmt18", mono16(4, WavOptions().with_fmt_size(18)));
    put(folder, "float", mono16(4, WavOptions().with_format_tag(3)));
    put(folder, "extensible", mono16(4, WavOptions().with_format_tag(0xFFFE)));
    put(folder, "odd-data", make_pcm_wav(2, 8000, 16, {tone(3, 1000, 0.1), tone(3, 1000, 0.1)},
                                         WavOptions().with_data_size(11)));
    put(folder, "data-beyond-file", mono16(4, WavOptions().with_data_size(0xFFFFFFF0u)));
    {
        // The least RIFF size allowed, in a file that holds far more.
        Bytes b = mono16(4, WavOptions().with_chunk_before_data("junk"));
        b[4] = 4;
        b[5] = b[6] = b[7] = 0;
        put(folder, "riff-size-4", b);
    }
    {
        // A skipped chunk whose size reaches near 2^32.
        Bytes b = mono16(4, WavOptions().with_chunk_before_data("junk"));
        b[36 + 4] = 0xF8;
        b[36 + 5] = b[36 + 6] = b[36 + 7] = 0xFF;
        put(folder, "chunk-near-4g", b);
    }
    {
        // A data chunk declared 36 bytes short of 2^32: readable, but no
        // header of that size can be written (its RIFF size would not fit).
        Bytes b = mono16(4);
        b[40] = 0xDC;
        b[41] = b[42] = b[43] = 0xFF;
        put(folder, "data-near-4g", b);
    }
    put(folder, "zero-channels", make_pcm_wav(0, 8000, 16, {}));
    put(folder, "riff-only", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    {
        // An extensible fmt chunk whose sub-format has the standard GUID
        // tail but a first field beyond 16 bits: no format code.
        vesk::test::ByteWriter ext;
        ext.u16(22).u16(16).u32(4).u32(0x00010001u);
        for (const uint8_t b : {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
            ext.le(b, 1);
        put(folder, "extensible-code-beyond-16-bits",
            mono16(4, WavOptions().with_format_tag(0xFFFE).with_fmt_extension(ext.bytes)));
    }
    // What the fuzzer found of the same: code 0x00802600, 255 bits, a data
    // chunk far beyond the file.
    put(folder, "finding-code-beyond-16-bits",
        Bytes{0x52, 0x49, 0x46, 0x46, 0x04, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6d, 0x74, 0x20, 0x28, 0x00,
              0x00, 0x00, 0xfe, 0xff, 0x01, 0x00, 0x40, 0x1f, 0x00, 0x00, 0xc4, 0x00, 0x00, 0x62, 0xff, 0xff, 0xff, 0x00,
              0x16, 0x00, 0x2b, 0x00, 0x00, 0x74, 0x20, 0x10, 0x00, 0x26, 0x80, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
              0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71, 0x64, 0x61, 0x74, 0x61, 0x57, 0x41, 0x56, 0x39, 0x9b, 0x7a});
    for (const auto& [name, file] : recorded_files())
        put(folder, name, file);
}

void batch_seeds(const fs::path& folder)
{
    vesk::ParamRecord record;
    put_text(folder, "defaults", vesk::batch::write_batch(record));
    record.inpwavname = "a folder/with blanks.wav";
    record.ensrc = 1;
    record.fssrc = 44100;
    record.fssim = 11025;
    record.bitnr = 10;
    record.aperture = 0.5;
    record.varispeedt = 0.5;
    record.varispeedsh = 1;
    record.jitteramp = 0.125;
    put_text(folder, "record", vesk::batch::write_batch(record));
    put_text(folder, "demo", "inpwavname   in.wav\r\noutwavname   out.wav\r\nfssim   11025\r\naperture   1\r\n"
                             "bitnr   10\r\nprocess\r\n");
    put_text(folder, "semitones", "fssim ST fchiin ST-12 varispeedt ST7 varispeedf STx fcloout ST0x1f\nstop\nfssim 1\n");
    put_text(folder, "numbers", "fssim 0x1.8p4 aperture 1e-3 fchiin inf fcloin nan(abc) jitteramp -0.0 "
                                "fssrc -5 bitnr 99999999999 varispeedt 1e999 varispeedf 1e-999 ensrc TRUE\n");
    put_text(folder, "paths", "inpwavname\t  x\noutwavname " + std::string(300, 'p') + "\nfssim 3\n");
    put_text(folder, "process-stop", "process fssim 8000 process stop process\n");
}

// The parameter tail of the process_wav target: flags, fs numerator and
// denominator, fs-sim, bitnr, aperture, four filter corners, two vari-speed
// exponents, jitter, stop line, seed (two bytes).
Bytes tail(uint8_t flags, uint8_t num = 0, uint8_t den = 0, uint8_t fssim = 63, uint8_t bitnr = 23,
           uint8_t aperture = 0, std::vector<uint8_t> corners = {0, 255, 0, 255}, uint8_t vt = 128,
           uint8_t vf = 128, uint8_t jitter = 0, uint8_t stop = 0)
{
    return Bytes{flags, num, den, fssim, bitnr, aperture, corners[0], corners[1], corners[2], corners[3],
                 vt, vf, jitter, stop, 7, 0};
}

Bytes join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void process_wav_seeds(const fs::path& folder)
{
    const Bytes m16 = mono16(40);
    const Bytes s8 = make_pcm_wav(2, 8000, 8, {tone(30, 100, 0.07), tone(30, -60, 0.03)});
    const Bytes t24 = make_pcm_wav(3, 16000, 24, {tone(20, 4000000, 0.1), tone(20, 1000, 0.2), tone(20, 0, 0.0)});
    put(folder, "neutral-mono16", join(m16, tail(0)));
    put(folder, "neutral-stereo8", join(s8, tail(0)));
    put(folder, "neutral-3ch24", join(t24, tail(0)));
    put(folder, "rate-down", join(m16, tail(1, 0, 5)));
    put(folder, "rate-up", join(s8, tail(1, 2, 0)));
    put(folder, "filters", join(m16, tail(4 | 8, 0, 0, 63, 23, 0, {20, 180, 40, 120})));
    put(folder, "quantize", join(t24, tail(16, 0, 0, 63, 3)));
    put(folder, "sampling", join(m16, tail(0, 0, 0, 20)));
    put(folder, "aperture", join(s8, tail(32, 0, 0, 30, 23, 200)));
    put(folder, "varispeed", join(m16, tail(2, 0, 0, 40, 23, 0, {0, 255, 0, 255}, 100, 170)));
    put(folder, "jitter", join(m16, tail(64, 0, 0, 30, 23, 0, {0, 255, 0, 255}, 128, 128, 200)));
    put(folder, "everything", join(s8, tail(0x7F, 3, 2, 25, 7, 128, {10, 200, 5, 150}, 110, 140, 100)));
    put(folder, "stop-at-summary", join(m16, tail(0, 0, 0, 63, 23, 0, {0, 255, 0, 255}, 128, 128, 0, 3)));
    put(folder, "stop-in-chain", join(s8, tail(0x7F, 3, 2, 25, 7, 128, {10, 200, 5, 150}, 110, 140, 100, 22)));
    put(folder, "no-samples", join(make_pcm_wav(1, 8000, 16, {{}}), tail(0)));
    put(folder, "no-samples-rate-converted", join(make_pcm_wav(2, 8000, 8, {{}, {}}), tail(1, 10, 1)));
    put(folder, "short-data", join(mono16(10, WavOptions().with_data_size(400)), tail(0)));
    put(folder, "odd-chunk", join(mono16(10, WavOptions().with_chunk_before_data("LIST", {1, 2, 3})), tail(0)));
    for (const auto& [name, file] : recorded_files())
        put(folder, name, join(file, tail(16, 0, 0, 63, 11)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make-fuzz-corpus FOLDER\n", stderr);
        return 2;
    }
    const fs::path root = argv[1];
    wav_header_seeds(root / "wav_header");
    batch_seeds(root / "batch");
    process_wav_seeds(root / "process_wav");
    return 0;
}
