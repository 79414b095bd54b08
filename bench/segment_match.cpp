// vesk-bench-segment-match INPUT.wav WHOLE.wav SEGMENTED.wav CHAIN
// A long file's run in segments against its whole run, both of INPUT
// through CHAIN (the batch words of the chain, as vesk-batch took them):
// where the segments join is planned here as the segmented run planned it.
// Prints, for each channel, a table of stretches of STRETCH_SECONDS at
// the start, the middle and the end and across every join:
//   stretch <TAB> first output sample <TAB> worst bin difference within
//   40 dB of the peak [dB] <TAB> mean difference within 60 dB [dB]
// (the Welch spectra, each relative to its own peak), then one line per
// join with its largest sample-to-sample step and the largest within the
// segments around it, and whether every stretch and every join meets the
// criteria (1 dB at the bins within 40 dB of the peak, 0.75 dB on average
// within 60 dB; no step at a join beyond those around it).  The joins'
// spectra are summed up by their worst.  Exits 1 when an input cannot be
// read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/run_match.h"
#include "tests/support/engine_seam.h"
#include "ui/batch.h"
#include "ui/run.h"
#include "wav/wav_header.h"

namespace {

constexpr double stretch_seconds = 10;

struct Output {
    uint32_t rate = 0;
    std::vector<std::vector<int32_t>> channels;
};

bool read_header(std::FILE* file, vesk::wav::WavFormat& format)
{
    return file != nullptr && vesk::wav::read_wav_header(file, nullptr, nullptr, format) == 0;
}

// A run's 24-bit output, channel by channel.
bool read_output(const char* path, Output& output)
{
    std::FILE* file = std::fopen(path, "rb");
    vesk::wav::WavFormat format;
    bool ok = read_header(file, format) && format.bitnrinp == 24;
    if (ok) {
        const uint64_t frames = format.inpchdatasize / 3;
        std::vector<uint8_t> bytes(frames * 3 * format.chnr);
        ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
        output.rate = format.fsinp;
        output.channels.assign(format.chnr, std::vector<int32_t>(frames));
        const uint8_t* b = bytes.data();
        for (uint64_t i = 0; i < frames; ++i)
            for (auto& channel : output.channels) {
                channel[i] = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) - ((b[2] & 0x80) << 17);
                b += 3;
            }
    }
    if (file != nullptr)
        std::fclose(file);
    return ok;
}

struct NullSinks : vesk::MessageSink, vesk::LogSink {
    void show_message(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void append_log(const std::string&) override {}
};

std::vector<double> stretch(const std::vector<int32_t>& x, std::size_t first, std::size_t count)
{
    std::vector<double> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = x[first + i] / 8388608.0;
    return v;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: vesk-bench-segment-match INPUT.wav WHOLE.wav SEGMENTED.wav CHAIN\n");
        return 2;
    }
    std::FILE* input = std::fopen(argv[1], "rb");
    vesk::wav::WavFormat format;
    const bool input_read = read_header(input, format);
    if (input != nullptr)
        std::fclose(input);
    Output whole, segmented;
    if (!input_read || !read_output(argv[2], whole) || !read_output(argv[3], segmented) ||
        whole.channels.size() != segmented.channels.size() || whole.channels[0].size() != segmented.channels[0].size()) {
        std::fprintf(stderr, "segment-match: cannot read the input or two outputs of the same length\n");
        return 1;
    }

