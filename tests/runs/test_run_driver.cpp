// The run driver: parameter checks, the summary, refusals with their exact
// messages, stops at each check, and what a run that does not finish leaves
// on disk: nothing new, and the previous output untouched.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <limits>
#include <sys/resource.h>
#include <tuple>

#include "analysis/run_spectra.h"
#include "tests/support/batch_runs.h"
#include "tests/support/engine_seam.h"
#include "ui/player.h"
#include "ui/run.h"

namespace vesk {
namespace {

using test::make_pcm_wav;
using test::ramp;
using test::WavOptions;

TEST(CheckParams, EachValueOutOfItsRangeIsNamedAndTheFirstWins)
{
    const double inf = std::numeric_limits<double>::infinity();
    // Each row: the values set, and the message (nullptr: accepted).
    const std::pair<std::function<void(Params&)>, const char*> rows[] = {
#define ROW(set, message) {[=](Params& p) { set; }, message}
        ROW((void)p, nullptr), ROW(p.fssim = 0, "invalid fs-sim (must be >0)"),
        ROW(p.fssim = inf, "invalid fs-sim (must be >0)"), ROW(p.aperture = 1, nullptr),
        ROW(p.aperture = 1.0001, "invalid aperture (must be 0 ... 1)"), ROW(p.aperture = -0.0001, "invalid aperture (must be 0 ... 1)"),
        ROW(p.fcloin = -1, "invalid input fc-lo (must be >= 0)"), ROW(p.fchiin = inf, "invalid input fc-hi (must be >= 0)"),
        ROW(p.fcloout = -1, "invalid output fc-lo (must be >= 0)"), ROW(p.fchiout = -1, "invalid output fc-lo (must be >= 0)"),
        ROW((p.fcloin = 9000, p.fchiin = 100), nullptr), ROW(p.bitnr = 0, "invalid bitnr (must be 1 ... 24)"),
        ROW(p.bitnr = 25, "invalid bitnr (must be 1 ... 24)"), ROW(p.varispeedt = 0, "invalid vari-speed-t (must be > 0)"),
        ROW(p.varispeedf = -1, "invalid vari-speed-f (must be > 0)"), ROW(p.jitteramp = 0.5, nullptr),
        ROW(p.jitteramp = 0.51, "invalid jitter-amp (must be 0 ... 0.5)"), ROW(p.jitteramp = -0.01, "invalid jitter-amp (must be 0 ... 0.5)"),
        ROW((p.bitnr = 0, p.aperture = 2), "invalid aperture (must be 0 ... 1)"),
#undef ROW
    };
    test::RecordingMessages messages;
    test::RecordingLog log;
    for (const auto& [set, message] : rows) {
        Engine engine(messages, log);
        set(engine.params);
        messages.texts.clear();
        EXPECT_EQ(engine.check_params(), message == nullptr) << "row " << &set - &rows[0].first;
        EXPECT_EQ(messages.texts, message ? std::vector<std::string>{message} : std::vector<std::string>{});
    }
}

class RunDriver : public test::WholeRun {
public:
    // A previous output that a run which does not finish must leave alone.
    const std::vector<uint8_t> kept{'k', 'e', 'e', 'p'};
    void previous_output() { test::write_file(dir.file("out.wav"), kept); }
    void expect_nothing_new(std::vector<std::string> listing = {"in.wav", "out.wav"})
    {
        EXPECT_EQ(dir.listing(), listing);
        EXPECT_TRUE(!std::filesystem::exists(dir.file("out.wav")) || test::read_file(dir.file("out.wav")) == kept);
    }
};

TEST_F(RunDriver, SummaryShowsTheSizesAndTheSnappedValues)
{
    input(make_pcm_wav(2, 48000, 8, {ramp(1000, 100), ramp(1000, 50)}));
    // fchiin above fs / 2 is clamped to it.
    engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav"), .fssim = 8000, .aperture = 0.25,
                     .bitnr = 12, .fcloin = 100, .fchiin = 30000, .fcloout = 1000, .fchiout = 5000, .varispeedt = 2.0,
                     .varispeedf = 0.5, .varispeedsh = 1, .jitteramp = 0.1};
    log.on_line = [this](const std::string& line) { engine.stopflag = line.starts_with("chnr:"); };
    EXPECT_EQ(engine.process_wav(), RunOutcome::stopped);
    EXPECT_EQ(log.joined(), "input:             1000 samples ( 8 bit)\n" "output:            1000 samples (24 bit)\n"
                            "FFT:               4096 samples\n" "fs-inp:        48000.00 Hz\n"
                            "fs:            48000.00 Hz\n" "dfmin:        11.718750 Hz\n"
                            "fs-sim:         7992.19 Hz\n" "aperture:        0.2500\n"
                            "jitter:       1.251e-05 s\n" "vari-speed:    1.000000\n"
                            "hold-sample:        yes\n" "inp fc-lo:        93.75 Hz\n"
                            "inp fc-hi:     24000.00 Hz\n" "out fc-lo:       996.09 Hz\n"
                            "out fc-hi:      4992.19 Hz\n" "quant:               12 bit\n"
                            "chnr:                 2\n");
    EXPECT_EQ(engine.sizes().fssim_idx, 682u);
    EXPECT_EQ(EngineSeam{engine}.held(), 0u); // stopped before anything was allocated

}

TEST_F(RunDriver, EachRefusalSaysWhyAndLeavesNothingBehind)
{
    struct Row {
        const char* name;
        std::vector<uint8_t> input;
        Params params;
        const char* message;     // nullptr: none
        rlim_t file_limit = 0;   // bytes a file may grow to; 0: no limit
    };
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    const auto good = make_pcm_wav(2, 8000, 16, {ramp(50, 900), ramp(50, 3000)});
    const Row rows[] = {
        {"no input name", good, {.inpwavname = std::nullopt, .outwavname = out}, nullptr},
        {"no output name", good, {.inpwavname = in, .outwavname = std::nullopt}, nullptr},
        {"input missing", good, {.inpwavname = dir.file("gone.wav"), .outwavname = out}, "cannot open WAV input"},
        {"output is the input", good, {.inpwavname = in, .outwavname = in}, "output file is the input file"},
        {"output is the input, spelled otherwise", good, {.inpwavname = in, .outwavname = (dir.path() / "." / "in.wav").string()},
         "output file is the input file"},
        {"not a WAV file", {'R', 'I', 'F', 'F'}, {in, out}, "wav-in: invalid or unsupported WAV-format"},
        {"float samples", make_pcm_wav(1, 8000, 32, {{1, 2}}, WavOptions().with_format_tag(3)), {in, out}, "wav-in: WAV must be PCM\n"},
        {"rate 0", make_pcm_wav(1, 0, 16, {{1, 2}}), {in, out}, "wav-in: invalid sample rate"},
        {"12 bits", make_pcm_wav(1, 8000, 12, {{1, 2}}), {in, out}, "wav-in: invalid bitnr"},
        {"no samples", make_pcm_wav(1, 8000, 16, {{}}), {in, out}, "sampnump too small"},
        {"no whole frame before the file ends", make_pcm_wav(2, 8000, 16, {{1}}, WavOptions().with_data_size(400)),
         {in, out}, "sampnump too small"},
        {"a working length beyond 2^30", good, {.inpwavname = in, .outwavname = out, .varispeedt = 1e-8}, "sampnump too large for u_int"},
        {"fs-sim below one bin", good, {.inpwavname = in, .outwavname = out, .fssim = 1}, "invalid fs-sim=0"},
        {"more than 4 GiB of output", good, {.inpwavname = in, .outwavname = out, .varispeedt = 50.0 / 1e9},
         "wav-out: output too large for WAV"},
        {"a frame beyond 16 bits of bytes", make_pcm_wav(21846, 8000, 8, std::vector<std::vector<int32_t>>(21846, {1})),
         {in, out}, "wav-out: output too large for WAV"},
        {"a second beyond 32 bits of bytes", make_pcm_wav(1, 0x80000000u, 8, {{1, 2}}),
         {.inpwavname = in, .outwavname = out, .fssim = 0x80000000u}, "wav-out: output too large for WAV"},
        {"output folder missing", good, {.inpwavname = in, .outwavname = dir.file("no/out.wav")}, "cannot open WAV output"},
        {"output is a folder", good, {.inpwavname = in, .outwavname = dir.path().string()}, "cannot open WAV output"},
        {"output is a device", good, {.inpwavname = in, .outwavname = "/dev/full"}, "cannot open WAV output"},
        // The samples do not reach the disk, and the temporary file goes.
        {"a file may not grow past 1000 bytes", make_pcm_wav(2, 8000, 16, {ramp(400, 900), ramp(400, 3000)}), {in, out},
         "cannot write samples", 1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        messages.texts.clear();
        input(row.input);
        previous_output();
        engine.params = row.params;
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limited{row.file_limit != 0 ? row.file_limit : before.rlim_cur, before.rlim_max};
        const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limited);
        const RunOutcome outcome = engine.process_wav();
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, old_handler);
        EXPECT_EQ(outcome, RunOutcome::failed);
        EXPECT_EQ(messages.texts, row.message ? std::vector<std::string>{row.message} : std::vector<std::string>{});
        expect_nothing_new();
        EXPECT_EQ(test::read_file(in), row.input);
    }
}

