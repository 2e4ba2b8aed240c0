// Result blocks on the process heap: the caller frees them with HeapFree(GetProcessHeap(), ...),
// so nothing here may come from the C runtime's own heap.
#pragma once

#include <windows.h>

#include <cstddef>
#include <utility>

#include "result_alloc.h"

namespace marfel {

// Zero-filled block of `bytes` on the process heap, or nullptr.
void *AllocResult(std::size_t bytes) noexcept;
void FreeResult(void *block) noexcept;

// The allocator the core codecs get inside the DLL.
const ResultAllocator &ProcessHeap() noexcept;

// Owner of one process-heap block; wipes it before freeing when asked to.
class HeapBlock {
  public:
    HeapBlock() = default;
    explicit HeapBlock(void *block, std::size_t size = 0, bool secret = false) noexcept
        : block_(block), size_(size), secret_(secret) {}
    HeapBlock(const HeapBlock &) = delete;
    HeapBlock &operator=(const HeapBlock &) = delete;
    HeapBlock(HeapBlock &&other) noexcept
        : block_(std::exchange(other.block_, nullptr)), size_(other.size_), secret_(other.secret_) {
    }
    HeapBlock &operator=(HeapBlock &&other) noexcept {
        if (this != &other) {
            reset();
            block_ = std::exchange(other.block_, nullptr);
            size_ = other.size_;
            secret_ = other.secret_;
        }
        return *this;
    }
    ~HeapBlock() { reset(); }

    void *get() const noexcept { return block_; }
    unsigned char *bytes() const noexcept { return static_cast<unsigned char *>(block_); }
    explicit operator bool() const noexcept { return block_ != nullptr; }
    // Hands the block to the caller.
    void *release() noexcept { return std::exchange(block_, nullptr); }
    void reset() noexcept;

  private:
    void *block_ = nullptr;
    std::size_t size_ = 0;
    bool secret_ = false;
};

} // namespace marfel
