/* tessyn: the SNMP version 1 transport over UDP (and IPX).
 *
 * Self-contained: needs only <stddef.h> and <stdint.h>, and is the same for x64 and 32-bit
 * callers. The exports and both procedure types use the C calling convention (cdecl on
 * 32-bit Windows).
 *
 * Calling order: Tessyn_OpenPort first; then any number of Tessyn_PostSnmpMessage and
 * Tessyn_SetTrap1Proc calls with its handle; Tessyn_ClosePort last. Close every port before
 * unloading the library: unloading does not close open ports.
 *
 * Results are 0 (or a handle) on success and a small negative number on failure, one of
 * the TESSYN_E_ codes below.
 */
#ifndef TESSYN_H
#define TESSYN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TESSYN_CALL __cdecl
#else
#define TESSYN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Failure results of the exports. */
#define TESSYN_E_THREAD (-1) /* the sender thread cannot be started */
#define TESSYN_E_HANDLE (-2) /* unknown handle, or a port whose receive thread has ended */
/* out of memory, a missing descriptor or variable-binding array, a bad time-out list, all
 * request ids pending, or a message that cannot be encoded */
#define TESSYN_E_MEMORY (-3)
/* the socket cannot be created or bound, or the receive thread cannot be started */
#define TESSYN_E_SOCKET (-4)
#define TESSYN_E_OID (-5) /* a bad or missing OID text */
#define TESSYN_E_IPX (-6) /* malformed IPX address text */
/* missing host text, a host name that does not resolve, or a bad IpAddress text */
#define TESSYN_E_HOST (-7)
/* a variable binding of an unknown type or with a missing or bad value */
#define TESSYN_E_VALUE (-8)

/* Port kinds for Tessyn_OpenPort: UDP over IPv4, or IPX (any other value of the low word). */
#define TESSYN_KIND_UDP 1
#define TESSYN_KIND_IPX 2

/* Value types of a variable binding. */
#define TESSYN_TYPE_INTEGER 0x02
#define TESSYN_TYPE_OCTET_STRING 0x04
#define TESSYN_TYPE_NULL 0x05
#define TESSYN_TYPE_OBJECT_ID 0x06
#define TESSYN_TYPE_IP_ADDRESS 0x40
#define TESSYN_TYPE_COUNTER 0x41
#define TESSYN_TYPE_GAUGE 0x42
#define TESSYN_TYPE_TIME_TICKS 0x43

/* One variable binding.
 * Posting: INTEGER, Counter, Gauge, TimeTicks: value points to a 32-bit integer; OCTET STRING:
 * value points to length bytes; NULL: nothing; OBJECT IDENTIFIER and IpAddress: value is
 * dotted text.
 * Received: integers: value points to the 32-bit value, length 4; OCTET STRING: the bytes
 * followed by an uncounted NUL; NULL: value NULL, length 0; OBJECT IDENTIFIER: dotted text and
 * its length; IpAddress: the address bytes and their count. */
typedef struct SnmpVarBind {
    const char *oid;
    int32_t type;
    int32_t length;
    const void *value;
} SnmpVarBind;

struct SnmpMessageDesc;

/* Called with the response info of a matched response, or NULL when the request's last
 * time-out expired unanswered (or the response could not be read). Everything the record
 * points to is valid only until the procedure returns. */
typedef void(TESSYN_CALL *SnmpResponseProc)(void *context, const struct SnmpMessageDesc *info);

/* A request descriptor (read by Tessyn_PostSnmpMessage only), and the response info handed
 * to an SnmpResponseProc. */
typedef struct SnmpMessageDesc {
    const char *host;      /* dotted quad, host name or "NNNNNNNN:HHHHHHHHHHHH" (IPX) */
    int32_t port;          /* host order; 0 selects 161 (IPX: 0x900F) */
    int32_t pduType;       /* low byte is the PDU tag: 0xA0 GetRequest, 0xA1 GetNext, ... */
    int32_t version;       /* 0 for SNMPv1; always 0 in a response info */
    const char *community; /* NULL selects "tavmor" */
    int32_t timeouts[4];   /* milliseconds; the list ends at the first 0; at least one */
    int32_t errorStatus;
    int32_t errorIndex;
    int32_t requestId; /* assigned by the port; the received id in a response info */
    int32_t varBindCount;
    const SnmpVarBind *varBinds;
    SnmpResponseProc responseProc;
    void *responseContext;
} SnmpMessageDesc;

/* A received SNMPv1 Trap-PDU. agent is the sender's address text. */
typedef struct SnmpTrapInfo {
    int32_t reserved;
    const char *community;
    const char *enterprise;
    const char *agent;
    int32_t genericTrap;
    int32_t specificTrap;
    uint32_t timeStamp;
    int32_t varBindCount;
    const SnmpVarBind *varBinds;
} SnmpTrapInfo;

