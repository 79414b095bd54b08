// The run driver: parameter check, sizing, summary, buffers, and what a run
// leaves on disk when it fails or is stopped.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "engine/engine.h"
#include "support/recording_sinks.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace vesk {
namespace {

using test::RecordingLog;
using test::RecordingMessages;

std::vector<int32_t> ramp(std::size_t frames, int32_t scale)
{
    std::vector<int32_t> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = static_cast<int32_t>((static_cast<int64_t>(i * 37 % 101) - 50) * scale / 50);
    return v;
}

class RunDriver : public ::testing::Test {
public:
    RecordingMessages messages;
    RecordingLog log;
    Engine engine{messages, log};
    test::TempDir dir;

    std::string write_input(const std::vector<uint8_t>& bytes, const std::string& name = "in.wav")
    {
        const std::string path = dir.file(name);
        test::write_file(path, bytes);
        engine.inpwavname = path;
        engine.outwavname = dir.file("out.wav");
        return path;
    }
    std::string mono16(std::size_t frames, uint32_t rate = 48000)
    {
        return write_input(test::make_pcm_wav(1, rate, 16, {ramp(frames, 20000)}));
    }
    // Raises the stop request when a log line starting with `prefix` arrives.
    void stop_at(const std::string& prefix)
    {
        log.on_line = [this, prefix](const std::string& line) {
            if (line.rfind(prefix, 0) == 0)
                engine.stopflag = 1;
        };
    }
};

TEST_F(RunDriver, CheckParamsReportsTheFirstBadValue)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* name;
        std::function<void(Engine&)> set;
        const char* message; // nullptr: accepted
    };
    const Row rows[] = {
        {"defaults", [](Engine&) {}, nullptr},
        {"fssim 0", [](Engine& e) { e.fssim = 0; }, "invalid fs-sim (must be >0)"},
        {"fssim inf", [=](Engine& e) { e.fssim = inf; }, "invalid fs-sim (must be >0)"},
        {"fssim nan", [=](Engine& e) { e.fssim = nan; }, "invalid fs-sim (must be >0)"},
        {"aperture 1 is fine", [](Engine& e) { e.aperture = 1; }, nullptr},
        {"aperture above 1", [](Engine& e) { e.aperture = 1.0001; }, "invalid aperture (must be 0 ... 1)"},
        {"aperture nan", [=](Engine& e) { e.aperture = nan; }, "invalid aperture (must be 0 ... 1)"},
        {"fcloin negative", [](Engine& e) { e.fcloin = -1; }, "invalid input fc-lo (must be >= 0)"},
        {"fchiin negative", [](Engine& e) { e.fchiin = -1; }, "invalid input fc-hi (must be >= 0)"},
        {"fchiin inf", [=](Engine& e) { e.fchiin = inf; }, "invalid input fc-hi (must be >= 0)"},
        {"fcloout negative", [](Engine& e) { e.fcloout = -1; }, "invalid output fc-lo (must be >= 0)"},
        {"fchiout negative", [](Engine& e) { e.fchiout = -1; }, "invalid output fc-lo (must be >= 0)"},
        {"lo above hi is accepted", [](Engine& e) { e.fcloin = 9000; e.fchiin = 100; }, nullptr},
        {"bitnr 0", [](Engine& e) { e.bitnr = 0; }, "invalid bitnr (must be 1 ... 24)"},
        {"bitnr 25", [](Engine& e) { e.bitnr = 25; }, "invalid bitnr (must be 1 ... 24)"},
        {"bitnr 1", [](Engine& e) { e.bitnr = 1; }, nullptr},
        {"varispeedt 0", [](Engine& e) { e.varispeedt = 0; }, "invalid vari-speed-t (must be > 0)"},
        {"varispeedt inf", [=](Engine& e) { e.varispeedt = inf; }, "invalid vari-speed-t (must be > 0)"},
        {"varispeedf -1", [](Engine& e) { e.varispeedf = -1; }, "invalid vari-speed-f (must be > 0)"},
        {"varispeedf nan", [=](Engine& e) { e.varispeedf = nan; }, "invalid vari-speed-f (must be > 0)"},
        {"jitteramp 0.5", [](Engine& e) { e.jitteramp = 0.5; }, nullptr},
        {"jitteramp 0.51", [](Engine& e) { e.jitteramp = 0.51; }, "invalid jitter-amp (must be 0 ... 0.5)"},
        {"first failure wins", [](Engine& e) { e.bitnr = 0; e.aperture = 2; }, "invalid aperture (must be 0 ... 1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingMessages m;
        RecordingLog l;
        Engine e(m, l);
        row.set(e);
        EXPECT_EQ(e.check_params(), row.message ? -1 : 0);
        EXPECT_EQ(m.texts, row.message ? std::vector<std::string>{row.message} : std::vector<std::string>{});
    }
}

