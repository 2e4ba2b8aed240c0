// Guarded blocks: each ends at a no-access page and turns no-access when freed.
#pragma once

#include <cstddef>

namespace sim {

void *GuardedAlloc(size_t bytes);
void GuardedFree(void *block, size_t bytes);
bool Accessible(const void *address);

} // namespace sim
