// corvane: the printer port API the application talks to printers through.
// This is our own stand-in: network ports ("host[:port]", port 9100 by default) over TCP,
// one connection per job. Declared without dllimport so that tests can link a scripted
// port library in its place.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *QUVPORT;

typedef struct {
    const char *port;
    const char *name;
} DiscoveredPrinter;

// Failure codes, left in the thread's last-error code.
#define QUV_E_UNSUPPORTED_PORT 0x20000001u
#define QUV_E_INVALID_HANDLE 0x20000002u
#define QUV_E_INVALID_PARAMETER 0x20000003u
#define QUV_E_TIMEOUT 0x20000008u
#define QUV_E_ACCESS_DENIED 0x20000009u
#define QUV_E_JOB_ALREADY_OPEN 0x20000101u
#define QUV_E_JOB_NOT_OPEN 0x20000102u
#define QUV_E_JOB_CONNECTION 0x20000103u
#define QUV_E_WRITE 0x20000200u
#define QUV_E_READ 0x20000201u

// *ph stays 0 on failure.
BOOL WINAPI QuvOpenPort(LPCSTR port, QUVPORT *ph, DWORD reserved0);
BOOL WINAPI QuvSetPortTimeout(QUVPORT h, DWORD ms);
BOOL WINAPI QuvStartJobPort(QUVPORT h);
// TRUE with *taken < n when only part was taken in time; FALSE (QUV_E_TIMEOUT) when nothing was.
BOOL WINAPI QuvWritePort(QUVPORT h, const void *p, DWORD n, DWORD *taken, DWORD reserved0);
// TRUE with *got = 0 when nothing came in time; FALSE (QUV_E_READ) when the peer closed.
BOOL WINAPI QuvReadPort(QUVPORT h, void *buf, DWORD cap, DWORD *got, DWORD reserved0);
BOOL WINAPI QuvEndJobPort(QUVPORT h, BOOL ok);
BOOL WINAPI QuvClosePort(QUVPORT h);

// TRUE while CORVANE_LOCAL_PRINTERS is set; else FALSE with QUV_E_ACCESS_DENIED.
BOOL WINAPI QuvIsAccessAvailable(void);
// Kind 0 searches the local ports of the multi-sz target list, kind 1 the IP targets
// ("a.b.c.d[:port]"; a broadcast target sweeps loopback addresses). The callback runs on the
// search's own thread: once per printer, then once with NULL. Ends within timeout[0] ms
// (scaled by CORVANE_TIMEOUT_SCALE). *out stays NULL on failure.
BOOL WINAPI QuvStartPrinterDiscovery(DWORD kind, DWORD zero, const char *multiSzTargets,
                                     const DWORD timeout[2],
                                     void(CALLBACK *cb)(HANDLE, const DiscoveredPrinter *, void *),
                                     void *ctx, HANDLE *out);
// Stops the search and waits for it: nothing is called back afterwards. Refused
// (QUV_E_INVALID_PARAMETER) from inside the search's callback.
BOOL WINAPI QuvClosePrinterDiscovery(HANDLE h);

#ifdef __cplusplus
}
#endif
