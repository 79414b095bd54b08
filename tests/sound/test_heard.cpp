// What the Listen window plays, as it is heard: the real window plays through
// a PulseAudio server of the test's own, whose one output is a null sink, and
// the sink's monitor is recorded while the test presses the window's keys.
// Each test runs in a process of its own (as CTest runs them), with a server
// of its own, started and stopped here.
#include <QAbstractButton>
#include <QProcess>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/qt/listen_dlg.h"
#include "ui/qt/loudness.h"
#include "engine/params.h"
#include "ui/qt/qt_toolkit.h"

namespace vesk::testing {
namespace {

constexpr long rate = 48000;        // the null sink's and the recording's
constexpr double lsb = 1.0 / 32768; // the recording's step: a float played rounds to it
constexpr double fade = 0.005;      // the window's crossfade, s

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Writes a stereo WAV file of f(t, channel) at `fs` and `bits`, and returns
// what the player holds of it.
Pcm writeWav(const std::string& path, uint32_t fs, int bits, double seconds, const std::function<double(double, int)>& f)
{
    const double full = std::ldexp(1.0, bits - 1);
    std::vector<std::vector<int32_t>> ints(2);
    Pcm pcm{fs, 2, {}};
    for (long i = 0; i < std::lround(seconds * fs); ++i)
        for (int c = 0; c < 2; ++c) {
            ints[c].push_back(static_cast<int32_t>(std::lround(f(static_cast<double>(i) / fs, c) * full)));
            pcm.samples.push_back(static_cast<float>(ints[c].back() / full));
        }
    test::write_file(path, test::make_pcm_wav(2, fs, bits, ints));
    return pcm;
}

// 100 Hz rising to 3.2 kHz over 4 s, a millisecond later on the right: no
// 10 ms of it occur twice, so 10 ms of a recording tell their place in it.
double sweep(double t, int c)
{
    const double k = std::log(32.0) / 4.0;
    return 0.5 * std::sin(2 * M_PI * 100 * (std::exp(k * (t - c * 0.001)) - 1) / k);
}

// Recorded frames [begin, end) hold the file's frames n - offset, each
// within the recording's rounding.
struct Span {
    long begin, end, offset;
    const Pcm* file;
};

// The spans of the files' own frames in the recording: wherever 10 ms of it
// match a place in a file sample for sample, grown both ways.  The frames
// between spans are crossfades or silence.
std::vector<Span> spans(const std::vector<float>& r, const std::vector<const Pcm*>& files)
{
    const long frames = static_cast<long>(r.size() / 2), window = rate / 100;
    const auto same = [&](long n, const Span& p) {
        const long s = n - p.offset;
        return n >= 0 && n < frames && s >= 0 && s < static_cast<long>(p.file->frames())
               && std::fabs(r[2 * n] - p.file->samples[2 * s]) <= lsb
               && std::fabs(r[2 * n + 1] - p.file->samples[2 * s + 1]) <= lsb;
    };
    // A span holding recorded frames n to n + window.
    const auto at = [&](long n) -> std::optional<Span> {
        for (const Pcm* f : files)
            for (long s = 0; s + window <= static_cast<long>(f->frames()); ++s) {
                Span p{n, n, n - s, f};
                while (p.end < n + window && same(p.end, p))
                    ++p.end;
                if (p.end == n + window)
                    return p;
            }
        return std::nullopt;
    };
    std::vector<Span> found;
    for (long n = 0; n + window <= frames; n += rate / 1000) {
        std::optional<Span> p;
        if (std::fabs(r[2 * n]) + std::fabs(r[2 * n + 1]) <= 2 * lsb || !(p = at(n)))
            continue; // silence (as far as one frame tells), or a crossfade
        while (p->begin > (found.empty() ? 0 : found.back().end) && same(p->begin - 1, *p))
            --p->begin;
        while (same(p->end, *p))
            ++p->end;
        found.push_back(*p);
        n = p->end;
    }
    return found;
}

class Heard : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("PULSE_SERVER", QByteArray("unix:") + dir.file("native").c_str());
        qputenv("PULSE_COOKIE", dir.file("cookie").c_str());
        // The sound must not wait for the processor behind other programs
        // (where the test may raise its priority): the server, the recorder
        // and the threads that feed the sound start later and inherit it.
        setpriority(PRIO_PROCESS, 0, -10);
        ASSERT_EQ(server("start"), 0);
        QObject::connect(&recorder, &QProcess::readyReadStandardOutput, [this] {
            raw += recorder.readAllStandardOutput();
            // A frame arrives after it was played: the earliest arrival
            // tells when the recording began, within the recorder's latency.
            t0 = std::min(t0, now() - static_cast<double>(raw.size() / 4) / rate);
        });
        recorder.start("parecord", {"--device=vesk.monitor", "--raw", "--format=s16le", "--rate=48000", "--channels=2",
                                    "--latency-msec=5"});
        QObject::connect(&sampler, &QTimer::timeout, [this] { shown.push_back({now(), slider->value() / 1000.0}); });
        sampler.start(5);
        startWindow();
    }
    // A new window, and the recording afresh from now on.
    void startWindow()
    {
        listen = std::make_unique<ListenDlg>(toolkit);
        listen->show();
        slider = listen->findChild<QSlider*>();
        raw.remove(0, raw.size() / 4 * 4);
        shown.clear();
        t0 = HUGE_VAL;
        // The recorder asks the null sink for a short latency; until it does,
        // the sink plays in blocks of seconds.
        ASSERT_TRUE(QTest::qWaitFor([this] { return raw.size() > rate / 10 * 4; }, 10000));
    }
    // The spans heard while `scenario` plays.  Once more in a new window
    // when the sound broke off into silence and went on a little later in
    // the file (no further than the silence lasted): the server ran dry,
    // which is the doing of a busy machine, not of the player.
    std::vector<Span> heard(const std::function<void()>& scenario, const std::vector<const Pcm*>& files)
    {
        std::vector<Span> got;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (attempt > 0)
                startWindow();
            scenario();
            const std::vector<float> r = recording();
            got = spans(r, files);
            if (std::adjacent_find(got.begin(), got.end(), [&](const Span& a, const Span& b) {
                    const long skipped = (b.begin - b.offset) - (a.end - a.offset);
                    return b.file == a.file && b.begin > a.end && skipped >= 0 && skipped <= b.begin - a.end
                           && std::all_of(r.begin() + 2 * a.end, r.begin() + 2 * b.begin, [](float x) { return x == 0; });
                }) == got.end())
                return got;
        }
        ADD_FAILURE() << "the sound broke off in both attempts";
        return got;
    }
    void TearDown() override
    {
        sampler.stop();
        listen.reset();
        recorder.kill();
        recorder.waitForFinished();
        server("stop");
    }
    int server(const char* what)
    {
        return std::system(("bash " VESK_SOUND_SERVER " " + std::string(what) + " " + dir.path().string()).c_str());
    }
    void load(const std::string& input, const std::string& output = "")
    {
        listen->setFiles(input, output, 1.0);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return listen->player().has(Player::input) && (output.empty() || listen->player().has(Player::output));
        }));
    }
    void press(Qt::Key key) { QTest::keyClick(listen.get(), key); }
    void wait(double seconds) { QTest::qWait(static_cast<int>(seconds * 1000)); }
    // Drags the slider to `seconds` as a person would.
    void seek(double seconds)
    {
        slider->setSliderDown(true);
        slider->setSliderPosition(static_cast<int>(std::lround(seconds * 1000)));
        slider->setSliderDown(false);
    }
    // Clicks the button, or the check box unless it already shows `on`.
    void click(const char* text, std::optional<bool> on = {})
    {
        for (QAbstractButton* b : listen->findChildren<QAbstractButton*>())
            if (b->text() == QLatin1String(text) && (!on || b->isChecked() != *on))
                QTest::mouseClick(b, Qt::LeftButton);
    }
    // The recorded frame heard at time t.
    long frameAt(double t) const { return std::lround((t - t0) * rate); }
    std::vector<float> recording() const
    {
        std::vector<float> r(static_cast<std::size_t>(raw.size() / 2));
        for (std::size_t i = 0; i < r.size(); ++i)
            r[i] = reinterpret_cast<const qint16*>(raw.constData())[i] * static_cast<float>(lsb);
        return r;
    }

    test::TempDir dir;
    QtToolkit toolkit;
    QProcess recorder;
    QByteArray raw;
    double t0 = HUGE_VAL;
    std::unique_ptr<ListenDlg> listen;
    QSlider* slider = nullptr;
    QTimer sampler;
    std::vector<std::pair<double, double>> shown; // when, and the time the window showed
};

