// PCM sample conversion between file bytes (little-endian, b0 at the lower
// address) and doubles in fractions of full scale (-1.0 up to just below 1.0).
#pragma once

#include <cmath>
#include <cstdint>

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

// Rounds half up to a 24-bit integer and clips at full scale.
inline void encode_sample24(double x, uint8_t* bytes)
{
    double v = std::floor(x * 8388608.0 + 0.5);
    if (std::isnan(v))
        v = 0.0;
    if (v < -8388608.0)
        v = -8388608.0;
    if (v > 8388607.0)
        v = 8388607.0;
    const int32_t i = static_cast<int32_t>(v);
    bytes[0] = static_cast<uint8_t>(i & 0xFF);
    bytes[1] = static_cast<uint8_t>((i >> 8) & 0xFF);
    bytes[2] = static_cast<uint8_t>((i >> 16) & 0xFF);
}

} // namespace vesk
