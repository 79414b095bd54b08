// Jitter against two independent references:
//  - the timing errors and read positions replayed with the stage's loop
//    written out literally (phase wrapped by taking off 1 at a time, the
//    fraction brought into [0, 1) by whole units), fed by a second generator
//    with the same seed, and the output evaluated as a direct kernel sum in
//    long double;
//  - the timing errors recovered from the stage's output alone: on a ramp the
//    output is a strictly increasing function of the read position, so each
//    output can be inverted to the position it was read at.  The recovered
//    errors are then checked for what the clock model promises: linear
//    between breakpoints one fs-sim period apart, breakpoints that are the
//    generator's values scaled to -A .. A, nothing beyond A.
//
// Tolerances.  Kernel sums as in the interpolator's tests: each weight is
// within ~2^5 eps of the exact kernel and the 31 additions add 31 eps, so
// |out - ref| <= 64 eps * sum over the taps of |sample|.  Recovery: on the
// ramp s_t = t / H the slope of the output with respect to the position is
// (sum of the weights, >= 1) / H, less d * S'(d) / H for the ripple S' of
// that sum (below 3e-4 per sample; d <= H = 1024 keeps it below 0.31 / H),
// so at least 0.5 / H; an output error of 64 eps * 31 becomes a position
// error of at most 64 eps * 31 * 2H.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/random.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using vesk::JitterRandom;
using vesk::test::kernel_sum;
using vesk::test::KernelSum;
using vesk::test::random_values;
using vesk::test::reference_kernel;
using vesk::test::ScratchRig;
using vesk::test::tap_tolerance;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double stale = 7.0;

struct Config {
    uint32_t n;        // sampnump
    uint32_t fs;       // working rate [Hz]
    uint32_t m;        // fs-sim [bins]
    double jitteramp;  // [fs-sim periods]
    uint32_t seed;
    const char* what;
};

// fs-sim as the run driver snaps it: a whole number of bins of fs / n.
double fssim_of(const Config& c)
{
    return static_cast<double>(c.m) * (static_cast<double>(c.fs) / c.n);
}

double amplitude_of(const Config& c)
{
    return static_cast<double>(c.fs) * c.jitteramp / fssim_of(c);
}

struct Reading {
    double error;  // timing error of the output [samples]
    int64_t center;
    double frac;
};

// The clock model with every loop written out: one generator value per
// fs-sim period, linear in between, positions by whole-unit steps.
std::vector<Reading> literal_jitter(const Config& c, JitterRandom& rng)
{
    const uint32_t half = c.n / 2;
    const double u = static_cast<double>(c.m) / static_cast<double>(c.n);
    const double amplitude = static_cast<double>(c.fs) * c.jitteramp / fssim_of(c);
    const auto draw = [&] { return (2.0 * rng.next() / 32767.0 - 1.0) * amplitude; };

    std::vector<Reading> readings;
    double b = draw();
    double a = 0.0;
    double phase = 0.0;
    bool newperiod = true;
    for (uint32_t i = 0; i < half; ++i) {
        if (newperiod) {
            a = b;
            b = draw();
            newperiod = false;
        }
        const double e = (1.0 - phase) * a + phase * b;
        int64_t center = i;
        double frac = e;
        while (frac < 0) {
            frac += 1;
            center -= 1;
        }
        while (frac >= 1) {
            frac -= 1;
            center += 1;
        }
        readings.push_back({e, center, frac});
        phase += u;
        if (phase >= 1) {
            newperiod = true;
            while (phase >= 1)
                phase -= 1;
        }
    }
    return readings;
}