// One stretch of listening: Play, B, Pause and Play, a seek back, A, then
// Loop and a seek near the end.  The input is a sweep, the output the same
// with the opposite sign, so that a switch that clicks or comes from another
// place in the music shows; both switches come where the sweep is low (150
// to 170 Hz), where a crossfade's own slope tells most.
TEST_F(Heard, PlaySeekSwitchPauseAndLoopSoundExactlyWhenAndWhereTheWindowSays)
{
    const Pcm a = writeWav(dir.file("a.wav"), rate, 16, 4, sweep);
    const Pcm b = writeWav(dir.file("b.wav"), rate, 24, 4, [](double t, int c) { return -sweep(t, c); });
    double asked[7] = {}, paused = 0; // when each change after Play was asked for
    const std::pair<double, std::function<void()>> changes[7] = {
        {0.5, [&] { press(Qt::Key_B); }},
        {0.5, [&] { press(Qt::Key_Space); }},
        {0.3, [&] { paused = listen->player().position(), press(Qt::Key_Space); }},
        {0.4, [&] { seek(0.2); }},
        {0.4, [&] { press(Qt::Key_A); }},
        {0.5, [&] { click("Loop"), seek(3.7); }},
        {0.6, [&] { press(Qt::Key_Space); }}};
    const std::vector<Span> got = heard(
        [&] {
            load(dir.file("a.wav"), dir.file("b.wav"));
            press(Qt::Key_Space);
            for (int k = 0; k < 7; ++k) {
                wait(changes[k].first);
                asked[k] = now();
                changes[k].second();
            }
            wait(0.2);
        },
        {&a, &b});
    // Spans: A from the start, B, B after the pause, B from the seek, A, A
    // from the seek to the end, A from the start again.
    ASSERT_EQ(got.size(), 7u);
    const auto at = [](long frame, const Span& s) { return static_cast<double>(frame - s.offset) / rate; };
    // A stream that starts while the sink runs is mixed in at once, up to
    // the sink's latency earlier than the monitor has already recorded.
    EXPECT_LE(at(got[0].begin, got[0]), 0.010) << "Play starts with the file's first frame";
    const int askedAtEnd[5] = {0, 1, 3, 4, 5}; // what ends each of the first five spans
    for (int k = 0; k < 5; ++k) // within 50 ms, and not long before, as far as the recording can tell
        EXPECT_NEAR(static_cast<double>(got[k].end - frameAt(asked[askedAtEnd[k]])) / rate, 0.02, 0.03) << k;
    EXPECT_NEAR(at(got[3].begin, got[3]), 0.2 + fade, 0.001);
    EXPECT_NEAR(at(got[5].begin, got[5]), 3.7 + fade, 0.001);
    EXPECT_NEAR(at(got[1].end, got[1]), paused - fade, 0.001);
    EXPECT_NEAR(at(got[2].begin, got[2]), paused + fade, 0.001);
    EXPECT_EQ(got[6].begin, got[5].end) << "the loop leaves a gap";
    EXPECT_EQ(got[6].offset, got[5].offset + static_cast<long>(a.frames()));
    const std::vector<float> r = recording();
    for (int k : {0, 3}) {
        EXPECT_EQ(got[k + 1].file, k == 0 ? &b : &a);
        EXPECT_EQ(got[k + 1].offset, got[k].offset) << "not the same place in the music";
        EXPECT_GE(got[k + 1].begin - got[k].end, 1);
        EXPECT_LE(got[k + 1].begin - got[k].end, rate / 100) << "the crossfade is too long";
        // No step at the switch is larger than the two files' own there.
        double own = 0, step = 0;
        for (long n = got[k].end - rate / 100; n < got[k + 1].begin + rate / 100; ++n)
            for (int c = 0; c < 2; ++c) {
                const long s = n - got[k].offset;
                for (const Pcm* f : {&a, &b})
                    own = std::max<double>(own, std::fabs(f->samples[2 * s + 2 + c] - f->samples[2 * s + c]));
                step = std::max<double>(step, std::fabs(r[2 * n + 2 + c] - r[2 * n + c]));
            }
        EXPECT_LE(step, own + 2 * lsb) << k;
        std::printf("switch heard %.1f ms after the request, crossfade %ld frames, largest step %.4f, the files' %.4f\n",
                    1e3 * (got[k].end - frameAt(asked[askedAtEnd[k]])) / rate, got[k + 1].begin - got[k].end, step, own);
    }
    // What the window shows is what is heard, away from the changes: up to
    // 50 ms behind, and never ahead by more than the recording can tell.
    int compared = 0;
    for (auto [when, time] : shown)
        for (const Span& s : got)
            if (frameAt(when) >= s.begin + rate / 20 && frameAt(when) < s.end - rate / 20) {
                EXPECT_NEAR(time - at(frameAt(when), s), -0.02, 0.03) << "at " << when - t0 << " s of the recording";
                ++compared;
            }
    EXPECT_GT(compared, 100); // the window was looked at throughout
}

