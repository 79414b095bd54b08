// On an X11 display, Qt gives each window a colormap of its own, even when
// the window has the screen's default visual.  The window shows correctly,
// but a picture of the screen taken the way xwd -root takes it (a program
// that honours colormaps reads the screen window by window, and reads every
// window lying wholly inside a lower one of the same colormap through that
// lower window) gets the parts where a dialog covers the main window from
// underneath the dialog: a black rectangle.  Windows of the default visual
// are therefore given the screen's default colormap, as X clients commonly
// use it.
#pragma once

class QGuiApplication;

namespace vesk {

// From now on every window the application creates on an X11 display, and
// that has its screen's default visual, uses the screen's default colormap.
// Does nothing on other platforms.
void use_screen_colormaps(QGuiApplication& app);

} // namespace vesk
