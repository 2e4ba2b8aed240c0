// loxim: the device access dispatcher. One entry, DeviceIO_IF(code, handle, block), opens a
// printer by port or printer name in a table of devices shared by every process that loads the
// library, and runs operations on it. 32-bit callers only: every block field is 32 bits.
//
// Memory that the entry hands out (the device information copies of codes 1 and 20) belongs
// to the caller: code 1's copy is fixed global memory, code 20's is moveable and locked, and
// GlobalFree(GlobalHandle(p)) frees either. The job buffer of codes 3 to 7 is a global memory
// handle that the caller frees with code 5.
#pragma once

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

// Function codes.
enum LoximCode : uint32_t {
    LOXIM_OPEN = 1,
    LOXIM_CLOSE = 2,
    LOXIM_JOB_ALLOC = 3,
    LOXIM_JOB_REALLOC = 4,
    LOXIM_JOB_FREE = 5,
    LOXIM_JOB_COPY_IN = 6,
    LOXIM_JOB_COPY_OUT = 7,
    LOXIM_WRITE = 8,
    LOXIM_READ = 9,
    LOXIM_SEND = 10,
    LOXIM_SEND_RESULT = 11,
    LOXIM_IS_READY = 12,
    LOXIM_DEVICE_ID = 13,
    LOXIM_PROBE = 14,
    LOXIM_STATUS_BYTE = 15,
    LOXIM_PRINTER_STATE = 16,
    LOXIM_AUX_QUERY = 17,
    LOXIM_AUX_COMMAND = 18,
    LOXIM_SET_SETTINGS = 19,
    LOXIM_DEVICE_INFO = 20,
    LOXIM_NET_STATUS = 100,
    LOXIM_NET_CONNECT = 102,
    LOXIM_NET_DISCONNECT = 103,
    LOXIM_WRITE_BACKGROUND = 104,
    LOXIM_READ_BACKGROUND = 105,
    LOXIM_PASS_THROUGH = 30000,
};

// Connection types: the handle argument of code 1, and the type a device record keeps.
enum LoximType : uint32_t {
    LOXIM_TYPE_CHOOSE = 1, // from the port name; code 1 only
    LOXIM_TYPE_PARALLEL = 2,
    LOXIM_TYPE_USB = 3,
    LOXIM_TYPE_PACKET = 4, // also 6 to 10
    LOXIM_TYPE_PACKET_USB = 5,
    LOXIM_TYPE_USB_LPT = 256,
    LOXIM_TYPE_TCPIP = 257,
    LOXIM_TYPE_DEFAULT = 4096,
};

// Results: 0 or a count on success, one of these on failure.
enum LoximResult : int32_t {
    LOXIM_OK = 0,
    LOXIM_E_PARAM = -101, // bad or missing parameter, or not offered for the port kind
    LOXIM_E_PORT_NOT_FOUND = -102,
    LOXIM_E_HANDLE = -103,     // not a device of this process
    LOXIM_E_JOB_BUFFER = -104, // no job buffer, or offset and length outside it
    LOXIM_E_NET_CONNECT = -107,
    LOXIM_E_LIBRARY = -120, // access library or its entry missing
    LOXIM_E_PORT_UNKNOWN = -121,
    LOXIM_E_OPEN = -130,
    LOXIM_E_ALREADY_OPEN = -131, // in this or another process
    LOXIM_E_TIMEOUT = -132,
    LOXIM_E_THREAD = -133,
    LOXIM_E_NET_8 = -134,
    LOXIM_E_TRANSFER = -135,
    LOXIM_E_MEMORY = -140,        // out of memory, record cannot be made, or the table is full
    LOXIM_E_BUFFER_IN_USE = -141, // job buffer locked by a send, or its release failed
    LOXIM_E_SEND = -142,
    LOXIM_E_BUSY = -150, // e.g. close during a background request
    LOXIM_E_SHORT_SEND = -151,
    LOXIM_E_READ_PENDING = -153,
    LOXIM_E_DEVICE = -160,
    LOXIM_E_STATUS = -180,
    LOXIM_E_NETWORK = -190,
};

// Per-printer transfer settings, eight u32.
struct PrinterSettings {
    uint32_t transferMode; // low byte: the transfer mode
    uint32_t jobTimeOut;
    uint32_t busyTimeOut;
    uint32_t busyConnectCheckTimeOut;
    uint32_t receiveBufferSize; // bytes
    uint32_t ustatusTimeOut;
    uint32_t goWaitBlockSize;
    uint32_t transferRate;
};

// ConnectionParams of code 1, by their first field: 36, 44 or 12.
struct ConnectionParams36 {
    uint32_t size; // 36
    PrinterSettings settings;
};
struct ConnectionParams44 {
    uint32_t size; // 44
    uint32_t serviceCode;
    const char *languageId;
    PrinterSettings settings;
};
struct ConnectionParams12 {
    uint32_t size; // 12
    uint32_t serviceCode;
    const char *languageId;
};

