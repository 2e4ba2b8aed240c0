// Guarded blocks of the simulated pool and requests: each ends where a no-access page
// begins, and turns no-access when freed, so an overrun or a use after free faults at once.
#include <windows.h>

#include "sim_pages.h"

#include <cstdint>

namespace sim {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kArena = 192u * 1024 * 1024;

unsigned char *g_arena = nullptr;
size_t g_next = 0;

size_t PagesFor(size_t bytes) {
    return (bytes + kPage - 1) / kPage;
}

} // namespace

void *GuardedAlloc(size_t bytes) {
    if (g_arena == nullptr) {
        g_arena =
            static_cast<unsigned char *>(VirtualAlloc(nullptr, kArena, MEM_RESERVE, PAGE_NOACCESS));
        if (g_arena == nullptr)
            return nullptr;
    }
    const size_t rounded = (bytes + 7) & ~static_cast<size_t>(7);
    const size_t pages = PagesFor(rounded == 0 ? 8 : rounded);
    // The page after the block stays reserved only: no access.
    if (g_next + (pages + 1) * kPage > kArena)
        g_next = 0; // addresses are reused only after the whole arena went round
    unsigned char *base = g_arena + g_next;
    g_next += (pages + 1) * kPage;
    if (VirtualAlloc(base, pages * kPage, MEM_COMMIT, PAGE_READWRITE) == nullptr)
        return nullptr;
    return base + pages * kPage - (rounded == 0 ? 8 : rounded);
}

void GuardedFree(void *block, size_t bytes) {
    const size_t rounded = (bytes + 7) & ~static_cast<size_t>(7);
    const size_t size = rounded == 0 ? 8 : rounded;
    auto *end = static_cast<unsigned char *>(block) + size;
    const size_t pages = PagesFor(size);
    VirtualFree(end - pages * kPage, pages * kPage, MEM_DECOMMIT);
}

bool Accessible(const void *address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) == 0)
        return false;
    return info.State == MEM_COMMIT && (info.Protect & (PAGE_READWRITE | PAGE_READONLY)) != 0;
}

} // namespace sim
