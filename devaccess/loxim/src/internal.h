// Inside the dispatcher: the shared table, the global mutex, views of device records and the
// routines the entry dispatches to.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "loxim.h"
#include "loxim_core.h"
#include "win_owners.h"

extern "C" {
extern loxim::core::DeviceTable DevManage;
extern volatile LONG EntryNo;
}

// The core's codes, results and types are the public ones.
static_assert(int64_t{loxim::core::kCodeOpen} == LOXIM_OPEN);
static_assert(int64_t{loxim::core::kCodeClose} == LOXIM_CLOSE);
static_assert(int64_t{loxim::core::kCodeJobAlloc} == LOXIM_JOB_ALLOC);
static_assert(int64_t{loxim::core::kCodeJobRealloc} == LOXIM_JOB_REALLOC);
static_assert(int64_t{loxim::core::kCodeJobFree} == LOXIM_JOB_FREE);
static_assert(int64_t{loxim::core::kCodeJobCopyIn} == LOXIM_JOB_COPY_IN);
static_assert(int64_t{loxim::core::kCodeJobCopyOut} == LOXIM_JOB_COPY_OUT);
static_assert(int64_t{loxim::core::kCodeWrite} == LOXIM_WRITE);
static_assert(int64_t{loxim::core::kCodeRead} == LOXIM_READ);
static_assert(int64_t{loxim::core::kCodeSend} == LOXIM_SEND);
static_assert(int64_t{loxim::core::kCodeSendResult} == LOXIM_SEND_RESULT);
static_assert(int64_t{loxim::core::kCodeIsReady} == LOXIM_IS_READY);
static_assert(int64_t{loxim::core::kCodeDeviceId} == LOXIM_DEVICE_ID);
static_assert(int64_t{loxim::core::kCodeProbe} == LOXIM_PROBE);
static_assert(int64_t{loxim::core::kCodeStatusByte} == LOXIM_STATUS_BYTE);
static_assert(int64_t{loxim::core::kCodePrinterState} == LOXIM_PRINTER_STATE);
static_assert(int64_t{loxim::core::kCodeAuxQuery} == LOXIM_AUX_QUERY);
static_assert(int64_t{loxim::core::kCodeAuxCommand} == LOXIM_AUX_COMMAND);
static_assert(int64_t{loxim::core::kCodeSetSettings} == LOXIM_SET_SETTINGS);
static_assert(int64_t{loxim::core::kCodeDeviceInfo} == LOXIM_DEVICE_INFO);
static_assert(int64_t{loxim::core::kCodeNetStatus} == LOXIM_NET_STATUS);
static_assert(int64_t{loxim::core::kCodeNetConnect} == LOXIM_NET_CONNECT);
static_assert(int64_t{loxim::core::kCodeNetDisconnect} == LOXIM_NET_DISCONNECT);
static_assert(int64_t{loxim::core::kCodeWriteBackground} == LOXIM_WRITE_BACKGROUND);
static_assert(int64_t{loxim::core::kCodeReadBackground} == LOXIM_READ_BACKGROUND);
static_assert(int64_t{loxim::core::kCodePassThrough} == LOXIM_PASS_THROUGH);
static_assert(int64_t{loxim::core::kOk} == LOXIM_OK);
static_assert(int64_t{loxim::core::kErrParam} == LOXIM_E_PARAM);
static_assert(int64_t{loxim::core::kErrPortNotFound} == LOXIM_E_PORT_NOT_FOUND);
static_assert(int64_t{loxim::core::kErrHandle} == LOXIM_E_HANDLE);
static_assert(int64_t{loxim::core::kErrJobBuffer} == LOXIM_E_JOB_BUFFER);
static_assert(int64_t{loxim::core::kErrNetConnect} == LOXIM_E_NET_CONNECT);
static_assert(int64_t{loxim::core::kErrLibrary} == LOXIM_E_LIBRARY);
static_assert(int64_t{loxim::core::kErrPortUnknown} == LOXIM_E_PORT_UNKNOWN);
static_assert(int64_t{loxim::core::kErrOpen} == LOXIM_E_OPEN);
static_assert(int64_t{loxim::core::kErrAlreadyOpen} == LOXIM_E_ALREADY_OPEN);
static_assert(int64_t{loxim::core::kErrTimeout} == LOXIM_E_TIMEOUT);
static_assert(int64_t{loxim::core::kErrThread} == LOXIM_E_THREAD);
static_assert(int64_t{loxim::core::kErrNet8} == LOXIM_E_NET_8);
static_assert(int64_t{loxim::core::kErrTransfer} == LOXIM_E_TRANSFER);
static_assert(int64_t{loxim::core::kErrMemory} == LOXIM_E_MEMORY);
static_assert(int64_t{loxim::core::kErrBufferInUse} == LOXIM_E_BUFFER_IN_USE);
static_assert(int64_t{loxim::core::kErrSend} == LOXIM_E_SEND);
static_assert(int64_t{loxim::core::kErrBusy} == LOXIM_E_BUSY);
static_assert(int64_t{loxim::core::kErrShortSend} == LOXIM_E_SHORT_SEND);
static_assert(int64_t{loxim::core::kErrReadPending} == LOXIM_E_READ_PENDING);
static_assert(int64_t{loxim::core::kErrDevice} == LOXIM_E_DEVICE);
static_assert(int64_t{loxim::core::kErrStatus} == LOXIM_E_STATUS);
static_assert(int64_t{loxim::core::kErrNetwork} == LOXIM_E_NETWORK);
static_assert(int64_t{loxim::core::kTypeChoose} == LOXIM_TYPE_CHOOSE);
static_assert(int64_t{loxim::core::kTypeParallel} == LOXIM_TYPE_PARALLEL);
static_assert(int64_t{loxim::core::kTypeUsb} == LOXIM_TYPE_USB);
static_assert(int64_t{loxim::core::kTypePacket} == LOXIM_TYPE_PACKET);
static_assert(int64_t{loxim::core::kTypePacketUsb} == LOXIM_TYPE_PACKET_USB);
static_assert(int64_t{loxim::core::kTypeUsbLpt} == LOXIM_TYPE_USB_LPT);
static_assert(int64_t{loxim::core::kTypeTcpIp} == LOXIM_TYPE_TCPIP);
static_assert(int64_t{loxim::core::kTypeDefault} == LOXIM_TYPE_DEFAULT);

