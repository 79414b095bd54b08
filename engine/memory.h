// Large blocks for the run's buffers and tables.
#pragma once

#include <cstdint>

namespace vesk {

// A block of `bytes` on a cache-line boundary (or null when it cannot be
// had); release it with std::free.  Blocks of several megabytes are placed
// on huge-page boundaries and, where the system supports it, backed by huge
// pages: a run touches hundreds of megabytes once, and the page faults of
// ordinary pages would cost more than the processing.
void* allocate_block(uint64_t bytes);

} // namespace vesk
