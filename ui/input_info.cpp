#include "ui/input_info.h"

#include <algorithm>
#include <cstdio>

#include "wav/wav_header.h"

namespace vesk {

namespace {

struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

InputInfo facts_of(const wav::WavFormat& format)
{
    // A sample takes whole bytes in the file, so bits that are no multiple
    // of 8 are rounded up to the bytes that hold them; below 8 bits that is
    // one byte, where dividing by the truncated byte count would divide by
    // zero.
    const uint32_t bytes_per_sample = std::max<uint32_t>(1, (format.bitnrinp + 7) / 8);
    InputInfo info;
    info.samples = format.inpchdatasize / bytes_per_sample;
    info.quantization = format.bitnrinp;
    info.size = format.inpchdatasize * format.chnr;
    info.samplerate = format.fsinp;
    info.channels = format.chnr;
    return info;
}

} // namespace

InputInfoResult read_input_info(const std::string& path, InputInfo& info)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return InputInfoResult::cannot_open;
    int fmttag = 0;
    wav::WavFormat format;
    {
        const FileCloser closer{file};
        if (wav::read_wav_header(file, nullptr, &fmttag, format) != 0)
            return InputInfoResult::invalid_format;
    }
    if (fmttag != 1)
        return InputInfoResult::not_pcm;
    info = facts_of(format);
    return InputInfoResult::ok;
}

std::string input_info_message(InputInfoResult result)
{
    switch (result) {
    case InputInfoResult::ok:
        break;
    case InputInfoResult::cannot_open:
        return "cannot open WAV input";
    case InputInfoResult::invalid_format:
        return "wav-in: invalid or unsupported WAV-format";
    case InputInfoResult::not_pcm:
        return "wav-in: WAV must be PCM\n";
    }
    return {};
}

std::string format_input_info(const InputInfo& info)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "samples:     %10u\n"
                  "quantization:%10u bit\n"
                  "size:        %10u bytes\n"
                  "samplerate:  %10u Hz\n"
                  "channels:    %10u\n",
                  info.samples, info.quantization, info.size, info.samplerate, info.channels);
    return text;
}

} // namespace vesk