namespace loxim {

using core::RecordView;

inline uint32_t U32(const void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
template <typename T> T *Ptr(uint32_t v) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(v));
}

// This library's own module.
extern HMODULE g_self;

// Background requests still making library calls, per slot of this process.
extern std::atomic<LONG> g_busy[core::kSlotCount];

// The system-wide mutex "DEVACC.OBJECT": one handle for the process's lifetime, opened at
// attach and closed at unload.
extern HANDLE g_tableMutex;

// Holds the system-wide mutex for its lifetime.
class TableLock {
  public:
    TableLock();
    ~TableLock();
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;
    explicit operator bool() const { return mutex_ != nullptr; }

  private:
    HANDLE mutex_;
    win::Handle own_; // opened for this use only (the process's handle could not be opened)
};

// A read/write view of one device record. A slot of this process keeps one view from its open
// to its close; every call on the device holds a reference to it, and the view is unmapped
// when the slot has let it go and the last call ends.
class RecordMap {
  public:
    RecordMap() = default;
    // The view of a slot of this process: the one kept since its open, or, for a slot that this
    // load of the library did not open, one mapped now and kept from here on.
    explicit RecordMap(uint32_t slot);
    // A new view of a mapping, not kept by any slot yet; empty when it cannot be mapped.
    static RecordMap Map(HANDLE mapping);
    RecordMap(RecordMap &&other) noexcept : view_(other.view_) { other.view_ = nullptr; }
    RecordMap &operator=(RecordMap &&other) noexcept;
    ~RecordMap();
    RecordMap(const RecordMap &) = delete;
    RecordMap &operator=(const RecordMap &) = delete;
    explicit operator bool() const { return view_ != nullptr && view_->readable; }
    bool Mapped() const { return view_ != nullptr; }

    uint8_t *base() const { return view_->base; }
    const RecordView &record() const { return view_->record; }
    uint32_t type() const { return view_->record.header.type; }
    uint32_t *privateArea() const {
        return reinterpret_cast<uint32_t *>(view_->base + view_->record.header.headerLength);
    }
    // Reads the record's header and names again (the create writes them into its view); false
    // when they do not lie within the view.
    bool Reread();
    // The access library's entry (3 arguments); -101 when none is bound.
    int32_t Call(uint32_t op, uint32_t handle, void *block) const;
    // The parallel library's entry (4 arguments) with the private area's handle and port number.
    int32_t CallLpt(uint32_t op, void *block) const;
    bool HasEntry() const { return view_->record.header.entry != 0; }

    // Makes this view the one the slot keeps until DropSlotView.
    void KeepFor(uint32_t slot);

    struct View {
        HANDLE mapping;
        uint8_t *base;
        size_t size;   // readable bytes of the view
        bool readable; // the record lies within the view
        RecordView record;
        volatile LONG refs; // holders: the slot's keep and each call
    };

  private:
    explicit RecordMap(View *view) : view_(view) {}
    View *view_ = nullptr;
};

// The slot lets its view go (at the close): it is unmapped once no call holds it.
void DropSlotView(uint32_t slot);
// Every slot lets its view go (at unload).
void DropAllSlotViews();

// Mapping handle of a slot of this process.
inline HANDLE SlotMapping(uint32_t slot) {
    return Ptr<void>(DevManage.slots[slot].mapping);
}

// ---- registry (reg.cpp) ----

