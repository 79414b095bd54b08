// vesk-bench-preview INPUT.wav [RENDERS]: the live preview's render time.
// The input's samples are held in memory, as the Listen window holds them;
// a 10-second span from 20 s (margins on both sides) is rendered RENDERS
// times (15 by default) through one renderer, as one change after another
// would render it, for each chain below.  Prints, per chain, one line:
//   chain <TAB> first render [ms] <TAB> median of the others [ms] <TAB> fastest [ms]
//         <TAB> processor time of the others, median [ms]
// The first render builds the tables and takes the memory; the others find
// both in place.  The processor time (all threads) tells how much of a wall
// time went to waiting for a core on a busy machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "engine/span_renderer.h"
#include "wav/wav_header.h"

namespace {

struct Input {
    vesk::PcmView view;
    std::vector<uint8_t> bytes;
};

bool load(const char* path, Input& input)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    vesk::wav::WavFormat format;
    const bool ok = vesk::wav::read_wav_header(file, nullptr, nullptr, format) == 0 &&
                    (input.bytes.resize(uint64_t{format.inpchdatasize} * format.chnr),
                     std::fread(input.bytes.data(), 1, input.bytes.size(), file) == input.bytes.size());
    std::fclose(file);
    input.view = {format.fsinp, format.chnr, format.bitnrinp, format.inpchdatasize / (format.bitnrinp / 8), input.bytes.data()};
    return ok && format.bitnrinp >= 8;
}

double processor_ms()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec * 1e-3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

vesk::Params every_stage()
{
    vesk::Params p;
    p.fs = 44100, p.fssim = 11025, p.aperture = 0.5, p.bitnr = 8, p.fcloin = 20, p.fchiin = 15000;
    p.fcloout = 30, p.fchiout = 12000, p.varispeedt = 1.25, p.varispeedf = 0.8, p.varispeedsh = 1, p.jitteramp = 0.01;
    return p;
}

vesk::Params word_length_alone()
{
    vesk::Params p;
    p.bitnr = 8;
    return p;
}

struct Chain {
    const char* name;
    vesk::Params params;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vesk-bench-preview INPUT.wav [RENDERS]\n");
        return 2;
    }
    const int renders = argc == 3 ? std::atoi(argv[2]) : 15;
    Input input;
    if (!load(argv[1], input) || renders < 2) {
        std::fprintf(stderr, "vesk-bench-preview: cannot read %s as PCM, or fewer than 2 renders\n", argv[1]);
        return 1;
    }
    // Every stage on (the full chain of bench/compare, with the word length
    // and the jitter of the live preview's target), and quantization alone.
    const Chain chains[] = {{"every stage", every_stage()}, {"bitnr 8", word_length_alone()}};
    const vesk::Span span{20.0, 10.0};
    for (const Chain& chain : chains) {
        vesk::SpanRenderer renderer;
        std::vector<double> ms, cpu;
        vesk::SpanRendering out;
        for (int r = 0; r < renders; ++r) {
            const auto start = std::chrono::steady_clock::now();
            const double cpu_start = processor_ms();
            const vesk::RunOutcome outcome = renderer.render(renderer.begin(), input.view, span, chain.params, out);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            cpu.push_back(processor_ms() - cpu_start);
            if (outcome != vesk::RunOutcome::done) {
                std::fprintf(stderr, "vesk-bench-preview: %s: %s\n", chain.name, renderer.message().c_str());
                return 1;
            }
        }
        const std::vector<double> warm(ms.begin() + 1, ms.end());
        std::printf("%s\t%.2f\t%.2f\t%.2f\t%.2f\n", chain.name, ms[0], median(warm),
                    *std::min_element(warm.begin(), warm.end()), median({cpu.begin() + 1, cpu.end()}));
    }
    return 0;
}
