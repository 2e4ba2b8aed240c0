// nimbrel's only code: an entry point that accepts every call. The module is otherwise
// resources, which the application reads through the resource interface.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
