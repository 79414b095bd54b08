// The Listen window: files read off the window's thread, no sound device in
// CI, the A/B keys, Info's messages, and the loudness of a known tone.
#include <QAudioDevice>
#include <QMediaDevices>
#include <QRegularExpression>
#include <QSpinBox>
#include <QToolButton>
#include <cmath>

#include "tests/support/recording_sinks.h"
#include "ui/qt/listen_dlg.h"
#include "ui/qt/loudness.h"
#include "ui/qt/spectra_dlg.h"
#include "ui/qt/spin_buttons.h"
#include "ui/run.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {

using Listen = WindowTest;

TEST_F(Listen, SaysWhenThereIsNoSoundAndTheKeysSwitchTheSource)
{
    type("inpwavnameEdit", writeInput("in.wav", 2, 4800));
    type("outwavnameEdit", writeInput("out.wav", 1, 4800));
    click("listenButton");
    ListenDlg* listen = dlg->listen();
    ASSERT_NE(listen, nullptr);
    // The click has returned, the files are still being read.
    EXPECT_TRUE(listen->loading() && !listen->player().has(Player::input));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listen->loading(); }, 30000));
    if (QMediaDevices::audioOutputs().isEmpty()) {
        EXPECT_EQ(listen->status().toStdString(), "no audio output");
        QTest::keyClick(listen, Qt::Key_Space); // Play finds no device and stays off
        EXPECT_FALSE(listen->player().playing());
    }
    for (auto [key, source] : {std::pair{Qt::Key_B, Player::output}, {Qt::Key_A, Player::input}}) {
        QTest::keyClick(listen, key);
        EXPECT_EQ(listen->player().source(), source);
    }
    EXPECT_TRUE(toolkit.texts('m').empty());
    type("inpwavnameEdit", dir.file("missing.wav"));
    click("listenButton");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !toolkit.texts('m').empty(); }, 30000));
    EXPECT_EQ(toolkit.texts('m'), std::vector<std::string>{"cannot open WAV input"});
}

// What the engine's in-memory entry gives for `span` of the file at `path`:
// channels 0 and 1, as 24-bit integers.
std::vector<int32_t> engineSpan(const std::string& path, const Params& params, const SpanFrames& span)
{
    InputSamples in;
    EXPECT_TRUE(read_input_samples(path, in, std::size_t(1) << 30));
    test::RecordingMessages messages;
    test::RecordingLog log;
    Engine engine(messages, log);
    engine.params = params;
    PcmView view = in.view();
    view.data += span.render_first() * in.channels * 2;
    view.frames = span.render_count();
    Pcm24View out;
    EXPECT_EQ(engine.process_samples(view, out, span.margins), RunOutcome::done);
    std::vector<int32_t> samples;
    for (uint64_t i = 0; i < out.frames; ++i)
        for (uint32_t c = 0; c < 2; ++c) {
            const uint8_t* b = out.data + (i * out.channels + c) * 3;
            samples.push_back((b[0] | b[1] << 8 | b[2] << 16) << 8 >> 8);
        }
    return samples;
}

