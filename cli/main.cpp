// vesk-batch: runs batch files without any window system.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "analysis/run_spectra.h"
#include "analysis/spectrogram.h"
#include "engine/engine.h"
#include "ui/batch.h"
#include "ui/input_info.h"
#include "ui/progress_text.h"
#include "ui/run.h"
#include "wav/import.h"
#ifdef VESK_HAVE_PLOT
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

const char usage_text[] = "usage: vesk-batch [-e LINE]... [FILE]...\n"
                          "Try 'vesk-batch --help' for more information.\n";

// The help: the keywords come from the parameter table, so the text
// cannot fall behind the reader.
std::string help_text()
{
    std::string text =
        "usage: vesk-batch [-e LINE]... [FILE]...\n"
        "\n"
        "Reads batch text from each -e LINE and each FILE ('-' is standard input),\n"
        "in the order given, and runs the chain on every \"process\" command.\n"
        "The parameters start at their defaults and carry over from one source to\n"
        "the next.\n"
        "\n"
        "Batch text is a sequence of words; each keyword takes the value after it:\n";
    for (const vesk::ParamInfo& p : vesk::param_table()) {
        std::string left = "  " + std::string(p.keyword) + " " + std::string(p.value_name);
        left.resize(std::max<std::size_t>(left.size() + 1, 28), ' ');
        text += left + std::string(p.help) + ", default " + std::string(p.fallback) + "\n";
    }
    text +=
        "  process                    run the chain with the parameters read so far\n"
        "  stop                       stop reading (nothing after it is read)\n"
        "Frequencies and factors (fssim, the four filter corners, varispeedt and\n"
        "varispeedf) also take the semitone form: ST raises the current value by one\n"
        "semitone, ST-12 lowers it by an octave, ST7 raises it by a fifth.\n"
        "\n"
        "--spectra FORMAT (png, svg or csv) writes, after each run that succeeds, the\n"
        "spectra of channel 0 of its input and output with the chain's predictions\n"
        "to OUT.spectra.FORMAT beside the output, where OUT is the output path\n"
        "without a final \".wav\"; csv also writes the predictions to\n"
        "OUT.predicted.csv. A spectra file that cannot be written is a failure\n"
        "(status 1); the run's WAV output stays.\n"
        "\n"
        "--spectrogram FORMAT (png, svg or csv) writes, after each run that succeeds,\n"
        "the spectrograms of channel 0 of its input and output with the predicted\n"
        "tracks to OUT.spectrogram.FORMAT; csv writes OUT.tracks.csv instead\n"
        "(time_s,kind,frequency_hz,level_dbfs: the points of the predicted tracks\n"
        "and the peaks measured in the output). Failures as for --spectra; both may\n"
        "be given.\n"
#ifndef VESK_HAVE_PLOT
        "This build has no desktop program: it writes csv only.\n"
#endif
        "\n"
        "--excerpt START,SECONDS renders only SECONDS seconds of each input from\n"
        "START seconds on into the output, as if the excerpt were the whole file,\n"
        "with 0.5 s rendered and dropped on each side where the input goes on. A\n"
        "line before the run's summary names the span; one that runs past the\n"
        "input's end is cut there. A length of 0 or less, a negative start or one\n"
        "at or beyond an input's end is a usage error. An excerpt's frequencies snap\n"
        "to its own (coarser) bins, its level follows its own peak, its filters act\n"
        "within it and its margins, its clocks start with it, and its jitter draws\n"
        "differ from a whole run's.\n"
        "\n"
        "--import SOURCE TARGET.wav converts an audio file that the chain does not\n"
        "take (FLAC, Ogg Vorbis or Opus, MP3, AIFF, CAF, W64, WAV of float or 32-bit\n"
        "samples, ...) into a PCM WAV that it does, at the source's rate and channels,\n"
        "16 bit for integer sources of up to 16 bits, otherwise 24 bit, and exits.\n"
        "It writes one line about the files and never replaces a file: an existing\n"
        "TARGET is refused, and a failed or stopped conversion leaves nothing.  A\n"
        "file it cannot convert ends it with status 1 and the message\n"
        "\"vesk: cannot import SOURCE: <reason>\".\n"
        "\n"
        "--memory-limit SIZE (such as 512M or 2G) is the memory a run may hold;\n"
        "by default three quarters of the memory the system reports available. A\n"
        "run whose whole file would need more renders it in segments instead, and a\n"
        "line before its summary says so. --segmented renders every run in\n"
        "segments. A segmented run's frequencies snap to the segments' bins, its\n"
        "filters act within a segment and its margins, and its jitter draws differ\n"
        "from a whole run's; its levels are the whole file's.\n"
        "\n"
        "--version prints the version and exits.\n"
        "\n"
        "The run's log goes to standard output; messages go to standard error.\n"
        "Exit status: 0 when every run succeeded (or there was none); 1 when a source\n"
        "could not be opened, parameters were refused or a run failed; 130 after\n"
        "Ctrl-C, which stops the run under way and leaves no output behind; 2 for a\n"
        "usage error.\n";
    return text;
}

