// The main window: the parameter record in edits, check boxes and spin
// buttons, with the buttons of every action.  The program runs it modally
// from start to end.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "ui/exchange.h"
#include "ui/params.h"
#include "ui/qt/widget_controls.h"
#include "ui/scrolling.h"
#include "ui/toolkit.h"
#include "ui/toolkit_sinks.h"

namespace Ui {
class CveskDlg;
}

class QAction;
class QScrollBar;

namespace vesk {

class CProcinfoDlg;
class InputImport;
class ListenDlg;
class SpectraDlg;

class CveskDlg : public QDialog {
    Q_OBJECT
public:
    explicit CveskDlg(Toolkit& toolkit, QWidget* parent = nullptr);
    ~CveskDlg() override;

    ParamRecord& record() { return record_; }
    const ParamRecord& record() const { return record_; }
    Toolkit& toolkit() { return toolkit_; }

    // Controls to record.  A text that does not parse stops the exchange
    // there: the user is told, the focus goes to that control, and false is
    // returned (the fields before it have been updated all the same).
    bool take();
    // Record to controls.
    void showRecord();

    // A control by its identifier (ui/control_ids.h); null if there is none.
    QWidget* control(int id) const { return controls_.widget(id); }

    // The viewport-sized part of the window that scrolls, and its state.
    QWidget* content() const;
    const ScrollState& scrollState() const { return scroll_; }

    // The window-menu command: 16 opens the About box.
    void OnSysCommand(unsigned id);
    void OnAbout();
    void OnReset();
    // Enter: take, and nothing else.
    void OnOK();
    // Quit, Escape and the close box: take, then ask before the window ends.
    // A run under way is stopped, and waited for, before the window ends.
    void OnCancel();

    // Process: takes the controls (a refused text ends it there), hands the
    // record to the engine and, when the engine accepts it, starts a run on
    // a worker thread with the Processing window showing its log.  Called
    // while a run is under way, it first waits for that run to end, the
    // window staying responsive.
    void OnProcess();
    // Open...: reads a batch file into the record (no take first); its
    // "process" commands start runs, one after the other.
    void OnOpen();
    // Save...: takes the controls and writes the record to a batch file; a
    // file that cannot be written whole is reported and the one there kept.
    void OnSave();
    void OnBrowseInput();
    void OnBrowseOutput();
    void OnPlayInput();
    void OnPlayOutput();
    // Info: the input file's format, read without touching a run.
    void OnInfo();
    // Listen: the input and the latest output in a window of their own,
    // loudness-matched; messages about the input as Info gives them.
    void OnListen();
    // The Listen window once it has been opened, else null.
    ListenDlg* listen() const { return listen_.get(); }
    // Spectra: the input and the latest output analysed with the parameters
    // of the last run, raised; opened (or, when open, refreshed without
    // being raised) by itself after each successful run.
    void OnSpectra();
    void showSpectra(const Params& run);
    // The Spectra window once it has been opened, else null.
    SpectraDlg* spectra() const { return spectra_.get(); }

    // The engine every run of this window uses.
    Engine& engine() { return engine_; }
    CProcinfoDlg& procinfo() { return *procinfo_; }
    // From OnProcess starting a worker until that worker has finished.
    bool runUnderWay() const { return workerRunning_.load(); }
    // Serves events (the worker's hand-overs among them) until no worker
    // is running.
    void waitForRunEnd();

protected:
    bool OnInitDialog();
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Files dropped on the window (ui/qt/file_drop_target.h): an audio file
    // becomes the input, a batch file is read as Open... reads it; anything
    // else is refused (ui/drop.h).
    void takeDrop(const std::vector<std::string>& paths);
    void OnSemitoneStep(double ParamRecord::*field, int d);
    void OnBitnrStep(int d);
    void OnSize(int cx, int cy);
    void OnVScroll(int action);
    void OnHScroll(int action);
    using ScrollFunction = std::optional<int> (*)(ScrollState&, ScrollCode, int);
    void scrollWith(QScrollBar* bar, int action, ScrollFunction scroll, const int& position);

    void buildControlTable();
    void connectHandlers();
    void layOutClientArea(QSize window);
    void placeContent();
    void refuseText(const TakeFailure& failure);

    // A change taken into the record: the Listen window's live preview
    // renders it.
    void tookChange();
    // Takes the controls and, when they parse, passes the change on.
    void takeChange();

    // A batch file's "process": the record as the file gave it, run once
    // the run before has ended.
    void processFromBatch();
    // Hands the record to the engine and, when it accepts it, starts a run.
    void startRun();

    // Quitting: no further run starts, and a run under way is asked to stop
    // through the Processing window and waited for.
    void stopForGood();

    // The worker thread's procedure.
    void run_worker();
    // A run has written its output: Listen and Spectra take it up.
    void OnOutputWritten();
    // Greys or restores "Process" and "Open...".
    void enableRunButtons(bool enable);
    void browse(std::string ParamRecord::*path, const FileChoice& choice);
    // A path chosen or dropped into the record, unless too long for its edit.
    void usePath(std::string ParamRecord::*path, const std::string& chosen);
    // Open...'s reading of the batch file at `path`.
    void readBatchFile(const std::string& path);
    void play(const std::string ParamRecord::*path);

    std::unique_ptr<Ui::CveskDlg> ui_;
    Toolkit& toolkit_;
    ParamRecord record_;
    ScrollState scroll_;
    WidgetControls controls_;
    QAction* aboutAction_ = nullptr;

    // The engine reports through these; they must outlive it.
    ToolkitMessageSink messageSink_;
    ToolkitLogSink logSink_;
    ToolkitProgressSink progressSink_;
    Engine engine_;
    std::unique_ptr<CProcinfoDlg> procinfo_;
    std::unique_ptr<ListenDlg> listen_;
    std::unique_ptr<SpectraDlg> spectra_;
    // Files that a run does not take, converted into the input.
    std::unique_ptr<InputImport> import_;
    bool runSucceeded_ = false; // handed over by the worker with the run's end
    bool ranOnce_ = false;
    // Written true on this thread before a worker starts, false by that
    // worker as the last thing it does.
    std::atomic<bool> workerRunning_{false};
    // The user has agreed to quit: no further run is started.
    bool quitting_ = false;
    bool readingBatch_ = false;
    // Where Open...'s chooser starts: the presets until a file is picked
    // elsewhere, then that file's folder.
    std::string batchFolder_;
};

} // namespace vesk
