// One fixture for the window tests: a fresh main window, shown and active,
// with a toolkit that answers for the user, generated input files in a
// folder of their own, and a record of what the Processing window showed at
// each of a run's hand-overs.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
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

// The real toolkit's threads and hand-overs, with the person replaced: the
// boxes and choosers answer from a script and every request is recorded on
// the user-interface thread (a worker's message is handed over first, as
// the real one is).
class ScriptedToolkit : public QtToolkit {
public:
    struct Request { char kind; std::string text; FileChoice choice; }; // 'm'essage, 'q'uestion, 'c'hooser, 'p'lay, 'z' pause
    std::deque<bool> answers;                     // questions; none left is No
    std::deque<std::optional<std::string>> files; // choosers; none left cancels
    std::vector<Request> requests;
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
    void message(const std::string& text) override { call_on_ui([&] { requests.push_back({'m', text, {}}); }); }
    bool question(const std::string& text) override
    {
        requests.push_back({'q', text, {}});
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return yes;
    }
    std::optional<std::string> choose_file(const FileChoice& choice) override
    {
        requests.push_back({'c', choice.title, choice});
        std::optional<std::string> chosen = files.empty() ? std::nullopt : files.front();
        if (!files.empty())
            files.pop_front();
        return chosen;
    }
    void play(const std::string& path) override { requests.push_back({'p', path, {}}); }
    void pause(int ms) override { call_on_ui([&] { requests.push_back({'z', std::to_string(ms), {}}); }); }
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
    bool window = false, processEnabled = false, openEnabled = false;
    std::string title, log, logline;
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
        if (dlg) {
            EXPECT_TRUE(waitForIdle());
        }
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
            s.title = w->titleLabel()->text().toStdString();
            s.log = w->logLabel()->text().toStdString();
        }
        s.logline = dlg->procinfo().logline;
        s.processEnabled = button("processButton")->isEnabled();
        s.openEnabled = button("openButton")->isEnabled();
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

    // A 16-bit file of `channels` ramps.
    std::string writeInput(const std::string& name, uint16_t channels, std::size_t frames)
    {
        std::vector<std::vector<int32_t>> samples(channels, std::vector<int32_t>(frames));
        for (uint16_t c = 0; c < channels; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                samples[c][i] = static_cast<int32_t>((i * (7 + c)) % 4000) - 2000;
        test::write_file(dir.file(name), test::make_pcm_wav(channels, 48000, 16, samples));
        return dir.file(name);
    }
    void writeText(const std::string& path, const std::string& text)
    {
        test::write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
    }
    // A run that takes a while: eight channels, each through the rate
    // conversion.
    void setUpLongRun()
    {
        type("inpwavnameEdit", writeInput("in.wav", 8, 48000));
        type("outwavnameEdit", dir.file("out.wav"));
        check("ensrcCheck");
        type("fssrcEdit", "44100");
    }
    // Starts a long run and holds its worker after the first channel's line
    // until a stop is asked, so what the test does then cannot come late.
    bool startHeldUntilStopAsked()
    {
        setUpLongRun();
        atLine(channel0_line, [this] {
            reached = true;
            std::atomic<int>* stop = &dlg->engine().stopflag;
            toolkit.hold = [stop] { return stop->load() == 0; };
        });
        click("processButton");
        return QTest::qWaitFor([&] { return reached; }, 30000);
    }
    bool waitForIdle() { return QTest::qWaitFor([this] { return !dlg->runUnderWay(); }, 60000); }

    static bool contains(const std::vector<std::string>& v, const std::string& s)
    {
        return std::find(v.begin(), v.end(), s) != v.end();
    }

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
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* window = qobject_cast<W*>(QApplication::activeModalWidget());
        if (window || ++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
        if (window) {
            *seen = true;
            handle(window);
        }
    });
    timer->start(10);
    return seen;
}

} // namespace vesk::testing