// Two tones on either side, the output's lower and with less top than the
// input's, so that the two differ in loudness otherwise than by a gain.
TEST_F(Heard, MatchLoudnessPlaysBothAtOneLoudnessAndOffTheFilesOwnDifference)
{
    const Pcm a = writeWav(dir.file("a.wav"), rate, 16, 4, [](double t, int) {
        return 0.25 * std::sin(2 * M_PI * 440 * t) + 0.15 * std::sin(2 * M_PI * 2500 * t);
    });
    const Pcm b = writeWav(dir.file("b.wav"), rate, 24, 4, [](double t, int) {
        return 0.2 * std::sin(2 * M_PI * 150 * t) + 0.02 * std::sin(2 * M_PI * 6000 * t);
    });
    const double own = integrated_loudness(b) - integrated_loudness(a);
    ASSERT_LT(own, -3);
    load(dir.file("a.wav"), dir.file("b.wav"));
    for (bool on : {true, false}) {
        click("Match loudness", on);
        const long start = frameAt(now());
        press(Qt::Key_Space);
        wait(1.5);
        const long at = frameAt(now());
        press(Qt::Key_B);
        wait(1.5);
        const long end = frameAt(now());
        click("Stop");
        press(Qt::Key_A);
        wait(0.2);
        const std::vector<float> r = recording();
        const auto loudness = [&](long from, long to) {
            return integrated_loudness(Pcm{rate, 2, std::vector<float>(r.begin() + 2 * from, r.begin() + 2 * to)});
        };
        const double heard = loudness(at + rate / 10, end) - loudness(start + rate / 5, at);
        EXPECT_NEAR(heard, on ? 0.0 : own, 0.5) << on;
        std::printf("matching %s: B heard %+.2f LU from A, the files differ by %+.2f LU\n", on ? "on" : "off", heard, own);
    }
}

