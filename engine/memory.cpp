#include "engine/memory.h"

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

} // namespace vesk
