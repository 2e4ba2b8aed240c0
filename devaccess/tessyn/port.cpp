#include "port.h"

#include <wsipx.h>

#include <cstring>
#include <new>

namespace tessyn {

// ---- SnmpRequestTable ----

bool SnmpRequestTable::Init() {
    InitializeCriticalSection(&lock_);
    lockReady_ = true;
    idle_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    stopAll_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return idle_ && stopAll_;
}

SnmpRequestTable::~SnmpRequestTable() {
    // Only reached once the table is drained (or was never used).
    WaitAndClose(ended_);
    for (auto &entry : pending_)
        entry.second->reply.reset();
    if (idle_)
        CloseHandle(idle_);
    if (stopAll_)
        CloseHandle(stopAll_);
    if (lockReady_)
        DeleteCriticalSection(&lock_);
}

void SnmpRequestTable::WaitAndClose(std::vector<HANDLE> &threads) {
    for (HANDLE h : threads) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    threads.clear();
}

size_t SnmpRequestTable::PendingCount() {
    win::SectionLock hold(lock_);
    return pending_.size();
}

void SnmpRequestTable::Discard(uint16_t id) {
    auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    it->second->reply.reset();
    pending_.erase(it);
    if (pending_.empty())
        SetEvent(idle_);
}

int SnmpRequestTable::Submit(SnmpMessage &msg, SOCKET socket) {
    win::SectionLock hold(lock_);
    if (closing_)
        return TESSYN_E_HANDLE;
    try {
        auto request = std::make_unique<SnmpRequest>();
        request->destination = msg.Destination();
        ApplyDefaultPort(request->destination);
        request->broadcast = IsBroadcast(request->destination);
        request->socket = socket;
        request->table = this;
        request->waits[0] = stopAll_;
        request->waitCount = 1;
        request->timeouts = msg.Timeouts();
        request->proc = msg.ResponseProc();
        request->context = msg.ResponseContext();

        uint16_t id = NextRequestId(counter_, pending_);
        if (id == 0)
            return TESSYN_E_MEMORY; // every id is pending
        msg.SetRequestId(id);
        request->id = id;

        BerBuffer out;
        if (msg.EncodeTo(out) != 0)
            return TESSYN_E_MEMORY;
        request->bytes.assign(out.Data(), out.Data() + out.Size());

        if (!request->broadcast) {
            request->reply.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
            if (!request->reply)
                return TESSYN_E_MEMORY;
            request->waits[1] = request->reply.get();
            request->waitCount = 2;
        }
        SnmpRequest *r = request.get();
        pending_.emplace(id, std::move(request));
        HANDLE thread = CreateThread(nullptr, 0, SenderMain, r, 0, nullptr);
        if (!thread) {
            Discard(id);
            return TESSYN_E_THREAD;
        }
        r->thread = thread;
        ResetEvent(idle_);
        return 0;
    } catch (const std::bad_alloc &) {
        return TESSYN_E_MEMORY;
    }
}

bool SnmpRequestTable::Claim(uint16_t id, SnmpResponseProc &proc, void *&context) {
    win::SectionLock hold(lock_);
    auto it = pending_.find(id);
    if (it == pending_.end())
        return false;
    SnmpRequest &r = *it->second;
    if (!r.broadcast) {
        if (r.answered)
            return false;
        r.answered = true;
        SetEvent(r.ReplyEvent());
    }
    proc = r.proc;
    context = r.context;
    return true;
}

void SnmpRequestTable::Remove(SnmpRequest *request) {
    std::vector<HANDLE> earlier;
    {
        win::SectionLock hold(lock_);
        HANDLE self = request->thread;
        Discard(request->id); // frees the request
        // This thread's handle waits for whoever ends next; the threads that ended before it
        // are waited for and closed here.
        earlier.swap(ended_);
        try {
            ended_.push_back(self);
        } catch (const std::bad_alloc &) {
            earlier.push_back(self); // cannot happen after the swap freed room; stay safe
        }
    }
    WaitAndClose(earlier);
}

DWORD WINAPI SnmpRequestTable::SenderMain(void *param) {
    auto *r = static_cast<SnmpRequest *>(param);
    const sockaddr *to = reinterpret_cast<const sockaddr *>(r->destination.bytes.data());
    const char *data = reinterpret_cast<const char *>(r->bytes.data());
    int size = static_cast<int>(r->bytes.size());
    sendto(r->socket, data, size, 0, to, 16);
    for (size_t next = 0;;) {
        DWORD w = WaitForMultipleObjects(r->waitCount, r->waits, FALSE,
                                         static_cast<DWORD>(r->timeouts[next]));
        if (w != WAIT_TIMEOUT)
            break; // answered, or the port is closing
        if (++next == r->timeouts.size()) {
            SnmpResponseProc proc = nullptr;
            void *context = nullptr;
            if (r->table->Claim(r->id, proc, context) && proc)
                proc(context, nullptr);
            break;
        }
        sendto(r->socket, data, size, 0, to, 16);
    }
    r->table->Remove(r);
    return 0;
}

void SnmpRequestTable::CloseAndDrain() {
    {
        win::SectionLock hold(lock_);
        closing_ = true;
        if (!pending_.empty())
            SetEvent(stopAll_);
        else
            SetEvent(idle_);
    }
    WaitForSingleObject(idle_, INFINITE);
    std::vector<HANDLE> last;
    {
        win::SectionLock hold(lock_);
        last.swap(ended_);
    }
    WaitAndClose(last);
}

// ---- SnmpPort ----

SnmpPort::~SnmpPort() {
    thread_.reset();
    socket_.reset();
    stop_.reset();
    if (locksReady_) {
        DeleteCriticalSection(&trapLock_);
        DeleteCriticalSection(&lock_);
    }
}

int SnmpPort::Open(int32_t kind, int32_t localPort, uint16_t &word) {
    InitializeCriticalSection(&lock_);
    InitializeCriticalSection(&trapLock_);
    locksReady_ = true;
    stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stop_ || !table_.Init())
        return TESSYN_E_MEMORY;
    if (localPort < 0 || localPort > 0xFFFF)
        return TESSYN_E_SOCKET;

