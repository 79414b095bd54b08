// A whole run on a fuzzed input file with a fuzzed parameter set.
//
// Input layout: the WAV file's bytes, then a tail of `tail_size` bytes that
// sets the parameters (an input shorter than the tail is all file, with
// every parameter byte 0).  Rates, fs-sim and the filter corners are set
// relative to the input's rate, so that most parameter sets act on the
// file instead of being refused; the tail can also ask for a stop at the
// n-th log line, which drives every stop check of the run.
//
// A run is first sized only (stopped at the last line of its summary); one
// whose buffers would exceed a few megabytes, or whose channels times
// working length would take long, is not run further: the fuzzer is after
// faults of logic, not after the machine's memory.
//
// After every run the target checks what a user relies on: a run that
// returned 0 left a complete 24-bit WAV of the size it announced; any other
// run left nothing at all (the output path was empty before); no temporary
// file stays behind; and a failure showed its message.
#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "ui/params.h"
#include "ui/run.h"
#include "wav/wav_header.h"

namespace {

constexpr std::size_t tail_size = 16;
constexpr uint64_t max_buffer_bytes = uint64_t{4} << 20;
constexpr uint64_t max_working_length = uint64_t{1} << 16;
constexpr uint64_t max_channel_work = uint64_t{1} << 18; // chnr x sampnump

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "process_wav_fuzzer: %s\n", what);
    std::abort();
}

struct Messages : vesk::MessageSink {
    std::vector<std::string> texts;
    void show_message(const std::string& text) override { texts.push_back(text); }
};

// Counts the lines and raises the stop request at line `stop_at` (counted
// from 1; 0 = never), or at the summary's last line when sizing only.
struct Log : vesk::LogSink {
    vesk::Engine* engine = nullptr;
    unsigned stop_at = 0;
    bool size_only = false;
    unsigned lines = 0;
    void append_log(const std::string& line) override
    {
        ++lines;
        if ((size_only && line.rfind("chnr:", 0) == 0) || lines == stop_at)
            engine->stopflag = 1;
    }
};

// A folder of its own for the whole fuzzing process, with the input and
// output paths in it.
struct Workspace {
    std::string folder, input, output;
    Workspace()
    {
        char name[] = "/tmp/vesk-fuzz-XXXXXX";
        if (mkdtemp(name) == nullptr)
            broken("cannot make a work folder");
        folder = name;
        input = folder + "/in.wav";
        output = folder + "/out.wav";
    }
    // Names in the folder other than "." and "..".
    std::vector<std::string> listing() const
    {
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (const dirent* entry = readdir(dir))
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.emplace_back(entry->d_name);
            closedir(dir);
        }
        return names;
    }
};

Workspace& workspace()
{
    static Workspace w;
    return w;
}

uint32_t input_rate(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (f == nullptr)
        return 0;
    vesk::wav::WavFormat format;
    const int result = vesk::wav::read_wav_header(f, nullptr, nullptr, format);
    std::fclose(f);
    return result == 0 ? format.fsinp : 0;
}

vesk::ParamRecord record_from(const uint8_t* p, uint32_t fsinp, const Workspace& w)
{
    vesk::ParamRecord r;
    r.inpwavname = w.input;
    r.outwavname = w.output;
    const uint8_t flags = p[0];
    const double rate = fsinp != 0 ? fsinp : 48000.0;
    r.ensrc = flags & 1;
    const uint64_t fssrc = uint64_t{fsinp} * (p[1] % 16 + 1) / (p[2] % 16 + 1);
    r.fssrc = static_cast<uint32_t>(fssrc == 0 ? 1 : fssrc > 0xFFFFFFFFu ? 0xFFFFFFFFu : fssrc);
    const double fs = r.ensrc ? r.fssrc : rate;
    r.varispeedsh = (flags >> 1) & 1;
    if (flags & 4) {
        r.fcloin = fs * 0.6 * p[6] / 256.0;
        r.fchiin = fs * 0.6 * p[7] / 256.0;
    }
    if (flags & 8) {
        r.fcloout = fs * 0.6 * p[8] / 256.0;
        r.fchiout = fs * 0.6 * p[9] / 256.0;
    }
    if (flags & 16)
        r.bitnr = p[4] % 24 + 1;
    if (flags & 32)
        r.aperture = p[5] / 255.0;
    if (flags & 64)
        r.jitteramp = p[12] / 510.0;
    r.fssim = (flags & 128) ? fs : fs * (p[3] + 1) / 64.0;
    // 2^((b - 128) / 32): 1/16 .. 16, exactly 1 at 128.
    r.varispeedt = std::exp2((static_cast<int>(p[10]) - 128) / 32.0);
    r.varispeedf = std::exp2((static_cast<int>(p[11]) - 128) / 32.0);
    return r;
}

