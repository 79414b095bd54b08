// The spectra and spectrogram pictures as PNG and SVG, and the Spectra
// window after a run.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <cmath>
#include "ui/qt/spectra_dlg.h"
#include "ui/qt/spectra_plot.h"
#include "ui/qt/spectrogram_view.h"
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

// Half a second of a 3 kHz sine in, silence out, and one predicted tone
// track at 6 kHz: where the pointer reads 0.25 s the brightest row of the
// input reads 3 kHz, on either axis, and at 0.75 s there is none; the track
// is drawn where the pointer reads 6 kHz, only while tracks are shown.
TEST(SpectrogramPicture, ColoursAndTracksSitWhereThePointerReadsThem)
{
    std::vector<double> sine(48000), silence(48000);
    for (std::size_t i = 0; i < sine.size() / 2; ++i)
        sine[i] = std::sin(2 * M_PI * 3000 * i / 48000);
    analysis::RunSpectrogram run{analysis::spectrogram(sine, 48000), analysis::spectrogram(silence, 48000),
                                 {{"tone", {{0.1, 6000, -3.0}, {0.9, 6000, -3.0}}}}, 1.0, 0.0};
    const QRectF area(0, 0, 1200, 900);
    for (const bool log : {false, true})
        for (const bool tracks : {true, false}) {
            QImage image(area.size().toSize(), QImage::Format_RGB32);
            QPainter painter(&image);
            SpectrogramSpan span = whole_span(run, log);
            span.tracks = tracks;
            draw_spectrogram(painter, area, run, "t", span);
            const SpectrogramLayout layout = spectrogram_layout(area, painter.font());
            painter.end();
            const auto column = [&](const QRectF& panel, double seconds, auto&& is) {
                const double x = panel.left() + (seconds - span.t0) / (span.t1 - span.t0) * panel.width();
                EXPECT_NEAR(time_at(panel, x, span), seconds, 1e-9);
                std::vector<double> hz;
                for (int y = static_cast<int>(panel.top()) + 1; y < panel.bottom(); ++y)
                    if (is(image.pixelColor(static_cast<int>(x), y)))
                        hz.push_back(frequency_at_height(panel, y + 0.5, span));
                return hz;
            };
            const auto brightest = [](QColor c) { return c == level_colour(1.0); };
            const auto top = column(layout.input, 0.25, brightest);
            ASSERT_FALSE(top.empty());
            EXPECT_NEAR(top.front(), 3000, log ? 100 : 150) << log;
            EXPECT_TRUE(column(layout.input, 0.75, brightest).empty());
            const auto red = column(layout.output, 0.5, [](QColor c) { return c.red() > 120 && c.red() > 2 * std::max(c.green(), c.blue()); });
            EXPECT_EQ(red.empty(), !tracks);
            for (double hz : red)
                EXPECT_NEAR(hz, 6000, log ? 200 : 150) << log;
        }
    test::TempDir dir;
    ASSERT_TRUE(write_spectrogram_picture(run, "t", "png", dir.file("s.png")));
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("s.png"))).size(), QSize(1200, 900));
    ASSERT_TRUE(write_spectrogram_picture(run, "t", "svg", dir.file("s.svg")));
    EXPECT_FALSE(write_spectrogram_picture(run, "t", "png", dir.file("missing/s")));
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
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->spectra()->busy() && !dlg->spectra()->spectrogramBusy(); }, 30000));
        EXPECT_TRUE(dlg->spectra()->readoutAt(hz).startsWith(
            QStringLiteral("1002 Hz    input %1 dBFS    output").arg(channel ? "-26.0" : "-6.0")));
        // In 4096-point frames the sine lies half-way between two bins:
        // 1.42 dB of the Hann window's scalloping.
        EXPECT_TRUE(dlg->spectra()->spectrogram()->readoutAt(0.5, hz).startsWith(
            QStringLiteral("0.500 s    1002 Hz    input %1 dBFS    output").arg(channel ? "-27.4" : "-7.4")));
    }
    // Zoom stays inside the file, the log axis starts at 20 Hz.
    SpectrogramCanvas* canvas = dlg->spectra()->spectrogram()->canvas();
    canvas->zoomTime(0.5, 0.9);
    EXPECT_EQ(std::pair(canvas->span.t0, canvas->span.t1), std::pair(0.45, 0.95));
    canvas->zoomTime(4, 0.9);
    EXPECT_EQ(std::pair(canvas->span.t0, canvas->span.t1), std::pair(0.0, 1.0));
    dlg->spectra()->spectrogram()->logBox()->setChecked(true);
    canvas->zoomFrequency(0.25, 1000);
    EXPECT_NEAR(std::log2(canvas->span.f1 / canvas->span.f0), std::log2(24000 / 20.0) / 4, 1e-9);
    EXPECT_TRUE(canvas->span.f0 >= 20.0 && canvas->span.f1 <= 24000.0) << canvas->span.f0 << " " << canvas->span.f1;
    // In sight, the view paints the picture its worker drew: the one it draws itself.
    dlg->spectra()->tabs()->setCurrentWidget(dlg->spectra()->spectrogram());
    dlg->spectra()->channelBox()->setCurrentIndex(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->spectra()->spectrogramBusy(); }, 30000));
    const QImage drawn = canvas->grab().toImage();
    canvas->changed();
    EXPECT_TRUE(canvas->grab().toImage() == drawn);
}
} // namespace
} // namespace vesk::testing
