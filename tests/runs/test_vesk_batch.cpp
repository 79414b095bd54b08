// vesk-batch as a process: usage errors, exit statuses, the log on standard
// output and the messages on standard error, and Ctrl-C.  Few launches: what
// a run computes is the in-process tests' business.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "analysis/run_spectra.h"
#include "analysis/spectrogram.h"
#include "tests/support/batch_runs.h"
#include "tests/support/sound_file.h"
#include "ui/params.h"

namespace vesk {
namespace {

using test::vesk_batch;

TEST(VeskBatch, UsageErrorsEndWith2AndHelpWith0)
{
    const std::string usage = "usage: vesk-batch [-e LINE]... [FILE]...\nTry 'vesk-batch --help' for more information.\n";
    for (const auto& [args, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, usage}, {{"-x"}, "vesk-batch: unknown option '-x'\n" + usage}, {{"-e"}, "vesk-batch: -e needs a line of batch text\n" + usage},
             {{"--spectra"}, "vesk-batch: --spectra needs a format (png, svg or csv)\n" + usage},
             {{"--spectra", "wav", "-e", "process"}, "vesk-batch: unknown spectra format 'wav' (png, svg or csv)\n" + usage},
             {{"--spectra", "csv", "--spectrogram"}, "vesk-batch: --spectrogram needs a format (png, svg or csv)\n" + usage},
             {{"--spectrogram", "PNG", "-e", "process"}, "vesk-batch: unknown spectrogram format 'PNG' (png, svg or csv)\n" + usage},
#ifndef VESK_HAVE_PLOT
             {{"--spectra", "png", "-e", "process"}, "vesk-batch: --spectra png needs the desktop build (csv is available)\n"},
             {{"--spectrogram", "svg", "-e", "process"}, "vesk-batch: --spectrogram svg needs the desktop build (csv is available)\n"},
#endif
         }) {
        const test::ProcessResult run = vesk_batch(args);
        EXPECT_EQ(std::tie(run.status, run.err, run.out), std::make_tuple(2, err, std::string()));
    }
    const test::ProcessResult help = vesk_batch({"--help"});
    EXPECT_EQ(std::tie(help.status, help.err), std::make_tuple(0, std::string()));
    EXPECT_EQ(help.out.rfind("usage: vesk-batch [-e LINE]... [FILE]...\n", 0), 0u);
    // Every keyword on a line of its own: value name, help and default.
    for (const ParamInfo& p : param_table()) {
        std::string line = "  " + std::string(p.keyword) + " " + std::string(p.value_name);
        line.resize(std::max<std::size_t>(line.size() + 1, 28), ' ');
        EXPECT_NE(help.out.find("\n" + line + std::string(p.help) + ", default " + std::string(p.fallback) + "\n"), std::string::npos) << line;
    }
}

// The same run in-process: its log is what standard output must carry.
std::string in_process_log(const std::string& in, const std::string& out)
{
    test::RecordingMessages messages;
    test::RecordingLog log;
    Engine engine(messages, log);
    engine.params = {.inpwavname = in, .outwavname = out};
    EXPECT_EQ(engine.process_wav(), RunOutcome::done);
    return log.joined() + "--- DONE ---\n";
}

// A good run alone ends with 0; the same run after failures ends with 1.  The
// log goes to standard output as the engine writes it, one message line
// each to standard error, whether the engine's text ends in a newline or not.
TEST(VeskBatch, StatusIs0WhenEveryRunSucceededAnd1AfterAnyFailure)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(2, 8000, 16, {test::ramp(300, 4500), test::ramp(300, 14000)}));
    test::write_file(dir.file("float.wav"), test::make_pcm_wav(1, 8000, 32, {{1}}, test::WavOptions().with_format_tag(3)));
    test::write_text(dir.file("first.txt"), "inpwavname " + dir.file("in.wav") + "\n");
    const std::string log = in_process_log(dir.file("in.wav"), dir.file("same.wav"));
    // The parameters carry over from the file to standard input.
    test::ProcessResult run = vesk_batch({dir.file("first.txt"), "-"}, "outwavname " + dir.file("out.wav") + "\nprocess\n");
    EXPECT_EQ(std::tie(run.status, run.err, run.out), std::make_tuple(0, "", log));
    EXPECT_EQ(test::read_file(dir.file("out.wav")), test::read_file(dir.file("same.wav")));
    std::filesystem::remove(dir.file("out.wav"));
    run = vesk_batch({"-e", "inpwavname " + dir.file("gone.wav") + "\noutwavname " + dir.file("a.wav") + "\nprocess", "-e",
                      "inpwavname " + dir.file("float.wav") + "\nprocess", "-e", "inpwavname " + dir.file("in.wav") + "\nbitnr 0 process",
                      "-e", "bitnr 24 outwavname " + dir.file("out.wav") + "\nprocess"});
    EXPECT_EQ(std::tie(run.status, run.err, run.out),
              std::make_tuple(1, "vesk: cannot open WAV input\nvesk: wav-in: WAV must be PCM\nvesk: invalid bitnr (must be 1 ... 24)\n", log));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"first.txt", "float.wav", "in.wav", "out.wav", "same.wav"}));
    run = vesk_batch({dir.file("missing.txt")});
    EXPECT_EQ(std::tie(run.status, run.err), std::make_tuple(1, "vesk: cannot open file\n"));
}

