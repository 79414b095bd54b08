// The one seam through which a test sets up a signal or a spectrum in an engine:
// its current pair (sigre, sigim), and for stages that build their result
// elsewhere its scratch pair (tmpre, tmpim), point into vectors the test owns;
// the test writes its input there in place (the engine holds their addresses):
//   EngineRig rig(n);                        // sampnump = n, time domain
//   rig.re[3] = 1.0;
//   rig.engine.fft_init();                   // when the stage transforms
//   rig.engine.band_filter(nullptr, lo, hi); // result in rig.re, rig.im
// A stage that exchanges the pairs leaves its result behind engine.sigre /
// engine.sigim (the scratch vectors), so read it through those.  rig.messages
// and rig.log hold what the engine said.  The engine frees only the buffers
// it owns, which stay empty here.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "tests/support/recording_sinks.h"

namespace vesk::test {

// An engine reporting into recording sinks, whose current pair is (re, im), n zeros each.
struct EngineRig {
    RecordingMessages messages;
    RecordingLog log;
    Engine engine{messages, log};
    std::vector<double> re, im;

    explicit EngineRig(uint32_t n) : re(n, 0.0), im(n, 0.0)
    {
        engine.sampnump = n;
        engine.sigre = re.data();
        engine.sigim = im.data();
    }
};

// The same in the time domain with a scratch pair full of `stale`: an entry
// of the result that still holds `stale` was never written.
struct ScratchRig : EngineRig {
    std::vector<double> scratch_re, scratch_im;

    ScratchRig(uint32_t n, double stale) : EngineRig(n), scratch_re(n, stale), scratch_im(n, stale)
    {
        engine.tmpre = scratch_re.data();
        engine.tmpim = scratch_im.data();
        engine.timedomain = 1;
    }
};

} // namespace vesk::test