struct JitterRig : ScratchRig {
    explicit JitterRig(const Config& c) : ScratchRig(c.n, stale)
    {
        engine.fs = c.fs;
        engine.fssim_idx = c.m;
        engine.fssim = fssim_of(c);
        engine.jitteramp = c.jitteramp;
        engine.jitter_rng.seed(c.seed);
    }
    // A channel into whichever arrays are current; all n entries are given,
    // so the circular reads below index 0 find known values too.
    void load(const std::vector<double>& signal)
    {
        std::copy(signal.begin(), signal.end(), engine.sigre);
        std::fill(engine.sigim, engine.sigim + signal.size(), 0.0);
        engine.timedomain = 1;
    }
    void run() { ASSERT_EQ(engine.stage_jitter(), 0); }
    const double* out() const { return engine.sigre; }
};

// Checks the stage's output for one channel against the literal model.
void expect_matches_model(const double* out, const std::vector<double>& signal, const std::vector<Reading>& readings,
                          const char* what)
{
    const int64_t half = static_cast<int64_t>(signal.size() / 2);
    for (int64_t i = 0; i < half; ++i) {
        const Reading& r = readings[static_cast<std::size_t>(i)];
        const KernelSum ref = kernel_sum(signal, half, r.center, r.frac);
        ASSERT_NEAR(out[i], static_cast<double>(ref.value), tap_tolerance(ref))
            << what << ": output " << i << " read at " << i << " + " << r.error;
    }
    for (std::size_t i = signal.size() / 2; i < signal.size(); ++i)
        ASSERT_EQ(out[i], 0.0) << what << ": output " << i;
}

// ---- against the literal model ----------------------------------------------------------

class JitterModel : public ::testing::TestWithParam<Config> {};

