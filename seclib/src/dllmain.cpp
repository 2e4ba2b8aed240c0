#include <windows.h>

// Nothing to set up or tear down: the exports keep no state.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
