#include "ui/run.h"

namespace vesk {

void copy_record_to_engine(const ParamRecord& record, Engine& engine)
{
    engine.inpwavname = record.inpwavname;
    engine.outwavname = record.outwavname;
    engine.fs = record.ensrc != 0 ? record.fssrc : 0;
    engine.fssim = record.fssim;
    engine.aperture = record.aperture;
    engine.bitnr = record.bitnr;
    engine.fcloin = record.fcloin;
    engine.fchiin = record.fchiin;
    engine.fcloout = record.fcloout;
    engine.fchiout = record.fchiout;
    engine.varispeedsh = record.varispeedsh != 0 ? 1 : 0;
    engine.varispeedt = record.varispeedt;
    engine.varispeedf = record.varispeedf;
    engine.jitteramp = record.jitteramp;
}

int run_worker_steps(Engine& engine, const std::function<void()>& after_done)
{
    engine.stopflag = 0;
    const int result = engine.process_wav();
    if (result == 0) {
        engine.log_line("--- DONE ---\n");
        if (after_done)
            after_done();
    }
    engine.fft_free();
    engine.free_buffers();
    return result;
}

} // namespace vesk