TEST_P(JitterModel, MatchesTheLiteralLoopAndADirectKernelSum)
{
    const Config& c = GetParam();
    const std::vector<double> signal = random_values(c.n, c.seed);
    JitterRig rig(c);
    rig.load(signal);
    rig.run();

    JitterRandom rng;
    rng.seed(c.seed);
    const std::vector<Reading> readings = literal_jitter(c, rng);
    expect_matches_model(rig.out(), signal, readings, c.what);

    // Every reading within the amplitude, and the first one at the value
    // drawn before the loop (phase 0 gives the start value alone).
    const double amplitude = amplitude_of(c);
    for (const Reading& r : readings)
        ASSERT_LE(std::fabs(r.error), amplitude) << c.what;
    JitterRandom first;
    first.seed(c.seed);
    EXPECT_EQ(readings[0].error, (2.0 * first.next() / 32767.0 - 1.0) * amplitude) << c.what;

    // Both generators have drawn the same number of values.
    EXPECT_EQ(rig.engine.jitter_rng.next(), rng.next()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, JitterModel,
    ::testing::Values(Config{4096, 48000, 2048, 0.5, 11, "fs-sim 24000 at 48000: errors up to 1 sample"},
                      Config{4096, 48000, 256, 0.5, 12, "16 samples per period, errors up to 8 samples"},
                      Config{4096, 44100, 1000, 0.25, 13, "4.096 samples per period"},
                      Config{2048, 48000, 3072, 0.3, 14, "fs-sim above fs: 1.5 periods per sample"},
                      Config{2048, 48000, 2048, 0.5, 15, "one period per sample"},
                      Config{2048, 48000, 5000, 0.5, 16, "2.44 periods per sample"},
                      Config{2048, 48000, 1, 0.5, 17, "errors up to 1024 samples, mostly beyond the signal"},
                      Config{1024, 96000, 7, 0.1, 18, "seven periods over the array"},
                      Config{512, 8000, 96, 0.0, 19, "amplitude 0 reads every sample in place"}));

// ---- timing errors recovered from the output ---------------------------------------------

struct StructureCase {
    Config config;
    uint32_t period; // n / m, working samples per fs-sim period
};

class JitterStructure : public ::testing::TestWithParam<StructureCase> {};

// The ramp t / H, continued below 0 into the top of the array, so that
// reads around sample 0 see the same straight line.
std::vector<double> circular_ramp(uint32_t n)
{
    const uint32_t half = n / 2;
    std::vector<double> ramp(n, 0.0);
    for (uint32_t t = 0; t < half; ++t)
        ramp[t] = static_cast<double>(t) / half;
    for (uint32_t t = 1; t <= 64; ++t)
        ramp[n - t] = -static_cast<double>(t) / half;
    return ramp;
}

// The output the ramp gives when read at `position`, all taps on the ramp.
long double ramp_output(long double position, uint32_t half)
{
    const long double center = std::floor(position);
    long double sum = 0;
    for (int t = -15; t <= 15; ++t)
        sum += reference_kernel(position - (center + t)) * ((center + t) / half);
    return sum;
}

// The position at which the ramp gives `out`, searched in [lo, hi].
long double ramp_position(double out, long double lo, long double hi, uint32_t half)
{
    // 64 halvings take the bracket (at most 2A + 2 wide) below 2^-58 of it,
    // far below the recovery error.
    for (int k = 0; k < 64; ++k) {
        const long double mid = 0.5L * (lo + hi);
        if (ramp_output(mid, half) < out)
            lo = mid;
        else
            hi = mid;
    }
    return 0.5L * (lo + hi);
}

TEST_P(JitterStructure, RecoveredErrorsAreLinearBetweenDrawnBreakpointsOnePeriodApart)
{
    const StructureCase& sc = GetParam();
    const Config& c = sc.config;
    ASSERT_EQ(c.n % c.m, 0u);
    ASSERT_EQ(sc.period, c.n / c.m);
    const uint32_t half = c.n / 2;
    const double amplitude = amplitude_of(c);

    JitterRig rig(c);
    rig.load(circular_ramp(c.n));
    rig.run();

    // Outputs whose 31 taps stay on the ramp, whatever the error.
    const uint32_t last = half - 1 - 15 - static_cast<uint32_t>(std::ceil(amplitude)) - 1;
    std::vector<double> error(last + 1);
    for (uint32_t i = 0; i <= last; ++i) {
        const long double lo = i - amplitude - 1.0L, hi = i + amplitude + 1.0L;
        error[i] = static_cast<double>(ramp_position(rig.out()[i], lo, hi, half) - i);
    }

    const double recovery = 64.0 * eps * 31.0 * 2.0 * half;
    // Within the amplitude.
    for (uint32_t i = 0; i <= last; ++i)
        ASSERT_LE(std::fabs(error[i]), amplitude + recovery) << c.what << ": sample " << i;

    // Linear between the breakpoints at multiples of the period: the engine's
    // interpolation rounds by a few eps of A on top of the recovery error at
    // three points.
    const double line_tol = 3.0 * recovery + 4.0 * eps * amplitude;
    const uint32_t p = sc.period;
    for (uint32_t start = 0; start + p <= last; start += p) {
        for (uint32_t j = 1; j < p; ++j) {
            const double line = error[start] + (error[start + p] - error[start]) * j / p;
            ASSERT_NEAR(error[start + j], line, line_tol) << c.what << ": sample " << start + j;
        }
    }

    // The breakpoints are the generator's values in order, the first one at
    // sample 0 being the value drawn before the loop: R = (e / A + 1) * 32767/2
    // is a whole number from 0 to 32767.
    JitterRandom rng;
    rng.seed(c.seed);
    const double r_tol = recovery * 32767.0 / (2.0 * amplitude) + 1e-9;
    double largest = 0.0;
    uint32_t breakpoints = 0;
    for (uint32_t start = 0; start <= last; start += p, ++breakpoints) {
        const double r = (error[start] / amplitude + 1.0) * 32767.0 / 2.0;
        ASSERT_NEAR(r, std::round(r), r_tol) << c.what << ": breakpoint at " << start;
        ASSERT_EQ(static_cast<int>(std::round(r)), rng.next()) << c.what << ": breakpoint at " << start;
        largest = std::max(largest, std::fabs(error[start]));
    }
    // The breakpoints spread over the whole range: for independent uniform
    // values, all of `count` stay below q * A with chance q^count, so q is
    // chosen to make that one in 10^9.
    const double reach = std::pow(1e-9, 1.0 / breakpoints);
    EXPECT_GT(largest, reach * amplitude) << c.what << ", " << breakpoints << " breakpoints";
}

INSTANTIATE_TEST_SUITE_P(
    WholePeriods, JitterStructure,
    ::testing::Values(StructureCase{{2048, 48000, 128, 0.5, 31, "16 samples per period, A = 8"}, 16},
                      StructureCase{{2048, 48000, 1024, 0.5, 32, "fs-sim 24000 at 48000: A = 1"}, 2},
                      StructureCase{{2048, 48000, 32, 0.05, 33, "64 samples per period, A = 3.2"}, 64}));

// ---- single draws ------------------------------------------------------------------------

// A seed whose first generator value is `wanted`.
uint32_t seed_giving(int wanted)
{
    for (uint32_t seed = 0;; ++seed) {
        JitterRandom rng;
        rng.seed(seed);
        if (rng.next() == wanted)
            return seed;
    }
}

TEST(Jitter, TheExtremeValuesReadExactlyOneAmplitudeEarlierOrLater)
{
    // A = 1 sample; the first output is read at the value drawn before the
    // loop, here -1 (R = 0) or +1 (R = 32767) exactly, a whole position.
    const uint32_t n = 1024;
    const std::vector<double> signal = random_values(n, 40);
    struct Case {
        int r;
        std::size_t index; // where output 0 is read
    };
    // -1 reads the top of the array through the circular source.
    for (const Case& k : {Case{0, n - 1}, Case{32767, 1}}) {
        const Config c{n, 48000, n / 2, 0.5, seed_giving(k.r), "extreme"};
        JitterRig rig(c);
        rig.load(signal);
        rig.run();
        const KernelSum ref = kernel_sum(signal, n / 2, k.r == 0 ? -1 : 1, 0.0L);
        EXPECT_NEAR(rig.out()[0], signal[k.index], tap_tolerance(ref)) << "R = " << k.r;
    }
}

TEST(Jitter, DrawsOneValuePerPeriodAndNoneForAPeriodEndingAtTheLastSample)
{
    // 16 samples per period over 1024 outputs: the value before the loop,
    // one at sample 0 and one at each of the 63 following period starts; the
    // period that ends with the last sample draws nothing more.
    const Config c{2048, 48000, 128, 0.5, 50, "draw count"};
    JitterRig rig(c);
    rig.load(random_values(c.n, 50));
    rig.run();
    JitterRandom rng;
    rng.seed(c.seed);
    for (int k = 0; k < 65; ++k)
        rng.next();
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(rig.engine.jitter_rng.next(), rng.next()) << k;
}

TEST(Jitter, TheSequenceRunsOnAcrossChannelsWhileThePhaseStartsAfresh)
{
    const Config c{2048, 44100, 300, 0.4, 60, "two channels"};
    const std::vector<double> first = random_values(c.n, 61);
    const std::vector<double> second = random_values(c.n, 62);
    JitterRig rig(c);
    rig.load(first);
    rig.run();
    std::vector<double> out_first(rig.out(), rig.out() + c.n);
    rig.load(second);
    rig.run();

    JitterRandom rng;
    rng.seed(c.seed);
    const std::vector<Reading> readings_first = literal_jitter(c, rng);
    const std::vector<Reading> readings_second = literal_jitter(c, rng);
    expect_matches_model(out_first.data(), first, readings_first, "channel 0");
    expect_matches_model(rig.out(), second, readings_second, "channel 1");

    // Not a restart of the sequence: those errors differ.
    JitterRandom restarted;
    restarted.seed(c.seed);
    const std::vector<Reading> again = literal_jitter(c, restarted);
    int differing = 0;
    for (std::size_t i = 0; i < again.size(); ++i)
        differing += again[i].error != readings_second[i].error;
    EXPECT_GT(differing, 0);
}

// ---- domain, exchange, log -----------------------------------------------------------------

TEST(Jitter, ExchangesThePairLeavesTheUpperHalfZeroAndLogs)
{
    const Config c{512, 48000, 64, 0.25, 70, "exchange"};
    JitterRig rig(c);
    rig.load(random_values(c.n / 2, 70));
    rig.run();
    EXPECT_EQ(rig.engine.sigre, rig.scratch_re.data());
    EXPECT_EQ(rig.engine.tmpre, rig.re.data());
    EXPECT_EQ(rig.engine.sigim, rig.im.data());
    EXPECT_EQ(rig.engine.tmpim, rig.scratch_im.data());
    for (uint32_t i = 0; i < c.n; ++i) {
        ASSERT_EQ(rig.im[i], 0.0) << i;
        ASSERT_EQ(rig.scratch_im[i], stale) << i;
    }
    for (uint32_t i = c.n / 2; i < c.n; ++i)
        ASSERT_EQ(rig.out()[i], 0.0) << i;
    EXPECT_EQ(rig.engine.timedomain, 1);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{"jitter ...\n"});
    EXPECT_TRUE(rig.messages.texts.empty());
}

