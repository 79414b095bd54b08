// Audio files of other formats, written by libsndfile itself from generated
// samples, and a folder that refuses new files.
#pragma once

#include <sndfile.h>

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace vesk::test {

// Interleaved samples, ints at full scale 2^31 (exact at any PCM width) or
// doubles at full scale 1.0.  False when the library refuses.
template <typename Sample>
bool write_sound(const std::string& path, int format, int rate, int channels, const std::vector<Sample>& samples)
{
    SF_INFO info{.frames = 0, .samplerate = rate, .channels = channels, .format = format, .sections = 0, .seekable = 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    const auto n = static_cast<sf_count_t>(samples.size());
    bool written = false;
    if constexpr (std::is_same_v<Sample, int>)
        written = file != nullptr && sf_write_int(file, samples.data(), n) == n;
    else
        written = file != nullptr && sf_write_double(file, samples.data(), n) == n;
    return file != nullptr && sf_close(file) == 0 && written;
}

// While it lives, `folder` takes no new file: it is immutable (for root,
// whom permissions do not stop) and, for anyone else, not writable.
class LockedFolder {
public:
    explicit LockedFolder(std::filesystem::path folder) : folder_(std::move(folder)) { lock(true); }
    ~LockedFolder() { lock(false); }

private:
    void lock(bool on)
    {
        const int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        close(fd);
        std::error_code ignored; // an immutable folder keeps its permissions
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_write,
                                     on ? std::filesystem::perm_options::remove : std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::path folder_;
};

} // namespace vesk::test
