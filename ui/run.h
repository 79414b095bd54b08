// Starting a run from the parameter record: what the Process action and the
// batch command "process" share, whatever front-end drives them.
#pragma once

#include <functional>

#include "engine/engine.h"
#include "ui/params.h"

namespace vesk {

// The engine's parameters for a record: the rate conversion's target
// becomes fs only when it is switched on (0 = keep the input's rate).
Params engine_params(const ParamRecord& record);

// The worker's part of a run: run, and on success log "--- DONE ---\n" and
// call `after_done` (the desktop window pauses there so the line can be
// read); then release the tables and buffers whatever the outcome.  The
// stop request is left as it is: one raised before the run began stops it
// at its first check, so a request is never lost between the caller's
// decision to run and the run itself.
RunOutcome run_worker_steps(Engine& engine, const std::function<void()>& after_done = {});

} // namespace vesk