TEST(Jitter, OnASpectrumItSwitchesToTimeFirst)
{
    const Config c{512, 48000, 64, 0.25, 80, "from a spectrum"};
    std::vector<double> signal = random_values(c.n / 2, 80);
    signal.resize(c.n, 0.0);

    // The time samples the stage will find: the same round trip, on a twin.
    JitterRig twin(c);
    twin.load(signal);
    ASSERT_EQ(twin.engine.fft_init(), 0);
    twin.engine.switch_domain();
    twin.engine.switch_domain();
    const std::vector<double> time_samples(twin.engine.sigre, twin.engine.sigre + c.n);

    JitterRig rig(c);
    rig.load(signal);
    ASSERT_EQ(rig.engine.fft_init(), 0);
    rig.engine.switch_domain();
    rig.log.lines.clear();
    rig.run();
    EXPECT_EQ(rig.log.lines, (std::vector<std::string>{"f->t ...\n", "jitter ...\n"}));
    EXPECT_EQ(rig.engine.timedomain, 1);

    JitterRandom rng;
    rng.seed(c.seed);
    expect_matches_model(rig.out(), time_samples, literal_jitter(c, rng), c.what);
}

// ---- amplitudes without bound ----------------------------------------------------------------

TEST(Jitter, AnInfiniteAmplitudeReadsNothing)
{
    // fs-sim 0 (refused by the parameter check) makes A infinite; the errors
    // are then infinite or NaN, and no output finds a tap.
    Config c{4096, 48000, 0, 0.5, 90, "fs-sim 0"};
    JitterRig rig(c);
    rig.engine.fssim = 0.0;
    rig.load(random_values(c.n, 90));
    const auto start = std::chrono::steady_clock::now();
    rig.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0);
    for (uint32_t i = 0; i < c.n; ++i)
        ASSERT_EQ(rig.out()[i], 0.0) << i;
}

TEST(Jitter, HugeErrorsFinishAtOnceAndStayFinite)
{
    // A near 1e304 samples: taking whole units off one at a time would never
    // end; the errors pass near 0 only where a period's line crosses it.
    const uint32_t n = 1u << 16;
    Config c{n, 48000, 3, 0.5, 91, "fs-sim 1e-300"};
    JitterRig rig(c);
    rig.engine.fssim = 1e-300;
    rig.load(random_values(n, 91));
    const auto start = std::chrono::steady_clock::now();
    rig.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.0);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_TRUE(std::isfinite(rig.out()[i])) << i;
        // 31 taps of samples below 1 in magnitude, weights below 1.
        ASSERT_LE(std::fabs(rig.out()[i]), 31.0) << i;
    }
}

} // namespace
