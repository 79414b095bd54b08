// The Processing window: the heading and the live log of a run, and the
// user's way to ask the run to stop.  One CProcinfoDlg lives as long as the
// main window; its window is created for each run and destroyed when the run
// has ended.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPoint>
#include <QPointer>
#include <optional>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "ui/log_ring.h"
#include "ui/progress_text.h"

namespace Ui {
class CProcinfoDlg;
}

class QLabel;
class QProgressBar;

namespace vesk {

class CProcinfoDlg;

// The window itself: Escape and the close box ask the run to stop instead
// of closing it, and Enter does nothing.
class ProcinfoWindow : public QDialog {
    Q_OBJECT
public:
    ProcinfoWindow(CProcinfoDlg& owner, QWidget* parent);
    ~ProcinfoWindow() override;

    QLabel* titleLabel() const;
    QLabel* logLabel() const;
    QProgressBar* progressBar() const;
    QLabel* timeLeftLabel() const;

protected:
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CProcinfoDlg& owner_;
    std::unique_ptr<Ui::CProcinfoDlg> ui_;
};

class CProcinfoDlg {
public:
    // `stopflag` is the run's stop request; `runEnded` puts the main window
    // back into its idle state.
    CProcinfoDlg(std::atomic<int>& stopflag, std::function<void()> runEnded);
    ~CProcinfoDlg();
    CProcinfoDlg(const CProcinfoDlg&) = delete;
    CProcinfoDlg& operator=(const CProcinfoDlg&) = delete;

    // Creates the window, owned by `parent` (it stays above it), hidden:
    // where the window of the run before was last, else beside `parent`.
    void Create(QWidget* parent);
    // Hides and destroys the window; the texts and its place stay.
    void DestroyWindow();
    // Null while no run is under way.
    ProcinfoWindow* window() const { return window_; }

    // Writes title and logtext into the window's labels.
    void UpdateData();
    void ShowWindow();

    // A new line waits in logline: into the ring, and shown.
    void OnLogLine();
    // The engine's latest share done (0 ... 1): the bar and the time left.
    void OnProgress(double fraction);
    // The run is over: the stop request stands until the next run clears
    // it, the window goes and the main window is idle again.
    void OnRunDone();
    // Escape, the close box, or the main window quitting: ask the run to
    // stop; the window stays until the run has ended.  Nothing clears the
    // request before the next run starts.
    void OnCancel();
    // Enter: nothing.
    void OnOK() {}

    // Empties the log and the bar for a new run, and starts its clock.
    void clearLog();

    int logindex() const { return loglines.logindex(); }

    std::string title;
    std::string logline;
    LogRing loglines;
    std::string logtext;
    QFont logfont;
    double progress = 0;
    ProgressClock clock;

private:
    void OnInitDialog();

    std::atomic<int>& stopflag_;
    std::function<void()> runEnded_;
    // Guarded: the owner of the window may delete it with itself.
    QPointer<ProcinfoWindow> window_;
    // Where the user last had the window, for the next run's.
    std::optional<QPoint> place_;
};

} // namespace vesk
