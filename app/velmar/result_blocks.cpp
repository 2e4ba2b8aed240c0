// The heap of the discovery dialog's result blocks, on its own so that a test program can
// link a counting one.
#include <windows.h>

#include "discover.h"

char *AllocResultBlock(std::size_t size) {
    return static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, size));
}

void FreeResultBlock(char *block) {
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}
