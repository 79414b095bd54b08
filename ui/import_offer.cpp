#include "ui/import_offer.h"

#include <filesystem>

#include "engine/output_file.h"
#include "ui/input_info.h"

namespace fs = std::filesystem;

namespace vesk {

namespace {

std::string name_of(const std::string& path)
{
    return fs::path(path).filename().string();
}

} // namespace

InputKind classify_input(const std::string& path, wav::AudioFacts& facts)
{
    InputInfo info;
    if (read_input_info(path, info) == InputInfoResult::ok
        && (info.quantization == 8 || info.quantization == 16 || info.quantization == 24))
        return InputKind::runnable;
    std::string ignored;
    return wav::read_audio_facts(path, facts, ignored) ? InputKind::convertible : InputKind::other;
}

std::string conversion_question(const std::string& source)
{
    return "Vesk processes PCM WAV files. Convert '" + name_of(source) + "' to a PCM WAV and use it as input?";
}

std::string conversion_offer(const std::string& source, const wav::AudioFacts& facts)
{
    return name_of(source) + ": " + wav::describe_audio(facts, facts.frames) + "\n\n" + conversion_question(source);
}

std::string import_failure(const std::string& source, const std::string& reason)
{
    return "cannot import " + name_of(source) + ": " + reason;
}

std::string free_wav_name(const std::string& folder, const std::string& source)
{
    const std::string stem = fs::path(source).stem().string();
    std::error_code ignored;
    fs::path candidate = fs::path(folder) / (stem + ".wav");
    for (int n = 1; fs::exists(fs::symlink_status(candidate, ignored)); ++n)
        candidate = fs::path(folder) / (stem + "-" + std::to_string(n) + ".wav");
    return candidate.string();
}

bool folder_takes_new_files(const std::string& folder)
{
    OutputFile probe;
    const bool created = probe.create((fs::path(folder) / "probe").string());
    probe.discard();
    return created;
}

} // namespace vesk
