// The parallel path: zorla's entry takes the device handle and the port number with every
// operation; its results map onto the entry's codes by operation.
#include <cstring>

#include "internal.h"

namespace loxim {

namespace {

using core::MapLptResult;
using core::Routine;
constexpr int32_t kOk = core::kOk, kErrParam = core::kErrParam;
constexpr uint32_t kPage = 4096;

template <typename Block> Block *As(void *block) {
    return static_cast<Block *>(block);
}

LptPrivate &Area(const RecordMap &map) {
    return *reinterpret_cast<LptPrivate *>(map.privateArea());
}

uint32_t TransferMode(const LptPrivate &p) {
    return p.settings.transferMode & 0xffu;
}

void SetTransferMode(LptPrivate &p, uint32_t mode) {
    p.settings.transferMode = (p.settings.transferMode & ~0xffu) | mode;
}

int32_t ApplySettings(const RecordMap &map) {
    uint32_t block[] = {U32(&Area(map).settings)};
    return map.CallLpt(21, block);
}

uint32_t Pages(uint32_t size) {
    return static_cast<uint32_t>((uint64_t{size} + kPage - 1) / kPage);
}

// ---- library job buffers ----

int32_t PageAlloc(const RecordMap &map, JobAllocBlock *b) {
    const uint32_t pages = Pages(b->size);
    uint32_t handle = 0;
    uint32_t block[] = {pages, U32(&handle)};
    if (map.CallLpt(5, block) != kOk)
        return core::kErrMemory;
    *b->jobBuffer = Ptr<void>(handle);
    *b->granted = static_cast<uint32_t>(uint64_t{pages} * kPage);
    return kOk;
}

int32_t PageRealloc(const RecordMap &map, JobReallocBlock *b) {
    const uint32_t pages = Pages(b->size);
    uint32_t block[] = {U32(*b->jobBuffer), pages};
    if (map.CallLpt(9, block) != kOk)
        return core::kErrMemory;
    *b->granted = static_cast<uint32_t>(uint64_t{pages} * kPage);
    return kOk;
}

int32_t PageFree(const RecordMap &map, JobFreeBlock *b) {
    uint32_t block[] = {U32(*b->jobBuffer)};
    const int32_t result = MapLptResult(10, map.CallLpt(10, block));
    if (result == kOk)
        *b->jobBuffer = nullptr;
    return result;
}

int32_t PageCopyIn(const RecordMap &map, JobCopyInBlock *b) {
    int32_t copyResult = kOk;
    if (b->source) {
        uint32_t block[] = {U32(b->jobBuffer), U32(b->source), b->length, U32(b->copied)};
        copyResult = MapLptResult(6, map.CallLpt(6, block));
        if (copyResult == kOk)
            return kOk;
    }
    uint32_t fill[] = {U32(b->jobBuffer), b->offset, b->source ? 0 : b->fill};
    const int32_t fillResult = MapLptResult(8, map.CallLpt(8, fill));
    return fillResult != kOk ? fillResult : copyResult;
}

int32_t PageCopyOut(const RecordMap &map, JobCopyOutBlock *b) {
    uint32_t block[] = {U32(b->jobBuffer), U32(b->destination), b->length, U32(b->copied)};
    return MapLptResult(7, map.CallLpt(7, block));
}

// ---- transfers ----

int32_t LptWrite(const RecordMap &map, WriteBlock *b) {
    return WriteLoop(b, [&map](const uint8_t *data, uint32_t rest, uint32_t *count) {
        uint32_t block[] = {U32(data), rest, U32(count), 0, 0, 0};
        const int32_t result = map.CallLpt(13, block);
        return result == kOk ? kOk : MapLptResult(13, result);
    });
}

int32_t LptRead(const RecordMap &map, ReadBlock *b) {
    const DWORD start = GetTickCount();
    auto *buffer = static_cast<uint8_t *>(b->buffer);
    uint32_t got = 0;
    while (got < b->size) {
        uint32_t count = 0;
        const uint32_t rest = b->size - got;
        uint32_t block[] = {0, 0, 0, U32(buffer + got), rest, U32(&count)};
        const int32_t result = map.CallLpt(13, block);
        if (result != kOk)
            return MapLptResult(13, result);
        if (count > rest)
            return core::kErrDevice;
        if (count == 0 && got > 0)
            break;
        got += count;
        *b->read = got;
        if (GetTickCount() - start >= b->timeOut)
            return got > 0 ? kOk : core::kErrTimeout;
        if (count == 0)
            Sleep(kIdlePauseMs);
    }
    return kOk;
}

int32_t LptSendBuffer(const RecordMap &map, SendBlock *b) {
    LptPrivate &p = Area(map);
    uint32_t percent = 0;
    const std::string_view printer = map.record().printer;
    const std::string name(printer);
    const bool found =
        !name.empty() &&
        ReadPrinterRegValue(name.c_str(), true, "TransfarSpeedAdjust", &percent, sizeof percent);
    p.settings.transferRate = core::SendPacing(found, percent, b->rate);
    ApplySettings(map);

    uint32_t block[3];
    if (p.bufferMode) {
        block[0] = U32(b->jobBuffer);
        block[1] = b->offset;
        block[2] = b->length;
        return MapLptResult(12, map.CallLpt(12, block));
    }
    if (!Within(b->jobBuffer, b->offset, b->length))
        return core::kErrJobBuffer;
    auto *base = static_cast<uint8_t *>(GlobalLock(b->jobBuffer));
    if (!base)
        return core::kErrJobBuffer;
    block[0] = 0;
    block[1] = U32(base + b->offset);
    block[2] = b->length;
    const int32_t result = map.CallLpt(12, block);
    if (result != kOk)
        GlobalUnlock(b->jobBuffer);
    return MapLptResult(12, result);
}

int32_t LptGetSendResult(const RecordMap &map, SendResultBlock *b) {
    uint32_t block[] = {U32(b->done), U32(b->sent)};
    if (map.CallLpt(4, block) != kOk)
        return kErrParam;
    if (!*b->done)
        return kOk;
    // The send is over: the job buffer is released before a short count is reported.
    if (!Area(map).bufferMode && b->jobBuffer && Locked(b->jobBuffer))
        GlobalUnlock(b->jobBuffer);
    return *b->sent == b->expected ? kOk : core::kErrShortSend;
}

int32_t LptProbe(const RecordMap &map, ProbeBlock *b) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (map.CallLpt(15, nullptr) != kOk)
            return kErrParam;
        if (GetTickCount() - start >= b->timeOut)
            return kOk;
        Sleep(kIdlePauseMs);
    }
}

