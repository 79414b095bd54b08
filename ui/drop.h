// What a file dropped on the main window is: an audio file becomes the
// input (converted first when a run does not take it), a batch file is read
// as Open... reads it, and anything else is refused with a message and
// changes nothing.  Decided from the file's contents, not its name: a
// ".txt" may hold anything, and a WAV file may have any name.
#pragma once

#include <string>
#include <vector>

namespace vesk {

enum class DropKind { audio, batch, during_run, several, unknown };

// `run_under_way` covers a batch file being read too: its runs are not to be
// interrupted by another input or another file's parameters.
DropKind classify_drop(const std::vector<std::string>& paths, bool run_under_way);

// The message for a refused drop; empty for an audio file or a batch file.
std::string drop_refusal(DropKind kind);

// The actions a drag's source offers for its files.
struct DropOffer {
    bool copy = false, move = false, link = false;
};

enum class DropAnswer { none, copy, link };

// The action a drag of files is answered with, whatever the source
// proposes.  Dropped files are only ever read, never taken away: a copy,
// else a link where the source offers no copy, and never a move, since a
// source that honours a move (a file manager, by default or with Shift
// held) deletes the original once the drop is done.  Files not `taken` are
// answered with no action, so the source knows nothing was taken.
DropAnswer drop_answer(DropOffer offered, bool taken);

// Where the bundled device presets are, for a program in `program_folder`:
// the build tree keeps them in examples/presets beside the program, an
// installation in share/vesk/presets beside its bin/.  Empty when neither
// exists.
std::string presets_folder(const std::string& program_folder);

} // namespace vesk
