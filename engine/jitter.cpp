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
#include "engine/jitter_clock.h"
#include "engine/parallel.h"

namespace vesk {

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
    // (they might not fit in an int), the output is 0 all the same.  Errors
    // beyond `far` cannot put the centre within reach from any i < half;
    // the bound also keeps centre arithmetic far from overflow.
    const int len = static_cast<int>(half);
    const JitterClock clock{u, amplitude, 2.0 * static_cast<double>(half) + 32.0, int64_t{len} + 14};

    // The timing errors form one sequential chain, but reading the signal
    // at them is independent per sample.  A cheap first walk records the
    // chain's state at each block boundary, running ahead of the threads
    // that read the blocks, each replaying its own stretch of the chain
    // exactly.
    JitterChain chain;
    chain.random = jitter_rng;
    chain.end = JitterChain::draw(chain.random, amplitude); // the pending end value of the first period

    const unsigned workers = worker_count(threads);
    constexpr unsigned max_blocks = 64;
    const unsigned blocks = workers == 1 ? 1 : static_cast<unsigned>(std::clamp<uint64_t>(half / 4096, 1, max_blocks));
    if (blocks == 1) {
        read_jittered(chain, clock, 0, half, len);
    } else {
        const auto bound = [half, blocks](uint64_t b) { return static_cast<uint32_t>(uint64_t{half} * b / blocks); };
        std::array<JitterChain, max_blocks> starts{};
        walk_ahead_for(
            blocks, workers,
            [&](unsigned b) {
                starts[b] = chain;
                for (uint32_t i = bound(b); i < bound(b + 1); ++i)
                    chain.next(u, amplitude);
                return true;
            },
            [&](unsigned b) { read_jittered(starts[b], clock, bound(b), bound(b + 1), len); });
    }
    // The random sequence runs on across the channels of a run.
    jitter_rng = chain.random;
    for (uint32_t i = half; i < n; ++i)
        tmpre[i] = 0.0;

    // The re-read signal becomes current.
    std::swap(sigre, tmpre);
}

} // namespace vesk
