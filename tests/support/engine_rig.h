// An engine whose current pair (and, for stages that build their result
// elsewhere, scratch pair) are vectors the test owns, through the engine's
// seam; the test writes its input there in place:
//   EngineRig rig(n);                      // sampnump = n, time domain
//   rig.re[3] = 1.0;
//   rig.seam.fft_init();                   // when the stage transforms
//   rig.seam.band_filter(nullptr, lo, hi); // result in rig.re, rig.im
// A stage that exchanges the pairs leaves its result behind seam.sigre() /
// seam.sigim() (the scratch vectors), so read it through those.
// rig.messages and rig.log hold what the engine said.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "tests/support/engine_seam.h"
#include "tests/support/recording_sinks.h"

namespace vesk::test {

// An engine reporting into recording sinks, whose current pair is (re, im), n zeros each.
struct EngineRig {
    RecordingMessages messages;
    RecordingLog log;
    Engine engine{messages, log};
    EngineSeam seam{engine};
    std::vector<double> re, im;

    explicit EngineRig(uint32_t n) : re(n, 0.0), im(n, 0.0) { seam.attach(n, re.data(), im.data()); }
};

// The same with a scratch pair full of `stale`: an entry of the result that
// still holds `stale` was never written.
struct ScratchRig : EngineRig {
    std::vector<double> scratch_re, scratch_im;

    ScratchRig(uint32_t n, double stale) : EngineRig(n), scratch_re(n, stale), scratch_im(n, stale)
    {
        seam.attach(n, re.data(), im.data(), scratch_re.data(), scratch_im.data());
    }
};

} // namespace vesk::test
