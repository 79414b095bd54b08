// vesk-batch: runs batch files without any window system.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "ui/batch.h"
#include "ui/run.h"

namespace {

const char usage_text[] = "usage: vesk-batch [-e LINE]... [FILE]...\n"
                          "Try 'vesk-batch --help' for more information.\n";

const char help_text[] =
    "usage: vesk-batch [-e LINE]... [FILE]...\n"
    "\n"
    "Reads batch text from each -e LINE and each FILE ('-' is standard input),\n"
    "in the order given, and runs the chain on every \"process\" command.\n"
    "The parameters start at their defaults and carry over from one source to\n"
    "the next.\n"
    "\n"
    "Batch text is a sequence of words; each keyword takes the value after it:\n"
    "  inpwavname PATH     input WAV file (the rest of the line)\n"
    "  outwavname PATH     output WAV file (the rest of the line)\n"
    "  fssrc HZ            target rate of the sample-rate conversion\n"
    "  ensrc TRUE|FALSE    sample-rate conversion on or off\n"
    "  fssim HZ            simulated sampling rate fs-sim\n"
    "  bitnr BITS          quantization word length, 1 to 24\n"
    "  aperture TS         aperture, fraction of the fs-sim period (0 to 1)\n"
    "  fcloin HZ, fchiin HZ      input band filter corners\n"
    "  fcloout HZ, fchiout HZ    output band filter corners\n"
    "  varispeedt F        vari-speed factor in time\n"
    "  varispeedf F        vari-speed factor in frequency\n"
    "  varispeedsh TRUE|FALSE    hold sample before vari-speed\n"
    "  jitteramp TS        clock jitter amplitude, fraction of the fs-sim period (0 to 0.5)\n"
    "  process             run the chain with the parameters read so far\n"
    "  stop                stop reading (nothing after it is read)\n"
    "Frequencies and factors also take the semitone form: ST raises the current\n"
    "value by one semitone, ST-12 lowers it by an octave, ST7 raises it by a fifth.\n"
    "\n"
    "The run's log goes to standard output; messages go to standard error.\n"
    "Exit status: 0 when every run succeeded (or there was none); 1 when a source\n"
    "could not be opened, parameters were refused or a run failed; 130 after\n"
    "Ctrl-C, which stops the run under way and leaves no output behind; 2 for a\n"
    "usage error.\n";

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

struct StdoutLog : vesk::LogSink {
    void append_log(const std::string& line) override
    {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
};

struct StderrMessages : vesk::MessageSink {
    void show_message(const std::string& text) override
    {
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
    case Source::standard_input:
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
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
            std::fputs(help_text, stdout);
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
    running_stopflag = &engine.stopflag;
    std::signal(SIGINT, on_interrupt);

    vesk::ParamRecord record;
    bool failed = false;
    vesk::batch::BatchActions actions;
    actions.process = [&] {
        if (interrupted)
            return;
        vesk::copy_record_to_engine(record, engine);
        if (engine.check_params() != 0 || vesk::run_worker_steps(engine) != 0)
            failed = true;
        if (interrupted)
            engine.stopflag = 1;
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
    if (interrupted)
        return 130;
    return failed ? 1 : 0;
}
