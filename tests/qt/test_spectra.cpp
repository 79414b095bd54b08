// The spectra picture as PNG and SVG, and the Spectra window after a run.
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <cmath>
#include "ui/qt/spectra_dlg.h"
#include "ui/qt/spectra_plot.h"
#include "window_fixture.h"

namespace vesk::testing {
namespace {
TEST(SpectraPicture, PngAndSvgAreWrittenAndAnUnwritablePathIsRefused)
{
    test::TempDir dir;
    const analysis::Spectrum flat{48000.0 / 8192, std::vector<double>(4097, -90.0)};
    const analysis::RunSpectra run{flat, flat, {}, {{"image", 31000.0, -40.0}, {"noise-floor", std::nullopt, -70.0}}};
    ASSERT_TRUE(write_spectra_picture(run, "t", "png", dir.file("s.png")));
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("s.png"))).size(), QSize(1200, 700));
    ASSERT_TRUE(write_spectra_picture(run, "t", "svg", dir.file("s.svg")));
    QFile svg(QString::fromStdString(dir.file("s.svg")));
    const QByteArray text = svg.open(QIODevice::ReadOnly) ? svg.readAll() : QByteArray();
    EXPECT_TRUE(text.startsWith("<?xml") && text.contains("<svg"));
    for (const char* format : {"png", "svg", "bmp"})
        EXPECT_FALSE(write_spectra_picture(run, "t", format, dir.file("missing/s"))) << format;
}
using Spectra = WindowTest;

// Sines exactly on bin 171 of 8192 at 48 kHz read their own level: half full
// scale is -6.0 dBFS, a twentieth -26.0 dBFS.
TEST_F(Spectra, OpensAfterARunWithTheInputsChannelsAndLevels)
{
    const double hz = 48000.0 * 171 / 8192;
    std::vector<std::vector<int32_t>> samples(2, std::vector<int32_t>(48000));
    for (int c : {0, 1}) for (int i = 0; i < 48000; ++i)
        samples[c][i] = static_cast<int32_t>(std::lround((c ? 0.05 : 0.5) * 32767 * std::sin(2 * M_PI * hz * i / 48000)));
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(2, 48000, 16, samples));
    type("outwavnameEdit", dir.file("out.wav"));
    type("inpwavnameEdit", dir.file("missing.wav"));
    click("processButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(dlg->spectra()) << "a failed run has no spectra to show";
    type("inpwavnameEdit", dir.file("in.wav"));
    click("processButton");
    ASSERT_TRUE(waitForIdle() && QTest::qWaitFor([&] { return dlg->spectra() && !dlg->spectra()->busy(); }, 30000));
    EXPECT_EQ(dlg->spectra()->channelBox()->count(), 2);
    for (int channel : {0, 1}) {
        dlg->spectra()->channelBox()->setCurrentIndex(channel);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->spectra()->busy(); }, 30000));
        EXPECT_TRUE(dlg->spectra()->readoutAt(hz).startsWith(
            QStringLiteral("1002 Hz    input %1 dBFS    output").arg(channel ? "-26.0" : "-6.0")));
    }
}
} // namespace
} // namespace vesk::testing
