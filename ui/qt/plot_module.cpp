// The picture writers as vesk-batch loads them (see ui/qt/CMakeLists.txt):
// functions with C linkage, found by name.  Both sides are built together
// from the same sources, so they agree on the run's data as passed.
#include "ui/qt/spectra_plot.h"
#include "ui/qt/spectrogram_plot.h"

extern "C" __attribute__((visibility("default"))) bool vesk_write_spectra_picture(
    const vesk::analysis::RunSpectra* run, const char* title, const char* format, const char* path)
{
    return vesk::write_spectra_picture(*run, title, format, path);
}

extern "C" __attribute__((visibility("default"))) bool vesk_write_spectrogram_picture(
    const vesk::analysis::RunSpectrogram* run, const char* title, const char* format, const char* path)
{
    return vesk::write_spectrogram_picture(*run, title, format, path);
}