/* Called with the trap info, or NULL when the Trap-PDU was incomplete or malformed. */
typedef void(TESSYN_CALL *SnmpTrapProc)(void *context, const SnmpTrapInfo *info);

/* Opens a port: a positive handle (kind << 16 | the bound port word), TESSYN_E_MEMORY or
 * TESSYN_E_SOCKET. */
int32_t TESSYN_CALL Tessyn_OpenPort(int32_t kind, int32_t localPort);
/* Posts a request; 0 when its sender thread has started. The answer arrives later through
 * the descriptor's responseProc: exactly once for a unicast destination; every answer and
 * then one NULL for a broadcast destination (any address byte 255). */
int32_t TESSYN_CALL Tessyn_PostSnmpMessage(int32_t handle, const SnmpMessageDesc *desc);
/* Closes a port, ending its pending requests without calls: 1, or TESSYN_E_HANDLE. */
int32_t TESSYN_CALL Tessyn_ClosePort(int32_t handle);
/* Sets (or with NULL clears) the port's trap procedure: 0, or TESSYN_E_HANDLE. */
int32_t TESSYN_CALL Tessyn_SetTrap1Proc(int32_t handle, SnmpTrapProc proc, void *context);

/* The exports' types, for callers that bind them with GetProcAddress. */
typedef int32_t(TESSYN_CALL *Tessyn_OpenPort_t)(int32_t, int32_t);
typedef int32_t(TESSYN_CALL *Tessyn_PostSnmpMessage_t)(int32_t, const SnmpMessageDesc *);
typedef int32_t(TESSYN_CALL *Tessyn_ClosePort_t)(int32_t);
typedef int32_t(TESSYN_CALL *Tessyn_SetTrap1Proc_t)(int32_t, SnmpTrapProc, void *);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define TESSYN_ASSERT static_assert
#else
#define TESSYN_ASSERT _Static_assert
#endif

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
TESSYN_ASSERT(sizeof(SnmpMessageDesc) == 88, "SnmpMessageDesc is 88 bytes");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, port) == 8, "port at 8");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, pduType) == 12, "pduType at 12");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, version) == 16, "version at 16");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, community) == 24, "community at 24");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, timeouts) == 32, "timeouts at 32");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, errorStatus) == 48, "errorStatus at 48");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, errorIndex) == 52, "errorIndex at 52");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, requestId) == 56, "requestId at 56");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, varBindCount) == 60, "varBindCount at 60");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, varBinds) == 64, "varBinds at 64");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, responseProc) == 72, "responseProc at 72");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, responseContext) == 80, "responseContext at 80");
TESSYN_ASSERT(sizeof(SnmpVarBind) == 24, "SnmpVarBind is 24 bytes");
TESSYN_ASSERT(offsetof(SnmpVarBind, type) == 8, "type at 8");
TESSYN_ASSERT(offsetof(SnmpVarBind, length) == 12, "length at 12");
TESSYN_ASSERT(offsetof(SnmpVarBind, value) == 16, "value at 16");
TESSYN_ASSERT(sizeof(SnmpTrapInfo) == 56, "SnmpTrapInfo is 56 bytes");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, community) == 8, "community at 8");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, enterprise) == 16, "enterprise at 16");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, agent) == 24, "agent at 24");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, genericTrap) == 32, "genericTrap at 32");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, specificTrap) == 36, "specificTrap at 36");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, timeStamp) == 40, "timeStamp at 40");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, varBindCount) == 44, "varBindCount at 44");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, varBinds) == 48, "varBinds at 48");
#elif UINTPTR_MAX == 0xFFFFFFFFu
TESSYN_ASSERT(sizeof(SnmpMessageDesc) == 64, "SnmpMessageDesc is 64 bytes");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, community) == 16, "community at 16");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, timeouts) == 20, "timeouts at 20");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, requestId) == 44, "requestId at 44");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, varBinds) == 52, "varBinds at 52");
TESSYN_ASSERT(offsetof(SnmpMessageDesc, responseContext) == 60, "responseContext at 60");
TESSYN_ASSERT(sizeof(SnmpVarBind) == 16, "SnmpVarBind is 16 bytes");
TESSYN_ASSERT(offsetof(SnmpVarBind, value) == 12, "value at 12");
TESSYN_ASSERT(sizeof(SnmpTrapInfo) == 36, "SnmpTrapInfo is 36 bytes");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, timeStamp) == 24, "timeStamp at 24");
TESSYN_ASSERT(offsetof(SnmpTrapInfo, varBinds) == 32, "varBinds at 32");
#endif

#undef TESSYN_ASSERT

#endif /* TESSYN_H */
