// The jitter's random source: a small linear congruential generator of the
// engine's own, so that a seed gives the same sequence on every platform.
#pragma once

#include <cstdint>

namespace vesk {

class JitterRandom {
public:
    static constexpr int max_value = 32767;

    void seed(uint32_t s) { state_ = s; }

    // Uniformly distributed integer in 0 .. 32767.
    int next()
    {
        state_ = state_ * 1103515245u + 12345u;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }

private:
    uint32_t state_ = 1;
};

} // namespace vesk
