// The TCP/IP path: one network session of brevan per connection, kept in fixed global memory
// that the private area points to. The transports call back on their own threads; the session
// lock guards the session's fields only and is never held across a call of brevan, whose calls
// may wait for those threads.
#include <cstring>
#include <string>

#include "brevan.h"
#include "dorvik.h"
#include "internal.h"
#include "tessyn.h"

namespace loxim {

namespace {

using core::MapTcpResult;
using core::MapTcpStatus;
using core::Routine;
constexpr int32_t kOk = core::kOk, kErrParam = core::kErrParam;

template <typename Block> Block *As(void *block) {
    return static_cast<Block *>(block);
}

// Session flags.
enum : uint32_t {
    kConnectPending = 0x1,
    kConnected = 0x2,
    kConnectFailed = 0x4, // the transport keeps a failed connection until it is disconnected
    kSending = 0x10,
    kSendDone = 0x100,
};

constexpr size_t kHostSize = 256;
constexpr uint32_t kChunk = 0x4000;
constexpr DWORD kStallMs = 10000;
constexpr DWORD kSnmpWaitMs = 9000;
constexpr size_t kOidMax = 1024;
constexpr int kSnmpTags = 4;

// Called when an asynchronous send ends: (result, bytes sent, user value).
using SendCompletion = void (*)(int32_t, int32_t, void *);

struct TcpSession;

// The response context of one posted request. The transport calls back once per request (a
// broadcast: once per answer, then once with NULL), possibly after the wait has given up, so
// a tag stays taken until that last call and an answer counts only for the current request.
struct SnmpTag {
    TcpSession *session;
    uint32_t request;
    uint32_t outstanding;
};

struct TcpSession {
    uint32_t handle;
    char host[kHostSize];
    IpAccOpenBlock open;
    int32_t statusValue;
    int32_t lastResult;
    uint32_t flags;
    int32_t lastStatus;
    int32_t lastWsaError;
    int32_t sent;
    uint32_t snmpPending;
    // A waiting pass-through request: where its value goes, or its completion.
    void *reply;
    uint32_t replySize;
    uint32_t *replyLength;
    int32_t snmpResult;
    LoximCompletion snmpCompletion;
    uint32_t snmpUser;
    uint32_t snmpRequest; // number of the current request
    SnmpTag snmpTags[kSnmpTags];
    // The asynchronous send: brevan's block, the count it writes, and what runs at its end.
    IpAccTransferBlock transfer;
    int32_t transferCount;
    SendCompletion completion;
    void *completionUser;
    CRITICAL_SECTION lock;
};

TcpSession *SessionOf(const RecordMap &map) {
    return Ptr<TcpSession>(map.privateArea()[0]);
}

// The checks of every routine: the entry bound and a session with a handle.
int32_t Check(const RecordMap &map, TcpSession *&session) {
    if (!map.HasEntry())
        return kErrParam;
    session = SessionOf(map);
    return session && session->handle ? kOk : core::kErrHandle;
}

int32_t Brevan(const RecordMap &map, const TcpSession &s, uint32_t code, void *block) {
    return map.Call(code, s.handle, block);
}

uint32_t Flags(TcpSession &s) {
    win::SectionLock g(s.lock);
    return s.flags;
}

void StoreResult(TcpSession &s, int32_t result) {
    win::SectionLock g(s.lock);
    s.lastResult = result;
}

// ---- connect ----

void QUV9100_CALL TcpOnConnectDone(Raw9100Event *event, void *user) {
    auto &s = *static_cast<TcpSession *>(user);
    win::SectionLock g(s.lock);
    if (event->status == QUV9100_CONNECTED) {
        s.flags = (s.flags | kConnected) & ~kConnectFailed;
        s.lastResult = kOk;
    } else {
        s.flags = (s.flags & ~kConnected) | kConnectFailed;
        s.lastResult = MapTcpStatus(event->status);
    }
    s.lastStatus = event->status;
    s.lastWsaError = event->wsaError;
    s.flags &= ~kConnectPending;
}

// Waits for a pending connect; true when connected.
bool TcpWaitConnect(TcpSession &s, uint32_t timeOut) {
    const DWORD start = GetTickCount();
    for (;;) {
        const uint32_t flags = Flags(s);
        if (!(flags & kConnectPending))
            return (flags & kConnected) != 0;
        if (GetTickCount() - start >= timeOut)
            return false;
        Sleep(10);
    }
}

int32_t TcpConnect(const RecordMap &map, TcpSession &s) {
    bool failedBefore;
    {
        // Connected, or a connect already under way: nothing to start. Otherwise this call
        // takes the connect, before the transport can report it.
        win::SectionLock g(s.lock);
        if (s.flags & (kConnected | kConnectPending))
            return kOk;
        failedBefore = (s.flags & kConnectFailed) != 0;
        s.flags = (s.flags | kConnectPending) & ~kConnectFailed;
        s.sent = 0;
    }
    // The transport still holds the failed connection: drop it so that a new one can start.
    if (failedBefore)
        Brevan(map, s, IPACC_RAW_DISCONNECT, nullptr);
    IpAccConnectBlock block{&TcpOnConnectDone, &s};
    const int32_t result = Brevan(map, s, IPACC_RAW_CONNECT, &block);
    if (result == kOk)
        return kOk;
    win::SectionLock g(s.lock);
    s.flags = (s.flags & ~kConnectPending) | kConnectFailed;
    s.lastResult = result;
    return MapTcpResult(result);
}

// The state checks of a write, read or send: a pending connect is waited for.
int32_t ReadyToTransfer(TcpSession &s, uint32_t timeOut, int32_t stillPending) {
    uint32_t flags = Flags(s);
    if (flags & kConnectPending) {
        TcpWaitConnect(s, timeOut);
        flags = Flags(s);
        if (flags & kConnectPending)
            return stillPending;
    }
    if (!(flags & kConnected))
        return core::kErrHandle;
    if (flags & kSending)
        return core::kErrBusy;
    return kOk;
}

// ---- write and read, one step of the transport per call ----

int32_t TcpWrite(const RecordMap &map, TcpSession &s, WriteBlock *b) {
    const int32_t ready = ReadyToTransfer(s, b->timeOut, core::kErrShortSend);
    if (ready != kOk)
        return ready;
    const auto *data = static_cast<const uint8_t *>(b->data);
    const DWORD limit = b->timeOut > kStallMs ? b->timeOut : kStallMs;
    DWORD progress = GetTickCount();
    uint32_t done = 0;
    while (done < b->length) {
        const uint32_t rest = b->length - done;
        const int32_t chunk = static_cast<int32_t>(rest < kChunk ? rest : kChunk);
        int32_t count = 0;
        IpAccTransferBlock block{nullptr, &s, const_cast<uint8_t *>(data + done), chunk, &count};
        const int32_t result = Brevan(map, s, IPACC_RAW_WRITE, &block);
        StoreResult(s, result);
        if (result != kOk)
            return MapTcpResult(result);
        if (count < 0 || count > chunk)
            return core::kErrDevice;
        if (count > 0) {
            done += static_cast<uint32_t>(count);
            *b->written = done;
            progress = GetTickCount();
            continue;
        }
        if (GetTickCount() - progress > limit)
            return core::kErrTimeout;
        Sleep(kIdlePauseMs);
    }
    return kOk;
}

int32_t TcpRead(const RecordMap &map, TcpSession &s, ReadBlock *b) {
    const int32_t ready = ReadyToTransfer(s, b->timeOut, core::kErrReadPending);
    if (ready != kOk)
        return ready;
    auto *buffer = static_cast<uint8_t *>(b->buffer);
    const DWORD start = GetTickCount();
    uint32_t got = 0;
    while (got < b->size) {
        const uint32_t rest = b->size - got;
        const int32_t room = static_cast<int32_t>(rest < 0x7fffffffu ? rest : 0x7fffffffu);
        int32_t count = 0;
        IpAccTransferBlock block{nullptr, &s, buffer + got, room, &count};
        const int32_t result = Brevan(map, s, IPACC_RAW_READ, &block);
        StoreResult(s, result);
        if (result != kOk)
            return MapTcpResult(result);
        if (count < 0 || count > room)
            return core::kErrDevice;
        if (count == 0 && got > 0)
            break;
        got += static_cast<uint32_t>(count);
        *b->read = got;
        if (got == b->size)
            break;
        if (GetTickCount() - start > b->timeOut)
            return core::kErrTimeout;
        if (count == 0)
            Sleep(kIdlePauseMs);
    }
    return kOk;
}

// ---- asynchronous send ----

// Ends the running send once: done, the count, the result, then its completion.
void FinishSend(TcpSession &s, int32_t result, int32_t sent) {
    SendCompletion completion;
    void *user;
    {
        win::SectionLock g(s.lock);
        if (!(s.flags & kSending))
            return;
        s.flags = (s.flags & ~kSending) | kSendDone;
        s.sent = sent;
        s.lastResult = result;
        completion = s.completion;
        user = s.completionUser;
        s.completion = nullptr;
    }
    if (completion)
        completion(result, sent, user);
}

void QUV9100_CALL TcpOnSendDone(Raw9100Event *event, void *user) {
    auto &s = *static_cast<TcpSession *>(user);
    if (event->cancel) {
        // A progress report: the job goes on.
        win::SectionLock g(s.lock);
        if (s.flags & kSending)
            s.sent = event->bytesDone;
        return;
    }
    {
        win::SectionLock g(s.lock);
        s.lastStatus = event->status;
        s.lastWsaError = event->wsaError;
    }
    FinishSend(s, event->status == QUV9100_WRITE_COMPLETE ? kOk : MapTcpStatus(event->status),
               event->bytesDone);
}

// A send that the transport ended without its final report (a disconnect or close cancels
// it): finished here with what was reported so far.
void FinishCancelledSend(TcpSession &s) {
    int32_t sent;
    {
        win::SectionLock g(s.lock);
        if (!(s.flags & kSending))
            return;
        sent = s.sent;
    }
    FinishSend(s, core::kErrShortSend, sent);
}

void TcpOnSendUnlock(int32_t, int32_t, void *user) {
    GlobalUnlock(static_cast<HGLOBAL>(user));
}

int32_t TcpStartSend(const RecordMap &map, TcpSession &s, const uint8_t *data, uint32_t length,
                     uint32_t timeOut, SendCompletion completion, void *user) {
    const int32_t ready = ReadyToTransfer(s, timeOut, core::kErrShortSend);
    if (ready != kOk)
        return ready;
    if (length > 0x7fffffffu)
        return kErrParam;
    {
        // Set before the call: the transport may report before it returns. Checked again
        // here, where it is set: another thread may have started a send since the check above.
        win::SectionLock g(s.lock);
        if (s.flags & kSending)
            return core::kErrBusy;
        s.transferCount = 0;
        s.transfer = IpAccTransferBlock{&TcpOnSendDone, &s, const_cast<uint8_t *>(data),
                                        static_cast<int32_t>(length), &s.transferCount};
        s.completion = completion;
        s.completionUser = user;
        s.sent = 0;
        s.flags = (s.flags | kSending) & ~kSendDone;
    }
    const int32_t result = Brevan(map, s, IPACC_RAW_WRITE, &s.transfer);
    if (result == kOk)
        return kOk;
    win::SectionLock g(s.lock);
    s.flags &= ~kSending;
    s.completion = nullptr;
    s.lastResult = result;
    return MapTcpResult(result);
}

int32_t TcpSendBuffer(const RecordMap &map, TcpSession &s, SendBlock *b) {
    if (!Within(b->jobBuffer, b->offset, b->length))
        return core::kErrJobBuffer;
    auto *base = static_cast<uint8_t *>(GlobalLock(b->jobBuffer));
    if (!base)
        return core::kErrSend;
    const int32_t result = TcpStartSend(map, s, base + b->offset, b->length, b->timeOut,
                                        &TcpOnSendUnlock, b->jobBuffer);
    if (result != kOk)
        GlobalUnlock(b->jobBuffer);
    return result;
}

int32_t TcpGetSendResult(const RecordMap &map, TcpSession &s, SendResultBlock *b) {
    const uint32_t flags = Flags(s);
    if (!(flags & kConnected))
        return kErrParam;
    int32_t bytes = 0;
    if (flags & kSending)
        bytes = Brevan(map, s, IPACC_RAW_PROGRESS, nullptr);
    win::SectionLock g(s.lock);
    if (bytes < 0) {
        s.lastResult = bytes;
        return MapTcpResult(bytes);
    }
    // While the send runs the transport's count; once done the count of its final report.
    if ((s.flags & kSending) && bytes > s.sent)
        s.sent = bytes;
    *b->done = (s.flags & kSendDone) ? 1 : 0;
    *b->sent = static_cast<uint32_t>(s.sent);
    return kOk;
}

// ---- disconnect ----

int32_t TcpDisconnect(const RecordMap &map, TcpSession &s) {
    if (!(Flags(s) & kConnected))
        return kOk;
    const int32_t result = Brevan(map, s, IPACC_RAW_DISCONNECT, nullptr);
    FinishCancelledSend(s);
    win::SectionLock g(s.lock);
    if (result != kOk) {
        s.lastResult = result;
        return MapTcpResult(result);
    }
    s.sent = 0;
    s.flags = 0;
    return kOk;
}

// ---- SNMP ----

// The transport answers a broadcast destination (any address byte 255) more than once.
bool BroadcastHost(const char *host) {
    for (const char *p = host; *p;) {
        uint32_t value = 0;
        size_t digits = 0;
        for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits)
            value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (digits && value == 255 && (*p == '.' || *p == 0))
            return true;
        while (*p && *p != '.')
            ++p;
        if (*p == '.')
            ++p;
    }
    return false;
}

void TESSYN_CALL TcpOnReceive(void *context, const SnmpMessageDesc *info) {
    auto &tag = *static_cast<SnmpTag *>(context);
    auto &s = *tag.session;
    // An answer with an error status (no such name, read-only, ...) carries no value.
    const bool refused = info && info->errorStatus != 0;
    const SnmpVarBind *value = info && !refused && info->varBindCount >= 1 && info->varBinds &&
                                       info->varBinds[0].length >= 0
                                   ? &info->varBinds[0]
                                   : nullptr;
    const int32_t noValue = refused ? core::kErrDevice : core::kErrTimeout;
    LoximCompletion completion = nullptr;
    {
        win::SectionLock g(s.lock);
        if (!info || !BroadcastHost(s.host))
            tag.outstanding = 0; // the transport's last call for this request
        if (!s.snmpPending || tag.request != s.snmpRequest)
            return; // an answer to a request given up on
        s.snmpPending = 0;
        if (s.snmpCompletion) {
            completion = s.snmpCompletion;
            s.snmpCompletion = nullptr;
        } else if (!value) {
            s.snmpResult = noValue;
        } else if (!s.reply || !s.replyLength ||
                   static_cast<uint32_t>(value->length) > s.replySize) {
            s.snmpResult = kErrParam;
        } else {
            if (value->length)
                std::memcpy(s.reply, value->value, static_cast<size_t>(value->length));
            *s.replyLength = static_cast<uint32_t>(value->length);
            s.snmpResult = kOk;
        }
        s.reply = nullptr;
        s.replyLength = nullptr;
    }
    if (completion) {
        if (value)
            completion(kOk, static_cast<uint32_t>(value->length), U32(value->value));
        else
            completion(noValue, 0, 0);
    }
}

int32_t TcpGetStatusValue(const RecordMap &map, TcpSession &s, uint32_t *out) {
    const int32_t value = Brevan(map, s, IPACC_STATUS, nullptr);
    win::SectionLock g(s.lock);
    s.statusValue = value;
    *out = static_cast<uint32_t>(value);
    return kOk;
}

int32_t TcpSnmpRequest(const RecordMap &map, TcpSession &s, PassThroughBlock *b) {
    const uint32_t sub = (b->control >> 2) & 0xfffu;
    if (sub == 0) {
        if (!b->reply || b->replySize < 4 || !b->replyLength)
            return kErrParam;
        const int32_t value = Brevan(map, s, IPACC_STATUS, nullptr);
        std::memcpy(b->reply, &value, 4);
        *b->replyLength = 4;
        return kOk;
    }
    static constexpr int32_t kTags[] = {0xA0, 0xA1, 0xA3};
    if (sub > 3)
        return kErrParam;
    const bool async = b->completion && b->completion->function;
    if (!b->request || (!async && (!b->reply || !b->replyLength)))
        return kErrParam;
    // The OID text, bounded by the request length when one is given.
    const char *request = static_cast<const char *>(b->request);
    const size_t bound = b->requestLength ? b->requestLength : kOidMax;
    const size_t length = strnlen(request, bound < kOidMax ? bound : kOidMax);
    if (length == 0 || length >= kOidMax)
        return kErrParam;
    const std::string oid(request, length);

    SnmpTag *tag = nullptr;
    {
        win::SectionLock g(s.lock);
        if (s.snmpPending)
            return core::kErrBusy;
        for (SnmpTag &t : s.snmpTags)
            if (!t.outstanding) {
                tag = &t;
                break;
            }
        if (!tag)
            return core::kErrBusy; // the transport still owes answers to given-up requests
        *tag = SnmpTag{&s, ++s.snmpRequest, 1};
        s.snmpPending = 1;
        s.snmpResult = core::kErrTimeout;
        if (async) {
            s.snmpCompletion = b->completion->function;
            s.snmpUser = b->completion->user;
            s.reply = nullptr;
            s.replySize = 0;
            s.replyLength = nullptr;
        } else {
            s.snmpCompletion = nullptr;
            s.snmpUser = 0;
            s.reply = b->reply;
            s.replySize = b->replySize;
            s.replyLength = b->replyLength;
            *b->replyLength = 0;
        }
    }
    static const int32_t kOne = 1;
    SnmpVarBind binding{oid.c_str(), TESSYN_TYPE_NULL, 0, nullptr};
    if (sub == 3)
        binding = SnmpVarBind{oid.c_str(), TESSYN_TYPE_INTEGER, 4, &kOne};
    SnmpMessageDesc desc{};
    desc.host = s.host;
    desc.port = 0;
    desc.pduType = kTags[sub - 1];
    desc.version = 0;
    desc.community = nullptr;
    desc.timeouts[0] = 5000;
    desc.timeouts[1] = 3000;
    desc.timeouts[2] = 1000;
    desc.varBindCount = 1;
    desc.varBinds = &binding;
    desc.responseProc = &TcpOnReceive;
    desc.responseContext = tag;
    IpAccSnmpBlock block{&desc};
    const int32_t posted = Brevan(map, s, IPACC_POST_SNMP, &block);
    if (posted != kOk) {
        // No answer can come.
        win::SectionLock g(s.lock);
        tag->outstanding = 0;
        s.snmpPending = 0;
        s.snmpCompletion = nullptr;
        s.reply = nullptr;
        s.replyLength = nullptr;
        return MapTcpResult(posted);
    }
    if (async)
        return kOk;
    const DWORD start = GetTickCount();
    for (;;) {
        Sleep(100);
        win::SectionLock g(s.lock);
        if (!s.snmpPending)
            return s.snmpResult;
        if (GetTickCount() - start >= kSnmpWaitMs) {
            // A late answer finds nothing to write into.
            s.snmpPending = 0;
            s.reply = nullptr;
            s.replyLength = nullptr;
            return core::kErrTimeout;
        }
    }
}

} // namespace