// --spectra csv and --spectrogram csv: the same log, and the analyses of channel 0 beside the output (a final
// ".wav" dropped); none after a failed run; a file that cannot be written makes the status 1 and keeps the WAV.
TEST(VeskBatch, SpectraAndSpectrogramCsvBesideTheOutputOfEachGoodRun)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(2, 8000, 16, {test::ramp(9000, 4500), test::ramp(9000, 14000)}));
    const auto run_text = [&](const std::string& out) { return "inpwavname " + dir.file("in.wav") + "\noutwavname " + dir.file(out) + "\nfssim 6001 process"; };
    const test::ProcessResult plain = vesk_batch({"-e", run_text("plain.wav")});
    test::ProcessResult run = vesk_batch({"--spectra", "csv", "--spectrogram", "csv", "-e", run_text("plain.wav"), "-e", run_text("out")});
    EXPECT_EQ(std::tie(run.status, run.err, run.out), std::make_tuple(0, "", plain.out + plain.out));
    test::RecordingMessages messages;
    test::RecordingLog log;
    Engine engine(messages, log);
    engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("same.wav"), .fssim = 6001};
    ASSERT_EQ(engine.process_wav(), RunOutcome::done);
    analysis::Channel input, output;
    std::string error;
    ASSERT_TRUE(analysis::read_channel(dir.file("in.wav"), 0, input, error) && analysis::read_channel(dir.file("same.wav"), 0, output, error));
    const analysis::RunSpectra spectra = analysis::analyse_run(input, output, engine.params);
    const analysis::RunSpectrogram gram = analysis::analyse_spectrogram(input, output, engine.params);
    const std::string tracks = analysis::tracks_csv(gram.tracks, analysis::measured_peaks(gram.output));
    EXPECT_EQ(tracks.rfind("time_s,kind,frequency_hz,level_dbfs\n0.256000,tone,", 0), 0u); // 4096-point frames 256 apart
    const auto text = [&](const std::string& name) { const std::vector<uint8_t> bytes = test::read_file(dir.file(name)); return std::string(bytes.begin(), bytes.end()); };
    for (const std::string out : {"plain", "out"}) {
        const std::string csv = text(out + ".spectra.csv");
        EXPECT_EQ(csv.rfind("frequency_hz,input_dbfs,output_dbfs\n", 0), 0u);
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 4097);
        EXPECT_EQ(csv, analysis::spectra_csv(spectra.input, spectra.output));
        EXPECT_EQ(text(out + ".predicted.csv").rfind("kind,frequency_hz,level_dbfs\ntone,", 0), 0u);
        EXPECT_EQ(text(out + ".predicted.csv"), analysis::predicted_csv(spectra.predictions));
        EXPECT_EQ(text(out + ".tracks.csv"), tracks);
    }
    for (const char* name : {"dir.spectra.csv", "dir.tracks.csv"})
        std::filesystem::create_directory(dir.file(name));
    run = vesk_batch({"--spectrogram", "csv", "--spectra", "csv", "-e", run_text("dir.wav")});
    EXPECT_EQ(std::tie(run.status, run.err), std::make_tuple(1, "vesk: cannot write spectra file " + dir.file("dir.spectra.csv") +
                                                                    "\nvesk: cannot write spectrogram file " + dir.file("dir.tracks.csv") + "\n"));
    run = vesk_batch({"--spectrogram", "csv", "-e", "inpwavname " + dir.file("gone.wav") + "\noutwavname " + dir.file("gone.wav") + "\nprocess"});
    EXPECT_EQ(std::tie(run.status, run.err), std::make_tuple(1, "vesk: cannot open WAV input\n"));
    EXPECT_EQ(test::read_file(dir.file("dir.wav")), test::read_file(dir.file("plain.wav")));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"dir.predicted.csv", "dir.spectra.csv", "dir.tracks.csv", "dir.wav", "in.wav", "out",
                                                       "out.predicted.csv", "out.spectra.csv", "out.tracks.csv", "plain.predicted.csv",
                                                       "plain.spectra.csv", "plain.tracks.csv", "plain.wav", "same.wav"}));
