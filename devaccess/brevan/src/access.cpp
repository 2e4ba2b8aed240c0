// QTcpIpAcc_IO_IF: sessions, the status poll and the raw transfers.
#include <algorithm>
#include <climits>
#include <new>

#include "brevan.h"
#include "session.h"

namespace {

constexpr char kStatusOid[] = "1.3.6.1.4.1.7341.1.1.1.1.2.10.0";
constexpr int32_t kGetRequest = 0xA0;
constexpr int32_t kPollTimeoutMs = 500;
constexpr uint32_t kHandleLimit = 0x80000000u;

// Callers hold callLock (the list changes only under both locks).
TcpIpAccSession *FindByHandle(uint32_t handle) {
    if (handle == 0)
        return nullptr;
    for (TcpIpAccSession *s : *g_ipAcc.sessions)
        if (s->handle == handle)
            return s;
    return nullptr;
}

bool HostInUse(const std::string &host) {
    for (TcpIpAccSession *s : *g_ipAcc.sessions)
        if (s->host == host)
            return true;
    return false;
}

// The next handle not in use: counts from 1 and wraps before 0x80000000.
uint32_t NextHandle() {
    for (;;) {
        uint32_t handle = g_ipAcc.nextHandle;
        g_ipAcc.nextHandle = handle + 1 >= kHandleLimit ? 1 : handle + 1;
        if (!FindByHandle(handle))
            return handle;
    }
}

// The number at the start of text: leading white space and a sign allowed, clamped to the
// 32-bit range, 0 when no digits follow.
int32_t LeadingNumber(const char *text, size_t length) {
    size_t i = 0;
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < length && space(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1)
            value = int64_t{INT32_MAX} + 1;
    }
    if (negative)
        value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int32_t Open(const IpAccOpenBlock *block) {
    if (!block)
        return IPACC_E_OTHER;
    std::string host = block->host ? block->host : "";
    if (HostInUse(host))
        return IPACC_E_EXISTS;
    TcpIpAccSession *session = new (std::nothrow) TcpIpAccSession;
    if (!session)
        return IPACC_E_MEMORY;
    session->host = std::move(host);
    session->destPort = block->snmpPort;
    int32_t result = IpAccLoadTransports(*session, block->localSnmpPort);
    if (result != 0) {
        delete session;
        return result;
    }
    session->handle = NextHandle();
    try {
        win::SectionLock list(g_ipAcc.listLock);
        g_ipAcc.sessions->push_back(session);
    } catch (const std::bad_alloc &) {
        IpAccUnloadTransports(*session);
        delete session;
        return IPACC_E_MEMORY;
    }
    return static_cast<int32_t>(session->handle);
}

int32_t StatusValue(TcpIpAccSession &s) {
    int32_t noted;
    {
        win::SectionLock list(g_ipAcc.listLock);
        noted = s.status;
    }
    SnmpVarBind bind{kStatusOid, TESSYN_TYPE_NULL, 0, nullptr};
    SnmpMessageDesc desc{};
    desc.host = s.host.c_str();
    desc.port = s.destPort;
    desc.pduType = kGetRequest;
    desc.version = 0;
    desc.community = nullptr;
    desc.timeouts[0] = kPollTimeoutMs;
    desc.timeouts[1] = kPollTimeoutMs;
    desc.varBindCount = 1;
    desc.varBinds = &bind;
    desc.responseProc = IpAccOnSessionValue;
    // The handle names the session: a late answer for a closed session then finds nothing,
    // even when a new session reuses the closed one's memory.
    desc.responseContext = reinterpret_cast<void *>(static_cast<uintptr_t>(s.handle));
    int32_t posted = s.postMessage(s.snmpPort, &desc);
    return posted >= 0 ? noted : IpAccSnmpResult(posted);
}

int32_t Transfer(TcpIpAccSession &s, int32_t code, IpAccTransferBlock *block) {
    if (!block)
        return IPACC_E_OTHER;
    // The asynchronous send passes no count pointer: dorvik then reads the length through a
    // local copy. A single step has nowhere to put its count.
    int32_t localLength = block->length;
    int *length = &localLength;
    if (block->count) {
        *block->count = block->length;
        length = block->count;
    } else if (!block->callback) {
        return IPACC_E_OTHER;
    }
    auto callback = reinterpret_cast<Raw9100Callback>(block->callback);
    int result = code == IPACC_RAW_WRITE
                     ? s.rawWrite(s.host.c_str(), block->buffer, length, callback, block->userData)
                     : s.rawRead(s.host.c_str(), block->buffer, length, callback, block->userData);
    return IpAccRawResult(result);
}

// Unlists the session first, so that a late poll answer finds nothing, then closes the
// transports holding only callLock: Tessyn_ClosePort may wait for a response procedure that
// takes listLock.
void Close(TcpIpAccSession *s) {
    {
        win::SectionLock list(g_ipAcc.listLock);
        auto &sessions = *g_ipAcc.sessions;
        sessions.erase(std::remove(sessions.begin(), sessions.end(), s), sessions.end());
    }
    if (s->tessyn) {
        if (s->snmpPort > 0)
            s->closePort(s->snmpPort);
        s->tessyn.reset();
    }
    // Always closes dorvik's connection: a cancel (code 12) leaves its socket open.
    if (s->dorvik) {
        s->rawClose(s->host.c_str());
        s->dorvik.reset();
    }
    delete s;
}

int32_t Dispatch(int32_t code, uint32_t handle, void *block) {
    if (code == IPACC_OPEN)
        return Open(static_cast<const IpAccOpenBlock *>(block));
    TcpIpAccSession *s = FindByHandle(handle);
    if (code == IPACC_CLOSE) {
        if (s)
            Close(s);
        return 0;
    }
    if (!s)
        return IPACC_E_SESSION;
    const char *host = s->host.c_str();
    switch (code) {
    case IPACC_STATUS:
        return StatusValue(*s);
    case IPACC_POST_SNMP: {
        auto *b = static_cast<const IpAccSnmpBlock *>(block);
        if (!b)
            return IPACC_E_OTHER;
        return IpAccSnmpResult(s->postMessage(s->snmpPort, b->desc));
    }
    case IPACC_RAW_CONNECT: {
        auto *b = static_cast<const IpAccConnectBlock *>(block);
        if (!b)
            return IPACC_E_OTHER;
        s->rawOpen = true;
        return IpAccRawResult(
            s->rawOpenFn(host, reinterpret_cast<Raw9100Callback>(b->callback), b->userData));
    }
    case IPACC_RAW_WRITE:
    case IPACC_RAW_READ:
        return Transfer(*s, code, static_cast<IpAccTransferBlock *>(block));
    case IPACC_RAW_PROGRESS: {
        int done = s->rawProgress(host);
        return done >= 0 ? done : IpAccRawResult(done);
    }
    case IPACC_RAW_DISCONNECT:
        s->rawOpen = false;
        return IpAccRawResult(s->rawClose(host));
    case IPACC_RAW_WRITE_FILE:
    case IPACC_RAW_READ_FILE: {
        auto *b = static_cast<const IpAccFileBlock *>(block);
        if (!b)
            return IPACC_E_OTHER;
        auto callback = reinterpret_cast<Raw9100Callback>(b->callback);
        return IpAccRawResult(
            code == IPACC_RAW_WRITE_FILE
                ? s->rawWriteFile(host, b->path, callback, b->userData)
                : s->rawReadFile(host, b->path, b->byteCount, callback, b->userData));
    }
    case IPACC_RAW_CANCEL:
        s->rawOpen = false;
        s->rawCancel(host);
        return 0;
    default:
        return 0;
    }
}

} // namespace

void TESSYN_CALL IpAccOnSessionValue(void *context, const SnmpMessageDesc *info) {
    if (!info || info->varBindCount < 1 || !info->varBinds)
        return;
    const SnmpVarBind &bind = info->varBinds[0];
    if (bind.type != TESSYN_TYPE_OCTET_STRING || !bind.value || bind.length < 0)
        return;
    int32_t value =
        LeadingNumber(static_cast<const char *>(bind.value), static_cast<size_t>(bind.length));
    win::SectionLock list(g_ipAcc.listLock);
    if (!g_ipAcc.sessions)
        return;
    const auto handle = reinterpret_cast<uintptr_t>(context);
    for (TcpIpAccSession *s : *g_ipAcc.sessions)
        if (s->handle == handle)
            s->status = value;
}

extern "C" int32_t BREVAN_CALL QTcpIpAcc_IO_IF(int32_t code, uint32_t handle, void *block) {
    win::SectionLock call(g_ipAcc.callLock);
    try {
        return Dispatch(code, handle, block);
    } catch (const std::bad_alloc &) {
        return IPACC_E_MEMORY;
    }
}
