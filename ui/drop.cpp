#include "ui/drop.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ui/params.h"
#include "wav/import.h"

namespace vesk {

namespace {

// Enough for a WAV header's first twelve bytes and a batch file's first word.
constexpr std::size_t head_size = 512;

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A batch file is text whose first word the batch reader would act on; a
// text that starts with anything else would change nothing at best.
bool is_batch_text(const std::string& head)
{
    if (head.find('\0') != std::string::npos)
        return false;
    const auto begin = std::find_if_not(head.begin(), head.end(), is_blank);
    const std::string word(begin, std::find_if(begin, head.end(), is_blank));
    if (word == "process" || word == "stop")
        return true;
    return std::any_of(param_table().begin(), param_table().end(),
                       [&](const ParamInfo& p) { return p.keyword == word; });
}

} // namespace

DropKind classify_drop(const std::vector<std::string>& paths, bool run_under_way)
{
    if (run_under_way)
        return DropKind::during_run;
    if (paths.size() != 1)
        return DropKind::several;
    std::ifstream file(paths.front(), std::ios::binary);
    std::string head(head_size, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    if (head.size() >= 12 && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "WAVE") == 0)
        return DropKind::audio;
    if (is_batch_text(head))
        return DropKind::batch;
    wav::AudioFacts facts;
    std::string ignored;
    return wav::read_audio_facts(paths.front(), facts, ignored) ? DropKind::audio : DropKind::unknown;
}

std::string drop_refusal(DropKind kind)
{
    switch (kind) {
    case DropKind::during_run:
        return "A run is under way: please drop files when it has ended.";
    case DropKind::several:
        return "Please drop one file: an audio file or a batch file.";
    case DropKind::unknown:
        return "Only an audio file or a batch file can be dropped here.";
    case DropKind::audio:
    case DropKind::batch:
        break;
    }
    return {};
}

DropAnswer drop_answer(DropOffer offered, bool taken)
{
    if (!taken)
        return DropAnswer::none;
    if (offered.copy)
        return DropAnswer::copy;
    return offered.link ? DropAnswer::link : DropAnswer::none;
}

std::string presets_folder(const std::string& program_folder)
{
    namespace fs = std::filesystem;
    const fs::path program(program_folder);
    std::error_code ignored;
    for (const fs::path& folder : {program / "examples" / "presets", program / ".." / "share" / "vesk" / "presets"})
        if (fs::is_directory(folder, ignored))
            return fs::weakly_canonical(folder, ignored).string();
    return {};
}

} // namespace vesk