// Files as recorders, editors and pipes write them (odd-sized chunks before
// the data, one without its pad byte; a data chunk claiming 0x7FFFF000 bytes,
// also cut within a frame) run, idle or not, exactly like the plain file of
// the samples they hold, and say so before a summary of what they hold;
// Info, the player and the spectra read those same samples.
TEST_F(RunDriver, RecordedAndPipedFilesRunAndReadLikeThePlainFileOfTheirSamples)
{
    const auto file = [](const WavOptions& o) { return make_pcm_wav(2, 48000, 16, {ramp(300, 9000), ramp(300, -4000)}, o); };
    const std::vector<uint8_t> xml{'<', 'a', '/', '>', '\n'}, piped = file(WavOptions().with_data_size(0x7FFFF000u));
    std::vector<uint8_t> cut_in_frame = piped;
    cut_in_frame.insert(cut_in_frame.end(), {1, 2, 3});
    const std::vector<uint8_t> rows[] = {
        file(WavOptions().with_chunk_before_data("bext", std::vector<uint8_t>(603, ' '))),
        file(WavOptions().with_chunk_before_data("iXML", xml)), file(WavOptions().with_chunk_before_fmt("JUNK", std::vector<uint8_t>(28))),
        file(WavOptions().with_chunk_before_data("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x'})),
        file(WavOptions().with_chunk_before_data("iXML", xml).without_pad_bytes()), piped, cut_in_frame};
    const std::string in = dir.file("in.wav");
    for (const uint32_t bitnr : {24u, 12u}) {
        const auto run = [&](const std::vector<uint8_t>& bytes) {
            input(bytes), log.lines.clear(), engine.params = {.inpwavname = in, .outwavname = dir.file("out.wav"), .bitnr = bitnr};
            EXPECT_EQ(engine.process_wav(), RunOutcome::done);
            InputInfo info;
            Pcm pcm;
            analysis::Channel channel;
            std::string error;
            read_input_info(in, info), decode_wav(in, pcm, 4096), analysis::read_channel(in, 1, channel, error);
            return std::tuple{test::read_file(dir.file("out.wav")), log.lines, format_input_info(info), pcm.samples, channel.samples};
        };
        auto want = run(file({}));
        for (const auto& bytes : rows) {
            if (&bytes == &rows[5]) // the first cut short
                std::get<1>(want).insert(std::get<1>(want).begin(), "wav-in: warning, data chunk cut short: reading 1200 of 2147479552 bytes\n");
            EXPECT_EQ(run(bytes), want) << &bytes - rows;
        }
    }
}

// With every stage idle the input is read again while the output is
// written: a recording cut short by another program in between ends the
// run with its message, and the previous output stays.
TEST_F(RunDriver, AnInputCutShortDuringAnIdleRunFailsAndKeepsThePreviousOutput)
{
    // Longer than the stream's own buffer, so that reading again reaches the file.
    input(make_pcm_wav(2, 48000, 16, {ramp(50000, 9000), ramp(50000, 3000)}));
    previous_output();
    engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")};
    log.on_line = [this](const std::string& line) {
        if (line.starts_with("writing output"))
            std::filesystem::resize_file(dir.file("in.wav"), 100);
    };
    EXPECT_EQ(engine.process_wav(), RunOutcome::failed);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"cannot read samples"});
    expect_nothing_new();
}

