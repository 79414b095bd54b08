// The output WAV of a run.  It is written into a temporary file beside the
// target and moved onto the target only once every byte is written and the
// file is closed, so a failed, stopped or killed run never leaves a damaged
// file at the output path, nor destroys the file that was there.
#pragma once

#include <cstdio>
#include <string>

namespace vesk {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file, open for reading and writing.  Fails when
    // the target names something other than a regular file (a folder, a
    // device) or the folder cannot take a new file.
    bool create(const std::string& target);

    std::FILE* file() const { return file_; }

    // Flushes, closes and renames the temporary file onto the target.  On
    // any failure the temporary file is removed and false returned.
    bool commit();

    // Closes and removes the temporary file (also done on destruction).
    void discard();

    const std::string& temporary_path() const { return temp_path_; }

private:
    std::FILE* file_ = nullptr;
    std::string target_;
    std::string temp_path_;
};

// True when both paths name the same existing file, however spelled
// (links, "..", different case where the file system ignores it).
bool same_file(const std::string& a, const std::string& b);

} // namespace vesk
