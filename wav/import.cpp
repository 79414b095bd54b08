#include "wav/import.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/output_file.h"
#include "wav/wav_header.h"

namespace fs = std::filesystem;

namespace vesk::wav {

namespace {

// The RIFF size field counts the data, the 36 header bytes after it and a
// pad byte after odd data: all of it must fit 32 bits.
constexpr uint64_t max_data_bytes = 0xFFFFFFFFull - 36 - 1;

using Decoder = std::unique_ptr<SNDFILE, int (*)(SNDFILE*)>;

// The library's message as this program words its reasons: without its
// "Error : " prefix and final full stop, lower case where it starts a
// sentence ("format not recognised", "no such file or directory").
std::string reason_from(SNDFILE* file)
{
    std::string text = sf_strerror(file);
    for (const std::string prefix : {"System error : ", "Error : "})
        if (text.starts_with(prefix))
            text.erase(0, prefix.size());
    while (!text.empty() && (text.back() == '.' || std::isspace(static_cast<unsigned char>(text.back()))))
        text.pop_back();
    if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) && std::islower(static_cast<unsigned char>(text[1])))
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

Decoder open_source(const std::string& path, SF_INFO& info, std::string& reason)
{
    info = {};
    Decoder decoder(sf_open(path.c_str(), SFM_READ, &info), sf_close);
    if (!decoder)
        reason = reason_from(nullptr);
    return decoder;
}

// The library's own name of a container or an encoding, up to any
// parenthesis: "AU (Sun/NeXT)" gives "AU".
std::string library_name(int format, int command)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, command, &info, sizeof info) != 0 || info.name == nullptr)
        return "unknown";
    std::string name = info.name;
    name = name.substr(0, name.find(" ("));
    return name;
}

std::string kind_of(int format)
{
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    // The lossy streams are known by the codec's name alone.
    if (major == SF_FORMAT_MPEG)
        return sub == SF_FORMAT_MPEG_LAYER_III ? "MP3" : sub == SF_FORMAT_MPEG_LAYER_II ? "MP2" : "MP1";
    if (major == SF_FORMAT_OGG)
        return sub == SF_FORMAT_VORBIS ? "Ogg Vorbis" : sub == SF_FORMAT_OPUS ? "Ogg Opus" : "Ogg";
    std::string container;
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX: container = "WAV"; break;
    case SF_FORMAT_AIFF: container = "AIFF"; break;
    case SF_FORMAT_FLAC: container = "FLAC"; break;
    case SF_FORMAT_CAF: container = "CAF"; break;
    case SF_FORMAT_W64: container = "W64"; break;
    case SF_FORMAT_RF64: container = "RF64"; break;
    default: container = library_name(major, SFC_GET_FORMAT_INFO);
    }
    std::string encoding;
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: encoding = "8 bit"; break;
    case SF_FORMAT_PCM_16: encoding = "16 bit"; break;
    case SF_FORMAT_PCM_24: encoding = "24 bit"; break;
    case SF_FORMAT_PCM_32: encoding = "32 bit"; break;
    case SF_FORMAT_FLOAT: encoding = "32 bit float"; break;
    case SF_FORMAT_DOUBLE: encoding = "64 bit float"; break;
    default: encoding = library_name(sub, SFC_GET_FORMAT_INFO);
    }
    return container + ", " + encoding;
}

// Integer samples of up to 16 bits, stored without loss: 16 bits hold
// them exactly.  Everything else (wider integers, float, lossy codecs)
// gets 24 bits.
uint32_t target_bits_of(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
        return 16;
    default:
        return 24;
    }
}

AudioFacts facts_of(const SF_INFO& info)
{
    AudioFacts facts;
    facts.kind = kind_of(info.format);
    facts.channels = static_cast<uint32_t>(std::max(info.channels, 0));
    facts.rate = static_cast<uint32_t>(std::max(info.samplerate, 0));
    // A stream whose end the decoder could not find says SF_COUNT_MAX.
    if (info.frames >= 0 && info.frames < SF_COUNT_MAX)
        facts.frames = static_cast<uint64_t>(info.frames);
    facts.target_bits = target_bits_of(info.format);
    return facts;
}

