#include "ui/run.h"

namespace vesk {

Params engine_params(const ParamRecord& record)
{
    Params params;
    params.inpwavname = record.inpwavname;
    params.outwavname = record.outwavname;
    params.fs = record.ensrc != 0 ? record.fssrc : 0;
    params.fssim = record.fssim;
    params.aperture = record.aperture;
    params.bitnr = record.bitnr;
    params.fcloin = record.fcloin;
    params.fchiin = record.fchiin;
    params.fcloout = record.fcloout;
    params.fchiout = record.fchiout;
    params.varispeedsh = record.varispeedsh != 0 ? 1 : 0;
    params.varispeedt = record.varispeedt;
    params.varispeedf = record.varispeedf;
    params.jitteramp = record.jitteramp;
    return params;
}

RunOutcome run_worker_steps(Engine& engine, const std::function<void()>& after_done)
{
    const RunOutcome outcome = engine.process_wav();
    if (outcome == RunOutcome::done) {
        engine.log_line("--- DONE ---\n");
        if (after_done)
            after_done();
    }
    engine.fft_free();
    engine.free_buffers();
    return outcome;
}

} // namespace vesk
