#include "analysis/run_spectra.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/sample_codec.h"
#include "wav/wav_header.h"

namespace vesk::analysis {

bool read_channel(const std::string& path, uint32_t channel, Channel& out, std::string& error)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        error = "cannot open WAV input";
        return false;
    }
    int fmttag = 0;
    wav::WavFormat format;
    if (wav::read_wav_header(file.get(), nullptr, &fmttag, format) != 0) {
        error = "invalid or unsupported WAV-format";
        return false;
    }
    if (fmttag != 1) {
        error = "WAV must be PCM";
        return false;
    }
    const uint32_t width = format.bitnrinp / 8;
    if ((width != 1 && width != 2 && width != 3) || format.fsinp == 0) {
        error = "invalid or unsupported WAV-format";
        return false;
    }
    const uint32_t c = std::min(channel, format.chnr - 1);
    const std::size_t frames = format.inpchdatasize / width;
    out.rate = format.fsinp;
    out.channels = format.chnr;
    out.samples.assign(frames, 0.0);
    // The header reader counts only the frames the file holds; a file cut
    // shorter since is read as far as it goes.
    out.samples.resize(read_frames(file.get(), width, format.chnr, frames, c, c + 1,
                                   [&out](std::size_t i, uint32_t, double v) { out.samples[i] = v; }));
    return true;
}

RunSpectra analyse_run(const Channel& input, const Channel& output, const Params& params)
{
    RunSpectra r;
    r.input = welch_spectrum(input.samples, input.rate);
    r.output = welch_spectrum(output.samples, output.rate);
    r.tones = strongest_tones(r.input);
    Facts facts{input.rate, output.rate, 0.0};
    facts.output_gain_db = output_gain_db(r.tones, params, facts, r.output);
    r.predictions = predict(r.tones, params, facts);
    return r;
}

} // namespace vesk::analysis
