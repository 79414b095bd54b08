// Sampling-clock jitter: the channel is read again at instants displaced by a
// random timing error.  The error is drawn anew once per fs-sim period and
// interpolated linearly in between, so it is a continuous, piecewise-linear
// function of time with independent uniform breakpoints one fs-sim period
// apart; each working sample is then read at its displaced position through
// the windowed-sinc interpolator.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "engine/engine.h"
#include "engine/parallel.h"
#include "engine/position.h"

namespace vesk {

namespace {

// A timing error uniform over -A .. A in steps of 2A / 32767.  The divisor is
// tied to the generator's range 0 .. 32767, so R = 0 and R = 32767 give -A
// and +A.
double draw(JitterRandom& random, double amplitude)
{
    return (2.0 * random.next() / 32767.0 - 1.0) * amplitude;
}

} // namespace

void Engine::stage_jitter()
{
    if (timedomain != 1)
        switch_domain();
    log_line("jitter ...\n");

    const uint32_t n = sampnump;
    const uint32_t half = n / 2;
    // Part of an fs-sim period that one working sample spans; above 1 when
    // fs-sim lies above the working rate.
    const double u = static_cast<double>(fssim_idx) / static_cast<double>(n);
    // Largest timing error [working samples]: jitteramp is in fs-sim periods.
    const double amplitude = static_cast<double>(params.fs) * params.jitteramp / params.fssim;

    // The interpolator reads taps from 1 - len to len - 1 and is 0 for a
    // centre more than len + 14 away from 0; such centres are not passed on
    // (they might not fit in an int), the output is 0 all the same.
    const int len = static_cast<int>(half);
    const int64_t reach = int64_t{len} + 14;
    // Errors beyond this cannot put the centre within reach from any
    // i < half; the bound also keeps centre arithmetic far from overflow.
    const double far = 2.0 * static_cast<double>(half) + 32.0;

    // The timing errors form one sequential chain (each period starts where
    // the last ended, and the random sequence runs on), but reading the
    // signal at them is independent per sample.  A cheap first walk records
    // the chain's state at each block boundary, running ahead of the threads
    // that read the blocks, each replaying its own stretch of the chain
    // exactly.
    struct Chain {
        double start = 0.0;  // timing error at the start of the period [samples]
        double end = 0.0;    // pending error at its end [samples]
        double phase = 0.0;  // position within the period [periods, 0 .. 1)
        bool newperiod = true;
        JitterRandom random;
        // The timing error of the next sample; moves the chain on by one.
        double next(double u, double amplitude)
        {
            if (newperiod) {
                start = end;
                end = draw(random, amplitude);
                newperiod = false;
            }
            const double e = (1.0 - phase) * start + phase * end;
            // Wrapping by floor gives exactly what taking 1 off while
            // phase >= 1 would: phase < 1 + u <= 1 + 2^32, and below 2^53
            // each subtraction of 1 is exact, as is phase - floor(phase).
            // One breakpoint per wrap, however many periods a sample spans.
            phase += u;
            if (phase >= 1.0) {
                newperiod = true;
                phase -= floor_exact(phase);
            }
            return e;
        }
    };
    Chain chain;
    chain.random = jitter_rng;
    chain.end = draw(chain.random, amplitude); // the pending end value of the first period

    // Reads outputs first .. last-1, moving `replay` on by one per output;
    // the positions are handed to the interpolator a batch at a time.
    const auto read_block = [&](Chain& replay, uint32_t first, uint32_t last) {
        constexpr int batch = 16;
        double fracs[batch];
        int64_t centers[batch];
        uint32_t at[batch];
        int pending = 0;
        for (uint32_t i = first; i < last; ++i) {
            const double e = replay.next(u, amplitude);
            // i + e as a whole part and a fraction in [0, 1), exactly as
            // moving the fraction by whole units would give it (including a
            // tiny negative error whose fraction rounds up to 1).  A NaN
            // error (an fs-sim of 0 makes the amplitude infinite) reads
            // nothing: output 0.
            bool read = false;
            if (std::fabs(e) <= far) {
                const ReadPosition position = ReadPosition::offset_from(i, e);
                if (position.center >= -reach && position.center <= reach) {
                    fracs[pending] = position.frac;
                    centers[pending] = position.center;
                    at[pending++] = i;
                    read = true;
                }
            }
            if (!read)
                tmpre[i] = 0.0;
            if (pending == batch || (i + 1 == last && pending > 0)) {
                sinc_interp_batch(fracs, centers, at, pending, len);
                pending = 0;
            }
        }
    };
    const unsigned workers = worker_count(threads);
    constexpr unsigned max_blocks = 64;
    const unsigned blocks = workers == 1 ? 1 : static_cast<unsigned>(std::clamp<uint64_t>(half / 4096, 1, max_blocks));
    if (blocks == 1) {
        read_block(chain, 0, half);
    } else {
        const auto bound = [half, blocks](uint64_t b) { return static_cast<uint32_t>(uint64_t{half} * b / blocks); };
        std::array<Chain, max_blocks> starts{};
        walk_ahead_for(
            blocks, workers,
            [&](unsigned b) {
                starts[b] = chain;
                for (uint32_t i = bound(b); i < bound(b + 1); ++i)
                    chain.next(u, amplitude);
                return true;
            },
            [&](unsigned b) { read_block(starts[b], bound(b), bound(b + 1)); });
    }
    // The random sequence runs on across the channels of a run.
    jitter_rng = chain.random;
    for (uint32_t i = half; i < n; ++i)
        tmpre[i] = 0.0;

    // The re-read signal becomes current.
    std::swap(sigre, tmpre);
}

} // namespace vesk
