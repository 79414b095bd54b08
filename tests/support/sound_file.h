// Audio files of other formats, written by libsndfile itself from generated
// samples, and a folder that refuses new files.
#pragma once

#include <sndfile.h>

#include <filesystem>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace vesk::test {

// Interleaved samples: integers at full scale 2^31 (exact for any PCM
// width) or doubles at full scale 1.0.  False when the library refuses.
template <typename Sample>
bool write_sound(const std::string& path, int format, int rate, int channels, const std::vector<Sample>& samples)
{
    SF_INFO info{};
    info.samplerate = rate, info.channels = channels, info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const auto n = static_cast<sf_count_t>(samples.size());
    bool written;
    if constexpr (std::is_same_v<Sample, int>)
        written = sf_write_int(file, samples.data(), n) == n;
    else
        written = sf_write_double(file, samples.data(), n) == n;
    return sf_close(file) == 0 && written;
}

// While it lives, `folder` takes no new file: its write permission goes,
// and for root, whom permissions do not stop, it is made immutable too.
class LockedFolder {
public:
    explicit LockedFolder(const std::filesystem::path& folder) : folder_(folder)
    {
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_write | std::filesystem::perms::group_write
                                                  | std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
        if (geteuid() == 0)
            immutable(true);
    }
    ~LockedFolder()
    {
        if (geteuid() == 0)
            immutable(false);
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    }

private:
    void immutable(bool on)
    {
        const int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0)
            close(fd);
    }
    std::filesystem::path folder_;
};

} // namespace vesk::test