TEST_F(RunDriver, SizingFollowsTheLongestLengthOfTheChain)
{
    struct Row {
        const char* name;
        uint32_t rate, frames, fs;
        double varispeedt, varispeedf;
        uint32_t sampnumout, sampnump, fssim_idx;
    };
    const Row rows[] = {
        // 48000 samples: M = 48000, 2 * 65536; fs-sim 48000 is exactly sampnump bins.
        {"neutral", 48000, 48000, 0, 1.0, 1.0, 48000, 131072, 131072},
        {"half rate, half speed", 48000, 48000, 24000, 0.5, 1.0, 48000, 131072, 262144},
        {"power of two stays", 48000, 4096, 0, 1.0, 1.0, 4096, 8192, 8192},
        {"one more doubles", 48000, 4097, 0, 1.0, 1.0, 4097, 16384, 16384},
        {"doubled rate", 48000, 1000, 96000, 1.0, 1.0, 2000, 4096, 2048},
        // The converted length (800) alone would give 2048 < 4800 input samples;
        // the input channel plus the interpolator's reach sizes the arrays.
        {"rate lowered sixfold", 48000, 4800, 8000, 1.0, 1.0, 800, 8192, 49152},
        // speed-f 0.5 stretches the spectrum's length to 2N.
        {"vari-speed product 1", 48000, 1000, 0, 2.0, 0.5, 1000, 4096, 4096},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingMessages m;
        RecordingLog l;
        Engine e(m, l);
        test::TempDir d;
        test::write_file(d.file("in.wav"), test::make_pcm_wav(1, row.rate, 16, {ramp(row.frames, 1000)}));
        e.inpwavname = d.file("in.wav");
        e.outwavname = d.file("out.wav");
        e.fs = row.fs;
        e.varispeedt = row.varispeedt;
        e.varispeedf = row.varispeedf;
        l.on_line = [&e](const std::string& line) {
            if (line.rfind("chnr:", 0) == 0)
                e.stopflag = 1;
        };
        EXPECT_EQ(e.process_wav(), 1);
        EXPECT_TRUE(m.texts.empty());
        EXPECT_EQ(e.sampnuminp, row.frames);
        EXPECT_EQ(e.sampnumout, row.sampnumout);
        EXPECT_EQ(e.sampnump, row.sampnump);
        EXPECT_EQ(e.fssim_idx, row.fssim_idx);
        EXPECT_EQ(e.dfmin, static_cast<double>(e.fs) / row.sampnump);
        EXPECT_EQ(e.fs, row.fs ? row.fs : row.rate);
        // Stopped at the summary: nothing allocated, nothing created.
        EXPECT_EQ(e.sampbuf_size, 0u);
        EXPECT_EQ(e.fft_tabsize, 0u);
        EXPECT_EQ(d.listing(), std::vector<std::string>{"in.wav"});
    }
}

TEST_F(RunDriver, SummaryShowsSnappedValues)
{
    write_input(test::make_pcm_wav(2, 48000, 8, {ramp(1000, 100), ramp(1000, 50)}));
    engine.fssim = 8000;
    engine.aperture = 0.25;
    engine.jitteramp = 0.1;
    engine.varispeedt = 2.0;
    engine.varispeedf = 0.5;
    engine.varispeedsh = 1;
    engine.fcloin = 100;
    engine.fchiin = 30000;
    engine.fcloout = 1000;
    engine.fchiout = 5000;
    engine.bitnr = 12;
    stop_at("chnr:");
    EXPECT_EQ(engine.process_wav(), 1);
    EXPECT_EQ(log.joined(), "input:             1000 samples ( 8 bit)\n"
                            "output:            1000 samples (24 bit)\n"
                            "FFT:               4096 samples\n"
                            "fs-inp:        48000.00 Hz\n"
                            "fs:            48000.00 Hz\n"
                            "dfmin:        11.718750 Hz\n"
                            "fs-sim:         7992.19 Hz\n"
                            "aperture:        0.2500\n"
                            "jitter:       1.251e-05 s\n"
                            "vari-speed:    1.000000\n"
                            "hold-sample:        yes\n"
                            "inp fc-lo:        93.75 Hz\n"
                            "inp fc-hi:     24000.00 Hz\n"
                            "out fc-lo:       996.09 Hz\n"
                            "out fc-hi:      4992.19 Hz\n"
                            "quant:               12 bit\n"
                            "chnr:                 2\n");
    EXPECT_EQ(engine.fcloin_idx, 8u);
    EXPECT_EQ(engine.fchiin_idx, 2048u);
    EXPECT_EQ(engine.fcloout_idx, 85u);
    EXPECT_EQ(engine.fchiout_idx, 426u);
    EXPECT_EQ(engine.fssim_idx, 682u);
}