// Written by the SIGINT handler; both are lock-free, so the handler may touch
// them.
volatile std::sig_atomic_t interrupted = 0;
std::atomic<int>* running_stopflag = nullptr;

extern "C" void on_interrupt(int)
{
    interrupted = 1;
    if (running_stopflag != nullptr)
        running_stopflag->store(1);
}

// The one-line progress display on a terminal's standard error: "\r", the
// percentage and the time left, redrawn in place and wiped before anything
// else is written to the terminal.  Off (and silent) when standard error is
// not a terminal, so that scripts and logs get exactly the run's own text.
struct ProgressLine : vesk::ProgressSink {
    bool enabled = false;
    std::size_t shown = 0; // characters on the line now
    vesk::ProgressClock clock;

    void report_progress(double fraction) override
    {
        if (!enabled)
            return;
        // A field as wide as the longest time left, so a shorter text
        // overwrites a longer one.
        clock.count_report();
        const std::string left =
            clock.settled() ? vesk::time_left_text(fraction, clock.elapsed_seconds()) : "time left --:--";
        char line[64];
        const int length = std::snprintf(line, sizeof line, "\r%3d%%  %-18s", vesk::progress_percent(fraction),
                                         left.c_str());
        shown = static_cast<std::size_t>(length) - 1;
        std::fwrite(line, 1, shown + 1, stderr);
        std::fflush(stderr);
    }
    void clear()
    {
        if (shown == 0)
            return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown), "");
        std::fflush(stderr);
        shown = 0;
    }
};

ProgressLine progress_line;