#ifdef VESK_HAVE_PLOT
    // Pictures come from the module, both kinds after one run.
    run = vesk_batch({"--spectrogram", "png", "--spectra", "svg", "-e", run_text("pic.wav")});
    EXPECT_EQ(std::tie(run.status, run.err), std::make_tuple(0, ""));
    EXPECT_EQ(vesk_batch({"--spectrogram", "svg", "-e", run_text("pic.wav")}).status, 0);
    EXPECT_EQ(text("pic.spectrogram.png").substr(0, 4), "\x89PNG");
    for (const char* svg : {"pic.spectrogram.svg", "pic.spectra.svg"})
        EXPECT_NE(text(svg).find("<svg"), std::string::npos) << svg;
#endif
}

TEST(VeskBatch, CtrlCWhileABatchIsReadFromStandardInputStopsAtOnceWith130)
{
    test::TempDir dir;
    test::Child child(VESK_BATCH_EXE, {"-"});
    // A whole command has arrived, but the input has not ended.
    child.feed("inpwavname " + dir.file("in.wav") + "\noutwavname " + dir.file("out.wav") + "\nprocess\n");
    // Until the child is asleep in its read rather than still starting.
    std::string word, state;
    for (int i = 0; i < 500 && (word != "(vesk-batch)" || state != "S"); ++i, usleep(10000))
        std::ifstream("/proc/" + std::to_string(child.pid()) + "/stat") >> word >> word >> state;
    usleep(50000);
    kill(child.pid(), SIGINT);
    // Waiting for the end of the input would never end: the test keeps it open.
    const test::ProcessResult run = child.finish(5);
    EXPECT_EQ(std::tie(run.exited, run.status, run.out), std::make_tuple(true, 130, ""));
    EXPECT_EQ(dir.listing(), std::vector<std::string>{});
}

TEST(VeskBatch, CtrlCDuringARunStopsItWith130AndLeavesTheOldOutput)
{
    test::TempDir dir;
    // Enough channels of rate conversion that the run is still under way
    // when the interrupt arrives.
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(32, 48000, 16, std::vector<std::vector<int32_t>>(32, test::ramp(32768, 9000))));
    test::write_text(dir.file("out.wav"), "keep");
    test::Child child(VESK_BATCH_EXE, {"-e", "inpwavname " + dir.file("in.wav") + "\noutwavname " + dir.file("out.wav") +
                                                 "\nfssrc 44100 ensrc TRUE process"});
    ASSERT_TRUE(child.wait_for_output([](const std::string& out) { return out.find("--- processing channel 0: ---") != std::string::npos; }, 30));
    kill(child.pid(), SIGINT);
    const test::ProcessResult run = child.finish(30);
    EXPECT_EQ(std::tie(run.exited, run.status, run.err), std::make_tuple(true, 130, ""));
    EXPECT_EQ(run.out.find("writing output"), std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("out.wav")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
}

// --import: one line on success; "vesk: cannot import SOURCE: <reason>" and
// status 1 when it cannot; 2 when misused.  The converter itself is tested
// in-process.
TEST(VeskBatch, ImportSaysWhatItConvertedRefusesATakenNameAndIsUsedAlone)
{
    test::TempDir dir;
    const std::string source = dir.file("take.wav"), target = dir.file("take-24.wav");
    std::vector<double> samples(2 * 4410, 0.25);
    samples[7] = 1.5;
    ASSERT_TRUE(test::write_sound(source, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, samples));
    const std::string misused = "vesk-batch: --import takes a source and a target file, and nothing else\n"
                                "usage: vesk-batch [-e LINE]... [FILE]...\nTry 'vesk-batch --help' for more information.\n";
    const struct { std::vector<std::string> args; int status; std::string out, err; } rows[] = {
        {{"--import", source, target}, 0,
         "imported " + source + " (WAV, 32 bit float, 2 ch, 44100 Hz, 0:00.1) as " + target + " (24 bit); 1 sample clipped\n", ""},
        {{"--import", source, target}, 1, "", "vesk: cannot import " + source + ": " + target + " exists\n"},
        {{"--import", source}, 2, "", misused},
        {{"-e", "stop", "--import", source, target}, 2, "", misused},
    };
    for (const auto& row : rows) {
        const test::ProcessResult run = vesk_batch(row.args);
        EXPECT_EQ(std::tie(run.status, run.out, run.err), std::tie(row.status, row.out, row.err));
    }
    EXPECT_EQ(dir.listing(), (std::vector<std::string>{"take-24.wav", "take.wav"}));
}

} // namespace
} // namespace vesk