    vesk::ParamRecord record;
    vesk::batch::BatchStream words(argv[4]);
    vesk::batch::read_batch(words, record, {});
    NullSinks sinks;
    vesk::Engine engine(sinks, sinks);
    engine.params = vesk::engine_params(record);
    engine.segmented = true;
    const vesk::EngineSeam::Segments plan = vesk::EngineSeam{engine}.segment_plan(
        format.fsinp, format.chnr, format.bitnrinp, format.inpchdatasize / (format.bitnrinp / 8));
    if (plan.count < 2) {
        std::fprintf(stderr, "segment-match: the chain renders in one piece\n");
        return 1;
    }
    const vesk::Params& params = engine.params;
    const double per_frame = double(whole.rate) / format.fsinp / (params.varispeedt * params.varispeedf);
    const std::size_t samples = whole.channels[0].size();
    const auto length = static_cast<std::size_t>(stretch_seconds * whole.rate);
    const auto join = [&](uint64_t k) { return static_cast<std::size_t>(std::llround(k * plan.hop * per_frame)); };
    const auto around = [&](std::size_t at) { return std::clamp(at, length / 2, samples - length / 2) - length / 2; };
    std::printf("%llu segments of %llu input frames (margins %llu), joins at output samples %zu, %zu, ...\n",
                static_cast<unsigned long long>(plan.count), static_cast<unsigned long long>(plan.hop),
                static_cast<unsigned long long>(plan.margin), join(1), join(2));

    bool steps_ok = true;
    vesk::analysis::SpectrumMatch all; // the worst of every stretch of every channel
    for (std::size_t c = 0; c < whole.channels.size(); ++c) {
        const std::vector<int32_t>& w = whole.channels[c];
        const std::vector<int32_t>& s = segmented.channels[c];
        std::printf("channel %zu\nstretch\tfirst\tworst within 40 dB\tmean within 60 dB\n", c);
        const auto row = [&](const std::string& name, std::size_t first) {
            const vesk::analysis::SpectrumMatch m =
                vesk::analysis::spectrum_match(stretch(s, first, length), stretch(w, first, length), whole.rate);
            std::printf("%s\t%zu\t%.3f at %.0f Hz\t%.3f\n", name.c_str(), first, m.worst_db, m.worst_hz, m.mean_db);
            all.worst_db = std::max(all.worst_db, m.worst_db), all.mean_db = std::max(all.mean_db, m.mean_db);
            return m;
        };
        row("start", 0);
        row("middle", (samples - length) / 2);
        row("end", samples - length);
        vesk::analysis::SpectrumMatch joins;
        for (uint64_t k = 1; k < plan.count; ++k) {
            const vesk::analysis::SpectrumMatch m = row("join " + std::to_string(k), around(join(k)));
            joins.worst_db = std::max(joins.worst_db, m.worst_db), joins.mean_db = std::max(joins.mean_db, m.mean_db);
        }
        std::printf("joins, worst of %llu\t\t%.3f\t%.3f\n", static_cast<unsigned long long>(plan.count - 1), joins.worst_db, joins.mean_db);

        std::printf("join\tat\tlargest step at the join\tlargest step around it\n");
        int32_t worst_at = 0, least_around = INT32_MAX;
        double worst_ratio = 0;
        for (uint64_t k = 1; k < plan.count; ++k) {
            const vesk::analysis::JoinSteps steps = vesk::analysis::join_steps(s, join(k));
            std::printf("%llu\t%zu\t%d\t%d\n", static_cast<unsigned long long>(k), join(k), steps.at_join, steps.around);
            worst_at = std::max(worst_at, steps.at_join), least_around = std::min(least_around, steps.around);
            worst_ratio = std::max(worst_ratio, double(steps.at_join) / steps.around);
            steps_ok = steps_ok && steps.at_join <= steps.around;
        }
        std::printf("steps: largest at a join %d, least largest around a join %d, at / around at most %.3f\n",
                    worst_at, least_around, worst_ratio);
    }
    std::printf("every stretch within 1 dB at the bins within 40 dB and by 0.75 dB on average within 60 dB: %s "
                "(worst bin %.3f dB, worst mean %.3f dB)\n",
                all.worst_db <= 1 && all.mean_db <= 0.75 ? "yes" : "no", all.worst_db, all.mean_db);
    std::printf("every join steps no more than the samples around it: %s\n", steps_ok ? "yes" : "no");
    return 0;
}