int32_t LptGetPrinterState(const RecordMap &map, PrinterStateBlock *b) {
    const core::PrinterState state =
        core::LptPrinterState(TransferMode(Area(map)), b->flags, *b->status);
    if (state.reread) {
        uint8_t scratch = 0;
        uint32_t block[] = {U32(&scratch)};
        map.CallLpt(14, block);
    }
    *b->state = state.state;
    *b->valid = state.valid;
    return kOk;
}

int32_t LptSetDeviceSettings(const RecordMap &map, SetSettingsBlock *b) {
    if (!(b->flags & 0x80000000u) || !map.HasEntry())
        return kErrParam;
    DeviceMappingHeader header;
    std::memcpy(&header, b->info, sizeof header);
    if (header.privateSize != map.record().header.privateSize)
        return kErrParam;
    if (b->skip)
        return kOk;
    // Only the settings of the copy: its handle, port number and buffer mode may be stale.
    const auto *copy = static_cast<const uint8_t *>(b->info) + header.headerLength;
    std::memcpy(&Area(map).settings, copy + offsetof(LptPrivate, settings),
                sizeof(PrinterSettings));
    ApplySettings(map);
    return kOk;
}

} // namespace

int32_t RecordMap::CallLpt(uint32_t op, void *block) const {
    using Entry = int32_t(__stdcall *)(uint32_t, uint32_t, int32_t, void *);
    const uint32_t entry = record().header.entry;
    if (!entry)
        return core::kErrParam;
    const auto &p = *reinterpret_cast<const LptPrivate *>(privateArea());
    return Ptr<std::remove_pointer_t<Entry>>(entry)(op, p.handle, p.portNumber, block);
}

