// The file choosers of the main window's actions: batch files for Open...
// and Save..., audio files for the input's Browse..., WAV files for the
// output's, and a folder for a converted input.
#pragma once

#include "ui/toolkit.h"

namespace vesk::choices {

inline const char* const batch_filter = "TXT files (*.txt)|*.txt|All files|*|";
inline const char* const wav_filter = "WAV files (*.wav)|*.wav|All files|*|";
// The input takes any audio file: what a run does not take is converted.
inline const char* const audio_filter =
    "Audio files (*.wav;*.flac;*.mp3;*.ogg;*.oga;*.opus;*.aif;*.aiff;*.aifc;*.caf;*.w64;*.rf64;*.au)"
    "|*.wav;*.flac;*.mp3;*.ogg;*.oga;*.opus;*.aif;*.aiff;*.aifc;*.caf;*.w64;*.rf64;*.au"
    "|WAV files (*.wav)|*.wav|All files|*|";

// Reading a batch file chooses among the files that exist, with an "Open"
// button: a name typed wrong is caught in the chooser, not reported after
// it as a file that cannot be opened.
inline FileChoice open_batch(const std::string& folder)
{
    return {FileChooserKind::open, "Open batch file", batch_filter, ".txt", folder, true};
}

inline FileChoice save_batch()
{
    return {FileChooserKind::save, "Save parameters to batch file", batch_filter, ".txt", {}};
}

inline FileChoice input_wav()
{
    return {FileChooserKind::open, "Input WAV file", audio_filter, ".wav", {}};
}

// Where a converted input goes when its source's folder takes no new file.
inline FileChoice import_folder()
{
    return {FileChooserKind::folder, "Folder for the converted WAV file", {}, {}, {}};
}

// Choosing the output asks nothing when the file exists: it is replaced only
// when a run writes it.
inline FileChoice output_wav()
{
    return {FileChooserKind::save, "Output WAV file", wav_filter, ".wav", {}};
}

} // namespace vesk::choices