uint32_t u32_at(const std::vector<uint8_t>& b, std::size_t off)
{
    return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
           (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}

std::vector<uint8_t> read_all(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

// What a finished run left in the work folder.
void check_outcome(vesk::RunOutcome result, const vesk::Engine& engine, const Messages& messages, const Workspace& w)
{
    const std::vector<std::string> names = w.listing();
    for (const std::string& name : names)
        if (name != "in.wav" && name != "out.wav")
            broken("a run left a file behind");
    const bool has_output = names.size() == 2;
    if (result != vesk::RunOutcome::done) {
        if (has_output)
            broken("a failed or stopped run left an output file");
        if (result == vesk::RunOutcome::failed && messages.texts.empty())
            broken("a failure without a message");
        if (result == vesk::RunOutcome::stopped && !messages.texts.empty())
            broken("a stop with a message");
        return;
    }
    if (!has_output || !messages.texts.empty())
        broken("a successful run without its output, or with a message");
    const std::vector<uint8_t> out = read_all(w.output);
    const uint64_t data = uint64_t{engine.sizes().sampnumout} * 3 * engine.sizes().chnr;
    if (out.size() != 44 + data || u32_at(out, 40) != data || u32_at(out, 4) != data + 36 ||
        std::memcmp(out.data(), "RIFF", 4) != 0 || std::memcmp(out.data() + 8, "WAVE", 4) != 0 ||
        std::memcmp(out.data() + 36, "data", 4) != 0 || out[34] != 24 || out[35] != 0)
        broken("the output is not the WAV the run announced");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Workspace& w = workspace();
    uint8_t tail[tail_size] = {};
    std::size_t file_size = size;
    if (size >= tail_size) {
        file_size = size - tail_size;
        std::memcpy(tail, data + file_size, tail_size);
    }
    std::remove(w.output.c_str());
    if (std::FILE* f = std::fopen(w.input.c_str(), "wb")) {
        if (file_size > 0 && std::fwrite(data, 1, file_size, f) != file_size)
            broken("cannot write the input");
        std::fclose(f);
    } else {
        broken("cannot create the input");
    }
    const vesk::ParamRecord record = record_from(tail, input_rate(data, file_size), w);

    // Sizing only.
    {
        Messages messages;
        Log log;
        vesk::Engine engine(messages, log);
        log.engine = &engine;
        log.size_only = true;
        engine.threads = 1;
        engine.fixed_seed = 1;
        engine.params = vesk::engine_params(record);
        if (!engine.check_params())
            return 0;
        const vesk::RunOutcome result = vesk::run_worker_steps(engine);
        check_outcome(result, engine, messages, w);
        if (result != vesk::RunOutcome::stopped)
            return 0;
        const vesk::RunShape& sized = engine.sizes();
        if (sized.inpdatasize > max_buffer_bytes || uint64_t{sized.outdatasize} > max_buffer_bytes ||
            sized.sampnump > max_working_length || uint64_t{sized.sampnump} * sized.chnr > max_channel_work)
            return 0;
    }

    Messages messages;
    Log log;
    vesk::Engine engine(messages, log);
    log.engine = &engine;
    log.stop_at = tail[13];
    engine.threads = 1;
    engine.fixed_seed = uint32_t{tail[14]} | (uint32_t{tail[15]} << 8);
    engine.params = vesk::engine_params(record);
    if (!engine.check_params())
        broken("parameters accepted once and refused again");
    const vesk::RunOutcome result = vesk::run_worker_steps(engine);
    check_outcome(result, engine, messages, w);
    return 0;
}
