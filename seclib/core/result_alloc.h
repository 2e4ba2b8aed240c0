// How the codecs obtain their result blocks: the DLL passes the process heap, the host tests an
// exactly sized block so the sanitizers see any write past it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marfel {

struct ResultAllocator {
    void *(*allocate)(std::size_t bytes); // zero-filled block, or nullptr
    void (*release)(void *block);
};

// Largest result the unsigned and the int length arguments of the exports can describe.
inline constexpr std::uint64_t kUnsignedLimit = 0xFFFFFFFFu;
inline constexpr std::uint64_t kIntLimit = 0x7FFFFFFFu;

} // namespace marfel
