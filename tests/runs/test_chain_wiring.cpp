// One whole run per wiring path of the chain, in-process on a small WAV whose
// channels differ and grow louder, compared sample for sample with references
// computed here: closed forms, direct kernel sums and a plain DFT.
#include <gtest/gtest.h>

#include <complex>
#include <functional>
#include <numbers>

#include "tests/support/batch_runs.h"
#include "tests/support/dsp_reference.h"

namespace vesk {
namespace {

using Signal = std::vector<long double>;
using Spectrum = std::vector<std::complex<long double>>;
using Reference = std::function<Signal(const Signal&)>;
constexpr long double pi = std::numbers::pi_v<long double>;

// The plain DFT; sign -1 forward, +1 inverse (unscaled).
Spectrum dft(const Spectrum& x, int sign)
{
    const std::size_t n = x.size();
    Spectrum w(n), out(n);
    for (std::size_t k = 0; k < n; ++k)
        w[k] = std::polar(1.0L, sign * 2 * pi * k / n);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t t = 0; t < n; ++t)
            out[k] += x[t] * w[(k * t) % n];
    return out;
}

// x zero-padded to 1024, transformed, bins 0 .. 512 rewritten by `edit`, the
// upper half rebuilt as their conjugates, transformed back.
Reference spectral(const std::function<void(Spectrum&)>& edit)
{
    return [edit](const Signal& x) {
        const std::size_t n = 1024, h = n / 2;
        Spectrum s(x.begin(), x.begin() + std::min(x.size(), n));
        s.resize(n);
        s = dft(s, -1);
        edit(s);
        s[0].imag(0), s[h].imag(0);
        for (std::size_t k = 1; k < h; ++k)
            s[n - k] = std::conj(s[k]);
        s = dft(s, 1);
        Signal y;
        for (const auto& v : s)
            y.push_back(v.real() / n);
        return y;
    };
}

std::size_t bins(double hz) { return static_cast<std::size_t>(std::floor(hz / (8000.0 / 1024))); }

// The ideal band: bins lo .. hi kept below the Nyquist bin, which stays.
Reference band_pass(double lo, double hi)
{
    return spectral([=](Spectrum& s) {
        for (std::size_t k = 0; k < s.size() / 2; ++k)
            s[k] = k < bins(lo) || k > bins(hi) ? 0 : s[k];
    });
}

// Sampling at m bins: bin j < n/2 gathers every bin i == j (mod m) of
// -(n/2 - 1) .. n/2 - 1; the Nyquist bin is emptied.
void sample_at(Spectrum& s, std::size_t m)
{
    const auto n = static_cast<int64_t>(s.size()), h = n / 2;
    Spectrum out(s.size());
    for (int64_t j = 0; j < h; ++j)
        for (int64_t i = -(h - 1); i < h; ++i)
            out[j] += (i - j) % static_cast<int64_t>(m) == 0 ? s[(i + n) % n] : 0;
    s = out;
}

// A window `a` fs-sim periods of m bins wide: sin x / x, x = pi a k / m, on
// bins 1 .. n/2; an aperture with the phase of a delay by half the window,
// the hold without.
void window(Spectrum& s, std::size_t m, long double a, bool delayed)
{
    for (std::size_t k = 1; k <= s.size() / 2; ++k) {
        const long double x = pi * a * k / m;
        s[k] *= std::polar(std::sin(x) / x, delayed ? -x : 0);
    }
}

// x (zero-padded to n) read through the interpolator at 0, step, 2 step, ...
Reference stretched(std::size_t n, int64_t len, double step, uint32_t count)
{
    return [=](const Signal& x) {
        std::vector<double> source(n, 0.0);
        std::copy(x.begin(), x.begin() + std::min(x.size(), n), source.begin());
        Signal y;
        for (const test::SteppedPosition& p : test::stepped_positions(step, count))
            y.push_back(test::kernel_sum(source, len, p.center, p.frac).value);
        return y;
    };
}

// Quantization to `bits`: channel 0 brought to a peak of -1 dB, every channel
// with its gain, rounded to 24 bits, clipped, put on the nearest level of
// the coarser grid (a tie goes down) that `bits` bits can hold, and the gain
// undone.  In double: the rounding to 24 bits is the point of the stage.
std::vector<Signal> quantized(std::vector<Signal> in, uint32_t bits)
{
    long double peak = 0;
    for (long double v : in[0])
        peak = std::max(peak, std::fabs(v));
    const double gain = 0.891250938 / static_cast<double>(peak), step = std::ldexp(1.0, 24 - static_cast<int>(bits));
    for (Signal& ch : in)
        for (long double& v : ch) {
            const double y = std::clamp(std::floor(static_cast<double>(v) * gain * 8388608.0 + 0.5), -8388608.0, 8388607.0);
            v = std::ldexp(std::min(std::ceil(y / step - 0.5) * step, 8388608.0 - step), -23) / static_cast<long double>(gain);
        }
    return in;
}

struct WiringRow {
    const char* name;
    uint32_t bits, chnr, frames, n, out_frames; // n: the working length the run must choose
    int tolerance;                              // LSB of the 24-bit output
    std::function<void(Params&)> set;
    uint32_t quantize;   // bits of a quantization before `reference`; 0: none
    Reference reference; // per channel; none: as decoded
};

// Tolerances: the references are exact to far below one LSB of the output
// (long double sums, double kernels within 64 eps per tap); what is left is
// a value within that error of a rounding edge: one LSB.  The idle chain
// decodes, scales and rounds once, so it must be exact.  Inputs at 8000 Hz.
std::vector<WiringRow> wiring_rows()
{
    const auto idle = [](Params&) {};
    return {
        {"idle chain, 8 bits, table encoding", 8, 2, 1500, 4096, 1500, 0, idle, 0, {}},
        {"idle chain, 16 bits, three channels", 16, 3, 300, 1024, 300, 0, idle, 0, {}},
        // Over a million samples: the idle chain reads and writes them in
        // two blocks, the second short.
        {"idle chain, 16 bits, table encoding", 16, 2, (1 << 19) + 77, 1 << 21, (1 << 19) + 77, 0, idle, 0, {}},
        {"idle chain, 24 bits", 24, 2, 300, 1024, 300, 0, idle, 0, {}},
        {"quantization to 6 bits", 16, 2, 400, 1024, 400, 1, [](Params& p) { p.bitnr = 6; }, 6, {}},
        {"rate conversion 8000 -> 12000 Hz", 16, 2, 400, 2048, 600, 1, [](Params& p) { p.fs = 12000; }, 0,
         stretched(2048, 400, 8000.0 / 12000.0, 600)},
        {"rate conversion 8000 -> 6000 Hz", 24, 2, 400, 1024, 300, 1, [](Params& p) { p.fs = 6000; }, 0,
         stretched(1024, 400, 8000.0 / 6000.0, 300)},
        // Lowered 4 times: the taps below index 0 need 15 zeros at the top.
        {"rate conversion 8000 -> 2000 Hz", 16, 2, 510, 1024, 128, 1, [](Params& p) { p.fs = 2000; }, 0, stretched(1024, 510, 4.0, 128)},
        // fs-sim lies above the rate: held, but not sampled, before vari-speed.
        {"hold before vari-speed in time 0.8", 16, 2, 400, 1024, 500, 1, [](Params& p) { p.varispeedsh = 1, p.varispeedt = 0.8; }, 0,
         [](const Signal& x) { return stretched(1024, 512, 0.8, 500)(spectral([](Spectrum& s) { window(s, bins(48000), 1, false); })(x)); }},
        {"input filter 300 .. 1500 Hz", 16, 2, 400, 1024, 400, 1, [](Params& p) { p.fcloin = 300, p.fchiin = 1500; }, 0, band_pass(300, 1500)},
        {"quantization to 8 bits, then output filter 200 .. 2000 Hz", 16, 2, 400, 1024, 400, 1,
         [](Params& p) { p.bitnr = 8, p.fcloout = 200, p.fchiout = 2000; }, 8, band_pass(200, 2000)},
        {"vari-speed in time 0.8", 16, 2, 400, 1024, 500, 1, [](Params& p) { p.varispeedt = 0.8; }, 0, stretched(1024, 512, 0.8, 500)},
        {"sampling at 3000 Hz with aperture 0.5", 16, 2, 400, 1024, 400, 1, [](Params& p) { p.fssim = 3000, p.aperture = 0.5; }, 0,
         spectral([](Spectrum& s) { sample_at(s, bins(3000)), window(s, bins(3000), 0.5, true); })},
    };
}

class ChainWiring : public test::WholeRun {};

TEST_F(ChainWiring, EachPathGivesItsReferenceSampleForSample)
{
    for (const WiringRow& row : wiring_rows()) {
        SCOPED_TRACE(row.name);
        // Channel c: seeded random integers within 0.2 * (c + 1) of full
        // scale, and decoded as the file defines them: v / 2^(bits - 1).
        std::vector<std::vector<int32_t>> ints(row.chnr);
        std::vector<Signal> expected(row.chnr);
        for (uint32_t c = 0; c < row.chnr; ++c)
            for (double x : test::random_values(row.frames, 1000 + c, 0.2 * (c + 1) * (std::ldexp(1.0, row.bits - 1) - 1))) {
                ints[c].push_back(static_cast<int32_t>(std::lround(x)));
                expected[c].push_back(std::ldexp(static_cast<long double>(ints[c].back()), 1 - static_cast<int>(row.bits)));
            }
        input(test::make_pcm_wav(static_cast<uint16_t>(row.chnr), 8000, static_cast<uint16_t>(row.bits), ints));
        engine.params = Params{dir.file("in.wav"), dir.file("out.wav")};
        row.set(engine.params);
        const uint32_t fs = engine.params.fs != 0 ? engine.params.fs : 8000;
        ASSERT_EQ(engine.process_wav(), RunOutcome::done) << (messages.texts.empty() ? "" : messages.texts[0]);
        EXPECT_EQ(engine.sizes().sampnump, row.n);
        const auto out = output(row.chnr, fs);
        ASSERT_EQ(out[0].size(), row.out_frames);

        if (row.quantize != 0)
            expected = quantized(expected, row.quantize);
        for (Signal& ch : expected)
            ch = row.reference ? row.reference(ch) : ch;
        // Channel 0 sets the output level: its peak becomes -3 dB.  The idle
        // chain's gain is the double the run computes from that peak.
        long double peak = 0;
        for (uint32_t i = 0; i < row.out_frames; ++i)
            peak = std::max(peak, std::fabs(expected[0][i]));
        const double gain = test::normalised_peak / static_cast<double>(peak);
        for (uint32_t c = 0; c < row.chnr; ++c) {
            int64_t worst = 0, worst_at = 0;
            for (uint32_t i = 0; i < row.out_frames; ++i) {
                const long double scaled = row.tolerance == 0 ? static_cast<double>(expected[c][i]) * gain : expected[c][i] * test::normalised_peak / peak;
                const auto want = static_cast<int64_t>(std::clamp(std::floor(scaled * 8388608 + 0.5L), -8388608.0L, 8388607.0L));
                if (std::llabs(out[c][i] - want) > worst)
                    worst = std::llabs(out[c][i] - want), worst_at = i;
            }
            EXPECT_LE(worst, row.tolerance) << "channel " << c << ", worst at sample " << worst_at << " of " << row.out_frames;
        }
    }
}

} // namespace
} // namespace vesk