TEST_F(RunDriver, RefusedRunsShowOneMessageAndWriteNothing)
{
    struct Row {
        const char* name;
        std::function<void(RunDriver&)> set_up;
        std::vector<std::string> log;
        const char* message;
    };
    const Row rows[] = {
        {"missing input", [](RunDriver& t) { t.engine.inpwavname = t.dir.file("none.wav"); t.engine.outwavname = t.dir.file("out.wav"); },
         {}, "cannot open WAV input"},
        {"not a WAV", [](RunDriver& t) { t.write_input({'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}); },
         {}, "wav-in: invalid or unsupported WAV-format"},
        {"float samples", [](RunDriver& t) {
             test::WavOptions o;
             o.format_tag = 3;
             t.write_input(test::make_pcm_wav(1, 48000, 16, {ramp(10, 100)}, o));
         }, {}, "wav-in: WAV must be PCM\n"},
        {"rate 0", [](RunDriver& t) { t.write_input(test::make_pcm_wav(1, 0, 16, {ramp(10, 100)})); },
         {}, "wav-in: invalid sample rate"},
        {"32 bit", [](RunDriver& t) { t.write_input(test::make_pcm_wav(1, 48000, 32, {ramp(10, 100)})); },
         {}, "wav-in: invalid bitnr"},
        {"no samples", [](RunDriver& t) { t.write_input(test::make_pcm_wav(2, 48000, 16, {{}, {}})); },
         {"wav-in: warning, no samples", "wav-out: warning, no samples\n"}, "sampnump too small"},
        // Rate conversion, whose working arrays also hold the input channel:
        // with no samples there is nothing to hold (found by fuzzing: the
        // run went on with no input buffer at all).
        {"no samples, rate converted", [](RunDriver& t) {
             t.write_input(test::make_pcm_wav(2, 8000, 8, {{}, {}}));
             t.engine.fs = 44100;
         }, {"wav-in: warning, no samples", "wav-out: warning, no samples\n"}, "sampnump too small"},
        {"fs-sim below one bin", [](RunDriver& t) { t.mono16(1000); t.engine.fssim = 11.0; },
         {}, "invalid fs-sim=0"},
        // ceil(48000 / speed-t) = 2^30 + 1
        {"working length above 2^30", [](RunDriver& t) { t.mono16(48000); t.engine.varispeedt = 48000.0 / (1073741824.0 + 0.5); },
         {}, "sampnump too large for u_int"},
        // 2^30 output samples in two channels need 6 GiB of data.
        {"output beyond a WAV's reach", [](RunDriver& t) {
             t.write_input(test::make_pcm_wav(2, 48000, 16, {ramp(48000, 100), ramp(48000, 100)}));
             t.engine.varispeedt = 48000.0 / 1073741824.0;
         }, {}, "wav-out: output too large for WAV"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        messages.texts.clear();
        log.lines.clear();
        engine.fs = 0;
        engine.fssim = 48000;
        engine.varispeedt = 1.0;
        row.set_up(*this);
        test::write_file(dir.file("out.wav"), {'o', 'l', 'd'});
        EXPECT_EQ(engine.process_wav(), -1);
        EXPECT_EQ(messages.texts, std::vector<std::string>{row.message});
        EXPECT_EQ(log.lines, row.log);
        EXPECT_EQ(test::read_file(dir.file("out.wav")), (std::vector<uint8_t>{'o', 'l', 'd'}));
        for (const std::string& name : dir.listing())
            EXPECT_TRUE(name == "in.wav" || name == "out.wav") << name;
        std::filesystem::remove(dir.file("in.wav"));
    }
}

TEST_F(RunDriver, WorkingLengthOfExactly2To30IsAccepted)
{
    mono16(48000);
    engine.varispeedt = 48000.0 / 1073741824.0; // ceil(48000 / speed-t) = 2^30 exactly
    stop_at("chnr:");
    EXPECT_EQ(engine.process_wav(), 1);
    EXPECT_EQ(engine.sampnump, 2147483648u);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(RunDriver, FilterCornersAboveHalfTheRateAreClamped)
{
    mono16(1000);
    engine.fchiin = 1e30; // far beyond 32 bits of bins
    engine.fchiout = 24000.0;
    engine.fssim = 1e30;
    stop_at("chnr:");
    EXPECT_EQ(engine.process_wav(), 1);
    EXPECT_EQ(engine.fchiin_idx, engine.sampnump / 2);
    EXPECT_EQ(engine.fchiin, 24000.0);
    EXPECT_EQ(engine.fssim_idx, 0xFFFFFFFFu);
}

TEST_F(RunDriver, OutputNamingTheInputIsRefusedBeforeAnythingIsWritten)
{
    const std::string input = mono16(100);
    const auto original = test::read_file(input);
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_hard_link(input, dir.file("link.wav"));
    for (const std::string& out : {input, dir.file("sub/../in.wav"), dir.file("link.wav")}) {
        SCOPED_TRACE(out);
        messages.texts.clear();
        engine.outwavname = out;
        EXPECT_EQ(engine.process_wav(), -1);
        EXPECT_EQ(messages.texts, std::vector<std::string>{"output file is the input file"});
        EXPECT_EQ(test::read_file(input), original);
    }
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "link.wav", "sub"}));
}

TEST_F(RunDriver, AbsentFileNameEndsTheRunSilently)
{
    mono16(100);
    engine.outwavname.reset();
    EXPECT_EQ(engine.process_wav(), -1);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(RunDriver, ShortDataLeavesThePreviousOutputUntouched)
{
    test::WavOptions options;
    options.data_size = 4000; // declares more than the file holds
    write_input(test::make_pcm_wav(1, 48000, 16, {ramp(100, 100)}, options));
    test::write_file(dir.file("out.wav"), {1, 2, 3});
    EXPECT_EQ(engine.process_wav(), -1);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"cannot read samples"});
    EXPECT_EQ(test::read_file(dir.file("out.wav")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_F(RunDriver, OutputPathThatIsAFolderIsRefused)
{
    mono16(100);
    std::filesystem::create_directory(dir.file("out.wav"));
    EXPECT_EQ(engine.process_wav(), -1);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"cannot open WAV output"});
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("out.wav")));
}

