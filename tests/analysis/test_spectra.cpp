// Spectra against sines of known level, and the predictions against worked
// cases and against the output of whole runs.
#include <charconv>
#include <cmath>
#include <sstream>

#include "analysis/spectra.h"
#include "tests/support/batch_runs.h"

namespace vesk::test {
namespace {

using analysis::Prediction;

std::vector<double> sine(std::size_t n, double hz, double rate, double amplitude)
{
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = amplitude * std::sin(2 * 3.141592653589793 * hz * i / rate);
    return v;
}

std::vector<double> hz_of(const std::vector<Prediction>& ps, const std::string& kind)
{
    std::vector<double> v;
    for (const Prediction& p : ps)
        if (p.kind == kind)
            v.push_back(*p.hz);
    return v;
}

TEST(Spectra, SineReadsItsLevelAtItsBin)
{
    // Bin 1000 of 8192 at 48 kHz; a long and a short (zero-padded) signal.
    for (const auto& [frames, amplitude, dbfs] : {std::tuple{65536u, 1.0, 0.0}, {65536u, 0.5, -6.0206}, {8192u, 1.0, 0.0}}) {
        const auto s = analysis::welch_spectrum(sine(frames, 1000 * 48000.0 / 8192, 48000, amplitude), 48000);
        ASSERT_EQ(s.dbfs.size(), 4097u);
        EXPECT_NEAR(s.dbfs[1000], dbfs, 0.1) << frames;
        EXPECT_DOUBLE_EQ(s.bin_hz, 48000.0 / 8192);
        const auto tones = analysis::strongest_tones(s);
        ASSERT_EQ(tones.size(), 1u); // the skirt's bins are not peaks of their own
        EXPECT_NEAR(tones[0].hz, 1000 * 48000.0 / 8192, 0.1);
    }
}

TEST(Spectra, ImagesOfAToneSampledAt8kHz)
{
    Params p;
    p.fs = 48000, p.fssim = 8000;
    const analysis::Facts facts{48000, 48000};
    auto ps = analysis::predict({{5000, -3}}, p, facts);
    EXPECT_EQ(hz_of(ps, "tone"), std::vector<double>{5000});
    EXPECT_EQ(hz_of(ps, "image"), (std::vector<double>{3000, 11000, 13000, 19000, 21000}));
    for (const Prediction& x : ps)
        EXPECT_DOUBLE_EQ(*x.dbfs, -3); // sampling alone weights no image
    p.fchiout = 12000;
    ps = analysis::predict({{5000, -3}}, p, facts);
    EXPECT_EQ(hz_of(ps, "image"), (std::vector<double>{3000, 11000}));
    EXPECT_EQ(hz_of(ps, "corner"), std::vector<double>{12000});
    // Aperture 1 at 8 kHz: sin x / x at x = pi 11/8 is -0.2139, -13.40 dB.
    p.aperture = 1.0;
    for (const Prediction& x : analysis::predict({{5000, 0}}, p, facts))
        if (x.hz == 11000.0) {
            EXPECT_NEAR(*x.dbfs, -13.397, 0.01);
        }
}

struct Case {
    const char* name;
    double fssim, aperture, varispeedt, fchiout;
};

class SpectraRun : public WholeRun {
public:
    // Runs on `in` (16 or 24 bits at 48 kHz) and returns the spectra of
    // input and output.
    std::pair<analysis::Spectrum, analysis::Spectrum> run(const std::vector<double>& in, uint16_t bits)
    {
        std::vector<int32_t> ints;
        const double full = bits == 16 ? 32768.0 : 8388608.0;
        for (double x : in)
            ints.push_back(static_cast<int32_t>(std::lround(x * full)));
        input(make_pcm_wav(1, 48000, bits, {ints}));
        EXPECT_EQ(engine.process_wav(), RunOutcome::done);
        std::vector<double> out;
        const auto samples = output(1, 48000);
        for (int32_t v : samples.at(0))
            out.push_back(v / 8388608.0);
        return {analysis::welch_spectrum(in, 48000), analysis::welch_spectrum(out, 48000)};
    }
};

TEST_F(SpectraRun, EveryPredictedComponentIsMeasured)
{
    const Case cases[] = {
        // Hold applies with a vari-speed only; its interpolator's own roll-off
        // close to the Nyquist frequency is no part of the theory, so the
        // images stay below 21 kHz.
        {"hold", 10000, 0, 0.9, 24000},
        {"aperture", 8000, 0.5, 1, 24000},
        {"sampling", 11000, 0, 1, 20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Params& p = engine.params;
        p.fs = 0, p.fssim = c.fssim, p.aperture = c.aperture, p.varispeedt = c.varispeedt, p.fchiout = c.fchiout;
        p.varispeedsh = 1;
        const auto [in, out] = run(sine(98304, 1000, 48000, 0.5), 16);
        const auto tones = analysis::strongest_tones(in);
        ASSERT_EQ(tones.size(), 1u);
        analysis::Facts facts{48000, 48000};
        facts.output_gain_db = analysis::output_gain_db(tones, engine.params, facts, out);
        const auto ps = analysis::predict(tones, engine.params, facts);
        EXPECT_GE(hz_of(ps, "image").size(), 2u);
        for (const Prediction& x : ps) {
            if (x.kind != "tone" && x.kind != "image")
                continue;
            const analysis::Tone m = analysis::peak_near(out, *x.hz);
            EXPECT_NEAR(m.hz, *x.hz, out.bin_hz) << x.kind << " at " << *x.hz;
            EXPECT_NEAR(m.dbfs, *x.dbfs, 1.0) << x.kind << " at " << *x.hz;
        }
    }
}

TEST_F(SpectraRun, WordLengthFloor)
{
    for (uint32_t bits : {8u, 12u}) {
        engine.params.bitnr = bits;
        // 997 Hz shares no short period with 48 kHz: the rounding error is
        // noise, not a few harmonics.
        const auto [in, out] = run(sine(131072, 997, 48000, 0.5), 24);
        const auto ps = analysis::predict(analysis::strongest_tones(in), engine.params, {48000, 48000});
        ASSERT_EQ(ps.back().kind, "noise-floor");
        // The rounding error of a sine is many aliased harmonics rather than
        // an even floor: its mean power over the bins away from the tone.
        double sum = 0;
        int count = 0;
        for (std::size_t k = 1; k < out.dbfs.size(); ++k)
            if (std::fabs(k * out.bin_hz - 997) > 100 * out.bin_hz) // past the window's skirt
                sum += std::pow(10.0, out.dbfs[k] / 10), ++count;
        EXPECT_NEAR(10 * std::log10(sum / count), *ps.back().dbfs, 1.5) << bits;
    }
}

TEST(Spectra, CsvTexts)
{
    const auto s = analysis::welch_spectrum(sine(8192, 3000, 48000, 1), 48000);
    const auto half = analysis::welch_spectrum(sine(8192, 3000, 24000, 1), 24000);
    std::istringstream lines(analysis::spectra_csv(half, s));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "frequency_hz,input_dbfs,output_dbfs");
    int rows = 0, empty_inputs = 0;
    for (; std::getline(lines, line); ++rows) {
        const auto c1 = line.find(','), c2 = line.rfind(',');
        double hz = 0, out = 0;
        EXPECT_EQ(std::from_chars(line.data(), line.data() + c1, hz).ptr, line.data() + c1) << line;
        EXPECT_EQ(std::from_chars(line.data() + c2 + 1, line.data() + line.size(), out).ptr, line.data() + line.size());
        EXPECT_DOUBLE_EQ(hz, rows * s.bin_hz);
        EXPECT_NEAR(out, s.dbfs[rows], 0.001);
        empty_inputs += c1 + 1 == c2; // above the 24 kHz input's top bin
    }
    EXPECT_EQ(rows, 4097);
    EXPECT_EQ(empty_inputs, 2048);
    const std::vector<Prediction> ps = {{"tone", 1000.5, -3.25}, {"corner", 12000, std::nullopt}, {"noise-floor", std::nullopt, -86.0}};
    EXPECT_EQ(analysis::predicted_csv(ps), "kind,frequency_hz,level_dbfs\ntone,1000.5,-3.250\ncorner,12000,\n"
                                           "noise-floor,,-86.000\n");
}

} // namespace
} // namespace vesk::test
