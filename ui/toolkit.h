// The services the desktop front-end needs from its window toolkit, gathered
// behind one small interface: the windows call nothing else of the toolkit
// for these, so tests can answer the questions and choose the files that a
// person would.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vesk {

// `folder` chooses a folder rather than a file (the filter is not used).
enum class FileChooserKind { open, save, folder };

struct FileChoice {
    FileChooserKind kind = FileChooserKind::open;
    std::string title;
    // Pairs of description and patterns, each followed by '|':
    // "WAV files (*.wav)|*.wav|All files|*|".  Several patterns in one entry
    // are separated by ';'.
    std::string filter;
    // Added to a chosen name that has no extension, with its dot (".wav").
    std::string default_extension;
    // Where the chooser starts; empty for the toolkit's own choice.
    std::string folder;
    // Only a file that exists can be chosen.
    bool existing_only = false;
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    // A modal box with one OK button, captioned with the program's name.
    // Blocks the calling thread, the user-interface thread or a worker,
    // until it is dismissed.
    virtual void message(const std::string& text) = 0;

    // A modal Yes/No box with No as the default answer; true for Yes.
    virtual bool question(const std::string& text) = 0;

    // The full path of the chosen file, or nothing when the chooser was
    // cancelled.  The chooser never asks before a file is replaced, and
    // insists that the file exists only when the choice says so.
    virtual std::optional<std::string> choose_file(const FileChoice& choice) = 0;

    // Runs `work` on a new thread at once; nobody waits for it.
    virtual void start_thread(std::function<void()> work) = 0;

    // Runs `call` on the user-interface thread and returns when it has run.
    // Called on the user-interface thread, it runs `call` directly.
    virtual void call_on_ui(const std::function<void()>& call) = 0;

    // Hands the file to the desktop's default player; reports nothing.
    virtual void play(const std::string& path) = 0;

    // Blocks the calling thread for a while.
    virtual void pause(int milliseconds) = 0;
};

} // namespace vesk
