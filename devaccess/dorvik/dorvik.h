/* dorvik: raw printing over TCP port 9100.
 *
 * A connection is named by the IPv4 dotted-quad text that opened it; there are no handles.
 * Quv9100_Open connects on a thread of its own and reports through the callback. A transfer
 * with a callback runs on a worker thread and reports progress and its end through it; a
 * transfer without a callback makes one step per call, and the caller repeats the call until it
 * gets 2 (write complete), 1 (read complete) or an error.
 *
 * Callbacks run on dorvik's threads and must not call dorvik. Callers must not hold, across a
 * dorvik call, a lock that their callback takes. dorvik starts its threads with CreateThread, so
 * a callback should synchronise with Win32 objects (critical sections, events): a C++ runtime's
 * thread library may not know these threads (mingw-w64's 32-bit winpthread crashes them at exit
 * once std::mutex was used on them). Close every connection before unloading the
 * library: sessions still open at unload are not closed.
 *
 * Self-contained, C and C++, both widths. The 32-bit exports and the callback are cdecl.
 */
#ifndef DORVIK_H
#define DORVIK_H

#include <stddef.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QUV9100_CALL __cdecl
#else
#define QUV9100_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results and statuses. */
#define QUV9100_OK 0 /* success; single step: job still running */
#define QUV9100_READ_COMPLETE 1
#define QUV9100_WRITE_COMPLETE 2
#define QUV9100_CONNECTED 3        /* connect report */
#define QUV9100_CANCELLED 4        /* job status only; never reported */
#define QUV9100_E_EXISTS (-1)      /* Open: a session for this host text exists */
#define QUV9100_E_NO_SESSION (-2)  /* no session for this host text */
#define QUV9100_E_ARGUMENT (-3)    /* out of memory, or a NULL buffer/length, or a negative size */
#define QUV9100_E_THREAD (-4)      /* Open: connect thread not started; report: no socket */
#define QUV9100_E_BUSY (-5)        /* a job is attached already */
#define QUV9100_E_HOST (-6)        /* report: host text not a valid dotted quad */
#define QUV9100_E_SEND (-7)        /* send-side failure */
#define QUV9100_E_RECEIVE (-8)     /* receive-side failure, or the peer closed */
#define QUV9100_E_FILE_OPEN (-9)   /* the file could not be opened */
#define QUV9100_E_FILE_WRITE (-10) /* file write shorter than the bytes received */
#define QUV9100_E_FILE_READ (-11)  /* file read error */
#define QUV9100_E_CONNECT (-12)    /* report: the connection was refused or failed */
#define QUV9100_E_FILE_SETUP 10055 /* Quv9100_WriteFile: the file job could not be set up */

/* The record every callback receives; valid only during the call. */
typedef struct Raw9100Event {
    int status;    /* connect result, final job status, or 0 in a progress report */
    int wsaError;  /* Winsock error taken after the failing call, else 0 */
    int bytesDone; /* bytes moved by the job so far; 0 in the connect report */
    /* (x64: 4 bytes of padding) */
    int *cancel; /* progress reports only: set *cancel non-zero to cancel the job */
} Raw9100Event;

typedef void(QUV9100_CALL *Raw9100Callback)(Raw9100Event *event, void *userData);

#ifdef __cplusplus
static_assert(offsetof(Raw9100Event, cancel) == (sizeof(void *) == 8 ? 16 : 12),
              "Raw9100Event layout");
static_assert(sizeof(Raw9100Event) == (sizeof(void *) == 8 ? 24 : 16), "Raw9100Event size");
#else
_Static_assert(offsetof(Raw9100Event, cancel) == (sizeof(void *) == 8 ? 16 : 12),
               "Raw9100Event layout");
_Static_assert(sizeof(Raw9100Event) == (sizeof(void *) == 8 ? 24 : 16), "Raw9100Event size");
#endif

/* Exports, ordinals 1 to 8 in this order. A NULL host text counts as the empty text. */
int QUV9100_CALL Quv9100_Open(const char *host, Raw9100Callback callback, void *userData);
int QUV9100_CALL Quv9100_Close(const char *host);
/* *length: in, bytes to send; out (single step), bytes sent. */
int QUV9100_CALL Quv9100_Write(const char *host, const void *buffer, int *length,
                               Raw9100Callback callback, void *userData);
int QUV9100_CALL Quv9100_WriteFile(const char *host, const char *path, Raw9100Callback callback,
                                   void *userData);
/* *length: in, buffer size; out (single step), bytes received. An asynchronous read's buffer
 * must stay valid until its final report. */
int QUV9100_CALL Quv9100_Read(const char *host, void *buffer, int *length, Raw9100Callback callback,
                              void *userData);
/* byteCount 0: ends at the first receive. */
int QUV9100_CALL Quv9100_ReadFile(const char *host, const char *path, int byteCount,
                                  Raw9100Callback callback, void *userData);
int QUV9100_CALL Quv9100_Progress(const char *host);
int QUV9100_CALL Quv9100_Cancel(const char *host);

/* The exports' types, for binding by name. */
typedef int(QUV9100_CALL *Quv9100_OpenFn)(const char *, Raw9100Callback, void *);
typedef int(QUV9100_CALL *Quv9100_CloseFn)(const char *);
typedef int(QUV9100_CALL *Quv9100_WriteFn)(const char *, const void *, int *, Raw9100Callback,
                                           void *);
typedef int(QUV9100_CALL *Quv9100_WriteFileFn)(const char *, const char *, Raw9100Callback, void *);
typedef int(QUV9100_CALL *Quv9100_ReadFn)(const char *, void *, int *, Raw9100Callback, void *);
typedef int(QUV9100_CALL *Quv9100_ReadFileFn)(const char *, const char *, int, Raw9100Callback,
                                              void *);
typedef int(QUV9100_CALL *Quv9100_ProgressFn)(const char *);
typedef int(QUV9100_CALL *Quv9100_CancelFn)(const char *);

#ifdef __cplusplus
}
#endif

#endif /* DORVIK_H */
