// What the stage tests share: a rig whose scratch holds stale values (so a bin
// a stage forgets shows), spectra, and an engine sized to run whole channels.
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

struct StageRig : ScratchRig {
    explicit StageRig(uint32_t n, uint32_t fssim_bins = 0) : ScratchRig(n, 7.0) { engine.fssim_idx = fssim_bins; }
    void load(const std::vector<double>& sre, const std::vector<double>& sim, int timedomain)
    {
        std::copy(sre.begin(), sre.end(), engine.sigre);
        std::copy(sim.begin(), sim.end(), engine.sigim);
        engine.timedomain = timedomain;
    }
    void load_time(const std::vector<double>& x) { load(x, std::vector<double>(x.size(), 0.0), 1); }
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
    s.im[0] = s.im[n / 2] = 0.0;
    for (uint32_t k = 1; k < n / 2; ++k)
        s.re[n - k] = s.re[k], s.im[n - k] = -s.im[k];
    return s;
}

// Sized as the run driver sizes a run of `count` samples per channel of `width`
// bytes, pointing at channel 0, every stage idle until a test switches it on.
struct ChannelRig : StageRig {
    std::vector<uint8_t> input, output;
    ChannelRig(uint32_t n, uint32_t count, uint32_t width, uint32_t channels) : StageRig(n, n)
    {
        engine.fsinp = engine.params.fs = 48000;
        engine.chnr = channels;
        engine.bitnrinp = 8 * width;
        engine.sampnuminp = engine.sampnumout = count;
        engine.fchiin_idx = engine.fchiout_idx = n / 2; // wide open
        engine.threads = 1;
        input.assign(uint64_t{count} * channels * width, 0);
        output.assign(uint64_t{count} * channels * 3, 0xAA);
        engine.inpsampptr = input.data();
        engine.outsampptr = output.data();
    }
};

} // namespace vesk::test
