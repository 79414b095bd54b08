#include "ui/qt/vesk_app.h"

#include <clocale>

#include "ui/qt/qt_toolkit.h"
#include "ui/qt/resources.h"
#include "ui/qt/screen_colormap.h"
#include "ui/qt/vesk_dlg.h"

namespace vesk {

CveskApp::CveskApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // Qt has just adopted the desktop's locale for everything.  The engine
    // and the batch files read and write numbers with printf and scanf
    // conversions, which must keep using a decimal point.
    std::setlocale(LC_NUMERIC, "C");
    // The executable's name: it captions every message box.
    setApplicationName(QStringLiteral("vesk"));
    // Lets Wayland desktops match the window to the installed desktop entry.
    setDesktopFileName(QStringLiteral("vesk"));
    setWindowIcon(application_icon());
    use_screen_colormaps(*this);
}

int CveskApp::InitInstance()
{
    // Qt needs no set-up of its controls, and nothing is stored from one
    // start of the program to the next: there is no settings store to name.
    QtToolkit toolkit;
    CveskDlg dialog(toolkit);
    toolkit.setOwner(&dialog);
    dialog.exec();
    return 0;
}

} // namespace vesk
