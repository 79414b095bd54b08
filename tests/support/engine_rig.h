// Engines wired to a test's own arrays, for the stage tests.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "tests/support/recording_sinks.h"

namespace vesk::test {

// An engine that reports into recording sinks and whose current pair is the
// test's (re, im), n zeros each.  The engine frees only its own buffers,
// which stay null here.
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

// The same in the time domain, with a scratch pair full of `stale` for a
// stage that builds its result there and exchanges the pairs.
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
