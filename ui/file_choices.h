// The file choosers of the main window's actions: batch files for Open...
// and Save..., WAV files for the two Browse... buttons.
#pragma once

#include "ui/toolkit.h"

namespace vesk::choices {

inline const char* const batch_filter = "TXT files (*.txt)|*.txt|All files|*|";
inline const char* const wav_filter = "WAV files (*.wav)|*.wav|All files|*|";

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
    return {FileChooserKind::open, "Input WAV file", wav_filter, ".wav", {}};
}

// Choosing the output asks nothing when the file exists: it is replaced only
// when a run writes it.
inline FileChoice output_wav()
{
    return {FileChooserKind::save, "Output WAV file", wav_filter, ".wav", {}};
}

} // namespace vesk::choices