// Block of code 1.
struct OpenDeviceBlock {
    const char *printerName; // may be NULL
    const char *portName;    // NULL: the printer's "Port" value
    uint32_t *deviceHandle;  // required
    const void *params;      // a ConnectionParams, or NULL
    uint32_t defaultArg;     // handed to the default access library's open
    void **info;             // these three optional; all given: a copy of the record
    uint32_t *headerLength;
    uint32_t *privateSize;
};

// Block of code 20: all three required.
struct DeviceInfoRequestBlock {
    void **info;
    uint32_t *headerLength;
    uint32_t *privateSize;
};

// Start of the device record that codes 1 and 20 copy out: then the printer name and the port
// name, each NUL-terminated, and at headerLength the private area of the port kind.
struct DeviceMappingHeader {
    uint32_t headerLength;
    uint32_t reserved[2];
    uint32_t connectionType;
    uint32_t libraryModule;
    uint32_t entry;
    uint32_t privateSize;
};

// Blocks of the device operations.
struct JobAllocBlock {
    void **jobBuffer;
    uint32_t size;
    uint32_t *granted;
}; // 3
struct JobReallocBlock {
    void **jobBuffer;
    uint32_t size;
    uint32_t *granted;
}; // 4
struct JobFreeBlock {
    void **jobBuffer;
    uint32_t *cutCount;
}; // 5
struct JobCopyInBlock {
    void *jobBuffer;
    uint32_t offset;
    const void *source;
    uint32_t length;
    uint32_t *copied;
    uint32_t fill;
}; // 6
struct JobCopyOutBlock {
    void *jobBuffer;
    uint32_t offset;
    void *destination;
    uint32_t length;
    uint32_t *copied;
}; // 7
struct WriteBlock {
    const void *data;
    uint32_t length;
    uint32_t *written;
    uint32_t timeOut;
}; // 8
struct ReadBlock {
    void *buffer;
    uint32_t size;
    uint32_t *read;
    uint32_t timeOut;
}; // 9
struct SendBlock {
    void *jobBuffer;
    uint32_t offset;
    uint32_t length;
    uint32_t rate;
    uint32_t timeOut;
}; // 10
struct SendResultBlock {
    void *jobBuffer;
    uint32_t *done;
    uint32_t expected;
    uint32_t *sent;
}; // 11
struct ReadyBlock {
    uint32_t *ready;
}; // 12
struct DeviceIdBlock {
    char *buffer;
    uint32_t size;
    uint32_t *length;
    uint32_t timeOut;
}; // 13
struct ProbeBlock {
    uint32_t timeOut;
}; // 14
struct StatusByteBlock {
    uint8_t *status;
}; // 15
struct PrinterStateBlock {
    uint8_t *status;
    uint32_t *state;
    uint32_t flags;
    uint8_t *valid;
}; // 16
struct AuxQueryBlock {
    void *buffer;
}; // 17
struct SetSettingsBlock {
    const void *info;
    uint32_t flags;
    uint32_t skip;
}; // 19
struct NetStatusBlock {
    uint32_t *status;
}; // 100

// Completion of a background request, called on its thread as function(status, total, user).
typedef void(__stdcall *LoximCompletion)(int32_t status, uint32_t total, uint32_t user);
struct AsyncCallback {
    LoximCompletion function;
    uint32_t user;
};

struct BackgroundBlock {
    void *data;
    uint32_t length;
    uint32_t *total;
    uint32_t timeOut;
    const AsyncCallback *callback;
}; // 104, 105
struct PassThroughBlock {
    uint32_t control;
    const void *request;
    uint32_t requestLength;
    void *reply;
    uint32_t replySize;
    uint32_t *replyLength;
    const AsyncCallback *completion;
}; // 30000
// With a completion a TCP/IP pass-through returns at once; the completion then runs once, on the
// network library's thread or in the close, as function(result, value length, value address):
// 0 with the first binding's value (valid during the call only), -132 when no answer came,
// -160 when the agent refused the request. It must not call DeviceIO_IF: the network library
// waits for it while it closes.

// The control word of code 30000: connection type in bits 16 to 31, sub-function in bits 2 to 13.
constexpr uint32_t LoximPassThroughControl(uint32_t type, uint32_t subFunction) {
    return (type << 16) | ((subFunction & 0xfffu) << 2);
}

int32_t __stdcall DeviceIO_IF(uint32_t code, uint32_t handle, void *block);

#ifdef __cplusplus
}
#endif

#if !defined(_WIN64)
static_assert(sizeof(PrinterSettings) == 32);
static_assert(sizeof(ConnectionParams36) == 36 && sizeof(ConnectionParams44) == 44 &&
              sizeof(ConnectionParams12) == 12);
static_assert(sizeof(OpenDeviceBlock) == 32 && sizeof(DeviceInfoRequestBlock) == 12);
static_assert(sizeof(DeviceMappingHeader) == 28);
static_assert(sizeof(JobCopyInBlock) == 24 && sizeof(JobCopyOutBlock) == 20);
static_assert(sizeof(SendBlock) == 20 && sizeof(SendResultBlock) == 16);
static_assert(sizeof(PrinterStateBlock) == 16 && sizeof(SetSettingsBlock) == 12);
static_assert(sizeof(AsyncCallback) == 8 && sizeof(BackgroundBlock) == 20);
static_assert(sizeof(PassThroughBlock) == 28);
#endif
