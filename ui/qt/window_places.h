// Where the program's own windows (Processing, Listen, Spectra) first
// appear: beside the main window, clear of the others (ui/placement.h).
#pragma once

class QWidget;

namespace vesk {

// Moves `window`, about to be shown for the first time, beside `main`.
void place_beside_main(QWidget* window, const QWidget* main);

} // namespace vesk