// Live: each change the main window takes renders the 2-s span from 1 s
// before the play position (2.25 s).  Output (B) then holds exactly what the engine
// gives for that span, looping, Input (A) the span itself, loudness matched
// over the spans (the input is quieter before them); a change made while a
// render is under way wins; Live off gives the whole files back, and Live on
// again renders with the renderer's memory given back in between.
TEST_F(Listen, LivePreviewRendersEachChangeAsTheEngineDoesAndLiveOffGivesTheWholeFilesBack)
{
    const std::string input = writeInput("in.wav", 2, 48000 * 4, 60000);
    type("inpwavnameEdit", input);
    type("outwavnameEdit", writeInput("out.wav", 1, 4800));
    click("listenButton");
    ListenDlg* listen = dlg->listen();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listen->loading(); }, 30000));
    listen->findChild<QSpinBox*>()->setValue(2);
    listen->player().seek(2.25);
    listen->player().pull(nullptr, 0);
    const auto enter = [this](const char* name, const char* text) {
        type(name, text);
        QTest::keyClick(edit(name), Qt::Key_Return);
    };
    const std::function<void()> changes[] = {
        [&] { listen->setLive(true); },
        [&] { enter("bitnrEdit", "8"); },
        [&] { QTest::mouseClick(dlg->findChild<SpinButtons*>("bitnrSpin")->downButton(), Qt::LeftButton); },
        [&] { type("fssrcEdit", "44100"), check("ensrcCheck"); },
        [&] { enter("bitnrEdit", "5"), check("ensrcCheck"); }, // the second change stops the first's render
        [&] { toolkit.answers.push_back(true), click("resetButton"); },
        [&] { enter("varispeedtEdit", "2"); }, // B's time runs half as fast as A's
        [&] { enter("bitnrEdit", "7"); },      // heard at 1.125 s of B: 2.25 s of the input
        [&] {
            QTest::keyClick(listen, Qt::Key_A);
            listen->player().pull(nullptr, 0);
            listen->setLive(false);
            EXPECT_EQ(listen->player().pcm(Player::input).frames(), 4u * 48000);
            EXPECT_EQ(listen->player().pcm(Player::output).frames(), 4800u);
            listen->setLive(true);
        },
    };
    for (std::size_t k = 0; k < std::size(changes); ++k) {
        changes[k]();
        ASSERT_TRUE(listen->rendering()) << k;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !listen->rendering(); }, 30000)) << k;
        const SpanFrames span = listen->previewSpan();
        EXPECT_EQ(span.first, 60000u) << k;
        EXPECT_EQ(span.count, 96000u) << k;
        EXPECT_TRUE(listen->status().contains(QRegularExpression("^live preview: 2 s from 0:01.3, rendered in \\d+ ms$")))
            << listen->status().toStdString();
        const Pcm& b = listen->player().pcm(Player::output);
        const std::vector<int32_t> expected = engineSpan(input, engine_params(dlg->record()), span);
        ASSERT_EQ(b.samples.size(), expected.size()) << k;
        std::size_t equal = 0;
        for (std::size_t i = 0; i < expected.size(); ++i)
            equal += std::lround(b.samples[i] * 8388608.0) == expected[i];
        EXPECT_EQ(equal, expected.size()) << k;
        const Pcm& a = listen->player().pcm(Player::input);
        EXPECT_EQ(a.frames(), span.count) << k;
        EXPECT_EQ(a.samples[0], static_cast<float>((60000 * 7 % 4000 - 2000) / 32768.0)) << k;
        const MatchGains g = match_gains(integrated_loudness(a), integrated_loudness(b), true);
        for (auto [s, db] : {std::pair{Player::input, g.input_db}, {Player::output, g.output_db}})
            EXPECT_NEAR(listen->player().gain(s), std::pow(10.0, db / 20), 1e-12) << k;
        EXPECT_EQ(listen->player().source(), Player::output);
        EXPECT_NEAR(listen->player().position(), 2.25 / dlg->record().varispeedt, 1e-9) << k;
    }
    EXPECT_NE(dlg->record().fssrc, 44100u); // the Reset was taken
    EXPECT_NEAR(listen->player().duration(), 1.625, 1e-4); // the span's end in B's time
    // An open Spectra window follows the preview, and the files after it.
    click("spectraButton");
    const auto spectraTitle = [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg->spectra()->busy(); }, 30000));
        return dlg->spectra()->plot()->title;
    };
    EXPECT_EQ(spectraTitle(), "live preview of in.wav, channel 0");
    // Process ends Live: the whole files play again at once.
    click("processButton");
    EXPECT_FALSE(listen->live());
    EXPECT_EQ(listen->player().pcm(Player::output).frames(), 4800u);
    EXPECT_EQ(listen->player().pcm(Player::input).frames(), 4u * 48000);
    EXPECT_TRUE(listen->status().isEmpty() || listen->status() == "no audio output");
    EXPECT_TRUE(waitForIdle());
    EXPECT_EQ(spectraTitle(), "in.wav and out.wav, channel 0");
}

// A 997 Hz tone at a tenth of full scale on both sides is -20.0 LUFS; a mono
// one plays on both sides and so measures the same.
TEST(Loudness, AToneAtATenthOfFullScaleOnBothSidesIsMinus20Lufs)
{
    for (uint32_t channels : {1u, 2u}) {
        Pcm pcm{48000, channels, {}};
        for (int i = 0; i < 48000 * 5; ++i)
            pcm.samples.insert(pcm.samples.end(), channels, static_cast<float>(0.1 * std::sin(2 * M_PI * 997 * i / 48000.0)));
        EXPECT_NEAR(integrated_loudness(pcm), -20.0, 0.05) << channels;
    }
}

} // namespace
} // namespace vesk::testing