    win::SectionLock hold(lock_);
    const bool udp = (kind & 0xFFFF) == 1;
    uint8_t bound[16] = {};
    int boundLength = sizeof bound;
    if (udp) {
        socket_.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!socket_)
            return TESSYN_E_SOCKET;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<u_short>(localPort));
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(socket_.get(), reinterpret_cast<sockaddr *>(&local), sizeof local) == SOCKET_ERROR)
            return TESSYN_E_SOCKET;
    } else {
        socket_.reset(socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX));
        if (!socket_)
            return TESSYN_E_SOCKET;
        SOCKADDR_IPX local{};
        local.sa_family = AF_IPX;
        local.sa_socket = htons(static_cast<u_short>(localPort));
        if (bind(socket_.get(), reinterpret_cast<sockaddr *>(&local), 14) == SOCKET_ERROR)
            return TESSYN_E_SOCKET;
    }
    if (getsockname(socket_.get(), reinterpret_cast<sockaddr *>(bound), &boundLength) ==
        SOCKET_ERROR)
        return TESSYN_E_SOCKET;
    // The port word as it lies in the bound address, read as a little-endian word.
    const size_t at = udp ? 2 : 12;
    word = static_cast<uint16_t>(bound[at] | bound[at + 1] << 8);
    BOOL on = TRUE;
    setsockopt(socket_.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on),
               sizeof on);
    thread_.reset(CreateThread(nullptr, 0, ReceiveMain, this, 0, nullptr));
    if (!thread_)
        return TESSYN_E_SOCKET;
    return 0;
}

int SnmpPort::Post(const SnmpMessageDesc &desc) {
    win::SectionLock hold(lock_);
    try {
        SnmpMessage msg;
        if (int rc = msg.Compose(desc))
            return rc;
        return table_.Submit(msg, socket_.get());
    } catch (const std::bad_alloc &) {
        return TESSYN_E_MEMORY;
    }
}

void SnmpPort::SetTrapProc(SnmpTrapProc proc, void *context) {
    win::SectionLock hold(lock_);
    win::SectionLock pair(trapLock_);
    trapProc_ = proc;
    trapContext_ = context;
}

void SnmpPort::Close() {
    win::SectionLock hold(lock_);
    if (thread_) {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    socket_.reset();
}

DWORD WINAPI SnmpPort::ReceiveMain(void *param) {
    auto *port = static_cast<SnmpPort *>(param);
    port->Receive();
    port->table_.CloseAndDrain();
    return 0;
}

void SnmpPort::Receive() {
    while (WaitForSingleObject(stop_.get(), 0) != WAIT_OBJECT_0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_.get(), &readable);
        timeval wait{0, 10};
        int n = select(0, &readable, nullptr, nullptr, &wait);
        if (n == SOCKET_ERROR)
            break;
        if (n == 0)
            continue;
        std::memset(buffer_, 0, sizeof buffer_);
        SnmpAddress sender;
        int senderLength = static_cast<int>(sender.bytes.size());
        int got = recvfrom(socket_.get(), reinterpret_cast<char *>(buffer_), sizeof buffer_, 0,
                           reinterpret_cast<sockaddr *>(sender.bytes.data()), &senderLength);
        if (got == SOCKET_ERROR)
            continue; // also a datagram longer than the buffer (consumed)
        Deliver(buffer_, got, sender);
    }
}

void SnmpPort::Deliver(const uint8_t *data, int size, const SnmpAddress &sender) {
    try {
        SnmpMessage msg;
        if (msg.Parse(sender, data, static_cast<size_t>(size)) != 0)
            return;
        if (msg.GetPduTag() == kTagTrap) {
            SnmpTrapProc proc;
            void *context;
            {
                win::SectionLock pair(trapLock_);
                proc = trapProc_;
                context = trapContext_;
            }
            if (proc)
                proc(context, msg.BuildTrapInfo());
            return;
        }
        if (!msg.HasRequestId())
            return;
        SnmpResponseProc proc = nullptr;
        void *context = nullptr;
        if (!table_.Claim(static_cast<uint16_t>(msg.GetRequestId()), proc, context))
            return;
        const SnmpMessageDesc *info = msg.BuildResponseInfo();
        if (proc)
            proc(context, info);
    } catch (const std::bad_alloc &) {
        // The datagram is dropped.
    }
}

} // namespace tessyn