int32_t TcpOpenDevice(const RecordMap &map, const char *host) {
    const size_t length = strnlen(host, kHostSize);
    if (length >= kHostSize)
        return kErrParam;
    auto *s = static_cast<TcpSession *>(GlobalAlloc(GPTR, sizeof(TcpSession)));
    if (!s)
        return core::kErrMemory;
    InitializeCriticalSection(&s->lock);
    std::memcpy(s->host, host, length);
    s->open = IpAccOpenBlock{0, s->host, 0};
    const int32_t result = map.Call(IPACC_OPEN, 0, &s->open);
    if (result < 1) {
        DeleteCriticalSection(&s->lock);
        GlobalFree(s);
        const int32_t mapped = MapTcpResult(result);
        return mapped == kOk ? kErrParam : mapped; // 0 is no session handle
    }
    s->handle = static_cast<uint32_t>(result);
    map.privateArea()[0] = U32(s);
    return kOk;
}

int32_t TcpCloseDevice(const RecordMap &map) {
    TcpSession *s = SessionOf(map);
    if (!s)
        return kOk; // nothing left to close
    const int32_t result =
        map.HasEntry() && s->handle ? Brevan(map, *s, IPACC_CLOSE, nullptr) : kOk;
    // The transports' threads have ended: a send they left running ends here, and so does a
    // pass-through request whose answer the closed port will never deliver.
    FinishCancelledSend(*s);
    LoximCompletion unanswered = nullptr;
    {
        win::SectionLock g(s->lock);
        if (s->snmpPending)
            unanswered = s->snmpCompletion;
        s->snmpPending = 0;
        s->snmpCompletion = nullptr;
    }
    if (unanswered)
        unanswered(core::kErrTimeout, 0, 0);
    map.privateArea()[0] = 0;
    DeleteCriticalSection(&s->lock);
    GlobalFree(s);
    return result == kOk ? kOk : MapTcpResult(result);
}

