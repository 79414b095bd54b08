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
    explicit StageRig(uint32_t n, uint32_t fssim_bins = 0) : ScratchRig(n, 7.0) { seam.shape().fssim_idx = fssim_bins; }
    void load(const std::vector<double>& sre, const std::vector<double>& sim, int timedomain)
    {
        std::copy(sre.begin(), sre.end(), seam.sigre());
        std::copy(sim.begin(), sim.end(), seam.sigim());
        seam.timedomain() = timedomain;
    }
    void load_time(const std::vector<double>& x) { load(x, std::vector<double>(x.size(), 0.0), 1); }
    // The current pair, wherever the stage's exchanges have left it.
    std::vector<double> out_re() const { return {seam.sigre(), seam.sigre() + re.size()}; }
    std::vector<double> out_im() const { return {seam.sigim(), seam.sigim() + im.size()}; }
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
// bytes, every stage idle until a test switches it on; channel(c) runs
// channel c of `input` into `output`.
struct ChannelRig : StageRig {
    std::vector<uint8_t> input, output;
    ChannelRig(uint32_t n, uint32_t count, uint32_t width, uint32_t channels) : StageRig(n, n)
    {
        RunShape& s = seam.shape();
        s.fsinp = engine.params.fs = 48000;
        s.chnr = channels;
        s.bitnrinp = 8 * width;
        s.sampnuminp = s.sampnumout = count;
        s.fchiin_idx = s.fchiout_idx = n / 2; // wide open
        engine.threads = 1;
        input.assign(uint64_t{count} * channels * width, 0);
        output.assign(uint64_t{count} * channels * 3, 0xAA);
    }
    bool channel(uint32_t c)
    {
        const uint32_t width = seam.shape().bitnrinp / 8;
        return seam.process_channel(input.data() + c * width, output.data() + c * 3, c == 0 ? 1 : 0);
    }
};

} // namespace vesk::test
