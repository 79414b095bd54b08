// Spectrograms against a direct transform and known levels, and the
// predicted tracks against the output of whole runs.
#include <cmath>
#include <complex>
#include <functional>
#include <map>

#include "analysis/spectrogram.h"
#include "tests/support/batch_runs.h"

namespace vesk::test {
namespace {

constexpr double pi = 3.141592653589793;

// Frames of the library's own cutting, checked by hand, and each frame's
// bins against the direct sum of its windowed samples on the scale where a
// full-scale sine on a bin reads 0 dBFS there.
TEST(Spectrogram, FramesAndLevelsOfSignalsLongAndShort)
{
    struct Case {
        std::size_t samples;
        unsigned size, hop;
        std::size_t frames;
    };
    for (const Case c : {Case{300000, 4096, 1024, 289}, {48000, 4096, 256, 172}, {3000, 2048, 128, 8}, {100, 256, 1024, 1},
                         {20000000, 4096, 1221, 16377}}) {
        const analysis::Framing f = analysis::framing(c.samples);
        EXPECT_EQ(std::tie(f.size, f.hop, f.frames), std::tie(c.size, c.hop, c.frames)) << c.samples;
        if (c.samples > 300000)
            continue;
        std::vector<double> x(c.samples);
        const double k0 = c.size / 8.0; // a sine on bin size/8
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = std::sin(2 * pi * k0 * i / c.size) + 0.01 * std::cos(0.3 * i * i / c.size);
        const analysis::Spectrogram s = analysis::spectrogram(x, 48000);
        ASSERT_EQ(s.bins, c.size / 2 + 1u);
        const std::size_t frame = c.frames / 2, start = frame * c.hop;
        for (const std::size_t k : {0u, 3u, c.size / 8, c.size / 2}) {
            std::complex<double> sum = 0;
            for (std::size_t i = 0; i < c.size && start + i < x.size(); ++i)
                sum += x[start + i] * (0.5 - 0.5 * std::cos(2 * pi * i / c.size)) * std::polar(1.0, -2 * pi * k * i / c.size);
            EXPECT_NEAR(s.level(frame, k), 10 * std::log10(std::norm(sum) * 16.0 / c.size / c.size), 0.006) << c.samples << " bin " << k;
        }
        if (c.samples >= c.size) {
            EXPECT_NEAR(s.level(frame, c.size / 8), 0.0, 0.01);
        }
        EXPECT_NEAR(s.time_s(frame), (start + std::min<std::size_t>(c.size, c.samples) / 2.0) / 48000, 1e-12);
    }
}

// One run of the chain over a generated signal, the analysis of it, and
// what must hold of every frame.
struct RunCase {
    const char* name;
    std::function<double(double t)> input; // the signal at t seconds
    double seconds;
    std::function<void(Params&)> chain;
    bool levels_too; // the measured level within 1 dB as well as the frequency within a bin
};

class SpectrogramRun : public WholeRun {
public:
    analysis::RunSpectrogram run(const RunCase& c)
    {
        std::vector<int32_t> samples;
        for (std::size_t i = 0; i < c.seconds * 48000; ++i)
            samples.push_back(static_cast<int32_t>(std::lround(c.input(i / 48000.0) * 8388607)));
        input(make_pcm_wav(1, 48000, 24, {samples}));
        c.chain(engine.params);
        EXPECT_EQ(engine.process_wav(), RunOutcome::done);
        analysis::Channel in, out;
        std::string error;
        EXPECT_TRUE(analysis::read_channel(dir.file("in.wav"), 0, in, error) && analysis::read_channel(dir.file("out.wav"), 0, out, error));
        return analysis::analyse_spectrogram(in, out, engine.params);
    }
};

// The frame's floor: its median level, the reference the spectra analysis
// finds tones against.
double floor_of(const analysis::Spectrogram& s, std::size_t frame)
{
    std::vector<double> v;
    for (std::size_t k = 0; k < s.bins; ++k)
        v.push_back(s.level(frame, k));
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

analysis::Tone measured_near(const analysis::Spectrogram& s, std::size_t frame, double hz)
{
    analysis::Spectrum spectrum{s.bin_hz(), {}};
    for (std::size_t k = 0; k < s.bins; ++k)
        spectrum.dbfs.push_back(s.level(frame, k));
    return analysis::peak_near(spectrum, hz);
}

// A linear sweep from 200 Hz to 9 kHz over 8.8 s, slow enough that a frame
// holds a narrow ridge.
double sweep(double t) { return 0.5 * std::sin(2 * pi * (200 * t + 500 * t * t)); }
double tone(double hz, double t) { return 0.5 * std::sin(2 * pi * hz * t); }

TEST_F(SpectrogramRun, TracksFollowTheMeasuredRidgesOfRuns)
{
    const RunCase cases[] = {
        {"sweep sampled at 8 kHz", sweep, 8.8, [](Params& p) { p.fssim = 8000; }, false},
        {"the same behind a filter at 4 kHz", sweep, 8.8, [](Params& p) { p.fssim = 8000, p.fchiout = 4000; }, false},
        {"aperture", [](double t) { return tone(1000, t); }, 1.5, [](Params& p) { p.fssim = 8000, p.aperture = 1; }, true},
        {"hold", [](double t) { return tone(1000, t); }, 1.5,
         [](Params& p) { p.fssim = 10000, p.varispeedt = 0.9, p.varispeedsh = 1; }, true},
        {"vari-speed in frequency", [](double t) { return tone(2000, t); }, 1.5, [](Params& p) { p.varispeedf = 1.5; }, true},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        engine.params = {.inpwavname = dir.file("in.wav"), .outwavname = dir.file("out.wav")};
        const analysis::RunSpectrogram r = run(c);
        const analysis::Spectrogram& out = r.output;
        // Where two predictions lie within a main lobe of each other (the
        // sweep at the fold) the output shows their sum: no frequency of
        // either to check.
        std::map<double, std::vector<double>> frames;
        for (const analysis::Track& track : r.tracks)
            for (const analysis::TrackPoint& p : track.points)
                frames[p.time_s].push_back(p.hz);
        const auto alone = [&](const analysis::TrackPoint& p) {
            return std::count_if(frames[p.time_s].begin(), frames[p.time_s].end(),
                                 [&](double hz) { return std::fabs(hz - p.hz) < 4 * out.bin_hz(); }) == 1;
        };
        std::size_t checked = 0, points = 0;
        double highest = 0;
        for (const analysis::Track& track : r.tracks)
            for (const analysis::TrackPoint& p : track.points) {
                EXPECT_TRUE(&p == &track.points[0] || p.time_s > (&p - 1)->time_s) << "one point a frame in a track";
                highest = std::max(highest, p.hz);
                const auto frame = out.frame_at(p.time_s);
                ASSERT_TRUE(frame) << p.time_s;
                if (track.kind == "corner" || !alone(p))
                    continue;
                ++points;
                if (*p.dbfs < floor_of(out, *frame) + 20)
                    continue;
                const analysis::Tone m = measured_near(out, *frame, p.hz);
                ++checked;
                EXPECT_NEAR(m.hz, p.hz, out.bin_hz()) << track.kind << " at " << p.time_s << " s";
                if (c.levels_too) {
                    EXPECT_NEAR(m.dbfs, *p.dbfs, 1.0) << track.kind << " at " << p.hz << " Hz, " << p.time_s << " s";
                }
            }
        EXPECT_GT(checked, points / 2);
        EXPECT_LE(highest, engine.params.fchiout); // what the output filter removes is not drawn
    }
}

// Behind a filter at fs-sim / 2 the output holds one ridge: the sweep up to
// 4 kHz, then its image folding down.  It peaks at 4 kHz where the input
// passes 4 kHz (3.8 s into the sweep) and falls after, until it nears 0 Hz
// as the input nears 8 kHz.
TEST_F(SpectrogramRun, TheRidgeBendsAtHalfTheSamplingRate)
{
    const analysis::RunSpectrogram r = run({"", sweep, 8.8, [](Params& p) { p.fssim = 8000, p.fchiout = 4000; }, false});
    std::vector<std::pair<double, double>> ridge; // the strongest measured peak of each frame
    for (const analysis::MeasuredPeak& m : analysis::measured_peaks(r.output))
        if (m.time_s > 0.2 && m.time_s < 7.4 && (ridge.empty() || ridge.back().first != m.time_s))
            ridge.emplace_back(m.time_s, m.peak.hz);
    ASSERT_GT(ridge.size(), 300u);
    // The sweep is one track from frame to frame, though it moves 7 bins a frame.
    EXPECT_EQ(std::count_if(r.tracks.begin(), r.tracks.end(), [](const analysis::Track& t) { return t.kind == "tone"; }), 1);
    const auto top = std::max_element(ridge.begin(), ridge.end(), [](auto a, auto b) { return a.second < b.second; });
    EXPECT_NEAR(top->second, 4000, r.output.bin_hz());
    EXPECT_NEAR(top->first, 3.8, 0.1);
    for (auto p = ridge.begin() + 1; p + 1 < ridge.end(); ++p)
        if (std::fabs(p->first - 3.8) > 0.15) {
            EXPECT_EQ(p->second > (p - 1)->second, p->first < 3.8) << p->first << " s";
        }
}

// The demo's sweep (20 Hz to 20 kHz in 4 s, logarithmic) sampled at
// 11025 Hz under the whole-period aperture: in every frame the images lie at
// |k 11025 +- f| for the frame's tone f, below 24 kHz, each under sin(x)/x
// at its own frequency; the lowest line rises to 5512.5 Hz, where the sweep
// passes it at 4 log(275.625) / log(1000) = 3.254 s, and falls after.
TEST_F(SpectrogramRun, TheDemoSweepsImagesWorkedOutByHandAndItsFold)
{
    const double growth = std::log(1000.0) / 4;
    const auto demo = [&](double t) {
        return 0.5 * std::min(1.0, std::min(t, 4 - t) / 0.01) * std::sin(2 * pi * 20 / growth * (std::exp(growth * t) - 1));
    };
    const analysis::RunSpectrogram r = run({"", demo, 4, [](Params& p) { p.fssim = 11025, p.aperture = 1, p.bitnr = 10; }, false});
    const double fs = engine.params.fssim; // as the run snapped it, 11025.037 Hz
    std::map<double, std::vector<analysis::TrackPoint>> tones, images;
    for (const analysis::Track& track : r.tracks)
        for (const analysis::TrackPoint& p : track.points)
            (track.kind == "tone" ? tones : images)[p.time_s].push_back(p);
    const auto rolled = [&](double hz) { return 20 * std::log10(std::fabs(std::sin(pi * hz / fs) / (pi * hz / fs))); };
    std::pair<double, double> top{0, 0}; // the time and frequency of the lowest line's peak
    std::size_t frames = 0;
    for (auto& [t, ts] : tones) {
        if (ts.size() != 1 || t < 0.1 || t > 3.9)
            continue;
        ++frames;
        const double f = ts[0].hz, sweep = 20 * std::exp(growth * t);
        EXPECT_NEAR(f, sweep, std::max(r.input.bin_hz(), 0.01 * sweep)) << t << " s";
        std::vector<double> expected, got;
        for (double k = 1; k * fs - f < 24000; ++k)
            for (const double image : {std::fabs(k * fs - f), k * fs + f})
                if (image < 24000)
                    expected.push_back(image);
        std::sort(expected.begin(), expected.end());
        std::sort(images[t].begin(), images[t].end(), [](auto& a, auto& b) { return a.hz < b.hz; });
        for (const analysis::TrackPoint& p : images[t]) {
            got.push_back(p.hz);
            EXPECT_NEAR(*p.dbfs - *ts[0].dbfs, rolled(p.hz) - rolled(f), 0.01) << p.hz << " Hz at " << t << " s";
        }
        ASSERT_EQ(got.size(), expected.size()) << t << " s";
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], expected[i], 1e-6) << t << " s";
        const double lowest = std::min(f, got.empty() ? f : got[0]);
        if (lowest > top.second)
            top = {t, lowest};
    }
    EXPECT_GT(frames, 170u); // of 200
    EXPECT_NEAR(top.first, 3.254, 0.03);
    EXPECT_NEAR(top.second, fs / 2, 60);
}

// With vari-speed in frequency the tone's track moves by the factor, over
// the output's shorter time.
TEST_F(SpectrogramRun, VariSpeedInFrequencyMovesTheTonesTrack)
{
    const analysis::RunSpectrogram r =
        run({"", [](double t) { return tone(2000, t); }, 1.5, [](Params& p) { p.varispeedf = 1.5; }, true});
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].kind, "tone");
    for (const analysis::TrackPoint& p : r.tracks[0].points) {
        EXPECT_NEAR(p.hz, 3000, r.input.bin_hz());
        EXPECT_LE(p.time_s, 1.0 + 1e-9);
    }
}

TEST(Spectrogram, TracksCsv)
{
    const std::vector<analysis::Track> tracks = {{"image", {{0.5, 7000.25, -12.5}, {1.0, 7001, -12.0}}},
                                                 {"corner", {{0.5, 4000, std::nullopt}}}};
    EXPECT_EQ(analysis::tracks_csv(tracks, {{0.25, {100.5, -3.0}}, {0.5, {7000, -12.4}}}), "time_s,kind,frequency_hz,level_dbfs\n"
                                       "0.250000,measured,100.5,-3.000\n"
                                       "0.500000,image,7000.25,-12.500\n"
                                       "0.500000,corner,4000,\n"
                                       "0.500000,measured,7000,-12.400\n"
                                       "1.000000,image,7001,-12.000\n");
}

} // namespace
} // namespace vesk::test
