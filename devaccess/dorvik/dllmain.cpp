#include <windows.h>
#include <winsock.h>

#include "exports.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: {
        WSADATA data;
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
            return FALSE;
        if (data.wVersion != MAKEWORD(1, 1)) {
            WSACleanup();
            return FALSE;
        }
        dorvik::InitExports();
        return TRUE;
    }
    case DLL_PROCESS_DETACH:
        // Open sessions are left as they are: their threads cannot be waited for here.
        dorvik::EndExports();
        if (!reserved) // at process exit Winsock may be gone already
            WSACleanup();
        return TRUE;
    default:
        return TRUE;
    }
}
