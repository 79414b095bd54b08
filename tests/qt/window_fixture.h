// One fixture for the window tests: a fresh main window, a toolkit that
// answers for the user, input files in a folder of their own, and what the
// Processing window showed at each of a run's hand-overs.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/qt/procinfo_dlg.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/qt/vesk_dlg.h"

namespace vesk::testing {

// The real toolkit's threads and hand-overs, with the person replaced: boxes
// and choosers answer from a script; requests are recorded on the
// user-interface thread (a worker's message is handed over first).
class ScriptedToolkit : public QtToolkit {
public:
    struct Request { char kind; std::string text; }; // 'm'essage, 'q'uestion, 'c'hooser, 'p'lay, 'z' pause
    std::deque<bool> answers;                     // questions; none left is No
    std::deque<std::optional<std::string>> files; // choosers; none left cancels
    std::vector<Request> requests;
    std::vector<std::string> folders; // where each chooser started
    std::vector<FileChoice> choices;
    // Runs on the user-interface thread after every call a worker hands
    // over, while that worker still waits: a test acts at an exact point.
    std::function<void()> afterHandOver;
    // After each hand-over the worker waits on its own side while this says
    // so (it runs on the worker: atomics only).
    std::function<bool()> hold;

    std::vector<std::string> texts(char kind) const
    {
        std::vector<std::string> out;
        for (const Request& r : requests)
            if (r.kind == kind)
                out.push_back(r.text);
        return out;
    }
    template <typename T> static T next(std::deque<T>& script, T none)
    {
        if (script.empty())
            return none;
        T first = script.front();
        script.pop_front();
        return first;
    }
    void message(const std::string& text) override { call_on_ui([&] { requests.push_back({'m', text}); }); }
    bool question(const std::string& text) override
    {
        requests.push_back({'q', text});
        return next(answers, false);
    }
    std::optional<std::string> choose_file(const FileChoice& choice) override
    {
        requests.push_back({'c', choice.title});
        folders.push_back(choice.folder);
        choices.push_back(choice);
        return next<std::optional<std::string>>(files, std::nullopt);
    }
    void play(const std::string& path) override { requests.push_back({'p', path}); }
    void pause(int ms) override { call_on_ui([&] { requests.push_back({'z', std::to_string(ms)}); }); }
    void call_on_ui(const std::function<void()>& call) override
    {
        if (onUiThread())
            return call();
        // `hold` is written on the user-interface thread during a hand-over
        // only, which this thread waits for: no lock needed.
        QtToolkit::call_on_ui([&] {
            call();
            if (afterHandOver)
                afterHandOver();
        });
        while (hold && hold())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

// The Processing window and the run buttons right after one hand-over.
struct Snapshot {
    bool window = false, runButtonsEnabled = false;
    std::string log, logline;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dlg = std::make_unique<CveskDlg>(toolkit);
        toolkit.setOwner(dlg.get());
        toolkit.afterHandOver = [this] { snapshots.push_back(snapshot()); };
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }
    void TearDown() override
    {
        // A run still going would outlive the test's files.
        if (dlg) { EXPECT_TRUE(waitForIdle()); }
        toolkit.hold = {};
    }

    QLineEdit* edit(const char* name) { return dlg->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    std::string text(const char* name) { return edit(name)->text().toStdString(); }
    QPushButton* button(const char* name) { return dlg->findChild<QPushButton*>(QString::fromLatin1(name)); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    void check(const char* name) { QTest::mouseClick(dlg->findChild<QCheckBox*>(QString::fromLatin1(name)), Qt::LeftButton); }
    // Types into an edit as a person would, replacing its text.
    void type(const char* name, const std::string& typed)
    {
        QLineEdit* e = edit(name);
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, QString::fromStdString(typed));
    }

    Snapshot snapshot()
    {
        Snapshot s;
        if (ProcinfoWindow* w = dlg->procinfo().window()) {
            s.window = w->isVisible();
            s.log = w->logLabel()->text().toStdString();
        }
        s.logline = dlg->procinfo().logline;
        s.runButtonsEnabled = button("processButton")->isEnabled() || button("openButton")->isEnabled();
        return s;
    }
    // Runs `act` at the hand-over of `line` (besides the snapshot).
    void atLine(const std::string& line, std::function<void()> act)
    {
        toolkit.afterHandOver = [this, line, act] {
            snapshots.push_back(snapshot());
            if (dlg->procinfo().window() && dlg->procinfo().logline == line)
                act();
        };
    }
    std::vector<std::string> linesShown() const
    {
        std::vector<std::string> lines;
        for (const Snapshot& s : snapshots)
            if (s.window && (lines.empty() || s.logline != lines.back()))
                lines.push_back(s.logline);
        return lines;
    }

    // A 16-bit file of `channels` ramps, the first `quiet` frames at half
    // their height.
    std::string writeInput(const std::string& name, uint16_t channels, std::size_t frames, std::size_t quiet = 0)
    {
        std::vector<std::vector<int32_t>> samples(channels, std::vector<int32_t>(frames));
        for (uint16_t c = 0; c < channels; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                samples[c][i] = (static_cast<int32_t>((i * (7 + c)) % 4000) - 2000) / (i < quiet ? 2 : 1);
        test::write_file(dir.file(name), test::make_pcm_wav(channels, 48000, 16, samples));
        return dir.file(name);
    }
    // Drags files onto the window and lets go there, as the desktop does,
    // from a source offering `offered` and proposing `proposed` (with the
    // keys that make the desktop propose it): the action the drop was
    // answered with, none when it was refused.  The window must answer the
    // drag's entry and moves as it answers the drop.  Unsettled, the files
    // wait to be taken until the test next lets the events run.
    Qt::DropAction drop(const std::vector<std::string>& paths,
                        Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
                        Qt::DropAction proposed = Qt::MoveAction, bool settle = true)
    {
        // Shift proposes a move, Control a copy, both a link.
        const Qt::KeyboardModifiers held = proposed == Qt::MoveAction   ? Qt::ShiftModifier
                                           : proposed == Qt::CopyAction ? Qt::ControlModifier
                                                                        : Qt::ControlModifier | Qt::ShiftModifier;
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string& path : paths)
            urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
        data.setUrls(urls);
        const auto send = [&](QDropEvent&& event) {
            event.setDropAction(proposed);
            QApplication::sendEvent(dlg.get(), &event);
            return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
        };
        const QPoint at(5, 5);
        const Qt::DropAction entered = send(QDragEnterEvent(at, offered, &data, Qt::LeftButton, held));
        EXPECT_EQ(send(QDragMoveEvent(at, offered, &data, Qt::LeftButton, held)), entered);
        if (entered == Qt::IgnoreAction) {
            // Files refused as they enter are never dropped: let go over
            // the window, the drag is only seen to leave it.
            QCursor::setPos(dlg->mapToGlobal(at));
            QDragLeaveEvent leave;
            QApplication::sendEvent(dlg->windowHandle(), &leave);
        } else {
            EXPECT_EQ(send(QDropEvent(at, offered, &data, Qt::LeftButton, held)), entered);
        }
        // The window takes the files once the drop is answered.
        if (settle)
            QCoreApplication::processEvents();
        return entered;
    }
    Qt::DropAction drop(const std::string& path) { return drop(std::vector<std::string>{path}); }
    void writeText(const std::string& path, const std::string& text)
    {
        test::write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
    }
    // Starts a run of eight channels, each through the rate conversion, and
    // holds its worker after the first channel's line until a stop is asked,
    // so what the test does then cannot come late.
    bool startHeldUntilStopAsked()
    {
        type("inpwavnameEdit", writeInput("in.wav", 8, 48000));
        type("outwavnameEdit", dir.file("out.wav"));
        check("ensrcCheck");
        type("fssrcEdit", "44100");
        atLine(channel0_line, [this] {
            reached = true;
            std::atomic<int>* stop = &dlg->engine().stopflag;
            toolkit.hold = [stop] { return stop->load() == 0; };
        });
        click("processButton");
        return QTest::qWaitFor([&] { return reached; }, 30000);
    }
    bool waitForIdle() { return QTest::qWaitFor([this] { return !dlg->runUnderWay(); }, 60000); }

    static inline const std::string channel0_line = "--- processing channel 0: ---\n";
    static inline const std::string done_line = "--- DONE ---\n";
    static inline const std::string stopping_title = "Stopping, please wait ...";
    static inline const std::string quit_question = "Do you really want to quit?";
    bool reached = false;
    test::TempDir dir;
    ScriptedToolkit toolkit;
    std::unique_ptr<CveskDlg> dlg;
    std::vector<Snapshot> snapshots;
};

// Runs `handle` on the first modal window of type W to appear; call before
// the action that opens it.  Gives up after 5 s, so a missing box fails the
// test instead of hanging it.
template <typename W>
std::shared_ptr<bool> whenModalAppears(std::function<void(W*)> handle)
{
    auto seen = std::make_shared<bool>(false);
    // Owned by the application, so a timer whose 5 s have not run out when
    // the tests end goes with it instead of being left behind.
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            *seen = true;
            handle(window);
        }
    });
    QTimer::singleShot(5000, timer, &QObject::deleteLater);
    timer->start(10);
    return seen;
}

} // namespace vesk::testing
