// The USB path (frennic) and the packet path (ulvane): three-argument entries with the device
// handle from the private area's first field.
#include "internal.h"

namespace loxim {

namespace {

using core::Routine;
constexpr int32_t kOk = core::kOk, kErrParam = core::kErrParam;

template <typename Block> Block *As(void *block) {
    return static_cast<Block *>(block);
}

// Status byte of each USB device of this process: asked of the library while live, else the
// byte last read. Kept outside the record, whose layout is fixed.
struct UsbCache {
    uint8_t status;
    bool live;
};
UsbCache g_usbCache[core::kSlotCount];

int32_t UsbWrite(const RecordMap &map, WriteBlock *b) {
    const uint32_t timeOut = b->timeOut;
    return WriteLoop(b, [&map, timeOut](const uint8_t *data, uint32_t rest, uint32_t *count) {
        uint32_t args[] = {U32(data), rest, U32(count), timeOut};
        return map.Call(3, map.privateArea()[0], args);
    });
}

} // namespace

void UsbCacheOpened(uint32_t slot) {
    g_usbCache[slot] = UsbCache{0xD8, true};
}

int32_t RunUsb(Routine routine, const RecordMap &map, uint32_t slot, void *block) {
    const uint32_t device = map.privateArea()[0];
    UsbCache &cache = g_usbCache[slot];
    switch (routine) {
    case Routine::UsbWrite:
        return UsbWrite(map, As<WriteBlock>(block));
    case Routine::UsbSendBuffer: {
        auto *b = As<SendBlock>(block);
        if (!Within(b->jobBuffer, b->offset, b->length))
            return core::kErrJobBuffer;
        uint32_t args[] = {U32(b->jobBuffer), b->offset, b->length, b->timeOut};
        const int32_t result = map.Call(5, device, args);
        if (result == kOk)
            cache.live = false;
        return result;
    }
    case Routine::UsbGetSendResult: {
        auto *b = As<SendResultBlock>(block);
        uint32_t args[] = {U32(b->done), U32(b->sent)};
        const int32_t result = map.Call(6, device, args);
        if (result == kOk)
            cache.live = (*b->done & 0xffu) != 0;
        return result;
    }
    case Routine::UsbIsReady:
        *As<ReadyBlock>(block)->ready =
            reinterpret_cast<const UsbPrivate *>(map.privateArea())->openState == 1 ? 1 : 2;
        return kOk;
    case Routine::UsbProbe: {
        uint32_t args[] = {100, As<ProbeBlock>(block)->timeOut};
        return map.Call(11, device, args);
    }
    case Routine::UsbReadStatusByte: {
        uint8_t *status = As<StatusByteBlock>(block)->status;
        if (!cache.live) {
            *status = cache.status;
            return kOk;
        }
        uint8_t byte = 0;
        uint32_t args[] = {U32(&byte), 100};
        const int32_t result = map.Call(12, device, args);
        if (result != kOk)
            return result;
        cache.status = static_cast<uint8_t>(byte | 0xC0);
        *status = cache.status;
        return kOk;
    }
    case Routine::UsbPassThrough: {
        auto *b = As<PassThroughBlock>(block);
        uint32_t args[] = {(b->control >> 2) & 0xfffu,
                           U32(b->request),
                           b->requestLength,
                           U32(b->reply),
                           b->replySize,
                           U32(b->replyLength)};
        return map.Call(100, device, args);
    }
    default:
        return kErrParam;
    }
}

int32_t RunMfp(Routine routine, const RecordMap &map, void *block) {
    auto &p = *reinterpret_cast<MfpPrivate *>(map.privateArea());
    switch (routine) {
    case Routine::MfpWrite: {
        auto *b = As<WriteBlock>(block);
        uint32_t args[] = {U32(b->data), b->length, U32(b->written), 1024, b->timeOut};
        const int32_t result = map.Call(3, p.handle, args);
        if (result == kOk && *b->written > b->length)
            return core::kErrDevice;
        return result;
    }
    case Routine::MfpSendBuffer: {
        auto *b = As<SendBlock>(block);
        if (!Within(b->jobBuffer, b->offset, b->length))
            return core::kErrJobBuffer;
        uint32_t args[] = {U32(b->jobBuffer), b->offset, b->length,       1024,
                           b->timeOut,        0,         U32(&p.settings)};
        return map.Call(5, p.handle, args);
    }
    case Routine::MfpReadStatusByte: {
        uint8_t *status = As<StatusByteBlock>(block)->status;
        uint32_t args[] = {U32(status)};
        const int32_t result = map.Call(12, p.handle, args);
        if (result == kOk)
            *status = core::PacketStatusByte(*status);
        return result;
    }
    default:
        return kErrParam;
    }
}

} // namespace loxim
