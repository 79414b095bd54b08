// Starting a run from the parameter record: what the Process action and the
// batch command "process" share, whatever front-end drives them.
#pragma once

#include <functional>

#include "engine/engine.h"
#include "ui/params.h"

namespace vesk {

// Copies the record into the engine's parameters: the rate conversion's
// target becomes fs only when it is switched on (0 = keep the input's rate).
void copy_record_to_engine(const ParamRecord& record, Engine& engine);

// The worker's part of a run: clear the stop request, run, and on success
// log "--- DONE ---\n" and call `after_done` (the desktop window pauses there
// so the line can be read); then release the tables and buffers whatever the
// outcome.  Returns process_wav's result.
int run_worker_steps(Engine& engine, const std::function<void()>& after_done = {});

} // namespace vesk