// Reads a value of the printer's key (or its "PrinterDriverData" subkey) into a buffer of `size`
// bytes, whatever its type; true when found.
bool ReadPrinterRegValue(const char *printer, bool driverData, const char *name, void *buffer,
                         DWORD size);
// As above for a text of at most `size` bytes into a buffer of size+1 bytes, always terminated.
bool ReadPrinterRegText(const char *printer, bool driverData, const char *name, char *buffer,
                        DWORD size);
// The defaults, replaced by the printer's values where they are set.
void ReadPrinterSettings(const char *printer, PrinterSettings &settings);

// ---- devices (device.cpp) ----

HMODULE LoadAccessLibrary(const char *file);
int32_t OpenDevice(uint32_t type, OpenDeviceBlock *block);
int32_t CloseDevice(uint32_t slot);
int32_t CopyDeviceInfo(uint32_t slot, DeviceInfoRequestBlock *block);

// ---- paths (paths.cpp) ----

struct CreateArgs {
    uint32_t type;
    const char *printer;
    const char *port;
    const PrinterSettings *settings; // NULL where the kind takes none
    const void *params;
    uint32_t defaultArg;
};

// What a create made, for the open to keep or to undo.
struct Created {
    win::Handle mapping;
    RecordMap view; // the record's view, kept by the slot once the open succeeds
    int slot = -1;
    win::Module module;  // loaded by this create
    bool opened = false; // the kind's open succeeded
};

// Private areas by port kind.
struct LptPrivate {
    uint32_t handle;
    int32_t portNumber;
    uint32_t bufferMode; // non-zero: the library's job buffers; 0: global memory
    PrinterSettings settings;
};
struct UsbPrivate {
    uint32_t handle;
    int32_t portNumber;
    uint32_t openState;
    uint32_t reserved;
};
struct MfpPrivate {
    uint32_t handle;
    uint32_t reserved;
    uint32_t bufferMode;
    PrinterSettings settings;
    uint32_t reserved2;
};
static_assert(sizeof(LptPrivate) == 44 && sizeof(UsbPrivate) == 16 && sizeof(MfpPrivate) == 48);

int32_t CreateDevice(const CreateArgs &args, Created &made);
// The kind's close; 0 when the kind has none.
int32_t CloseKind(const RecordMap &map);

// ---- operations (ops.cpp) ----

int32_t Operate(uint32_t code, uint32_t slot, void *block);

// Generic job buffer, codes 3 to 7.
int32_t JobAlloc(JobAllocBlock *b);
int32_t JobRealloc(JobReallocBlock *b);
int32_t JobFree(JobFreeBlock *b);
int32_t JobCopyIn(JobCopyInBlock *b);
int32_t JobCopyOut(JobCopyOutBlock *b);
// The global memory block has a lock count.
bool Locked(HGLOBAL memory);
// offset + length lies within the global memory block.
bool Within(HGLOBAL memory, uint32_t offset, uint32_t length);

// Pause of an idle loop after a step that moved nothing.
constexpr DWORD kIdlePauseMs = 10;

// The write loop of the parallel and USB paths: step(data, rest, &count) writes from the current
// position and gives its (mapped) result. The count goes to the caller's total; the time-out is
// counted from the start; a count above what was asked ends it with a device error.
template <typename Step> int32_t WriteLoop(WriteBlock *b, Step step) {
    const DWORD start = GetTickCount();
    const auto *data = static_cast<const uint8_t *>(b->data);
    uint32_t done = 0;
    while (done < b->length) {
        uint32_t count = 0;
        const uint32_t rest = b->length - done;
        const int32_t result = step(data + done, rest, &count);
        if (result != core::kOk)
            return result;
        if (count > rest)
            return core::kErrDevice;
        done += count;
        *b->written = done;
        if (done == b->length)
            break;
        if (GetTickCount() - start >= b->timeOut)
            return core::kErrTimeout;
        if (count == 0)
            Sleep(kIdlePauseMs);
    }
    return core::kOk;
}

// ---- parallel path (lpt.cpp) ----

// The parallel open on a record whose private area holds the settings.
int32_t LptOpenDevice(const RecordMap &map, const char *printer, const char *port);
int32_t LptCloseDevice(const RecordMap &map);
int32_t RunLpt(core::Routine routine, const RecordMap &map, void *block);

// ---- TCP/IP path (tcp.cpp) ----

// Opens a network session for the host text and keeps it in the private area.
int32_t TcpOpenDevice(const RecordMap &map, const char *host);
int32_t TcpCloseDevice(const RecordMap &map);
int32_t RunTcp(core::Routine routine, const RecordMap &map, void *block);

// ---- USB and packet paths (usb.cpp) ----

// The status cache of a USB device of this process, by slot.
void UsbCacheOpened(uint32_t slot);
int32_t RunUsb(core::Routine routine, const RecordMap &map, uint32_t slot, void *block);
int32_t RunMfp(core::Routine routine, const RecordMap &map, void *block);

} // namespace loxim