std::string length_text(uint64_t frames, uint32_t rate)
{
    const auto tenths = static_cast<uint64_t>(std::llround(static_cast<double>(frames) * 10.0 / rate));
    const uint64_t seconds = tenths / 10, minutes = seconds / 60, hours = minutes / 60;
    char text[64];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u.%u", static_cast<unsigned long long>(hours),
                      static_cast<unsigned>(minutes % 60), static_cast<unsigned>(seconds % 60),
                      static_cast<unsigned>(tenths % 10));
    else
        std::snprintf(text, sizeof text, "%llu:%02u.%u", static_cast<unsigned long long>(minutes),
                      static_cast<unsigned>(seconds % 60), static_cast<unsigned>(tenths % 10));
    return text;
}

// Writes `count` samples as little-endian integers of Width bytes, each
// rounded to the nearest step (halves up).  Values beyond full scale are
// clipped and counted, as is a value that is not a number at all (it
// becomes 0).  Full scale itself has no step of its own in two's
// complement: it becomes the top step, one short, without being counted.
template <uint32_t Width>
uint64_t encode_samples(const double* samples, std::size_t count, uint8_t* bytes)
{
    constexpr double full_scale = Width == 2 ? 32768.0 : 8388608.0;
    uint64_t clipped = 0;
    for (std::size_t i = 0; i < count; ++i, bytes += Width) {
        const double scaled = samples[i] * full_scale;
        double v;
        if (scaled >= -full_scale && scaled <= full_scale) { // NaN fails both
            v = std::min(std::floor(scaled + 0.5), full_scale - 1);
        } else {
            v = std::isnan(scaled) ? 0.0 : scaled < 0 ? -full_scale : full_scale - 1;
            ++clipped;
        }
        const auto s = static_cast<int32_t>(v);
        bytes[0] = static_cast<uint8_t>(s & 0xFF);
        bytes[1] = static_cast<uint8_t>((s >> 8) & 0xFF);
        if constexpr (Width == 3)
            bytes[2] = static_cast<uint8_t>((s >> 16) & 0xFF);
    }
    return clipped;
}

bool write_header(std::FILE* file, const AudioFacts& facts, uint64_t data_bytes)
{
    auto header = make_wav_header(facts.channels, facts.rate, facts.target_bits, static_cast<uint32_t>(data_bytes));
    // RIFF pads odd data to a whole word; the pad byte counts in the RIFF size.
    const auto riff_size = static_cast<uint32_t>(data_bytes + 36 + data_bytes % 2);
    for (int i = 0; i < 4; ++i)
        header[4 + i] = static_cast<uint8_t>(riff_size >> (8 * i));
    return std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(header.data(), 1, header.size(), file) == header.size();
}

bool exists(const std::string& path)
{
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

// Gives the complete temporary file the target's name, unless something
// has taken that name meanwhile.  A hard link cannot replace a file, where
// a rename would; on a file system without hard links the rename follows a
// last look.
bool place_new(OutputFile& out, const std::string& target, std::string& reason)
{
    if (std::fflush(out.file()) != 0 || std::ferror(out.file()) != 0) {
        reason = "cannot write " + target;
        return false;
    }
    std::error_code error;
    fs::create_hard_link(out.temporary_path(), target, error);
    if (!error) {
        out.discard(); // the temporary name goes; the target keeps the file
        return true;
    }
    if (exists(target)) {
        reason = target + " exists";
        return false;
    }
    if (!out.commit()) {
        reason = "cannot write " + target;
        return false;
    }
    return true;
}

} // namespace

bool read_audio_facts(const std::string& path, AudioFacts& facts, std::string& reason)
{
    SF_INFO info;
    if (!open_source(path, info, reason))
        return false;
    facts = facts_of(info);
    return true;
}

std::string describe_audio(const AudioFacts& facts, std::optional<uint64_t> frames)
{
    std::string text = facts.kind + ", " + std::to_string(facts.channels) + " ch, " + std::to_string(facts.rate) + " Hz";
    if (frames && facts.rate > 0)
        text += ", " + length_text(*frames, facts.rate);
    return text;
}