// The device takes every rate up to 384 kHz; the player converts above.
// Beside an output at 8 kHz, the input's 5 kHz tone is heard as it is, not
// folded at 4 kHz.
TEST_F(Heard, AFileAtAnyRatePlaysAtItsPitch)
{
    writeWav(dir.file("8000.wav"), 8000, 16, 0.5, [](double, int) { return 0.0; });
    for (uint32_t fs : {22050u, 96000u, 768000u}) {
        const std::string path = dir.file(std::to_string(fs) + ".wav");
        writeWav(path, fs, 16, 0.5, [](double t, int) { return 0.3 * std::sin(2 * M_PI * 5000 * t); });
        load(path, dir.file("8000.wav"));
        const long start = frameAt(now()) + rate / 10;
        press(Qt::Key_Space);
        wait(0.4);
        const long end = frameAt(now()) - rate / 20; // recorded by now
        const std::vector<float> r = recording();
        // The median period between upward zero crossings (placed between
        // frames by a straight line), which a dropout does not move.
        std::vector<double> ups, periods;
        for (long n = start; n < end; ++n)
            if (r[2 * n] < 0 && r[2 * n + 2] >= 0)
                ups.push_back(n + r[2 * n] / (r[2 * n] - r[2 * n + 2]));
        for (std::size_t k = 1; k < ups.size(); ++k)
            periods.push_back(ups[k] - ups[k - 1]);
        ASSERT_GT(periods.size(), 100u) << fs;
        std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
        EXPECT_NEAR(rate / periods[periods.size() / 2], 5000, 5) << fs;
        wait(0.3);
    }
}

