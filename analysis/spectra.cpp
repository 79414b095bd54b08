// The spectra go through the engine's own transform, so that what is
// measured shares its arithmetic with what was simulated; the predictions
// follow the chain stage by stage in the order the pipeline runs them.
#include "analysis/spectra.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "engine/fft_kernels.h"

namespace vesk::analysis {

namespace {

constexpr double pi = 3.141592653589793;
constexpr unsigned half_size = segment_size / 2;
// The level below which a bin reads as silence rather than -inf.
constexpr double silence_dbfs = -300.0;
// The level the quantizer sets the signal's peak to before it rounds
// (engine/quantization.cpp); the output is normalised to output_peak.
constexpr double quant_peak = 0.891250938;
// Equivalent noise bandwidth of the Hann window [bins].
constexpr double hann_enbw = 1.5;

// Arrays the transform kernels read with vector loads: on cache lines, as
// the engine keeps its own.
struct alignas(64) Arrays {
    double cos[segment_size];
    double sin[segment_size];
    double stage_re[half_size];
    double stage_im[half_size];
    double re[segment_size];
    double im[segment_size];
    double window[segment_size];
};

double to_db(double power) { return power > 0.0 ? std::max(10.0 * std::log10(power), silence_dbfs) : silence_dbfs; }

double sinc(double x) { return x == 0.0 ? 1.0 : std::sin(x) / x; }

} // namespace

Spectrum welch_spectrum(const std::vector<double>& samples, double rate)
{
    auto a = std::make_unique<Arrays>();
    const double step = 2.0 * pi / segment_size;
    for (unsigned i = 0; i < segment_size; ++i) {
        a->cos[i] = std::cos(step * i);
        a->sin[i] = std::sin(step * i);
        // Periodic Hann: its sum is exactly segment_size / 2.
        a->window[i] = 0.5 - 0.5 * std::cos(step * i);
    }
    fft::build_stage_tables(a->stage_re, a->stage_im, a->cos, a->sin, segment_size, 1);
    const fft::Tables tables{a->cos, a->sin, a->stage_re, a->stage_im, segment_size};

    std::vector<double> power(half_size + 1, 0.0);
    const std::size_t n = samples.size();
    std::size_t segments = 0;
    for (std::size_t start = 0; segments == 0 || start + segment_size <= n; start += half_size) {
        for (unsigned i = 0; i < segment_size; ++i) {
            a->re[i] = start + i < n ? samples[start + i] * a->window[i] : 0.0;
            a->im[i] = 0.0;
        }
        fft::real_forward(a->re, a->im, tables, 1);
        for (unsigned k = 0; k <= half_size; ++k)
            power[k] += a->re[k] * a->re[k] + a->im[k] * a->im[k];
        ++segments;
    }
    // A sine of amplitude A gives |X| = A * sum(w) / 2 at its bin, so the
    // amplitude reads (2 / sum(w)) |X|, and 0 dBFS is amplitude 1.
    const double sum_w = segment_size / 2.0;
    const double scale = (2.0 / sum_w) * (2.0 / sum_w) / static_cast<double>(segments);
    Spectrum spectrum{rate / segment_size, {}};
    spectrum.dbfs.reserve(half_size + 1);
    for (double p : power)
        spectrum.dbfs.push_back(to_db(p * scale));
    return spectrum;
}

Tone peak_near(const Spectrum& spectrum, double hz)
{
    const auto& v = spectrum.dbfs;
    if (v.empty() || !(spectrum.bin_hz > 0))
        return {hz, silence_dbfs};
    const long top = static_cast<long>(v.size()) - 1;
    const long c = std::clamp(std::lround(hz / spectrum.bin_hz), 0L, top);
    long k = c;
    for (long j = std::max(c - 1, 0L); j <= std::min(c + 1, top); ++j)
        if (v[j] > v[k])
            k = j;
    if (k == 0 || k == top)
        return {k * spectrum.bin_hz, v[k]};
    const double l = v[k - 1], m = v[k], r = v[k + 1];
    const double denom = l - 2.0 * m + r;
    const double d = denom < 0 ? 0.5 * (l - r) / denom : 0.0; // within +-0.5 bin at a peak
    return {(k + d) * spectrum.bin_hz, m - 0.25 * (l - r) * d};
}

std::vector<Tone> strongest_tones(const Spectrum& spectrum)
{
    const auto& v = spectrum.dbfs;
    if (v.size() < 3)
        return {};
    std::vector<double> sorted = v;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    // More than 120 dB below the highest bin lies the rounding of the
    // samples and of the transform, whose ripples are no tones.
    const double threshold = std::max(sorted[sorted.size() / 2] + 30.0, *std::max_element(v.begin(), v.end()) - 120.0);
    std::vector<Tone> peaks;
    for (std::size_t k = 1; k + 1 < v.size(); ++k)
        if (v[k] > threshold && v[k] > v[k - 1] && v[k] >= v[k + 1])
            peaks.push_back(peak_near(spectrum, k * spectrum.bin_hz));
    std::stable_sort(peaks.begin(), peaks.end(), [](const Tone& x, const Tone& y) { return x.dbfs > y.dbfs; });
    if (peaks.size() > 8)
        peaks.resize(8);
    return peaks;
}

namespace {

struct Component {
    double hz;
    double power;  // relative to the input tone's, 1 = unchanged
    bool tone;     // the tone itself rather than an image of it
    uint64_t path; // see Prediction
};

// Sampling at fs-sim: every component h is joined by |k fs-sim +- h| below
// the working Nyquist frequency, at its own level (the engine sums the
// bins a multiple of fs-sim apart, without weighting).  Components that
// meet at one frequency are added as powers: their phases are not followed.
// An image's path is its parent's followed by 2k - 1 (k fs-sim - h, which
// bends at 0 Hz) or 2k (k fs-sim + h).
std::vector<Component> fold(const std::vector<Component>& in, double fssim, double nyquist)
{
    std::vector<Component> out;
    const auto add = [&](double hz, double power, bool tone, uint64_t path) {
        if (hz < 0.0 || hz >= nyquist)
            return;
        for (Component& c : out)
            if (std::fabs(c.hz - hz) < 1e-6 * nyquist) {
                c.power += power;
                c.tone = c.tone || tone;
                return;
            }
        out.push_back({hz, power, tone, path});
    };
    const uint64_t stride = 2 * static_cast<uint64_t>(nyquist / fssim + 2);
    for (const Component& c : in) {
        add(c.hz, c.power, c.tone, c.path * stride);
        uint64_t code = 1;
        for (double k = 1; k * fssim - c.hz < nyquist; ++k, code += 2) {
            add(std::fabs(k * fssim - c.hz), c.power, false, c.path * stride + code);
            add(k * fssim + c.hz, c.power, false, c.path * stride + code + 1);
        }
    }
    return out;
}

void roll_off(std::vector<Component>& components, double period_hz_scale)
{
    for (Component& c : components) {
        const double s = sinc(pi * c.hz * period_hz_scale);
        c.power *= s * s;
    }
}

} // namespace

// Faster in time by t plays every frequency t times higher; the spectral
// stretch by f moves bin k to k f.
double speed_factor(const Params& p)
{
    return p.varispeedt * (p.varispeedf != 0 ? p.varispeedf : 1.0);
}

std::vector<Prediction> predict_tone(const Tone& t, const Params& p, const Facts& facts)
{
    std::vector<Prediction> out;
    const double working = facts.output_rate > 0 ? facts.output_rate : p.fs;
    const double nyquist = working / 2.0;
    const bool varispeed = p.varispeedt != 1.0 || p.varispeedf != 1.0;
    const bool hold = p.varispeedsh != 0 && varispeed;
    const bool sampling = p.fssim > 0 && p.fssim < working;
    // The rate conversion keeps frequencies; the input filter keeps its band.
    const double in_nyquist = std::min(facts.input_rate > 0 ? facts.input_rate / 2.0 : nyquist, nyquist);
    if (t.hz >= in_nyquist || t.hz < p.fcloin || t.hz > p.fchiin)
        return out;
    std::vector<Component> cs{{t.hz, 1.0, true, 0}};
    if (hold) {
        if (sampling)
            cs = fold(cs, p.fssim, nyquist);
        roll_off(cs, 1.0 / p.fssim);
    }
    std::vector<Component> moved;
    const double move = speed_factor(p);
    for (const Component& c : cs)
        if (c.hz * move < nyquist)
            moved.push_back({c.hz * move, c.power, c.tone, c.path});
    cs = sampling ? fold(moved, p.fssim, nyquist) : moved;
    if (p.aperture > 1e-10)
        roll_off(cs, p.aperture / p.fssim);
    std::stable_sort(cs.begin(), cs.end(), [](const Component& x, const Component& y) { return x.hz < y.hz; });
    for (const Component& c : cs)
        if (c.hz >= p.fcloout && c.hz <= p.fchiout && c.power > 0)
            out.push_back({c.tone ? "tone" : "image", c.hz, t.dbfs + to_db(c.power) + facts.output_gain_db, c.path});
    return out;
}

std::vector<Prediction> predict(const std::vector<Tone>& tones, const Params& p, const Facts& facts)
{
    std::vector<Prediction> out;
    const double working = facts.output_rate > 0 ? facts.output_rate : p.fs;
    const double nyquist = working / 2.0;
    const double bin = working / segment_size;
    const bool sampling = p.fssim > 0 && p.fssim < working;
    const double move = speed_factor(p);
    std::optional<double> first_tone_hz, first_tone_db;

    for (const Tone& t : tones)
        for (Prediction& c : predict_tone(t, p, facts)) {
            if (c.kind == "tone" && !first_tone_hz)
                first_tone_hz = c.hz, first_tone_db = c.dbfs;
            out.push_back(std::move(c));
        }

    // The input corners move with the vari-speed that follows the filter.
    const auto corner = [&](double hz, double moved_by) {
        if (hz > 0 && hz * moved_by < nyquist - bin)
            out.push_back({"corner", hz * moved_by, std::nullopt});
    };
    corner(p.fcloin, move), corner(p.fchiin, move), corner(p.fcloout, 1.0), corner(p.fchiout, 1.0);

    if (p.bitnr < 24) {
        // Rounding to steps q = 2 / 2^bits of full scale adds q^2 / 12 of
        // white noise over 0 .. working / 2.  A Welch bin collects
        // 1.5 bins' worth (the Hann window's noise bandwidth) out of
        // segment_size / 2, and the 0 dBFS sine has power 1/2.  The
        // quantizer works with the signal's peak at quant_peak, which the
        // output takes to output_peak: the floor is assumed to follow that
        // gain (no later stage changes the peak).  Sampling after it sums
        // working / fs-sim copies of the noise.
        const double q = 2.0 / std::ldexp(1.0, static_cast<int>(std::max<uint32_t>(p.bitnr, 1)));
        double floor = to_db(q * q / 12.0 * hann_enbw / half_size / 0.5);
        floor += 20.0 * std::log10(output_peak / quant_peak);
        if (sampling)
            floor += 10.0 * std::log10(working / p.fssim);
        out.push_back({"noise-floor", std::nullopt, floor});
    }
    if (p.jitteramp != 0 && p.fssim > 0 && first_tone_hz) {
        // A uniform time error of peak jitteramp / fs-sim has RMS
        // peak / sqrt(3); a sine at f so displaced gains an error of power
        // (2 pi f sigma)^2 times its own, assumed white over the band.
        const double sigma = std::fabs(p.jitteramp) / p.fssim / std::sqrt(3.0);
        const double ratio = std::pow(2.0 * pi * *first_tone_hz * sigma, 2.0);
        out.push_back({"jitter", std::nullopt, *first_tone_db + to_db(ratio * hann_enbw / half_size)});
    }
    return out;
}

double output_gain_db(const std::vector<Tone>& tones, const Params& params, Facts facts, const Spectrum& output)
{
    facts.output_gain_db = 0.0;
    for (const Prediction& p : predict(tones, params, facts))
        if (p.kind == "tone")
            return peak_near(output, *p.hz).dbfs - *p.dbfs;
    return 0.0;
}

void append_number(std::string& text, double value, int decimals)
{
    char buffer[64];
    const auto result = decimals < 0 ? std::to_chars(buffer, buffer + sizeof buffer, value)
                                     : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    text.append(buffer, result.ptr);
}

std::string spectra_csv(const Spectrum& input, const Spectrum& output)
{
    std::string text = "frequency_hz,input_dbfs,output_dbfs\n";
    for (std::size_t k = 0; k < output.dbfs.size(); ++k) {
        const double hz = k * output.bin_hz;
        append_number(text, hz, -1);
        text += ',';
        if (input.bin_hz > 0) {
            const double j = std::round(hz / input.bin_hz);
            if (j < static_cast<double>(input.dbfs.size()))
                append_number(text, input.dbfs[static_cast<std::size_t>(j)], 3);
        }
        text += ',';
        append_number(text, output.dbfs[k], 3);
        text += '\n';
    }
    return text;
}

std::string predicted_csv(const std::vector<Prediction>& predictions)
{
    std::string text = "kind,frequency_hz,level_dbfs\n";
    for (const Prediction& p : predictions) {
        text += p.kind;
        text += ',';
        if (p.hz)
            append_number(text, *p.hz, -1);
        text += ',';
        if (p.dbfs)
            append_number(text, *p.dbfs, 3);
        text += '\n';
    }
    return text;
}

} // namespace vesk::analysis
