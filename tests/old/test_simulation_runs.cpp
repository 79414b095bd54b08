// Whole runs of the simulation stages through vesk-batch, judged by what a
// listener would measure on the output: where the images land, how loud they
// are, how much noise a short word or an unsteady clock adds, where a tone
// moves under vari-speed.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "support/batch_runs.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace vesk {
namespace {

using test::fit_sine;
using test::tone;

constexpr double pi = std::numbers::pi;
constexpr uint32_t rate = 48000;
constexpr std::size_t frames = rate; // one second
// One second at 48000 Hz is held in arrays of 2 * 65536 points.
constexpr double bin_hz = static_cast<double>(rate) / 131072;

double sinc(double x)
{
    return std::sin(x) / x;
}

double db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

// fs-sim as the run snaps it: down to whole bins.
double snapped(double hz)
{
    return std::trunc(hz / bin_hz) * bin_hz;
}

// Runs a mono 16-bit file of `input` through the chain with `params` and
// returns the output's channel 0.
class SimulationRun : public ::testing::Test {
protected:
    test::TempDir dir;

    std::vector<int32_t> run(const std::vector<int32_t>& input, const std::string& params)
    {
        test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, rate, 16, {input}));
        const test::ProcessResult result = test::vesk_batch(
            {"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav"), "-e", params + " process"});
        EXPECT_EQ(result.status, 0) << result.err;
        log = result.out;
        test::Pcm24File output;
        EXPECT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
        return output.samples.empty() ? std::vector<int32_t>{} : output.samples[0];
    }
    // Amplitude of the component at `hz`, measured away from the ends.
    static double level(const std::vector<int32_t>& samples, double hz)
    {
        const std::size_t margin = samples.size() / 10;
        return fit_sine(samples, rate, hz, margin, samples.size() - margin).amplitude;
    }

    std::string log;
};

