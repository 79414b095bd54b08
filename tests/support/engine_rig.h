// The one seam through which a test sets up a signal or a spectrum in an
// engine: the engine's current pair (sigre, sigim) and, for stages that build
// their result elsewhere, its scratch pair (tmpre, tmpim) point into vectors
// the test owns, so the test writes its input and reads the result there
// without touching any other internal buffer.
//
//   EngineRig rig(n);          // sampnump = n, current pair = (rig.re, rig.im)
//   rig.re[3] = 1.0;           // the input, n zeros to start with
//   rig.engine.fft_init();     // when the stage needs the transform
//   rig.engine.band_filter(nullptr, lo, hi);
//   ... rig.re / rig.im hold the result; rig.messages and rig.log what the
//   engine said.
//
// A stage that builds its result in the scratch pair and exchanges the pairs
// leaves engine.sigre pointing at rig.scratch_re: read the result through
// engine.sigre / engine.sigim, not through the vector names.  The engine
// frees only the Blocks it owns, which stay empty here, so the vectors
// outlive nothing they should not.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "tests/support/recording_sinks.h"

namespace vesk::test {

// An engine reporting into recording sinks, whose current pair is the test's
// (re, im) of n zeros each, in the time domain (timedomain = 1, as a new
// engine starts).
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

// The same with a scratch pair full of `stale`, so that a test sees which
// entries a stage writes and which it must clear: every entry of the result
// that still holds `stale` was forgotten.
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
