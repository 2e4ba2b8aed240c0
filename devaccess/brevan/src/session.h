// brevan's private state: the session record, the session list and its two locks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dorvik.h"
#include "tessyn.h"
#include "win_owners.h"

struct TcpIpAccSession {
    bool rawOpen = false; // set by code 4, cleared by codes 8 and 12
    win::Module dorvik;
    win::Module tessyn;
    int32_t snmpPort = 0; // the result of Tessyn_OpenPort
    std::string host;
    uint16_t destPort = 0; // SNMP destination; 0 = the transport's default
    int32_t status = 0;    // the value last read by the status poll
    uint32_t handle = 0;

    Tessyn_OpenPort_t openPort = nullptr;
    Tessyn_PostSnmpMessage_t postMessage = nullptr;
    Tessyn_ClosePort_t closePort = nullptr;

    Quv9100_OpenFn rawOpenFn = nullptr;
    Quv9100_CloseFn rawClose = nullptr;
    Quv9100_WriteFn rawWrite = nullptr;
    Quv9100_ReadFn rawRead = nullptr;
    Quv9100_WriteFileFn rawWriteFile = nullptr;
    Quv9100_ReadFileFn rawReadFile = nullptr;
    Quv9100_ProgressFn rawProgress = nullptr;
    Quv9100_CancelFn rawCancel = nullptr;
};

// Process-wide state, set up and torn down by DllMain.
//   callLock serialises every call of the export, and with it every transport call.
//   listLock guards the session list and the status values; it is the only lock the status
//   response procedure takes, so a close may wait for tessyn's threads while holding callLock.
struct IpAccGlobals {
    HMODULE module = nullptr;
    CRITICAL_SECTION callLock;
    CRITICAL_SECTION listLock;
    std::vector<TcpIpAccSession *> *sessions = nullptr;
    uint32_t nextHandle = 1;
};

extern IpAccGlobals g_ipAcc;

// Loads both transports for the session and opens its SNMP port: 0 or a brevan result.
int32_t IpAccLoadTransports(TcpIpAccSession &session, uint16_t localSnmpPort);
// Closes the SNMP port, unloads both transports and clears the session's transport fields.
void IpAccUnloadTransports(TcpIpAccSession &session);

int32_t IpAccRawResult(int32_t dorvikResult);
int32_t IpAccSnmpResult(int32_t tessynResult);

// The status poll's response procedure (tessyn's threads); the context is the session handle.
void TESSYN_CALL IpAccOnSessionValue(void *context, const SnmpMessageDesc *info);
