// Operations on an open device: block checks, the generic job buffer, the routines of the
// default and USB-to-parallel paths, dispatch to the other paths, device-ID polling and the
// background write and read.
#include <cstring>
#include <new>

#include "internal.h"

namespace loxim {

namespace {

using core::Routine;
constexpr int32_t kOk = core::kOk, kErrParam = core::kErrParam, kErrJob = core::kErrJobBuffer;

template <typename Block> Block *As(void *block) {
    return static_cast<Block *>(block);
}

} // namespace

bool Locked(HGLOBAL memory) {
    const UINT flags = GlobalFlags(memory);
    return flags != GMEM_INVALID_HANDLE && (flags & GMEM_LOCKCOUNT) != 0;
}

bool Within(HGLOBAL memory, uint32_t offset, uint32_t length) {
    const uint64_t end = uint64_t{offset} + length;
    return end <= GlobalSize(memory);
}

// ---- generic job buffer ----

int32_t JobAlloc(JobAllocBlock *b) {
    HGLOBAL memory = GlobalAlloc(GHND, b->size);
    if (!memory)
        return core::kErrMemory;
    *b->jobBuffer = memory;
    *b->granted = b->size;
    return kOk;
}

int32_t JobRealloc(JobReallocBlock *b) {
    HGLOBAL memory = *b->jobBuffer;
    if (Locked(memory))
        return core::kErrBufferInUse;
    const SIZE_T before = GlobalSize(memory);
    HGLOBAL moved = GlobalReAlloc(memory, b->size, GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (!moved)
        return core::kErrMemory;
    if (b->size > before) {
        // Growth is zero-filled.
        if (auto *p = static_cast<uint8_t *>(GlobalLock(moved))) {
            std::memset(p + before, 0, b->size - before);
            GlobalUnlock(moved);
        }
    }
    *b->jobBuffer = moved;
    *b->granted = b->size;
    return kOk;
}

int32_t JobFree(JobFreeBlock *b) {
    HGLOBAL memory = *b->jobBuffer;
    if (Locked(memory))
        return core::kErrBufferInUse;
    const SIZE_T size = GlobalSize(memory);
    if (!b->cutCount || *b->cutCount == 0 || *b->cutCount == size) {
        if (GlobalFree(memory))
            return core::kErrBufferInUse;
        *b->jobBuffer = nullptr;
        return kOk;
    }
    if (*b->cutCount > size)
        return kErrJob;
    const SIZE_T rest = size - *b->cutCount;
    HGLOBAL moved = GlobalReAlloc(memory, rest, GMEM_MOVEABLE);
    if (!moved)
        return core::kErrMemory;
    *b->jobBuffer = moved;
    *b->cutCount = static_cast<uint32_t>(rest);
    return kOk;
}

int32_t JobCopyIn(JobCopyInBlock *b) {
    if (!b->source)
        return kOk;
    if (Locked(b->jobBuffer))
        return core::kErrBufferInUse;
    if (!Within(b->jobBuffer, b->offset, b->length))
        return kErrJob;
    auto *p = static_cast<uint8_t *>(GlobalLock(b->jobBuffer));
    if (!p)
        return kErrJob;
    std::memcpy(p + b->offset, b->source, b->length);
    *b->copied = b->length;
    GlobalUnlock(b->jobBuffer);
    return kOk;
}

int32_t JobCopyOut(JobCopyOutBlock *b) {
    if (Locked(b->jobBuffer))
        return core::kErrBufferInUse;
    if (!Within(b->jobBuffer, b->offset, b->length))
        return kErrJob;
    auto *p = static_cast<const uint8_t *>(GlobalLock(b->jobBuffer));
    if (!p)
        return kErrJob;
    std::memcpy(b->destination, p + b->offset, b->length);
    *b->copied = b->length;
    GlobalUnlock(b->jobBuffer);
    return kOk;
}

namespace {

// ---- block checks: -101 (or -104) before anything is dispatched ----

int32_t CheckBlock(uint32_t code, void *block) {
    switch (code) {
    case LOXIM_CLOSE:
    case LOXIM_AUX_COMMAND:
    case LOXIM_NET_CONNECT:
    case LOXIM_NET_DISCONNECT:
        return kOk;
    default:
        break;
    }
    if (!block) {
        // Codes outside the table take no block.
        const bool hasBlock = (code >= LOXIM_JOB_ALLOC && code <= LOXIM_AUX_QUERY) ||
                              code == LOXIM_SET_SETTINGS || code == LOXIM_NET_STATUS ||
                              code == LOXIM_WRITE_BACKGROUND || code == LOXIM_READ_BACKGROUND ||
                              code == LOXIM_PASS_THROUGH;
        return hasBlock ? kErrParam : kOk;
    }
    switch (code) {
    case LOXIM_JOB_ALLOC: {
        auto *b = As<JobAllocBlock>(block);
        return b->jobBuffer && b->size && b->granted ? kOk : kErrParam;
    }
    case LOXIM_JOB_REALLOC: {
        auto *b = As<JobReallocBlock>(block);
        if (!b->jobBuffer || !b->size || !b->granted)
            return kErrParam;
        return *b->jobBuffer ? kOk : kErrJob;
    }
    case LOXIM_JOB_FREE: {
        auto *b = As<JobFreeBlock>(block);
        return b->jobBuffer && *b->jobBuffer ? kOk : kErrJob;
    }
    case LOXIM_JOB_COPY_IN: {
        auto *b = As<JobCopyInBlock>(block);
        if (b->source && !b->copied)
            return kErrParam;
        if (!b->jobBuffer)
            return kErrJob;
        if (b->copied)
            *b->copied = 0;
        return kOk;
    }
    case LOXIM_JOB_COPY_OUT: {
        auto *b = As<JobCopyOutBlock>(block);
        if (!b->destination || !b->copied)
            return kErrParam;
        if (!b->jobBuffer)
            return kErrJob;
        *b->copied = 0;
        return kOk;
    }
    case LOXIM_WRITE: {
        auto *b = As<WriteBlock>(block);
        if (!b->data || !b->written || !b->length)
            return kErrParam;
        *b->written = 0;
        return kOk;
    }
    case LOXIM_READ: {
        auto *b = As<ReadBlock>(block);
        if (!b->buffer || !b->read || !b->size)
            return kErrParam;
        *b->read = 0;
        return kOk;
    }
    case LOXIM_SEND: {
        auto *b = As<SendBlock>(block);
        if (!b->length)
            return kErrParam;
        return b->jobBuffer ? kOk : kErrJob;
    }
    case LOXIM_SEND_RESULT: {
        auto *b = As<SendResultBlock>(block);
        return b->done && b->sent ? kOk : kErrParam;
    }
    case LOXIM_IS_READY:
        return As<ReadyBlock>(block)->ready ? kOk : kErrParam;
    case LOXIM_DEVICE_ID: {
        auto *b = As<DeviceIdBlock>(block);
        if (!b->buffer || !b->size || !b->length)
            return kErrParam;
        *b->length = 0;
        return kOk;
    }
    case LOXIM_STATUS_BYTE:
        return As<StatusByteBlock>(block)->status ? kOk : kErrParam;
    case LOXIM_PRINTER_STATE: {
        auto *b = As<PrinterStateBlock>(block);
        if (!b->status || !b->state || !b->valid)
            return kErrParam;
        *b->state = 0x1000000;
        *b->valid = 0;
        return kOk;
    }
    case LOXIM_AUX_QUERY:
        return As<AuxQueryBlock>(block)->buffer ? kOk : kErrParam;
    case LOXIM_SET_SETTINGS: {
        auto *b = As<SetSettingsBlock>(block);
        return b->info && b->flags ? kOk : kErrParam;
    }
    case LOXIM_NET_STATUS:
        return As<NetStatusBlock>(block)->status ? kOk : kErrParam;
    case LOXIM_WRITE_BACKGROUND:
    case LOXIM_READ_BACKGROUND: {
        auto *b = As<BackgroundBlock>(block);
        if (!b->data || !b->length || !b->total || !b->callback)
            return kErrParam;
        *b->total = 0;
        return kOk;
    }
    default:
        return kOk;
    }
}

// ---- routines of the default and USB-to-parallel paths ----

int32_t RunRoutine(Routine routine, const RecordMap &map, uint32_t slot, void *block) {
    const uint32_t device = map.privateArea()[0];
    switch (routine) {
    case Routine::DefWrite: {
        auto *b = As<WriteBlock>(block);
        uint32_t args[] = {U32(b->data), b->length, U32(b->written), b->timeOut};
        return map.Call(3, device, args);
    }
    case Routine::MfpRead: {
        auto *b = As<ReadBlock>(block);
        uint32_t args[] = {U32(b->buffer), b->size, U32(b->read), b->timeOut};
        return map.Call(4, device, args);
    }
    case Routine::DefSendBuffer: {
        auto *b = As<SendBlock>(block);
        if (!Within(b->jobBuffer, b->offset, b->length))
            return kErrJob;
        uint32_t args[] = {U32(b->jobBuffer), b->offset, b->length, b->timeOut};
        return map.Call(5, device, args);
    }
    case Routine::UsbLptGetSendResult: {
        auto *b = As<SendResultBlock>(block);
        uint32_t args[] = {U32(b->done), U32(b->sent)};
        return map.Call(6, device, args);
    }
    case Routine::DefIsReady:
        *As<ReadyBlock>(block)->ready = 1;
        return kOk;
    case Routine::MfpReadDeviceId: {
        auto *b = As<DeviceIdBlock>(block);
        uint32_t args[] = {U32(b->buffer), b->size, U32(b->length), b->timeOut};
        return map.Call(10, device, args);
    }
    case Routine::DefProbe:
        return map.Call(11, device, nullptr);
    case Routine::DefReadStatusByte: {
        uint32_t args[] = {U32(As<StatusByteBlock>(block)->status)};
        return map.Call(12, device, args);
    }
    case Routine::UsbLptWrite: {
        auto *b = As<WriteBlock>(block);
        uint32_t args[] = {U32(b->data), b->length, U32(b->written)};
        return map.Call(3, device, args);
    }
    case Routine::UsbLptRead: {
        auto *b = As<ReadBlock>(block);
        uint32_t args[] = {U32(b->buffer), b->size, U32(b->read)};
        return map.Call(4, device, args);
    }
    case Routine::UsbLptIsReady: {
        uint32_t args[] = {U32(As<ReadyBlock>(block)->ready)};
        return map.Call(7, device, args);
    }
    case Routine::UsbLptReadDeviceId: {
        auto *b = As<DeviceIdBlock>(block);
        uint32_t args[] = {U32(b->buffer), b->size, U32(b->length), b->timeOut};
        return map.Call(8, device, args);
    }
    case Routine::UsbLptProbe: {
        uint32_t args[] = {As<ProbeBlock>(block)->timeOut};
        return map.Call(9, device, args);
    }
    case Routine::UsbLptReadStatusByte: {
        uint32_t args[] = {U32(As<StatusByteBlock>(block)->status)};
        return map.Call(10, device, args);
    }
    default:
        switch (map.type()) {
        case core::kTypeParallel:
            return RunLpt(routine, map, block);
        case core::kTypeUsb:
            return RunUsb(routine, map, slot, block);
        case core::kTypeTcpIp:
            return RunTcp(routine, map, block);
        default:
            if (core::IsPacketType(map.type()))
                return RunMfp(routine, map, block);
            return kErrParam;
        }
    }
}

// Device ID (code 13): polls until a length other than 0 and 1 comes, or the time-out.
int32_t PollDeviceId(Routine routine, const RecordMap &map, uint32_t slot, DeviceIdBlock *b) {
    const DWORD start = GetTickCount();
    for (;;) {
        uint32_t length = 0;
        DeviceIdBlock once{b->buffer, b->size, &length, b->timeOut};
        const int32_t result = RunRoutine(routine, map, slot, &once);
        if (result != kOk)
            return result;
        if (length > b->size)
            return core::kErrDevice; // the library overran the buffer
        if (length != 0 && length != 1) {
            *b->length = length;
            return kOk;
        }
        if (b->timeOut == 0)
            return kOk;
        Sleep(map.type() == core::kTypeUsbLpt ? 2000 : 500);
        if (GetTickCount() - start >= b->timeOut)
            return kOk;
    }
}

int32_t Dispatch(uint32_t code, const RecordMap &map, uint32_t slot, void *block) {
    const Routine routine = core::DispatchRoutine(code, map.type());
    switch (routine) {
    case Routine::Zero:
    case Routine::DefaultState:
        return kOk;
    case Routine::Refused:
        return kErrParam;
    case Routine::Generic:
        switch (code) {
        case LOXIM_JOB_ALLOC:
            return JobAlloc(As<JobAllocBlock>(block));
        case LOXIM_JOB_REALLOC:
            return JobRealloc(As<JobReallocBlock>(block));
        case LOXIM_JOB_FREE:
            return JobFree(As<JobFreeBlock>(block));
        case LOXIM_JOB_COPY_IN:
            return JobCopyIn(As<JobCopyInBlock>(block));
        case LOXIM_JOB_COPY_OUT:
            return JobCopyOut(As<JobCopyOutBlock>(block));
        default:
            return kErrParam;
        }
    case Routine::PassMatch:
        return (As<PassThroughBlock>(block)->control >> 16) == map.type() ? kOk : kErrParam;
    case Routine::UsbPassThrough:
    case Routine::TcpSnmpRequest:
        if ((As<PassThroughBlock>(block)->control >> 16) != map.type())
            return kErrParam;
        return RunRoutine(routine, map, slot, block);
    case Routine::MfpReadDeviceId:
    case Routine::UsbLptReadDeviceId:
    case Routine::LptReadDeviceId:
    case Routine::TcpReadDeviceId:
        return PollDeviceId(routine, map, slot, As<DeviceIdBlock>(block));
    default:
        return RunRoutine(routine, map, slot, block);
    }
}

// ---- background write and read ----

// The process's default stack: under Wine a 0x4000-byte commit for the thread crashes its
// start-up in 32-bit processes.
constexpr SIZE_T kThreadStack = 0;

struct Request {
    uint32_t slot;
    bool write;
    uint8_t *data; // the write's own copy, or the caller's buffer
    uint32_t length;
    uint32_t *total;
    uint32_t timeOut;
    LoximCompletion completion;
    uint32_t user;
};

// One write or read through the synchronous code's dispatch.
int32_t TransferOnce(const Request &r, const RecordMap &map, uint32_t done, uint32_t timeOut,
                     uint32_t &count) {
    count = 0;
    if (r.write) {
        WriteBlock b{r.data + done, r.length - done, &count, timeOut};
        return Dispatch(LOXIM_WRITE, map, r.slot, &b);
    }
    ReadBlock b{r.data + done, r.length - done, &count, timeOut};
    return Dispatch(LOXIM_READ, map, r.slot, &b);
}

DWORD WINAPI BackgroundThread(LPVOID parameter) {
    Request *r = static_cast<Request *>(parameter);
    uint32_t total = 0;
    int32_t result = kOk;
    DWORD progress = GetTickCount();
    const DWORD start = progress;
    // The slot's view for the whole request; the close waits for it.
    RecordMap map(r->slot);
    if (!map)
        result = kErrParam;
    while (result == kOk) {
        uint32_t count = 0;
        result = TransferOnce(*r, map, total, r->write ? r->timeOut : 200, count);
        if (count > r->length - total)
            count = r->length - total;
        total += count;
        if (r->write) {
            if (count > 0)
                progress = GetTickCount();
            else if (result == kOk && GetTickCount() - progress > r->timeOut)
                result = core::kErrTimeout;
        } else if (count == 0 && GetTickCount() - start > r->timeOut) {
            break;
        }
        if (total >= r->length || result != kOk)
            break;
        Sleep(100);
    }
    map = RecordMap();
    if (r->write)
        GlobalFree(r->data);
    *r->total = total;
    const LoximCompletion completion = r->completion;
    const uint32_t user = r->user;
    // The library is no longer called: a close, also from the completion, may go ahead.
    g_busy[r->slot].fetch_sub(1);
    delete r;
    if (completion)
        completion(result, total, user);
    FreeLibraryAndExitThread(g_self, 0);
}

int32_t StartBackground(uint32_t code, uint32_t slot, const RecordMap &map, BackgroundBlock *b) {
    if (!core::IsKnownType(map.type()))
        return kOk;
    Request *r = new (std::nothrow) Request{slot,
                                            code == LOXIM_WRITE_BACKGROUND,
                                            static_cast<uint8_t *>(b->data),
                                            b->length,
                                            b->total,
                                            b->timeOut,
                                            b->callback->function,
                                            b->callback->user};
    if (!r)
        return core::kErrMemory;
    if (r->write) {
        r->data = static_cast<uint8_t *>(GlobalAlloc(GPTR, b->length));
        if (!r->data) {
            delete r;
            return core::kErrMemory;
        }
        std::memcpy(r->data, b->data, b->length);
    }
    {
        // Registered under the mutex so that a close sees the request.
        TableLock lock;
        if (core::SlotOfHandle(DevManage, slot + 1, GetCurrentProcessId()) !=
            static_cast<int>(slot)) {
            if (r->write)
                GlobalFree(r->data);
            delete r;
            return core::kErrHandle;
        }
        g_busy[slot].fetch_add(1);
    }
    // The thread keeps this library loaded until it ends.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&BackgroundThread), &self);
    HANDLE thread = CreateThread(nullptr, kThreadStack, BackgroundThread, r, 0, nullptr);
    if (!thread) {
        g_busy[slot].fetch_sub(1);
        if (self)
            FreeLibrary(self);
        if (r->write)
            GlobalFree(r->data);
        delete r;
        return core::kErrThread;
    }
    CloseHandle(thread);
    return kOk;
}

} // namespace

int32_t Operate(uint32_t code, uint32_t slot, void *block) {
    const int32_t checked = CheckBlock(code, block);
    if (checked != kOk)
        return checked;
    RecordMap map(slot);
    if (!map)
        return kErrParam;
    if (code == LOXIM_WRITE_BACKGROUND || code == LOXIM_READ_BACKGROUND) {
        if (core::DispatchRoutine(code, map.type()) != Routine::Background)
            return kOk;
        return StartBackground(code, slot, map, As<BackgroundBlock>(block));
    }
    return Dispatch(code, map, slot, block);
}

} // namespace loxim
