#include "engine/output_file.h"

#include <chrono>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace vesk {

namespace {

std::string random_suffix()
{
    static thread_local std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    static const char digits[] = "0123456789abcdef";
    std::string suffix;
    uint64_t bits = generator();
    for (int i = 0; i < 12; ++i, bits >>= 4)
        suffix += digits[bits & 15];
    return suffix;
}

} // namespace

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::create(const std::string& target)
{
    discard();
    if (target.empty())
        return false;
    std::error_code error;
    const fs::path target_path(target);
    const fs::file_status status = fs::status(target_path, error);
    if (fs::exists(status) && !fs::is_regular_file(status))
        return false;
    const fs::path folder = target_path.has_parent_path() ? target_path.parent_path() : fs::path(".");
    // A hidden name beside the target, on the same file system, so that the
    // final rename is atomic.
    std::string stem = ".";
    stem += target_path.filename().string();
    stem += ".vesk-";
    // "x" makes the open fail if the name exists, so a file that happens to
    // carry the chosen name is never touched.
    for (int attempt = 0; attempt < 32; ++attempt) {
        const std::string candidate = (folder / (stem + random_suffix() + ".tmp")).string();
        file_ = std::fopen(candidate.c_str(), "w+bx");
        if (file_ != nullptr) {
            target_ = target;
            temp_path_ = candidate;
            return true;
        }
        if (fs::exists(candidate, error))
            continue;
        return false;
    }
    return false;
}

bool OutputFile::commit()
{
    if (file_ == nullptr)
        return false;
    bool written = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    written = std::fclose(file_) == 0 && written;
    file_ = nullptr;
    if (!written) {
        discard();
        return false;
    }
    std::error_code error;
    fs::rename(temp_path_, target_, error);
    if (error) {
        discard();
        return false;
    }
    temp_path_.clear();
    return true;
}

void OutputFile::discard()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_path_.empty()) {
        std::remove(temp_path_.c_str());
        temp_path_.clear();
    }
}

bool same_file(const std::string& a, const std::string& b)
{
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

} // namespace vesk
