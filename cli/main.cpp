// vesk-batch: runs batch files without any window system.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/engine.h"
#include "ui/batch.h"
#include "ui/progress_text.h"
#include "ui/run.h"

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
        char line[64];
        const int length = std::snprintf(line, sizeof line, "\r%3d%%  %-18s", vesk::progress_percent(fraction),
                                         vesk::time_left_text(fraction, clock.elapsed_seconds()).c_str());
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
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_done && (arg == "--help" || arg == "-h")) {
            std::fputs(help_text().c_str(), stdout);
            return 0;
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
    running_stopflag = &engine.stopflag;
    struct sigaction on_ctrl_c {};
    on_ctrl_c.sa_handler = on_interrupt;
    sigemptyset(&on_ctrl_c.sa_mask);
    on_ctrl_c.sa_flags = 0; // no SA_RESTART: a blocking read returns at once
    sigaction(SIGINT, &on_ctrl_c, nullptr);

    vesk::ParamRecord record;
    bool failed = false;
    vesk::batch::BatchActions actions;
    // The stop flag is never cleared here: a Ctrl-C that comes after this
    // check, even before the run has begun, stops the run at its first look.
    actions.process = [&] {
        if (interrupted)
            return;
        engine.params = vesk::engine_params(record);
        progress_line.clock.start();
        if (!engine.check_params() || vesk::run_worker_steps(engine) != vesk::RunOutcome::done)
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
    return failed ? 1 : 0;
}
