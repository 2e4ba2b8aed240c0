// A scriptable stand-in of the modes and transfers for the request tests: results per call,
// a record of the calls, and a write that goes block by block and stops at the next block
// once the request's cancel flag is set.
#pragma once

#include "par_transfer.h"

#include <string>
#include <vector>

struct TransferScript {
    BOOLEAN negotiation = TRUE;
    UCHAR negotiationStatus = 0x5A;
    BOOLEAN compat = TRUE;
    BOOLEAN compat2 = TRUE;
    ULONG compat2Sent = ~0u; // ~0: all bytes
    BOOLEAN mce = TRUE;
    LONG ecp = 1;
    ULONG writeBlock = 0; // bytes per block of a write request; 0: the whole request
    LONG blockDelayMs = 0;
    NTSTATUS readStatus = STATUS_SUCCESS;
    std::vector<UCHAR> readData;
    NTSTATUS idStatus = STATUS_SUCCESS; // a failure is returned as it is
    std::vector<UCHAR> deviceId;
    BOOLEAN rateOk = TRUE;
    ULONG rate = 1234;

    std::vector<std::string> calls; // "negotiate 5", "terminate", "write 10", ...
    std::vector<UCHAR> sent;        // bytes the writers were handed
    LONG callsWithoutPort = 0;      // transfers made while the request held no port
};

extern TransferScript g_transfer;
void ResetTransferScript();