int32_t LptOpenDevice(const RecordMap &map, const char *printer, const char *port) {
    LptPrivate &p = Area(map);
    const int32_t portNumber = core::PortNumber(port);
    p.portNumber = portNumber; // passed with the open; kept once it succeeded
    using Entry = int32_t(__stdcall *)(uint32_t, uint32_t, int32_t, void *);
    auto open = [&] {
        uint32_t block[] = {U32(printer), U32(port), U32(&p.settings)};
        return Ptr<std::remove_pointer_t<Entry>>(map.record().header.entry)(2, U32(&p.handle),
                                                                            portNumber, block);
    };
    auto fail = [&] {
        map.CallLpt(3, nullptr);
        return core::kErrOpen;
    };

    int32_t result = open();
    if (result == -22)
        return core::kErrPortUnknown;
    if (result == -10)
        return core::kErrMemory;
    if (result != kOk) {
        if (TransferMode(p) != 2)
            return core::kErrOpen;
        SetTransferMode(p, 0);
        if (open() != kOk)
            return core::kErrOpen;
    }

    switch (TransferMode(p)) {
    case 7: {
        const uint32_t upper = p.settings.transferMode & ~0xffu;
        p.settings.transferMode = 7;
        uint32_t block[] = {U32(&p.settings)};
        if (map.CallLpt(25, block) != kOk) {
            p.settings.transferMode |= upper;
            return fail();
        }
        p.settings.transferMode |= upper;
        break;
    }
    case 2: {
        uint32_t aux[] = {16};
        bool keep = false;
        if (map.CallLpt(23, aux) == kOk) {
            uint8_t status = 0;
            uint32_t block[] = {U32(&status)};
            if (map.CallLpt(14, block) != kOk)
                return fail();
            keep = (status & 0x10) != 0;
        }
        if (!keep) {
            SetTransferMode(p, 0);
            if (ApplySettings(map) != kOk)
                return fail();
        }
        break;
    }
    default:
        break;
    }
    return kOk;
}

int32_t LptCloseDevice(const RecordMap &map) {
    if (Area(map).handle == 0)
        return core::kErrHandle;
    return map.CallLpt(3, nullptr) == kOk ? kOk : kErrParam;
}

int32_t RunLpt(Routine routine, const RecordMap &map, void *block) {
    const bool library = Area(map).bufferMode != 0;
    switch (routine) {
    case Routine::LptAllocJobBuffer:
        return library ? PageAlloc(map, As<JobAllocBlock>(block))
                       : JobAlloc(As<JobAllocBlock>(block));
    case Routine::LptReallocJobBuffer:
        return library ? PageRealloc(map, As<JobReallocBlock>(block))
                       : JobRealloc(As<JobReallocBlock>(block));
    case Routine::LptFreeJobBuffer:
        return library ? PageFree(map, As<JobFreeBlock>(block)) : JobFree(As<JobFreeBlock>(block));
    case Routine::LptCopyToJobBuffer:
        return library ? PageCopyIn(map, As<JobCopyInBlock>(block))
                       : JobCopyIn(As<JobCopyInBlock>(block));
    case Routine::LptCopyFromJobBuffer:
        return library ? PageCopyOut(map, As<JobCopyOutBlock>(block))
                       : JobCopyOut(As<JobCopyOutBlock>(block));
    case Routine::LptWrite:
        return LptWrite(map, As<WriteBlock>(block));
    case Routine::LptRead:
        return LptRead(map, As<ReadBlock>(block));
    case Routine::LptSendBuffer:
        return LptSendBuffer(map, As<SendBlock>(block));
    case Routine::LptGetSendResult:
        return LptGetSendResult(map, As<SendResultBlock>(block));
    case Routine::LptIsReady: {
        uint32_t args[] = {U32(As<ReadyBlock>(block)->ready)};
        return MapLptResult(20, map.CallLpt(20, args));
    }
    case Routine::LptReadDeviceId: {
        auto *b = As<DeviceIdBlock>(block);
        uint32_t args[] = {U32(b->buffer), b->size, U32(b->length)};
        return MapLptResult(16, map.CallLpt(16, args));
    }
    case Routine::LptProbe:
        return LptProbe(map, As<ProbeBlock>(block));
    case Routine::LptReadStatusByte: {
        uint32_t args[] = {U32(As<StatusByteBlock>(block)->status)};
        return MapLptResult(14, map.CallLpt(14, args));
    }
    case Routine::LptGetPrinterState:
        return LptGetPrinterState(map, As<PrinterStateBlock>(block));
    case Routine::LptAuxQuery: {
        uint32_t args[] = {U32(As<AuxQueryBlock>(block)->buffer)};
        return MapLptResult(23, map.CallLpt(23, args));
    }
    case Routine::LptAuxCommand:
        return MapLptResult(24, map.CallLpt(24, nullptr));
    case Routine::LptSetDeviceSettings:
        return LptSetDeviceSettings(map, As<SetSettingsBlock>(block));
    default:
        return kErrParam;
    }
}

} // namespace loxim
