// The shell's is-the-user-an-administrator test (shell32 ordinal 680), on its own so that a
// test program can link an answer of its own.
#include <windows.h>

#include "discover.h"

bool DiscoverUserIsAdmin() {
    HMODULE shell = GetModuleHandleA("shell32.dll");
    if (!shell)
        shell = LoadLibraryA("shell32.dll");
    using IsAdmin = BOOL(WINAPI *)();
    auto test = shell ? reinterpret_cast<IsAdmin>(
                            reinterpret_cast<void *>(GetProcAddress(shell, MAKEINTRESOURCEA(680))))
                      : nullptr;
    return !test || test() != FALSE;
}
