// PCM sample conversion between file bytes (little-endian, b0 at the lower
// address) and doubles in fractions of full scale (-1.0 up to just below 1.0).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <type_traits>
#include <vector>

namespace vesk {

// 3 bytes: 24-bit two's complement; 2 bytes: 16-bit two's complement;
// anything else: one byte of offset binary (8-bit WAV).
inline double decode_sample(const uint8_t* bytes, uint32_t width)
{
    if (width == 3) {
        int32_t v = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16);
        if (v & 0x800000)
            v -= 0x1000000;
        return v * (1.0 / 8388608.0);
    }
    if (width == 2) {
        int32_t v = bytes[0] | (bytes[1] << 8);
        if (v & 0x8000)
            v -= 0x10000;
        return v * (1.0 / 32768.0);
    }
    return (bytes[0] - 128) * (1.0 / 128.0);
}

// Rounds half up to a 24-bit integer and clips at full scale; NaN is 0.
inline void encode_sample24(double x, uint8_t* bytes)
{
    // Clipping to whole limits before rounding down gives what clipping
    // after it would, and keeps the conversion to an integer in range.
    double v = x * 8388608.0 + 0.5;
    if (!(v >= -8388608.0))
        v = v != v ? 0.0 : -8388608.0; // NaN fails the comparison too
    if (v > 8388607.0)
        v = 8388607.0;
    // The conversion truncates toward zero; one step down makes it a floor
    // for the negative fractions.
    int32_t i = static_cast<int32_t>(v);
    i -= static_cast<double>(i) > v ? 1 : 0;
    bytes[0] = static_cast<uint8_t>(i & 0xFF);
    bytes[1] = static_cast<uint8_t>((i >> 8) & 0xFF);
    bytes[2] = static_cast<uint8_t>((i >> 16) & 0xFF);
}

// Calls f with the sample width as a compile-time constant
// (std::integral_constant), so that a loop inside f does not test the width
// again for every sample.
template <typename F>
inline void with_sample_width(uint32_t width, F&& f)
{
    if (width == 3)
        f(std::integral_constant<uint32_t, 3>{});
    else if (width == 2)
        f(std::integral_constant<uint32_t, 2>{});
    else
        f(std::integral_constant<uint32_t, 1>{});
}

// Reads up to `frames` whole frames of `channels` samples, `width` bytes
// each, from `file` in blocks, and hands each sample of the channels
// first .. last-1 to take(frame, channel, value).  A file that ends early
// is read as far as it goes.  Returns the frames read.
template <typename Take>
std::size_t read_frames(std::FILE* file, uint32_t width, uint32_t channels, std::size_t frames, uint32_t first,
                        uint32_t last, const Take& take)
{
    const std::size_t frame_bytes = std::size_t{width} * channels;
    const std::size_t block_frames = std::max<std::size_t>(1, (std::size_t{1} << 20) / frame_bytes);
    std::vector<uint8_t> block(block_frames * frame_bytes);
    std::size_t done = 0;
    with_sample_width(width, [&](auto w) {
        while (done < frames) {
            const std::size_t want = std::min(block_frames, frames - done);
            const std::size_t got = std::fread(block.data(), frame_bytes, want, file);
            for (std::size_t i = 0; i < got; ++i)
                for (uint32_t c = first; c < last; ++c)
                    take(done + i, c, decode_sample(&block[i * frame_bytes + c * w], w));
            done += got;
            if (got < want)
                break;
        }
    });
    return done;
}

} // namespace vesk
