// Splitting a pass over independent pieces across the machine's cores.
#pragma once

#include <algorithm>
#include <atomic>
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

// A pass over blocks 0 .. blocks-1 whose blocks each need a starting state
// that only a cheap sequential walk can give (a position accumulated step by
// step, a random sequence).  walk(b) is called for b = 0, 1, ... in order on
// one thread and prepares block b; it returns false when block b is the
// last one with work.  work(b) does block b, on any thread, once walk(b) has
// returned.  The walk runs ahead while the other threads work behind it, and
// its thread joins them when it is done, so the walk costs only its head
// start.  Returns the number of blocks walked (and worked).
template <typename Walk, typename Work>
unsigned walk_ahead_for(unsigned blocks, unsigned threads, Walk&& walk, Work&& work)
{
    if (threads <= 1 || blocks <= 1) {
        unsigned b = 0;
        while (b < blocks) {
            const bool more = walk(b);
            work(b++);
            if (!more)
                break;
        }
        return b;
    }
    constexpr unsigned finished = 1u << 31;
    std::atomic<unsigned> walked{0}; // blocks ready, plus `finished` once the walk is over
    std::atomic<unsigned> next{0};   // the next block for a thread to take
    const auto work_loop = [&] {
        for (;;) {
            const unsigned b = next.fetch_add(1);
            unsigned state = walked.load(std::memory_order_acquire);
            while ((state & ~finished) <= b) {
                if (state & finished)
                    return;
                walked.wait(state, std::memory_order_acquire);
                state = walked.load(std::memory_order_acquire);
            }
            work(b);
        }
    };
    // Task 1 walks (on a thread of its own, or first of all on this one
    // when no thread can be had) and the others only work, so a worker
    // never waits for a walk that has not begun.
    parallel_for(threads, threads, 1, [&](uint64_t first, uint64_t last) {
        for (uint64_t task = first; task < last; ++task) {
            if (task == 1) {
                unsigned b = 0;
                bool more = true;
                while (more && b < blocks) {
                    more = walk(b);
                    walked.store(++b, std::memory_order_release);
                    walked.notify_all();
                }
                walked.store(b | finished, std::memory_order_release);
                walked.notify_all();
            }
            work_loop();
        }
    });
    return walked.load() & ~finished;
}

} // namespace vesk
