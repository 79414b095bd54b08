// Large blocks for the run's buffers and tables.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

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

// An array of `T` in one block from allocate_block, owned: it is freed when
// replaced, released or destroyed, so no path of a run can leak it.
template <typename T>
class Block {
public:
    T* data() const { return block_.get(); }
    T& operator[](uint64_t i) const { return block_[i]; }
    uint64_t size() const { return size_; } // elements; 0 = none
    // Makes the block hold `count` elements (their values unspecified),
    // keeping it when it already does.  On failure the block is empty and
    // false is returned.
    bool reserve(uint64_t count)
    {
        if (count == size_ && block_)
            return true;
        release();
        if (count > UINT64_MAX / sizeof(T))
            return false;
        block_.reset(static_cast<T*>(allocate_block(count * sizeof(T))));
        if (!block_)
            return false;
        size_ = count;
        return true;
    }
    void release()
    {
        block_.reset();
        size_ = 0;
    }

private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T[], Free> block_;
    uint64_t size_ = 0;
};

} // namespace vesk
