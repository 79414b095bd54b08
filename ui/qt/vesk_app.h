// The application object: sets the program up, runs the main window until
// the user quits, and ends.
#pragma once

#include <QApplication>

namespace vesk {

class CveskApp : public QApplication {
    Q_OBJECT
public:
    CveskApp(int& argc, char** argv);

    // Runs the main window modally; the program ends when it closes.
    // Returns the process's exit status.
    int InitInstance();
};

} // namespace vesk
