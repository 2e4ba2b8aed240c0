#include "heap.h"

namespace marfel {

void *AllocResult(std::size_t bytes) noexcept {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void FreeResult(void *block) noexcept {
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

const ResultAllocator &ProcessHeap() noexcept {
    static constexpr ResultAllocator heap{&AllocResult, &FreeResult};
    return heap;
}

void HeapBlock::reset() noexcept {
    if (!block_)
        return;
    if (secret_ && size_)
        SecureZeroMemory(block_, size_);
    FreeResult(std::exchange(block_, nullptr));
}

} // namespace marfel
