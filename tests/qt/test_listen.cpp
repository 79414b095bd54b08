// The Listen window: files read off the window's thread, no sound device in
// CI, the A/B keys, Info's messages, and the loudness of a known tone.
#include <QAudioDevice>
#include <QMediaDevices>
#include <cmath>

#include "ui/qt/listen_dlg.h"
#include "ui/qt/loudness.h"
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