struct StdoutLog : vesk::LogSink {
    // The log clears the progress line only where both share a terminal.
    bool on_terminal = isatty(STDOUT_FILENO) != 0;
    void append_log(const std::string& line) override
    {
        if (on_terminal)
            progress_line.clear();
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
};

struct StderrMessages : vesk::MessageSink {
    void show_message(const std::string& text) override
    {
        progress_line.clear();
        std::string line = "vesk: " + text;
        if (line.back() != '\n')
            line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }
};

struct Source {
    enum Kind { line, file, standard_input } kind;
    std::string text;
};

// A file written whole or not at all: under a temporary name in the same
// folder, then renamed over `path`, so a failed write (or a folder in the
// way) leaves no part of a file behind.
bool write_whole(const std::string& path, const std::function<bool(const std::string&)>& write)
{
    const std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    if (write(temp) && std::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temp.c_str());
    return false;
}

bool write_text(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

#ifdef VESK_HAVE_PLOT
// The picture writers live in a module beside this program (the build
// tree) or in its library folder (installed), loaded on first use: it
// brings the toolkit's libraries, whose loading would otherwise slow every
// run down.  Null when the module or the function cannot be had.
void* plot_function(const char* name)
{
    static void* const module = []() -> void* {
        char self[4096];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0)
            return nullptr;
        const std::string here = std::filesystem::path(std::string(self, static_cast<std::size_t>(length))).parent_path();
        for (const std::string& folder : {here, here + "/" VESK_PLOT_MODULE_DIR})
            if (void* found = dlopen((folder + "/vesk-plot.so").c_str(), RTLD_NOW | RTLD_LOCAL))
                return found;
        return nullptr;
    }();
    return module ? dlsym(module, name) : nullptr;
}

template <typename Run>
using WritePicture = bool (*)(const Run*, const char*, const char*, const char*);
#endif

// The analysis files of a run that ended well, from channel 0 of its input
// and output and the parameters as the run left them (fs-sim and the
// corners snapped, fs set): the spectra in `spectra_format` and the
// spectrogram in `spectrogram_format`, where not empty.  False, with a
// message for each file that could not be had; the run's WAV output stays
// either way.
bool write_analyses(const vesk::Params& params, const std::string& spectra_format, const std::string& spectrogram_format,
                    vesk::MessageSink& messages)
{
    const std::string output_path = params.outwavname.value_or("");
    std::string base = output_path;
    if (base.ends_with(".wav"))
        base.resize(base.size() - 4);
    vesk::analysis::Channel input, output;
    std::string error;
    if (!vesk::analysis::read_channel(params.inpwavname.value_or(""), 0, input, error) ||
        !vesk::analysis::read_channel(output_path, 0, output, error)) {
        for (const auto& [format, what] : {std::pair{&spectra_format, "spectra"}, {&spectrogram_format, "spectrogram"}})
            if (!format->empty())
                messages.show_message(std::string("cannot write ") + what + " files: " + error);
        return false;
    }
    const std::string title = std::filesystem::path(base).filename().string();
    struct File {
        std::string path;
        const char* what;
        std::function<bool(const std::string&)> write;
    };
    std::vector<File> files;
    std::optional<vesk::analysis::RunSpectra> spectra;
    std::optional<vesk::analysis::RunSpectrogram> spectrogram;
    if (!spectra_format.empty())
        spectra = vesk::analysis::analyse_run(input, output, params);
    if (!spectrogram_format.empty())
        spectrogram = vesk::analysis::analyse_spectrogram(input, output, params);
    if (spectra_format == "csv") {
        files.push_back({base + ".spectra.csv", "spectra", [&](const std::string& temp) {
            return write_text(temp, vesk::analysis::spectra_csv(spectra->input, spectra->output));
        }});
        files.push_back({base + ".predicted.csv", "spectra", [&](const std::string& temp) {
            return write_text(temp, vesk::analysis::predicted_csv(spectra->predictions));
        }});
    }
    if (spectrogram_format == "csv")
        files.push_back({base + ".tracks.csv", "spectrogram",
                         [&](const std::string& temp) {
                             return write_text(temp, vesk::analysis::tracks_csv(spectrogram->tracks,
                                                                                vesk::analysis::measured_peaks(spectrogram->output)));
                         }});
#ifdef VESK_HAVE_PLOT
    const auto picture = [&](const auto& run, const char* what, const std::string& format, const char* function) {
        if (!run || format == "csv")
            return;
        files.push_back({base + "." + what + "." + format, what, [&, function](const std::string& temp) {
            using Run = std::remove_cvref_t<decltype(*run)>;
            const auto write = reinterpret_cast<WritePicture<Run>>(plot_function(function));
            return write && write(&*run, title.c_str(), format.c_str(), temp.c_str());
        }});
    };
    picture(spectra, "spectra", spectra_format, "vesk_write_spectra_picture");
    picture(spectrogram, "spectrogram", spectrogram_format, "vesk_write_spectrogram_picture");
#endif
    bool written = true;
    for (const File& file : files) {
        if (!write_whole(file.path, file.write)) {
            messages.show_message("cannot write " + std::string(file.what) + " file " + file.path);
            written = false;
        }
    }
    return written;
}

// The format given to --spectra or --spectrogram (`option`), null when
// none followed: 0 when it is one this build writes, else the exit status
// after the message.
int read_format(const std::string& option, const char* value, std::string& format)
{
    const std::string what = option.substr(2);
    if (value == nullptr) {
        std::fprintf(stderr, "vesk-batch: %s needs a format (png, svg or csv)\n", option.c_str());
        std::fputs(usage_text, stderr);
        return 2;
    }
    format = value;
    if (format != "png" && format != "svg" && format != "csv") {
        std::fprintf(stderr, "vesk-batch: unknown %s format '%s' (png, svg or csv)\n", what.c_str(), format.c_str());
        std::fputs(usage_text, stderr);
        return 2;
    }
#ifdef VESK_HAVE_PLOT
    const bool pictures = plot_function("vesk_write_spectra_picture") != nullptr;
#else
    const bool pictures = false;
#endif
    if (format != "csv" && !pictures) {
        std::fprintf(stderr, "vesk-batch: %s %s needs the desktop build (csv is available)\n", option.c_str(), format.c_str());
        return 2;
    }
    return 0;
}

// START,SECONDS: two finite numbers, the length above 0, the start not
// negative.  Empty when it reads; else what is wrong with it.
std::string read_excerpt(const std::string& text, vesk::Span& span)
{
    const std::size_t comma = text.find(',');
    const auto number = [](const std::string& word, double& value) {
        char* end = nullptr;
        value = std::strtod(word.c_str(), &end);
        return !word.empty() && end == word.c_str() + word.size() && std::isfinite(value);
    };
    if (comma == std::string::npos || !number(text.substr(0, comma), span.start) ||
        !number(text.substr(comma + 1), span.seconds))
        return "--excerpt needs START,SECONDS (two numbers of seconds)";
    if (span.seconds <= 0)
        return "--excerpt needs a length above 0 seconds";
    if (span.start < 0)
        return "--excerpt cannot start before 0 seconds";
    return {};
}

// SIZE: a number of bytes above 0 with an optional K, M, G or T (powers of
// 1024), as 512M or 1.5G.  Empty when it reads; else what is wrong with it.
std::string read_memory_limit(const std::string& text, uint64_t& bytes)
{
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    const std::string suffix = end != nullptr ? std::string(end) : std::string();
    static const std::string units = "KMGT";
    double scale = 1;
    if (suffix.size() == 1 && units.find(static_cast<char>(std::toupper(suffix[0]))) != std::string::npos)
        scale = std::ldexp(1.0, 10 * static_cast<int>(units.find(static_cast<char>(std::toupper(suffix[0]))) + 1));
    else if (!suffix.empty())
        return "--memory-limit needs a size such as 512M or 2G";
    const double value = number * scale;
    if (end == text.c_str() || !(value >= 1) || !(value < 1.8e19))
        return "--memory-limit needs a size such as 512M or 2G";
    bytes = static_cast<uint64_t>(value);
    return {};
}

void stop_on_interrupt(std::atomic<int>& stopflag)
{
    running_stopflag = &stopflag;
    struct sigaction on_ctrl_c {};
    on_ctrl_c.sa_handler = on_interrupt;
    sigemptyset(&on_ctrl_c.sa_mask);
    on_ctrl_c.sa_flags = 0; // no SA_RESTART: a blocking read returns at once
    sigaction(SIGINT, &on_ctrl_c, nullptr);
}

// --import SOURCE TARGET: one conversion and its line; the progress on a
// terminal as for a run.
int import_file(const std::string& source, const std::string& target)
{
    std::atomic<int> stop{0};
    stop_on_interrupt(stop);
    progress_line.enabled = isatty(STDERR_FILENO) != 0;
    vesk::wav::ImportControl control;
    control.stop = &stop;
    control.progress = [](double fraction) { progress_line.report_progress(fraction); };
    const vesk::wav::ImportResult result = vesk::wav::import_audio(source, target, control);
    progress_line.clear();
    switch (result.status) {
    case vesk::wav::ImportStatus::done:
        std::printf("%s\n", vesk::wav::import_summary(source, target, result).c_str());
        return 0;
    case vesk::wav::ImportStatus::stopped:
        return 130;
    case vesk::wav::ImportStatus::failed:
        break;
    }
    StderrMessages().show_message("cannot import " + source + ": " + result.reason);
    return 1;
}

bool load_source(const Source& source, std::string& text)
{
    switch (source.kind) {
    case Source::line:
        text = source.text;
        return true;
    case Source::file:
        return vesk::batch::load_file(source.text, text);
    case Source::standard_input: {
        // read(2) rather than a stream: Ctrl-C interrupts the read (the
        // handler is installed without SA_RESTART), so a batch still being
        // typed or piped in ends at once instead of at the end of the input.
        text.clear();
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n > 0)
                text.append(chunk, static_cast<std::size_t>(n));
            else if (n == 0 || interrupted)
                return true;
            else if (errno != EINTR)
                return false;
        }
    }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Source> sources;
    std::string spectra_format, spectrogram_format; // empty: none
    std::optional<vesk::Span> excerpt;
    std::optional<uint64_t> memory_limit;
    bool segmented = false;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_done && (arg == "--help" || arg == "-h")) {
            std::fputs(help_text().c_str(), stdout);
            return 0;
        }
        if (!options_done && arg == "--version") {
            std::fputs("vesk-batch " VESK_VERSION "\n", stdout);
            return 0;
        }
        if (!options_done && arg == "--import") {
            if (i != 1 || argc != 4) {
                std::fputs("vesk-batch: --import takes a source and a target file, and nothing else\n", stderr);
                std::fputs(usage_text, stderr);
                return 2;
            }
            return import_file(argv[2], argv[3]);
        }
        if (!options_done && arg == "--") {
            options_done = true;
        } else if (!options_done && arg == "-e") {
            if (i + 1 >= argc) {
                std::fputs("vesk-batch: -e needs a line of batch text\n", stderr);
                std::fputs(usage_text, stderr);
                return 2;
            }
            sources.push_back({Source::line, argv[++i]});
        } else if (!options_done && (arg == "--spectra" || arg == "--spectrogram")) {
            std::string& format = arg == "--spectra" ? spectra_format : spectrogram_format;
            if (const int status = read_format(arg, i + 1 < argc ? argv[++i] : nullptr, format))
                return status;
        } else if (!options_done && arg == "--excerpt") {
            vesk::Span span;
            const std::string problem = i + 1 < argc ? read_excerpt(argv[++i], span) : "--excerpt needs START,SECONDS";
            if (!problem.empty()) {
                std::fprintf(stderr, "vesk-batch: %s\n", problem.c_str());
                std::fputs(usage_text, stderr);
                return 2;
            }
            excerpt = span;
        } else if (!options_done && arg == "--memory-limit") {
            uint64_t bytes = 0;
            const std::string problem = i + 1 < argc ? read_memory_limit(argv[++i], bytes) : "--memory-limit needs a size such as 512M or 2G";
            if (!problem.empty()) {
                std::fprintf(stderr, "vesk-batch: %s\n", problem.c_str());
                std::fputs(usage_text, stderr);
                return 2;
            }
            memory_limit = bytes;
        } else if (!options_done && arg == "--segmented") {
            segmented = true;
        } else if (arg == "-") {
            sources.push_back({Source::standard_input, arg});
        } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vesk-batch: unknown option '%s'\n", arg.c_str());
            std::fputs(usage_text, stderr);
            return 2;
        } else {
            sources.push_back({Source::file, arg});
        }
    }
    if (sources.empty()) {
        std::fputs(usage_text, stderr);
        return 2;
    }

    StdoutLog log;
    StderrMessages messages;
    vesk::Engine engine(messages, log);
    progress_line.enabled = isatty(STDERR_FILENO) != 0;
    engine.set_progress_sink(&progress_line);
    stop_on_interrupt(engine.stopflag);

    engine.excerpt = excerpt;
    engine.memory_limit = memory_limit;
    engine.segmented = segmented;

    vesk::ParamRecord record;
    bool failed = false;
    bool misused = false; // an excerpt beyond an input's end
    vesk::batch::BatchActions actions;
    // The stop flag is never cleared here: a Ctrl-C that comes after this
    // check, even before the run has begun, stops the run at its first look.
    actions.process = [&] {
        if (interrupted || misused)
            return;
        engine.params = vesk::engine_params(record);
        // An excerpt the input cannot hold was asked for on the command
        // line: a usage error, found once the input is known.  An input
        // that cannot be read or run is left to the run, which says why.
        vesk::InputInfo info;
        if (excerpt && vesk::read_input_info(engine.params.inpwavname.value_or(""), info) == vesk::InputInfoResult::ok &&
            vesk::Engine::format_refusal(info.samplerate, info.channels, info.quantization) == nullptr) {
            if (const char* refusal = vesk::span_refusal(*excerpt, info.samples, info.samplerate)) {
                std::fprintf(stderr, "vesk-batch: %s (%s: %.3f s)\n", refusal, engine.params.inpwavname->c_str(),
                             info.samplerate ? double(info.samples) / info.samplerate : 0.0);
                std::fputs(usage_text, stderr);
                misused = true;
                return;
            }
        }
        progress_line.clock.start();
        if (!engine.check_params() || vesk::run_worker_steps(engine) != vesk::RunOutcome::done)
            failed = true;
        else if ((!spectra_format.empty() || !spectrogram_format.empty()) && !interrupted
                 && !write_analyses(engine.params, spectra_format, spectrogram_format, messages))
            failed = true;
        progress_line.clear();
    };

    try {
        for (const Source& source : sources) {
            if (interrupted)
                break;
            std::string text;
            if (!load_source(source, text)) {
                messages.show_message("cannot open file");
                return 1;
            }
            vesk::batch::BatchStream stream(std::move(text));
            if (vesk::batch::read_batch(stream, record, actions) == vesk::batch::BatchEnd::stop)
                break;
        }
    } catch (const std::bad_alloc&) {
        // A small block that the engine does not check itself (a log line, a
        // batch text) could not be had.  The run under way has removed its
        // temporary file on the way out; the message is written without
        // building a string, which could fail in turn.
        std::fputs("vesk: cannot allocate memory\n", stderr);
        return 1;
    }
    progress_line.clear();
    if (interrupted)
        return 130;
    if (misused)
        return 2;
    return failed ? 1 : 0;
}