// Live turned on while B plays: once the span is rendered, what is heard is
// the render, sample for sample as the player holds it, taken up at the
// same place in the music (the 2-s span starts 1 s before it), and looping.
TEST_F(Heard, LiveSwitchesOutputToTheRenderedSpanAtTheSamePlaceInTheMusic)
{
    writeWav(dir.file("a.wav"), rate, 16, 4, sweep);
    const Pcm b = writeWav(dir.file("b.wav"), rate, 24, 4, [](double t, int c) { return -sweep(t, c); });
    Pcm preview;
    double span_start = 0;
    const std::vector<Span> got = heard(
        [&] {
            load(dir.file("a.wav"), dir.file("b.wav"));
            click("Match loudness", false);
            Params params;
            params.bitnr = 6;
            listen->setParams(params);
            listen->findChild<QSpinBox*>()->setValue(2); // a span inside the file
            press(Qt::Key_B);
            press(Qt::Key_Space);
            wait(1.5);
            listen->setLive(true);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !listen->rendering() && listen->previewSpan().count > 0; }, 10000));
            preview = listen->player().pcm(Player::output);
            span_start = static_cast<double>(listen->previewSpan().first) / rate;
            wait(span_start + 2.5 - listen->player().position()); // past the span's end, into its loop
            click("Stop");
            wait(0.1);
        },
        {&b, &preview});
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[0].file, &b);
    EXPECT_EQ(got[1].file, &preview) << "the render is not what is heard";
    EXPECT_NEAR(span_start, 0.5, 0.1) << "the span starts 1 s before the play position";
    EXPECT_EQ(got[1].offset, got[0].offset + std::lround(span_start * rate)) << "not the same place in the music";
    EXPECT_LE(got[1].begin - got[0].end, rate / 100) << "the crossfade is too long";
    EXPECT_EQ(got[2].file, &preview);
    EXPECT_EQ(got[2].begin, got[1].end) << "the loop leaves a gap";
    EXPECT_EQ(got[2].offset, got[1].offset + static_cast<long>(preview.frames()));
}

// Play once the server has gone finds none, as on a desktop without one.
TEST_F(Heard, AServerThatGoesAwayStopsThePlayerWithItsMessageAndTheWindowGoesOn)
{
    writeWav(dir.file("a.wav"), rate, 16, 4, sweep);
    load(dir.file("a.wav"));
    press(Qt::Key_Space);
    wait(0.3);
    ASSERT_TRUE(listen->player().playing());
    ASSERT_EQ(server("stop"), 0);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !listen->player().playing(); }, 5000));
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(listen->status().toStdString(), "no audio output");
        EXPECT_FALSE(listen->player().playing());
        const double asked = now();
        press(Qt::Key_Space);
        EXPECT_LT(now() - asked, 1.0);
    }
}

} // namespace
} // namespace vesk::testing
