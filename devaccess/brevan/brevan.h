/* brevan: network access to a printer by its IPv4 address text: an SNMP status poll and
 * SNMP requests through tessyn, raw printing over TCP port 9100 through dorvik.
 *
 * One export, QTcpIpAcc_IO_IF(code, handle, block), ordinal 1; stdcall in the 32-bit build.
 * Code 1 opens a session and returns its handle (positive); every other code names the session
 * by that handle. Every call is serialised under one lock across all sessions and threads.
 *
 * Callbacks: the raw callbacks of codes 4 to 6, 10 and 11 are handed to dorvik unchanged and run
 * on dorvik's threads; an SNMP message's response procedure (code 3) runs on tessyn's threads.
 * Neither may call QTcpIpAcc_IO_IF: a closing call holds brevan's lock while it waits for those
 * threads. A raw callback sees progress reports (status 0, cancel non-NULL) as well as the final
 * report (cancel NULL): tell them apart by the cancel pointer.
 *
 * Close every session (code 9) before unloading: sessions still open at unload are discarded
 * without closing their transports.
 *
 * Self-contained, C and C++, both widths. Include tessyn.h and dorvik.h for the records that
 * the blocks point to (SnmpMessageDesc, Raw9100Event).
 */
#ifndef BREVAN_H
#define BREVAN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define BREVAN_CALL __stdcall
#define BREVAN_RAW_CALL __cdecl
#else
#define BREVAN_CALL
#define BREVAN_RAW_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Codes. */
#define IPACC_OPEN 1            /* block IpAccOpenBlock; handle not used */
#define IPACC_STATUS 2          /* no block; the status value read by the previous poll */
#define IPACC_POST_SNMP 3       /* block IpAccSnmpBlock */
#define IPACC_RAW_CONNECT 4     /* block IpAccConnectBlock */
#define IPACC_RAW_WRITE 5       /* block IpAccTransferBlock */
#define IPACC_RAW_READ 6        /* block IpAccTransferBlock */
#define IPACC_RAW_PROGRESS 7    /* no block; bytes done by the running job, 0 without one */
#define IPACC_RAW_DISCONNECT 8  /* no block */
#define IPACC_CLOSE 9           /* no block; 0, also for an unlisted handle */
#define IPACC_RAW_WRITE_FILE 10 /* block IpAccFileBlock */
#define IPACC_RAW_READ_FILE 11  /* block IpAccFileBlock */
#define IPACC_RAW_CANCEL 12     /* no block; 0 */

/* Results: 0 (a handle, a status value or a count) on success, else one of these.
 * The status value of code 2 is returned as the printer gave it, and may be negative. */
#define IPACC_OK 0
#define IPACC_E_NO_TESSYN (-1) /* tessyn.dll not found, or brevan's own file name unknown */
#define IPACC_E_NO_DORVIK (-2) /* dorvik.dll not found, or brevan's own file name unknown */
#define IPACC_E_EXPORT (-3)    /* a transport lacks an export */
#define IPACC_E_MEMORY (-4)    /* out of memory, or an argument the transport refused */
#define IPACC_E_SEND (-5)      /* raw send failure, or the SNMP sender thread not started */
#define IPACC_E_RECEIVE (-6)   /* raw receive failure, or a bad SNMP variable binding */
#define IPACC_E_SESSION (-7)   /* handle 0 or unlisted, or no such transport session/port */
#define IPACC_E_OID (-9)       /* a bad or missing OID text */
#define IPACC_E_IPX (-10)      /* malformed IPX address text */
#define IPACC_E_HOST (-11)     /* host text missing or not a valid address */
#define IPACC_E_EXISTS (-12)   /* a session or connection for this host text exists */
#define IPACC_E_FILE_OPEN (-13)
#define IPACC_E_FILE_WRITE (-14)
#define IPACC_E_FILE_READ (-15)
#define IPACC_E_OTHER (-16)   /* an untranslated transport result, or a missing block */
#define IPACC_E_START (-17)   /* a thread or socket could not be started */
#define IPACC_E_CONNECT (-18) /* the connection was refused or failed */
#define IPACC_E_BUSY (-19)    /* a raw job is running already */

struct SnmpMessageDesc; /* tessyn.h */
struct Raw9100Event;    /* dorvik.h */

/* The same type as dorvik's Raw9100Callback (cdecl in the 32-bit build). */
typedef void(BREVAN_RAW_CALL *IpAccRawCallback)(struct Raw9100Event *event, void *userData);

