// vesk-bench-window INPUT.wav FOLDER [REPEATS]: a run from the desktop
// window against the same run by vesk-batch, and how promptly the window
// answers events meanwhile.
//
// The window is the real one (Qt's offscreen platform unless QT_QPA_PLATFORM
// says otherwise), with the Listen window open so that the run's end makes
// it read the new output, and the Spectra window opening or refreshing after
// the run.  A timer asks the event loop for a turn every 2 ms; the longest
// wait for one is the longest the window left a person's click unanswered.
// Printed, each the median of REPEATS (3) runs:
//   batch      vesk-batch's wall time, process start to exit
//   done       Process clicked to "--- DONE ---" (the output is written)
//   closed     to the Processing window closing (the 700 ms that show
//              "--- DONE ---" included)
//   spectra    to the Spectra window showing the new run (its picture
//              drawn)
//   listen     to the Listen window holding the new output
//   stall      the longest wait for the event loop, Process to all settled
//              (the largest of the runs)
//   difference done less the batch run just before it
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <vector>

#include "ui/qt/listen_dlg.h"
#include "ui/qt/procinfo_dlg.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/qt/spectra_dlg.h"
#include "ui/qt/vesk_dlg.h"

namespace {

// The demo's chain: sampling at 11025 Hz with a full-period aperture and
// 10-bit words.
constexpr double fssim = 11025, aperture = 1;
constexpr unsigned bitnr = 10;

// Nobody answers: a message is printed and the run goes on.
class BenchToolkit : public vesk::QtToolkit {
public:
    void message(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
    bool question(const std::string&) override { return false; }
};

// Times every event the window's thread handles, so that a long wait for
// the event loop can be laid at the door of what took it: by the thread's
// own processor time, which other programs on a busy machine do not
// lengthen, and by the clock.
class TimedApp : public QApplication {
public:
    using QApplication::QApplication;
    struct Slow {
        double seconds, wall;
        std::string what;
    };
    std::vector<Slow> slowest; // the longest few, longest first
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        const int type = event->type();
        QElapsedTimer t;
        t.start();
        const double cpu0 = thread_seconds();
        const bool done = QApplication::notify(receiver, event);
        const double seconds = thread_seconds() - cpu0, wall = t.nsecsElapsed() / 1e9;
        if (seconds > 0.005 && (slowest.size() < 5 || seconds > slowest.back().seconds)) {
            slowest.push_back({seconds, wall, std::string(receiver->metaObject()->className()) + " event " + std::to_string(type)});
            std::sort(slowest.begin(), slowest.end(), [](const Slow& a, const Slow& b) { return a.seconds > b.seconds; });
            if (slowest.size() > 5)
                slowest.pop_back();
        }
        return done;
    }
    static double thread_seconds()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec / 1e9;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double batch_seconds(const std::string& input, const std::string& output)
{
    char command[4096];
    std::snprintf(command, sizeof command,
                  "'%s' -e 'inpwavname %s' -e 'outwavname %s' -e 'fssim %g' -e 'aperture %g' -e 'bitnr %u' "
                  "-e process >/dev/null",
                  VESK_BATCH_EXE, input.c_str(), output.c_str(), fssim, aperture, bitnr);
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command) != 0)
        std::fprintf(stderr, "vesk-batch failed\n");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct WindowRun {
    double done = -1, closed = -1, spectra = -1, listen = -1, stall = 0;
};

WindowRun window_run(vesk::CveskDlg& dlg)
{
    WindowRun r;
    QElapsedTimer clock;
    QEventLoop loop;
    QTimer tick;
    qint64 last = 0, settled = -1;
    bool reading = false, analysing = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        r.stall = std::max(r.stall, (now - last) / 1e9);
        last = now;
        const double t = now / 1e9;
        if (r.done < 0 && dlg.procinfo().logline == "--- DONE ---\n")
            r.done = t;
        if (r.done >= 0 && r.closed < 0 && !dlg.runUnderWay())
            r.closed = t;
        analysing = analysing || (r.done >= 0 && dlg.spectra() && dlg.spectra()->busy());
        if (analysing && r.spectra < 0 && !dlg.spectra()->busy())
            r.spectra = t;
        // The new output is read from "--- DONE ---" on.
        reading = reading || (r.done >= 0 && dlg.listen()->loading());
        if (reading && r.listen < 0 && !dlg.listen()->loading())
            r.listen = t;
        if (settled < 0 && r.closed >= 0 && r.spectra >= 0 && r.listen >= 0)
            settled = now;
        // A little longer, for whatever the last result sets off.
        if ((settled >= 0 && now - settled > 300'000'000) || t > 600)
            loop.quit();
    });
    tick.start(2);
    clock.start();
    dlg.OnProcess();
    loop.exec();
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: vesk-bench-window INPUT.wav FOLDER [REPEATS]\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TimedApp app(argc, argv);
    const std::string input = argv[1], folder = argv[2];
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

    BenchToolkit toolkit;
    vesk::CveskDlg dlg(toolkit);
    toolkit.setOwner(&dlg);
    dlg.record().inpwavname = input;
    dlg.record().outwavname = folder + "/out-window.wav";
    dlg.record().fssim = fssim;
    dlg.record().aperture = aperture;
    dlg.record().bitnr = bitnr;
    dlg.showRecord();
    dlg.show();
    std::remove(dlg.record().outwavname.c_str());
    dlg.OnListen();
    // The batch and window runs alternate, and the difference is taken run by
    // run: this machine's speed drifts by more between minutes than the two
    // programs differ, so medians taken over separate stretches would compare
    // the drift.
    std::vector<double> batch, done, closed, spectra, listen, difference;
    double stall = 0;
    for (int i = 0; i < repeats; ++i) {
        batch.push_back(batch_seconds(input, folder + "/out-batch.wav"));
        const WindowRun r = window_run(dlg);
        difference.push_back(r.done - batch.back());
        done.push_back(r.done);
        closed.push_back(r.closed);
        spectra.push_back(r.spectra);
        listen.push_back(r.listen);
        stall = std::max(stall, r.stall);
    }
    std::printf("batch %.3f\ndone %.3f\nclosed %.3f\nspectra %.3f\nlisten %.3f\nstall %.3f\ndifference %.3f\n",
                median(batch), median(done), median(closed), median(spectra), median(listen), stall,
                median(difference));
    for (const TimedApp::Slow& slow : app.slowest)
        std::printf("slowest event %.3f s processor (%.3f s clock): %s\n", slow.seconds, slow.wall, slow.what.c_str());
    return 0;
}
