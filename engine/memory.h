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

// Sets `count` doubles from `first` on to +0.0.  With `release`, the whole
// pages inside a long range are handed back to the system instead of being
// written: they read as zeros from then on and cost nothing until something
// writes them again.  That pays where the cleared range is only read later
// (a fresh page is expensive to fault in) and costs where it is written
// soon after (the page must be faulted in again), so the caller decides.
void clear_doubles(double* first, uint64_t count, bool release);

} // namespace vesk