/* Code 1. */
typedef struct IpAccOpenBlock {
    uint16_t localSnmpPort; /* 0 = any */
    const char *host;       /* IPv4 address text; NULL counts as the empty text */
    uint16_t snmpPort;      /* destination; 0 = 161 */
} IpAccOpenBlock;

/* Code 3: the descriptor is posted as it is; the transport reads it during the call. */
typedef struct IpAccSnmpBlock {
    const struct SnmpMessageDesc *desc;
} IpAccSnmpBlock;

/* Code 4: the connect result arrives through the callback (status 3 = connected). */
typedef struct IpAccConnectBlock {
    IpAccRawCallback callback;
    void *userData;
} IpAccConnectBlock;

/* Codes 5 and 6. With a callback the transfer runs on dorvik's thread and count may be NULL;
 * without one each call moves one step, count is required (else -16) and receives the
 * bytes moved. A read buffer must stay valid until the final report. */
typedef struct IpAccTransferBlock {
    IpAccRawCallback callback;
    void *userData;
    void *buffer;
    int32_t length; /* bytes to send, or the buffer's size */
    int32_t *count;
} IpAccTransferBlock;

/* Codes 10 and 11. */
typedef struct IpAccFileBlock {
    IpAccRawCallback callback;
    void *userData;
    const char *path;
    int32_t byteCount; /* code 11 only; 0 = up to the first receive */
} IpAccFileBlock;

int32_t BREVAN_CALL QTcpIpAcc_IO_IF(int32_t code, uint32_t handle, void *block);

/* The export's type, for binding by name or ordinal. */
typedef int32_t(BREVAN_CALL *QTcpIpAcc_IO_IF_t)(int32_t code, uint32_t handle, void *block);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define BREVAN_ASSERT static_assert
#else
#define BREVAN_ASSERT _Static_assert
#endif

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
BREVAN_ASSERT(sizeof(IpAccOpenBlock) == 24, "IpAccOpenBlock is 24 bytes");
BREVAN_ASSERT(offsetof(IpAccOpenBlock, host) == 8, "host at 8");
BREVAN_ASSERT(offsetof(IpAccOpenBlock, snmpPort) == 16, "snmpPort at 16");
BREVAN_ASSERT(sizeof(IpAccSnmpBlock) == 8, "IpAccSnmpBlock is 8 bytes");
BREVAN_ASSERT(sizeof(IpAccConnectBlock) == 16, "IpAccConnectBlock is 16 bytes");
BREVAN_ASSERT(sizeof(IpAccTransferBlock) == 40, "IpAccTransferBlock is 40 bytes");
BREVAN_ASSERT(offsetof(IpAccTransferBlock, buffer) == 16, "buffer at 16");
BREVAN_ASSERT(offsetof(IpAccTransferBlock, length) == 24, "length at 24");
BREVAN_ASSERT(offsetof(IpAccTransferBlock, count) == 32, "count at 32");
BREVAN_ASSERT(sizeof(IpAccFileBlock) == 32, "IpAccFileBlock is 32 bytes");
BREVAN_ASSERT(offsetof(IpAccFileBlock, byteCount) == 24, "byteCount at 24");
#elif UINTPTR_MAX == 0xFFFFFFFFu
BREVAN_ASSERT(sizeof(IpAccOpenBlock) == 12, "IpAccOpenBlock is 12 bytes");
BREVAN_ASSERT(offsetof(IpAccOpenBlock, host) == 4, "host at 4");
BREVAN_ASSERT(offsetof(IpAccOpenBlock, snmpPort) == 8, "snmpPort at 8");
BREVAN_ASSERT(sizeof(IpAccSnmpBlock) == 4, "IpAccSnmpBlock is 4 bytes");
BREVAN_ASSERT(sizeof(IpAccConnectBlock) == 8, "IpAccConnectBlock is 8 bytes");
BREVAN_ASSERT(sizeof(IpAccTransferBlock) == 20, "IpAccTransferBlock is 20 bytes");
BREVAN_ASSERT(offsetof(IpAccTransferBlock, length) == 12, "length at 12");
BREVAN_ASSERT(offsetof(IpAccTransferBlock, count) == 16, "count at 16");
BREVAN_ASSERT(sizeof(IpAccFileBlock) == 16, "IpAccFileBlock is 16 bytes");
BREVAN_ASSERT(offsetof(IpAccFileBlock, byteCount) == 12, "byteCount at 12");
#endif

#undef BREVAN_ASSERT

#endif /* BREVAN_H */
