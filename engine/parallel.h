// Splitting a pass over independent pieces across the machine's cores.
#pragma once

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace vesk {

// How many threads a pass may use: `setting` 0 follows the machine, any
// other value is taken as it is (1 = everything on the calling thread).
inline unsigned worker_count(unsigned setting)
{
    if (setting != 0)
        return setting;
    // Asked once: the library reads it from the system every time.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

// Calls body(begin, end) on consecutive blocks that together cover
// [0, count), at most `threads` of them at once, each block at least
// `min_block` long so that small passes stay on the calling thread.  The
// blocks are independent, so the result does not depend on how many threads
// ran them.  Returns when every block is done.
template <typename Body>
void parallel_for(uint64_t count, unsigned threads, uint64_t min_block, Body&& body)
{
    const uint64_t by_size = std::max<uint64_t>(1, count / std::max<uint64_t>(1, min_block));
    const uint64_t blocks = std::min<uint64_t>(threads == 0 ? 1 : threads, by_size);
    if (blocks <= 1) {
        body(uint64_t{0}, count);
        return;
    }
    std::vector<std::thread> helpers;
    helpers.reserve(blocks - 1);
    const auto bounds = [count, blocks](uint64_t b) { return count * b / blocks; };
    for (uint64_t b = 1; b < blocks; ++b) {
        // A helper that cannot be started (no address space left for its
        // stack, the process's thread limit reached) leaves its block to
        // this thread: slower, the same result, and no run lost to it.
        try {
            helpers.emplace_back([&body, &bounds, b] { body(bounds(b), bounds(b + 1)); });
        } catch (const std::system_error&) {
            body(bounds(b), bounds(b + 1));
        }
    }
    body(bounds(0), bounds(1));
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace vesk