TEST_F(RunDriver, AStopAtEachCheckEndsTheRunThereAndLeavesNothingBehind)
{
    // Each row raises the stop request while the n-th line starting with
    // `trigger` is logged; the run must end at the next check, after the
    // line `last`.  Every stage acts, so a check follows each, in both
    // channels; with every stage idle (the last rows) the checks are between
    // the channels and while the output is written.
    const std::tuple<const char*, int, const char*, bool> rows[] = {
        {"input:", 1, "chnr:", false}, {"reading input", 1, "reading input", false},
        {"--- processing channel 0", 1, "--- processing channel 0", false}, {"SRC", 1, "SRC", false},
        {"input filter", 1, "input filter", false}, {"sampling", 1, "hold", false}, {"hold ...", 1, "hold ...", false},
        {"vari-speed (t)", 1, "vari-speed (t)", false}, {"vari-speed (f)", 1, "vari-speed (f)", false},
        {"quantization", 1, "quantization", false}, {"sampling", 2, "5 image(s)", false},
        {"aperture ...", 1, "aperture ...", false}, {"jitter ...", 1, "jitter ...", false},
        {"output filter", 1, "output filter", false}, {"f->t", 4, "f->t", false},
        {"--- processing channel 1", 1, "--- processing channel 1", false}, {"f->t", 8, "f->t", false},
        {"--- processing channel 1", 1, "--- processing channel 1", true}, {"writing output", 1, "writing output", true},
    };
    input(make_pcm_wav(2, 48000, 16, {ramp(500, 9000), ramp(500, 3000)}));
    previous_output();
    for (const auto& [trigger, occurrence, last, idle] : rows) {
        SCOPED_TRACE(testing::Message() << trigger << " #" << occurrence << (idle ? ", idle chain" : ""));
        engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav"), .fs = 44100, .fssim = 11025,
                         .aperture = 0.5, .bitnr = 12, .fcloin = 100, .fchiin = 15000, .fcloout = 50, .fchiout = 5000,
                         .varispeedt = 0.9, .varispeedf = 1.1, .varispeedsh = 1, .jitteramp = 0.1};
        if (idle)
            engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")};
        engine.fixed_seed = 1;
        engine.stopflag = 0;
        log.lines.clear();
        int seen = 0;
        log.on_line = [&, trigger = std::string(trigger), occurrence = occurrence](const std::string& line) {
            engine.stopflag |= line.starts_with(trigger) && ++seen == occurrence;
        };
        EXPECT_EQ(engine.process_wav(), RunOutcome::stopped);
        EXPECT_TRUE(messages.texts.empty());
        ASSERT_EQ(seen, occurrence);
        EXPECT_EQ(log.lines.back().rfind(last, 0), 0u) << log.lines.back();
        expect_nothing_new();
    }
}

// 2^30 samples is the longest working length: accepted, up to the summary.
TEST_F(RunDriver, AWorkingLengthOfExactly2To30IsAccepted)
{
    input(make_pcm_wav(1, 8000, 8, {{5}}));
    engine.params.varispeedt = std::ldexp(1.0, -30);
    log.on_line = [this](const std::string& line) { engine.stopflag = line.starts_with("chnr:"); };
    EXPECT_EQ(engine.process_wav(), RunOutcome::stopped);
    EXPECT_EQ(engine.sizes().sampnump, uint32_t{1} << 31);
}

// A stop request raised after the caller decided to run, before the run
// began, is not lost: the run stops at its first check.
TEST_F(RunDriver, AStopRaisedBeforeTheRunStopsIt)
{
    input(make_pcm_wav(2, 8000, 16, {ramp(100, 900), ramp(100, 3000)}));
    previous_output();
    engine.stopflag = 1;
    EXPECT_EQ(run_worker_steps(engine), RunOutcome::stopped);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(log.joined().find("--- DONE ---"), std::string::npos);
    expect_nothing_new();
}

} // namespace
} // namespace vesk
