#include "session.h"

IpAccGlobals g_ipAcc;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_ipAcc.module = instance;
        g_ipAcc.sessions = new (std::nothrow) std::vector<TcpIpAccSession *>;
        if (!g_ipAcc.sessions)
            return FALSE;
        InitializeCriticalSection(&g_ipAcc.callLock);
        InitializeCriticalSection(&g_ipAcc.listLock);
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        // A failed attach is followed by a detach: nothing was set up then.
        if (!g_ipAcc.sessions)
            break;
        // Sessions still open are discarded without closing their transports: waiting for
        // the transports' threads is not possible here.
        for (TcpIpAccSession *session : *g_ipAcc.sessions)
            delete session;
        delete g_ipAcc.sessions;
        g_ipAcc.sessions = nullptr;
        DeleteCriticalSection(&g_ipAcc.listLock);
        DeleteCriticalSection(&g_ipAcc.callLock);
        break;
    default:
        break;
    }
    return TRUE;
}