TEST_F(RunDriver, StopAtEachCheckLeavesNoOutput)
{
    // Each row raises the stop request while the n-th line starting with
    // `trigger` is logged; the run must end with 1 at the next check, whose
    // last line before it is `last`, and leave the old output alone.  The
    // chain has every stage acting, so there is a check after each of them,
    // in both channels.  (Between the checks before and after the allocation
    // nothing is logged: a stop raised at the summary is seen by the first.)
    struct Row {
        const char* trigger;
        int occurrence;
        const char* last;
    };
    const Row rows[] = {
        {"input:", 1, "chnr:"},                     // after the summary
        {"chnr:", 1, "chnr:"},
        {"reading input", 1, "reading input"},      // after the samples are read
        {"--- processing channel 0", 1, "--- processing channel 0"}, // after decoding
        {"SRC", 1, "SRC"},                          // after each stage ...
        {"t->f", 1, "input filter"},
        {"input filter", 1, "input filter"},
        {"sampling", 1, "hold"},                    // sampling and hold are one step
        {"hold ...", 1, "hold ..."},
        {"f->t", 1, "vari-speed (t)"},
        {"vari-speed (t)", 1, "vari-speed (t)"},
        {"vari-speed (f)", 1, "vari-speed (f)"},
        {"quantization", 1, "quantization"},
        {"sampling", 2, "5 image(s)"},
        {"aperture ...", 1, "aperture ..."},
        {"jitter ...", 1, "jitter ..."},
        {"output filter", 1, "output filter"},
        {"f->t", 4, "f->t"},                        // after the channel
        {"--- processing channel 1", 1, "--- processing channel 1"},
        {"SRC", 2, "SRC"},
        {"output filter", 2, "output filter"},
        {"f->t", 8, "f->t"},                        // after the last channel, before writing
    };
    for (const Row& row : rows) {
        for (const bool had_previous : {true, false}) {
            SCOPED_TRACE(std::string(row.trigger) + " #" + std::to_string(row.occurrence) +
                         (had_previous ? ", previous output" : ", no previous output"));
            write_input(test::make_pcm_wav(2, 48000, 16, {ramp(500, 9000), ramp(500, 3000)}));
            engine.fs = 44100;
            engine.fcloin = 100;
            engine.fchiin = 15000;
            engine.varispeedsh = 1;
            engine.varispeedt = 0.9;
            engine.varispeedf = 1.1;
            engine.bitnr = 12;
            engine.fssim = 11025;
            engine.aperture = 0.5;
            engine.jitteramp = 0.1;
            engine.fcloout = 50;
            engine.fchiout = 5000;
            engine.fixed_seed = 1;
            engine.stopflag = 0;
            messages.texts.clear();
            log.lines.clear();
            std::filesystem::remove(dir.file("out.wav"));
            if (had_previous)
                test::write_file(dir.file("out.wav"), {9, 9});
            int seen = 0;
            log.on_line = [&](const std::string& line) {
                if (line.rfind(row.trigger, 0) == 0 && ++seen == row.occurrence)
                    engine.stopflag = 1;
            };
            EXPECT_EQ(engine.process_wav(), 1);
            EXPECT_TRUE(messages.texts.empty());
            EXPECT_EQ(seen, row.occurrence);
            ASSERT_FALSE(log.lines.empty());
            EXPECT_EQ(log.lines.back().rfind(row.last, 0), 0u) << log.lines.back();
            if (had_previous) {
                EXPECT_EQ(test::read_file(dir.file("out.wav")), (std::vector<uint8_t>{9, 9}));
                EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
            } else {
                EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
            }
            engine.fft_free();
            engine.free_buffers();
        }
    }
    // Without a stop the same chain runs to its end.
    log.on_line = nullptr;
    engine.stopflag = 0;
    write_input(test::make_pcm_wav(2, 48000, 16, {ramp(500, 9000), ramp(500, 3000)}));
    engine.fs = 44100;
    engine.fssim = 11025;
    engine.fcloout = 50;
    engine.fchiout = 5000;
    EXPECT_EQ(engine.process_wav(), 0);
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

// The output header holds a frame's bytes in 16 bits and a second's bytes in
// 32 bits; an output that would not fit them is refused before anything is
// allocated, like one whose data would not fit.
TEST_F(RunDriver, OutputHeaderFieldsMustHoldTheirValues)
{
    struct Row {
        const char* name;
        uint16_t channels;
        uint32_t rate;
        bool accepted;
    };
    const Row rows[] = {
        {"21845 channels: a frame of 65535 bytes", 21845, 8000, true},
        {"21846 channels", 21846, 8000, false},
        {"65535 channels", 65535, 8000, false},
        {"3 x rate = 2^32 - 1 bytes a second", 1, 1431655765u, true},
        {"one more", 1, 1431655766u, false},
        {"byte rate of two channels", 2, 715827883u, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        messages.texts.clear();
        log.lines.clear();
        engine.stopflag = 0;
        engine.fs = 0;
        engine.fssim = row.rate;
        write_input(test::make_pcm_wav(row.channels, row.rate, 8,
                                       std::vector<std::vector<int32_t>>(row.channels, std::vector<int32_t>{1, 2})));
        stop_at("chnr:");
        EXPECT_EQ(engine.process_wav(), row.accepted ? 1 : -1);
        EXPECT_EQ(messages.texts, row.accepted ? std::vector<std::string>{}
                                               : std::vector<std::string>{"wav-out: output too large for WAV"});
        EXPECT_EQ(engine.sampbuf_size, 0u);
        EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
    }
}

TEST_F(RunDriver, BuffersAreKeptWhileTheirSizeHolds)
{
    engine.inpdatasize = 100;
    engine.outdatasize = 300;
    engine.sampnump = 256;
    ASSERT_EQ(engine.alloc_buffers(), 0);
    const uint8_t* in = engine.wavinpbuf;
    const double* re = engine.sampbuf1_re;
    const double* im2 = engine.sampbuf2_im;
    ASSERT_EQ(engine.alloc_buffers(), 0);
    EXPECT_EQ(engine.wavinpbuf, in);
    EXPECT_EQ(engine.sampbuf1_re, re);
    EXPECT_EQ(engine.sampbuf2_im, im2);
    EXPECT_EQ(engine.wavinpbuf_size, 100u);
    EXPECT_EQ(engine.wavoutbuf_size, 300u);
    EXPECT_EQ(engine.sampbuf_size, 256u);
    EXPECT_EQ(engine.free_buffers(), 0);
    EXPECT_EQ(engine.wavinpbuf, nullptr);
    EXPECT_EQ(engine.sampbuf2_im, nullptr);
    EXPECT_EQ(engine.wavinpbuf_size + engine.wavoutbuf_size + engine.sampbuf_size, 0u);
    EXPECT_TRUE(messages.texts.empty());
}

} // namespace
} // namespace vesk
