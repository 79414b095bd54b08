// The main window with generated input files and a record of what the
// Processing window showed at each of the run's hand-overs.
#pragma once

#include <QLabel>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "main_window_fixture.h"
#include "tests/support/recording_sinks.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/qt/procinfo_dlg.h"
#include "ui/run.h"

namespace vesk::testing {

// The Processing window and the main window's run buttons as they were
// right after one hand-over from the worker.
struct Snapshot {
    bool window = false;  // the Processing window exists
    bool visible = false;
    std::string caption;  // its window title
    std::string title;    // its heading as shown
    std::string log;      // its log as shown
    std::string logline;  // the line last handed over
    int logindex = 0;
    bool processEnabled = false;
    bool openEnabled = false;
};

// What a run of the same engine without any window says and writes.
struct HeadlessRun {
    int result = 0;
    std::vector<std::string> lines;
    std::vector<std::string> messages;
    std::vector<uint8_t> output;
};

class RunWindowTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        toolkit.afterHandOver([this] { snapshots.push_back(snapshot()); });
    }

    void TearDown() override
    {
        // A run still going would outlive the test's files.
        if (dlg) {
            EXPECT_TRUE(waitForIdle());
        }
    }

    Snapshot snapshot()
    {
        Snapshot s;
        CProcinfoDlg& info = dlg->procinfo();
        if (ProcinfoWindow* w = info.window()) {
            s.window = true;
            s.visible = w->isVisible();
            s.caption = w->windowTitle().toStdString();
            s.title = w->titleLabel()->text().toStdString();
            s.log = w->logLabel()->text().toStdString();
        }
        s.logline = info.logline;
        s.logindex = info.logindex();
        s.processEnabled = button("processButton")->isEnabled();
        s.openEnabled = button("openButton")->isEnabled();
        return s;
    }

    // The lines the Processing window was handed, in order: a hand-over
    // that moved the ring on was a line.
    std::vector<std::string> linesShown() const
    {
        std::vector<std::string> lines;
        int index = 0;
        for (const Snapshot& s : snapshots) {
            if (s.window && s.logindex != index)
                lines.push_back(s.logline);
            // A new run starts its log at slot 0.
            index = s.window ? s.logindex : 0;
        }
        return lines;
    }

    // A stereo or multi-channel 16-bit file of tones.
    std::string writeInput(const std::string& name, uint16_t channels, std::size_t frames,
                           uint32_t rate = 48000)
    {
        std::vector<std::vector<int32_t>> samples(channels, std::vector<int32_t>(frames));
        for (uint16_t c = 0; c < channels; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                samples[c][i] = static_cast<int32_t>((i * (7 + c)) % 4000) - 2000;
        const std::string path = dir.file(name);
        test::write_file(path, test::make_pcm_wav(channels, rate, 16, samples));
        return path;
    }

    void writeText(const std::string& path, const std::string& text)
    {
        test::write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
    }

    void setPaths(const std::string& input, const std::string& output)
    {
        type("inpwavnameEdit", input);
        type("outwavnameEdit", output);
    }

    // The record run by an engine of its own, its output to `output`.
    static HeadlessRun headless(ParamRecord record, const std::string& output)
    {
        test::RecordingMessages messages;
        test::RecordingLog log;
        Engine engine(messages, log);
        record.outwavname = output;
        engine.params = engine_params(record);
        HeadlessRun run;
        run.result = !engine.check_params() ? -1 : static_cast<int>(run_worker_steps(engine)) == 0 ? 0 : 1;
        run.lines = log.lines;
        run.messages = messages.texts;
        if (run.result == 0)
            run.output = test::read_file(output);
        return run;
    }

    bool waitForIdle(int milliseconds = 60000)
    {
        return QTest::qWaitFor([this] { return !dlg->runUnderWay(); }, milliseconds);
    }

    static bool contains(const std::vector<std::string>& lines, const std::string& line)
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    test::TempDir dir;
    std::vector<Snapshot> snapshots;
};

} // namespace vesk::testing