int32_t RunTcp(Routine routine, const RecordMap &map, void *block) {
    TcpSession *s = nullptr;
    const int32_t checked = Check(map, s);
    if (routine == Routine::TcpReadDeviceId) {
        auto *b = As<DeviceIdBlock>(block);
        if (checked != kOk)
            return checked;
        if (b->size < 10)
            return kErrParam;
        std::memcpy(b->buffer, "CMD:TCPIP;", 10);
        *b->length = 10;
        return kOk;
    }
    if (checked != kOk)
        return checked;
    switch (routine) {
    case Routine::TcpConnect:
        return TcpConnect(map, *s);
    case Routine::TcpDisconnect:
        return TcpDisconnect(map, *s);
    case Routine::TcpWrite:
        return TcpWrite(map, *s, As<WriteBlock>(block));
    case Routine::TcpRead:
        return TcpRead(map, *s, As<ReadBlock>(block));
    case Routine::TcpSendBuffer:
        return TcpSendBuffer(map, *s, As<SendBlock>(block));
    case Routine::TcpGetSendResult:
        return TcpGetSendResult(map, *s, As<SendResultBlock>(block));
    case Routine::TcpGetStatusValue:
        return TcpGetStatusValue(map, *s, As<NetStatusBlock>(block)->status);
    case Routine::TcpSnmpRequest:
        return TcpSnmpRequest(map, *s, As<PassThroughBlock>(block));
    default:
        return kErrParam;
    }
}

} // namespace loxim