std::vector<int32_t> mix(const std::vector<int32_t>& a, const std::vector<int32_t>& b)
{
    std::vector<int32_t> sum(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        sum[i] = a[i] + b[i];
    return sum;
}

TEST_F(SimulationRun, SamplingAddsImagesAtMultiplesOfFsSim)
{
    const auto out = run(tone(frames, 12000, 5000.0 / rate), "fssim 8000");
    EXPECT_NE(log.find("sampling ...\n"), std::string::npos);
    const double fss = snapped(8000);
    const double original = level(out, 5000);
    // Every image enters with weight 1: as loud as the tone itself.
    for (const double image : {fss - 5000, 2 * fss - 5000, fss + 5000, 3 * fss - 5000, 2 * fss + 5000}) {
        SCOPED_TRACE(image);
        EXPECT_NEAR(level(out, image) / original, 1.0, 0.01);
    }
    // Nothing where no image belongs.
    EXPECT_LT(level(out, 4000) / original, 1e-3);
}

TEST_F(SimulationRun, ApertureShapesTheImagesBySinXOverX)
{
    const double fss = snapped(8000);
    for (const double aperture : {1.0, 0.5}) {
        SCOPED_TRACE(aperture);
        const auto out = run(tone(frames, 12000, 5000.0 / rate), "fssim 8000 aperture " + std::to_string(aperture));
        const double original = level(out, 5000);
        for (const double image : {fss - 5000, fss + 5000, 2 * fss - 5000}) {
            SCOPED_TRACE(image);
            const double expected = std::fabs(sinc(pi * aperture * image / fss) / sinc(pi * aperture * 5000 / fss));
            EXPECT_NEAR(level(out, image) / original, expected, 0.01 * expected);
        }
    }
}

TEST_F(SimulationRun, HoldBeforeVariSpeedFollowsSinXOverX)
{
    // fs-sim at the working rate keeps both sampling stages out of the way;
    // with and without hold the chain then differs only by the hold's
    // response, taken at the frequencies before vari-speed doubles them.
    const auto input = mix(tone(frames, 8000, 1000.0 / rate), tone(frames, 8000, 10000.0 / rate));
    const auto held = run(input, "varispeedt 2 varispeedsh TRUE");
    EXPECT_NE(log.find("hold ...\n"), std::string::npos);
    EXPECT_EQ(log.find("sampling ...\n"), std::string::npos);
    const auto plain = run(input, "varispeedt 2 varispeedsh FALSE");
    const double measured = (level(held, 20000) / level(held, 2000)) / (level(plain, 20000) / level(plain, 2000));
    const double expected = sinc(pi * 10000 / rate) / sinc(pi * 1000 / rate);
    EXPECT_NEAR(measured, expected, 1e-3);
}

TEST_F(SimulationRun, ShortWordLengthRaisesTheNoiseFloor)
{
    const std::vector<int32_t> input = tone(frames, 16000, 997.0 / rate);
    for (const unsigned bits : {6u, 8u, 10u}) {
        SCOPED_TRACE(bits);
        const auto out = run(input, "bitnr " + std::to_string(bits));
        const std::size_t margin = out.size() / 10;
        const auto fit = fit_sine(out, rate, 997.0, margin, out.size() - margin);
        // The peak sits at -1 dB of full scale, the step is 2^(1 - bits),
        // and rounding to it leaves noise of step / sqrt(12) RMS.
        const double signal_rms = 0.891250938 / std::sqrt(2.0);
        const double noise_rms = std::pow(2.0, 1.0 - bits) / std::sqrt(12.0);
        const double snr = db(1.0 / (fit.relative_residual * std::sqrt(2.0)));
        EXPECT_NEAR(snr, db(signal_rms / noise_rms), 1.5);
    }
}

TEST_F(SimulationRun, JitterNoiseMatchesTheClockError)
{
    // fs-sim at the working rate: every sample gets an independent timing
    // error, uniform within +-jitteramp * fs / fs-sim samples.
    const double f = 10000;
    const auto out = run(tone(frames, 12000, f / rate), "jitteramp 0.1");
    EXPECT_NE(log.find("jitter ...\n"), std::string::npos);
    const std::size_t margin = out.size() / 10;
    const auto fit = fit_sine(out, rate, f, margin, out.size() - margin);
    const double sigma_seconds = 0.1 / rate / std::sqrt(3.0);
    // A timing error e moves a sine by its slope times e: noise relative to
    // the signal of 2 pi f sigma, RMS over RMS.
    const double expected_snr = db(1.0 / (2 * pi * f * sigma_seconds));
    const double snr = db(1.0 / (fit.relative_residual * std::sqrt(2.0)));
    EXPECT_NEAR(snr, expected_snr, 1.0);
}

TEST_F(SimulationRun, VariSpeedMovesTheToneAndChangesTheLength)
{
    struct Row {
        const char* params;
        double factor;
        std::size_t length;
    };
    const Row rows[] = {
        {"varispeedt 2", 2.0, 24000},
        {"varispeedt 0.5", 0.5, 96000},
        {"varispeedf 1.5", 1.5, 32000},
        {"varispeedf 0.75", 0.75, 64000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.params);
        const auto out = run(tone(frames, 12000, 1000.0 / rate), row.params);
        ASSERT_EQ(out.size(), row.length);
        const std::size_t margin = out.size() / 10;
        const auto moved = fit_sine(out, rate, 1000.0 * row.factor, margin, out.size() - margin);
        EXPECT_LT(moved.relative_residual, 1e-3);
        // What is left at the old frequency is the interpolation's leakage,
        // some 60 dB down.
        EXPECT_LT(level(out, 1000.0) / moved.amplitude, 1e-2);
    }
}

TEST_F(SimulationRun, EveryStageLogsInChainOrder)
{
    run(tone(4800, 12000, 1000.0 / rate),
        "fssrc 44100 ensrc TRUE fcloin 20 fchiin 15000 varispeedsh TRUE varispeedt 1.25 varispeedf 0.8 "
        "bitnr 12 fssim 11025 aperture 0.5 jitteramp 0.05 fcloout 30 fchiout 12000");
    const std::string channel = "--- processing channel 0: ---\n";
    ASSERT_NE(log.find(channel), std::string::npos);
    EXPECT_EQ(log.substr(log.find(channel) + channel.size()),
              "SRC ...\n"
              "t->f ...\n"
              "input filter ...\n"
              "sampling ...\n"
              "5 image(s)\n"
              "hold ...\n"
              "f->t ...\n"
              "vari-speed (t) ...\n"
              "t->f ...\n"
              "vari-speed (f) ...\n"
              "f->t ...\n"
              "quantization ...\n"
              "t->f ...\n"
              "sampling ...\n"
              "5 image(s)\n"
              "aperture ...\n"
              "f->t ...\n"
              "jitter ...\n"
              "t->f ...\n"
              "output filter ...\n"
              "f->t ...\n"
              "writing output ...\n"
              "--- DONE ---\n");
}

} // namespace
} // namespace vesk
