// What the stage tests share: a rig whose scratch pair holds stale values
// (so a stage that forgets to write a bin shows it), signals and spectra to
// feed it, and an engine set up to run whole channels of interleaved bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/engine.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace vesk::test {

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double stale = 7.0;

struct StageRig : ScratchRig {
    explicit StageRig(uint32_t n, uint32_t fssim_bins = 0) : ScratchRig(n, stale)
    {
        engine.fssim_idx = fssim_bins;
    }
    void load_time(const std::vector<double>& samples)
    {
        std::copy(samples.begin(), samples.end(), engine.sigre);
        std::fill(engine.sigim, engine.sigim + samples.size(), 0.0);
        engine.timedomain = 1;
    }
    void load_spectrum(const std::vector<double>& sre, const std::vector<double>& sim)
    {
        std::copy(sre.begin(), sre.end(), engine.sigre);
        std::copy(sim.begin(), sim.end(), engine.sigim);
        engine.timedomain = 0;
    }
    // The current pair, wherever the stage's exchanges have left it.
    std::vector<double> out_re() const { return {engine.sigre, engine.sigre + re.size()}; }
    std::vector<double> out_im() const { return {engine.sigim, engine.sigim + im.size()}; }
};

// A real signal's spectrum: random bins, real DC and Nyquist, the negative
// frequencies the conjugates of the positive ones.
struct Spectrum {
    std::vector<double> re, im;
};
inline Spectrum hermitian_spectrum(uint32_t n, uint64_t seed)
{
    Spectrum s{random_values(n, seed), random_values(n, seed + 1000)};
    s.im[0] = 0.0;
    s.im[n / 2] = 0.0;
    for (uint32_t k = 1; k < n / 2; ++k) {
        s.re[n - k] = s.re[k];
        s.im[n - k] = -s.im[k];
    }
    return s;
}

// An engine sized as the run driver would size it for `count` samples per
// channel of `width` bytes, with every stage idle; a test switches on what
// it needs.  The input and output bytes are the rig's own.
struct ChannelRig : StageRig {
    std::vector<uint8_t> input, output;
    ChannelRig(uint32_t n, uint32_t count, uint32_t width, uint32_t channels) : StageRig(n, n)
    {
        Engine& e = engine;
        e.fsinp = 48000;
        e.params.fs = 48000;
        e.params.fssim = 48000.0;
        e.chnr = channels;
        e.bitnrinp = 8 * width;
        e.sampnuminp = e.sampnumout = count;
        e.fchiin_idx = e.fchiout_idx = n / 2; // wide open
        e.threads = 1;
        input.assign(uint64_t{count} * channels * width, 0);
        output.assign(uint64_t{count} * channels * 3, 0xAA);
        e.inpsampptr = input.data();
        e.outsampptr = output.data();
    }
};

} // namespace vesk::test
