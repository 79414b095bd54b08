// The picture writer as vesk-batch loads it (see ui/qt/CMakeLists.txt): one
// function with C linkage, found by name.  Both sides are built together
// from the same sources, so they agree on the run's data as passed.
#include "ui/qt/spectra_plot.h"

extern "C" __attribute__((visibility("default"))) bool vesk_write_spectra_picture(
    const vesk::analysis::RunSpectra* run, const char* title, const char* format, const char* path)
{
    return vesk::write_spectra_picture(*run, title, format, path);
}
