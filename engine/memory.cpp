#include "engine/memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vesk {

namespace {
constexpr uint64_t line = 64;
constexpr uint64_t huge_page = uint64_t{2} << 20;
} // namespace

void* allocate_block(uint64_t bytes)
{
    const bool large = bytes >= 2 * huge_page;
    const uint64_t alignment = large ? huge_page : line;
    // aligned_alloc wants a whole number of alignment units.  A size within
    // one unit of the top of the range would wrap to a tiny block when
    // rounded up, and be taken for the block that was asked for.
    if (bytes > SIZE_MAX - alignment)
        return nullptr;
    const uint64_t rounded = (bytes == 0 ? 1 : bytes + alignment - 1) / alignment * alignment;
    void* block = std::aligned_alloc(static_cast<std::size_t>(alignment), static_cast<std::size_t>(rounded));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only a hint: where huge pages are off the block is used as it is.
    if (block != nullptr && large)
        madvise(block, static_cast<std::size_t>(rounded), MADV_HUGEPAGE);
#endif
    return block;
}

void clear_doubles(double* first, uint64_t count, bool release)
{
#if defined(__linux__) && defined(MADV_DONTNEED)
    constexpr uintptr_t page = 4096;
    constexpr uint64_t worth_releasing = uint64_t{1} << 19; // doubles: 4 MiB
    if (release && count >= worth_releasing) {
        const auto begin = reinterpret_cast<uintptr_t>(first);
        const auto end = reinterpret_cast<uintptr_t>(first + count);
        const uintptr_t inner_begin = (begin + page - 1) / page * page;
        const uintptr_t inner_end = end / page * page;
        // The buffers are private anonymous memory: a released page reads
        // as zeros, which is what the range must hold.
        if (madvise(reinterpret_cast<void*>(inner_begin), inner_end - inner_begin, MADV_DONTNEED) == 0) {
            std::fill(first, reinterpret_cast<double*>(inner_begin), 0.0);
            std::fill(reinterpret_cast<double*>(inner_end), first + count, 0.0);
            return;
        }
    }
#else
    (void)release;
#endif
    std::fill(first, first + count, 0.0);
}

} // namespace vesk
