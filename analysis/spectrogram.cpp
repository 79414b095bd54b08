// The frames go through the engine's own transform, as the Welch spectra
// do, and each frame's components are found and predicted by the spectra
// analysis itself, so that the picture over time and the average agree.
#include "analysis/spectrogram.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <new>
#include <utility>

#include "engine/fft_kernels.h"
#include "engine/parallel.h"

namespace vesk::analysis {

namespace {

constexpr double pi = 3.141592653589793;
constexpr unsigned full_frame = 4096, full_hop = 1024, least_frame = 256, wanted_frames = 200;
constexpr double silence_dbfs = -300.0;

// Levels of the bins of one frame from its transform: dBFS in `db`, and in
// hundredths of a dB in `stored`.  10 log10 is taken four bins at a time
// by a series in single precision, within 1e-5 dB of the library's
// logarithm and several times faster, which counts at tens of millions of
// bins: the mantissa m is taken into [sqrt(1/2), sqrt(2)), where the series
// of ln m in t = (m - 1) / (m + 1) needs five terms.  A power of 1e-30 or
// less reads as silence_dbfs.
typedef float Floats __attribute__((vector_size(16)));
typedef uint32_t Words __attribute__((vector_size(16)));
typedef int32_t Ints __attribute__((vector_size(16)));

Floats select(Words mask, Floats yes, Floats no)
{
    return (Floats)(((Words)yes & mask) | ((Words)no & ~mask));
}

Floats levels_of(Floats power)
{
    const Floats one{1.0f, 1.0f, 1.0f, 1.0f}, tiny = one * 1e-30f, silence = one * static_cast<float>(silence_dbfs);
    const Words audible = (Words)(power > tiny);
    const Words bits = (Words)select(audible, power, tiny);
    Floats m = (Floats)((bits & 0x007fffffu) | 0x3f800000u);
    Floats e = (Floats)((bits >> 23) | 0x4b000000u) - (8388608.0f + 127.0f);
    const Words up = (Words)(m > 1.41421356f);
    m = select(up, m * 0.5f, m);
    e = e + select(up, one, one - one);
    const Floats t = (m - 1.0f) / (m + 1.0f), t2 = t * t;
    const Floats ln_m = 2.0f * t * (1.0f + t2 * (1.0f / 3 + t2 * (1.0f / 5 + t2 * (1.0f / 7 + t2 * (1.0f / 9)))));
    return select(audible, (e * 0.693147181f + ln_m) * 4.34294482f, silence);
}

void frame_levels(const double* re, const double* im, std::size_t bins, double scale, double* db, int16_t* stored)
{
    for (std::size_t k = 0; k < bins; k += 4) {
        const std::size_t n = std::min<std::size_t>(4, bins - k);
        Floats power{};
        for (std::size_t j = 0; j < 4; ++j) // the last group reads no further than its bins
            power[j] = j < n ? static_cast<float>((re[k + j] * re[k + j] + im[k + j] * im[k + j]) * scale) : 0.0f;
        const Floats level = levels_of(power);
        // Hundredths of a dB rounded half away from zero.
        const Floats half{0.5f, 0.5f, 0.5f, 0.5f};
        const Ints centi = __builtin_convertvector(level * 100.0f + select((Words)(level < 0.0f), -half, half), Ints);
        for (std::size_t j = 0; j < n; ++j) {
            db[k + j] = level[j];
            stored[k + j] = static_cast<int16_t>(centi[j]);
        }
    }
}

Block<double> buffer(std::size_t count)
{
    Block<double> block;
    if (!block.reserve(count))
        throw std::bad_alloc();
    return block;
}

// The transform's tables and the window for frames of `size` points.
struct FrameTables {
    Block<double> cos, sin, stage_re, stage_im, window;
    fft::Tables tables;
    explicit FrameTables(unsigned size)
        : cos(buffer(size)), sin(buffer(size)), stage_re(buffer(size / 2)), stage_im(buffer(size / 2)),
          window(buffer(size))
    {
        const double step = 2.0 * pi / size;
        for (unsigned i = 0; i < size; ++i) {
            cos[i] = std::cos(step * i);
            sin[i] = std::sin(step * i);
            // Periodic Hann, whose sum is exactly size / 2, as the Welch
            // spectra's.
            window[i] = 0.5 - 0.5 * cos[i];
        }
        fft::build_stage_tables(stage_re.data(), stage_im.data(), cos.data(), sin.data(), size, 1);
        tables = {cos.data(), sin.data(), stage_re.data(), stage_im.data(), size};
    }
};

// parallel_for over frames, 64 at least to a thread.  Memory that a block
// cannot get ends the whole call with bad_alloc on the calling thread
// rather than the process on a helper.
template <typename Body>
void for_frames(std::size_t count, unsigned threads, Body&& body)
{
    std::atomic<bool> failed{false};
    parallel_for(count, worker_count(threads), 64, [&](uint64_t begin, uint64_t end) {
        try {
            body(begin, end);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    if (failed)
        throw std::bad_alloc();
}

Spectrum frame_spectrum(const Spectrogram& s, std::size_t frame)
{
    Spectrum spectrum{s.bin_hz(), {}};
    spectrum.dbfs.resize(s.bins);
    for (std::size_t k = 0; k < s.bins; ++k)
        spectrum.dbfs[k] = s.level(frame, k);
    return spectrum;
}

// The levels of every frame and, when `peaks` is given, each frame's
// strongest components as the spectra analysis finds them.
Spectrogram short_time_spectra(const std::vector<double>& samples, double rate, unsigned threads,
                               std::vector<std::vector<Tone>>* peaks)
{
    Spectrogram s;
    s.rate = rate;
    s.framing = framing(samples.size());
    s.duration_s = rate > 0 ? static_cast<double>(samples.size()) / rate : 0.0;
    const unsigned size = s.framing.size;
    s.bins = size / 2 + 1;
    if (!s.centi_db.reserve(s.framing.frames * s.bins))
        throw std::bad_alloc();
    if (peaks)
        peaks->assign(s.framing.frames, {});
    const FrameTables t(size);
    // A sine of amplitude A gives |X| = A sum(w) / 2 at its bin, and
    // sum(w) = size / 2: 0 dBFS is amplitude 1, as in the Welch spectra.
    const double scale = (4.0 / size) * (4.0 / size);
    for_frames(s.framing.frames, threads, [&](uint64_t begin, uint64_t end) {
        const Block<double> re = buffer(size), im = buffer(size);
        Spectrum frame{s.bin_hz(), std::vector<double>(s.bins)};
        for (uint64_t f = begin; f < end; ++f) {
            const std::size_t start = f * s.framing.hop;
            const std::size_t count = std::min<std::size_t>(size, samples.size() - std::min(start, samples.size()));
            const double *x = samples.data() + start, *w = t.window.data();
            double* r = re.data();
            for (std::size_t i = 0; i < count; ++i)
                r[i] = x[i] * w[i];
            std::fill(re.data() + count, re.data() + size, 0.0);
            fft::real_forward(re.data(), im.data(), t.tables, 1);
            frame_levels(re.data(), im.data(), s.bins, scale, frame.dbfs.data(), s.centi_db.data() + f * s.bins);
            if (peaks)
                (*peaks)[f] = strongest_tones(frame);
        }
    });
    return s;
}

// A predicted component of one frame and the input tone it comes from.
struct FramePoint {
    std::size_t tone; // rank among the frame's tones
    Prediction prediction;
};

// Each input frame's tones through the chain, without the output's gain:
// at most max_track_points a frame, the strongest.
std::vector<std::vector<FramePoint>> predict_frames(const std::vector<std::vector<Tone>>& tones, const Params& params,
                                                   const Facts& facts, unsigned threads)
{
    std::vector<std::vector<FramePoint>> frames(tones.size());
    for_frames(tones.size(), threads, [&](uint64_t begin, uint64_t end) {
        for (uint64_t f = begin; f < end; ++f) {
            std::vector<FramePoint>& points = frames[f];
            for (std::size_t r = 0; r < tones[f].size(); ++r)
                for (Prediction& p : predict_tone(tones[f][r], params, facts))
                    points.push_back({r, std::move(p)});
            if (points.size() > max_track_points) {
                std::stable_sort(points.begin(), points.end(), [](const FramePoint& a, const FramePoint& b) {
                    return *a.prediction.dbfs > *b.prediction.dbfs;
                });
                points.resize(max_track_points);
            }
        }
    });
    return frames;
}

// The output's gain: in every input frame that predicts a tone in the
// output, the output's level there (in its frame at the same moment) less
// the level predicted without gain; the median of these, so that moments
// where the output holds something else do not count.
double measure_gain(const std::vector<std::vector<FramePoint>>& frames, const Spectrogram& input,
                    const Spectrogram& output, double speed)
{
    std::vector<double> gains;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const auto tone = std::find_if(frames[f].begin(), frames[f].end(),
                                       [](const FramePoint& p) { return p.prediction.kind == "tone"; });
        if (tone == frames[f].end())
            continue;
        if (const auto o = output.frame_at(input.time_s(f) / speed))
            gains.push_back(peak_near(frame_spectrum(output, *o), *tone->prediction.hz).dbfs - *tone->prediction.dbfs);
    }
    if (gains.empty())
        return 0.0;
    std::nth_element(gains.begin(), gains.begin() + gains.size() / 2, gains.end());
    return gains[gains.size() / 2];
}

// Which tone of the frame before each tone continues: the nearest in
// frequency, within 8% or three bins (a sweep moves a few percent a frame),
// each taken once, the strongest tones choosing first.  A tone that
// continues none gets a new number.
std::vector<std::size_t> follow_tones(const std::vector<Tone>& tones, const std::vector<std::pair<double, std::size_t>>& before,
                                      double bin_hz, std::size_t& next_id)
{
    std::vector<std::size_t> ids;
    std::vector<bool> taken(before.size(), false);
    for (const Tone& t : tones) {
        const double reach = std::max(3.0 * bin_hz, 0.08 * t.hz);
        std::size_t best = before.size();
        for (std::size_t j = 0; j < before.size(); ++j)
            if (!taken[j] && std::fabs(before[j].first - t.hz) <= reach
                && (best == before.size() || std::fabs(before[j].first - t.hz) < std::fabs(before[best].first - t.hz)))
                best = j;
        if (best < before.size()) {
            taken[best] = true;
            ids.push_back(before[best].second);
        } else {
            ids.push_back(next_id++);
        }
    }
    return ids;
}

// Joins the frames' points into tracks: a point continues the track of the
// frame before that came from the same tone by the same path.
std::vector<Track> join_tracks(const std::vector<std::vector<FramePoint>>& frames, const std::vector<std::vector<Tone>>& tones,
                               const Spectrogram& input, double speed, double gain)
{
    std::vector<Track> tracks;
    std::map<std::pair<std::size_t, uint64_t>, std::size_t> before, now; // (tone, path) -> track
    std::vector<std::pair<double, std::size_t>> tones_before, tones_now;
    std::size_t next_id = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const std::vector<std::size_t> ids = follow_tones(tones[f], tones_before, input.bin_hz(), next_id);
        tones_now.clear();
        for (std::size_t r = 0; r < ids.size(); ++r)
            tones_now.emplace_back(tones[f][r].hz, ids[r]);
        now.clear();
        const double time = input.time_s(f) / speed;
        for (const FramePoint& p : frames[f]) {
            const std::pair<std::size_t, uint64_t> key{ids[p.tone], p.prediction.path};
            const auto found = before.find(key);
            std::size_t track = tracks.size();
            if (found != before.end())
                track = found->second;
            else
                tracks.push_back({p.prediction.kind, {}});
            tracks[track].points.push_back({time, *p.prediction.hz, *p.prediction.dbfs + gain});
            now[key] = track;
        }
        std::swap(before, now);
        std::swap(tones_before, tones_now);
    }
    return tracks;
}

} // namespace

Framing framing(std::size_t samples)
{
    Framing f{full_frame, full_hop, 1};
    if (samples < full_frame)
        f.size = samples < least_frame ? least_frame : std::bit_floor(static_cast<unsigned>(samples));
    if (samples <= f.size)
        return f;
    const std::size_t span = samples - f.size;
    if (span / f.hop + 1 < wanted_frames)
        f.hop = static_cast<unsigned>(std::max<std::size_t>(f.size / 16, span / (wanted_frames - 1)));
    if (span / f.hop + 1 > max_frames)
        f.hop = static_cast<unsigned>((span + max_frames - 2) / (max_frames - 1));
    f.frames = span / f.hop + 1;
    return f;
}

double Spectrogram::time_s(std::size_t frame) const
{
    const double middle = static_cast<double>(frame) * framing.hop + std::min(framing.size / 2.0, duration_s * rate / 2.0);
    return rate > 0 ? middle / rate : 0.0;
}

std::optional<std::size_t> Spectrogram::frame_at(double seconds) const
{
    if (framing.frames == 0 || !(seconds >= 0.0 && seconds <= duration_s))
        return std::nullopt;
    const double f = std::round((seconds - time_s(0)) * rate / framing.hop);
    return static_cast<std::size_t>(std::clamp(f, 0.0, static_cast<double>(framing.frames - 1)));
}

std::optional<std::size_t> Spectrogram::bin_at(double hz) const
{
    const double k = std::round(hz / bin_hz());
    if (!(k >= 0.0 && k < static_cast<double>(bins)))
        return std::nullopt;
    return static_cast<std::size_t>(k);
}

Spectrogram spectrogram(const std::vector<double>& samples, double rate)
{
    return short_time_spectra(samples, rate, 1, nullptr);
}

RunSpectrogram analyse_spectrogram(const Channel& input, const Channel& output, const Params& params, unsigned threads)
{
    RunSpectrogram r;
    std::vector<std::vector<Tone>> tones;
    r.input = short_time_spectra(input.samples, input.rate, threads, &tones);
    r.output = short_time_spectra(output.samples, output.rate, threads, nullptr);
    const Facts facts{input.rate, output.rate, 0.0};
    const double speed = r.speed = speed_factor(params);
    const std::vector<std::vector<FramePoint>> frames = predict_frames(tones, params, facts, threads);
    r.output_gain_db = measure_gain(frames, r.input, r.output, speed);
    r.tracks = join_tracks(frames, tones, r.input, speed, r.output_gain_db);

    // The corners stand still over the output's whole time.
    for (const Prediction& p : predict({}, params, facts)) {
        if (p.kind != "corner")
            continue;
        Track corner{p.kind, {}};
        for (std::size_t f = 0; f < r.output.framing.frames; ++f)
            corner.points.push_back({r.output.time_s(f), *p.hz, std::nullopt});
        r.tracks.push_back(std::move(corner));
    }
    return r;
}

std::vector<MeasuredPeak> measured_peaks(const Spectrogram& output, unsigned threads)
{
    std::vector<std::vector<Tone>> peaks(output.framing.frames);
    for_frames(peaks.size(), threads, [&](uint64_t begin, uint64_t end) {
        for (uint64_t f = begin; f < end; ++f)
            peaks[f] = strongest_tones(frame_spectrum(output, f));
    });
    std::vector<MeasuredPeak> measured;
    for (std::size_t f = 0; f < peaks.size(); ++f)
        for (const Tone& t : peaks[f])
            measured.push_back({output.time_s(f), t});
    return measured;
}

std::string tracks_csv(const std::vector<Track>& tracks, const std::vector<MeasuredPeak>& measured)
{
    struct Row {
        double time_s;
        const std::string* kind;
        double hz;
        std::optional<double> dbfs;
    };
    static const std::string measured_kind = "measured";
    std::vector<Row> rows;
    for (const Track& t : tracks)
        for (const TrackPoint& p : t.points)
            rows.push_back({p.time_s, &t.kind, p.hz, p.dbfs});
    for (const MeasuredPeak& m : measured)
        rows.push_back({m.time_s, &measured_kind, m.peak.hz, m.peak.dbfs});
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.time_s < b.time_s; });
    std::string text = "time_s,kind,frequency_hz,level_dbfs\n";
    text.reserve(text.size() + rows.size() * 40);
    for (const Row& row : rows) {
        append_number(text, row.time_s, 6);
        text += ',';
        text += *row.kind;
        text += ',';
        append_number(text, row.hz, -1);
        text += ',';
        if (row.dbfs)
            append_number(text, *row.dbfs, 3);
        text += '\n';
    }
    return text;
}

} // namespace vesk::analysis
