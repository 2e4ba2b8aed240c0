// tessyn.dll: the library entry, the map of open ports and the four exports.
#include "port.h"

#include <cstring>
#include <map>
#include <new>

#include "tessyn.h"

using tessyn::SnmpPort;

namespace {

// Handle to port. Callers serialise open and close against other calls; the lock only keeps
// the map itself consistent.
std::map<int32_t, SnmpPort *> g_ports;
SRWLOCK g_portsLock = SRWLOCK_INIT;

SnmpPort *FindPort(int32_t handle) {
    AcquireSRWLockShared(&g_portsLock);
    auto it = g_ports.find(handle);
    SnmpPort *port = it == g_ports.end() ? nullptr : it->second;
    ReleaseSRWLockShared(&g_portsLock);
    return port;
}

bool ResolveHost(const char *name, uint8_t addr[4]) {
    const hostent *h = gethostbyname(name);
    if (!h || h->h_addrtype != AF_INET || h->h_length != 4 || !h->h_addr_list || !h->h_addr_list[0])
        return false;
    std::memcpy(addr, h->h_addr_list[0], 4);
    return true;
}

} // namespace

extern "C" int32_t TESSYN_CALL Tessyn_OpenPort(int32_t kind, int32_t localPort) {
    // The handle is kind << 16 | port word: only kinds 0 to 0x7FFF give a positive handle.
    if (kind < 0 || kind > 0x7FFF)
        return TESSYN_E_SOCKET;
    SnmpPort *port = new (std::nothrow) SnmpPort;
    if (!port)
        return TESSYN_E_MEMORY;
    uint16_t word = 0;
    if (int rc = port->Open(kind, localPort, word)) {
        port->Close();
        delete port;
        return rc;
    }
    const int32_t handle = kind << 16 | word;
    bool entered = false;
    AcquireSRWLockExclusive(&g_portsLock);
    try {
        entered = g_ports.emplace(handle, port).second;
    } catch (const std::bad_alloc &) {
    }
    ReleaseSRWLockExclusive(&g_portsLock);
    if (!entered) {
        port->Close();
        delete port;
        return TESSYN_E_SOCKET;
    }
    return handle;
}

extern "C" int32_t TESSYN_CALL Tessyn_PostSnmpMessage(int32_t handle, const SnmpMessageDesc *desc) {
    SnmpPort *port = FindPort(handle);
    if (!port)
        return TESSYN_E_HANDLE;
    if (!desc)
        return TESSYN_E_MEMORY;
    return port->Post(*desc);
}

extern "C" int32_t TESSYN_CALL Tessyn_ClosePort(int32_t handle) {
    SnmpPort *port = FindPort(handle);
    if (!port)
        return TESSYN_E_HANDLE;
    port->Close();
    AcquireSRWLockExclusive(&g_portsLock);
    g_ports.erase(handle);
    ReleaseSRWLockExclusive(&g_portsLock);
    delete port;
    return 1;
}

extern "C" int32_t TESSYN_CALL Tessyn_SetTrap1Proc(int32_t handle, SnmpTrapProc proc,
                                                   void *context) {
    SnmpPort *port = FindPort(handle);
    if (!port)
        return TESSYN_E_HANDLE;
    port->SetTrapProc(proc, context);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: {
        WSADATA wsa;
        if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0)
            return FALSE;
        if (wsa.wVersion != MAKEWORD(1, 1)) {
            WSACleanup();
            return FALSE;
        }
        tessyn::SetHostResolver(ResolveHost);
        return TRUE;
    }
    case DLL_PROCESS_DETACH:
        // Ports still open are left as they are: their threads cannot be waited for here.
        // At process exit Winsock is left to the system.
        tessyn::SetHostResolver(nullptr);
        if (!reserved)
            WSACleanup();
        return TRUE;
    default:
        return TRUE;
    }
}