ImportResult import_audio(const std::string& source, const std::string& target, const ImportControl& control)
{
    ImportResult result;
    const auto fail = [&result](std::string reason) {
        result.status = ImportStatus::failed;
        result.reason = std::move(reason);
        return result;
    };
    SF_INFO info;
    std::string reason;
    const Decoder decoder = open_source(source, info, reason);
    if (!decoder)
        return fail(reason);
    result.source = facts_of(info);
    const AudioFacts& facts = result.source;
    const uint32_t width = facts.target_bits / 8;
    const uint64_t frame_bytes = uint64_t{width} * facts.channels;
    // The header's block align has 16 bits, its byte rate 32.
    if (frame_bytes == 0 || frame_bytes > 0xFFFF || facts.rate * frame_bytes > 0xFFFFFFFF)
        return fail("too many channels or too high a rate for a WAV file");
    const char* const too_long = "too long for a WAV file (more than 4 GiB of samples)";
    if (facts.frames && *facts.frames > max_data_bytes / frame_bytes)
        return fail(too_long);
    if (exists(target))
        return fail(target + " exists");

    OutputFile out;
    if (!out.create(target))
        return fail("cannot create " + target);
    if (!write_header(out.file(), facts, 0))
        return fail("cannot write " + target);

    // Blocks of at most 64 Ki samples, whatever the channel count.
    const std::size_t block_frames = std::max<std::size_t>(1, 65536 / facts.channels);
    std::vector<double> samples(block_frames * facts.channels);
    std::vector<uint8_t> bytes(block_frames * frame_bytes);
    uint64_t frames = 0;
    for (;;) {
        if (control.stop != nullptr && control.stop->load() != 0) {
            result.status = ImportStatus::stopped;
            return result; // `out` removes the temporary file
        }
        const sf_count_t got = sf_readf_double(decoder.get(), samples.data(), static_cast<sf_count_t>(block_frames));
        if (got <= 0)
            break;
        if (frames + static_cast<uint64_t>(got) > max_data_bytes / frame_bytes)
            return fail(too_long);
        const std::size_t count = static_cast<std::size_t>(got) * facts.channels;
        result.clipped += width == 2 ? encode_samples<2>(samples.data(), count, bytes.data())
                                     : encode_samples<3>(samples.data(), count, bytes.data());
        const std::size_t length = static_cast<std::size_t>(got) * frame_bytes;
        if (std::fwrite(bytes.data(), 1, length, out.file()) != length)
            return fail("cannot write " + target);
        frames += static_cast<uint64_t>(got);
        if (control.progress && facts.frames && *facts.frames > 0)
            control.progress(std::min(1.0, static_cast<double>(frames) / static_cast<double>(*facts.frames)));
    }
    if (sf_error(decoder.get()) != SF_ERR_NO_ERROR)
        return fail("cannot read samples: " + reason_from(decoder.get()));
    // A lossless or Ogg stream states its length exactly; MP3 decoders may
    // only estimate it, so there a shorter stream is taken as it comes.
    if (facts.frames && frames < *facts.frames && (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG)
        return fail("the file ends after " + std::to_string(frames) + " of its " + std::to_string(*facts.frames) + " samples");

    const uint64_t data_bytes = frames * frame_bytes;
    if ((data_bytes % 2 != 0 && std::fputc(0, out.file()) == EOF) || !write_header(out.file(), facts, data_bytes))
        return fail("cannot write " + target);
    if (!place_new(out, target, reason))
        return fail(reason);
    result.frames = frames;
    result.status = ImportStatus::done;
    return result;
}

std::string import_summary(const std::string& source, const std::string& target, const ImportResult& result)
{
    return "imported " + source + " (" + describe_audio(result.source, result.frames) + ") as " + target + " ("
           + std::to_string(result.source.target_bits) + " bit); " + std::to_string(result.clipped)
           + (result.clipped == 1 ? " sample clipped" : " samples clipped");
}

} // namespace vesk::wav
