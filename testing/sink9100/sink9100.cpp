#include "sink9100.h"

#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "win_socket_owner.h"

namespace sink9100 {

namespace {

constexpr unsigned short kPort = 9100;
constexpr int kReadSize = 65536;
constexpr int kReadsPerTurn = 64;      // bounds one turn of the loop
constexpr unsigned kProbeEveryMs = 20; // kTrack: after the FIN
constexpr int kMaxProbes = 150;
constexpr DWORD kStopWaitMs = 60000;

bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// The sink's lock, which its header keeps opaque.
CRITICAL_SECTION &Section(void *lock) {
    return *static_cast<CRITICAL_SECTION *>(lock);
}

} // namespace

std::uint64_t Checksum(const void *data, std::size_t length, std::uint64_t seed) {
    const auto *p = static_cast<const unsigned char *>(data);
    for (std::size_t i = 0; i < length; ++i) {
        seed ^= p[i];
        seed *= 1099511628211ull;
    }
    return seed;
}

struct Sink::Peer {
    win::Socket socket;
    int index = 0;
    std::size_t nextBurst = 0;
    std::size_t burstOffset = 0;
    std::uint32_t lastTick = 0;
    int probes = 0;
    bool done = false;
};

Sink::Sink(std::string address, Options options)
    : address_(std::move(address)), options_(std::move(options)), listener_(INVALID_SOCKET) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    auto *lock = new CRITICAL_SECTION;
    InitializeCriticalSection(lock);
    lock_ = lock;
}

Sink::~Sink() {
    Stop();
    auto *lock = static_cast<CRITICAL_SECTION *>(lock_);
    DeleteCriticalSection(lock);
    delete lock;
    WSACleanup();
}

unsigned long __stdcall Sink::ServeThread(void *sink) {
    static_cast<Sink *>(sink)->Serve();
    return 0;
}

bool Sink::Start(std::string *error) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = inet_addr(address_.c_str());
    if ((local.sin_addr.s_addr & 0xff) != 127) { // loopback only
        *error = "not a loopback address: " + address_;
        return false;
    }
    // Port 9100 is fixed: another test of the run may hold it for a moment, so the bind is
    // tried again for a bounded time.
    win::Socket s;
    for (int attempt = 0;; ++attempt) {
        s.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!s) {
            *error = "socket failed: " + std::to_string(WSAGetLastError());
            return false;
        }
        BOOL reuse = TRUE; // an earlier test's connection may linger in TIME_WAIT
        setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse),
                   sizeof reuse);
        u_long nonBlocking = 1;
        if (bind(s.get(), reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
            listen(s.get(), 8) == 0 && ioctlsocket(s.get(), FIONBIO, &nonBlocking) == 0)
            break;
        const int code = WSAGetLastError();
        s.reset();
        if (attempt == 100) {
            *error = "cannot listen on " + address_ + ":9100: " + std::to_string(code);
            return false;
        }
        Sleep(200);
    }
    listener_ = s.get();
    stop_ = false;
    thread_ = CreateThread(nullptr, 0, ServeThread, this, 0, nullptr);
    if (!thread_) {
        *error = "cannot start the sink's thread: " + std::to_string(GetLastError());
        s.reset();
        listener_ = INVALID_SOCKET;
        return false;
    }
    s.release(); // the listener is the sink's until Stop
    return true;
}

void Sink::Stop() {
    stop_ = true;
    if (thread_) {
        // The serving loop ends within one turn of stop_; a thread that does not is a fault of
        // the sink, and the program ends rather than free what the thread still uses.
        if (WaitForSingleObject(thread_, kStopWaitMs) != WAIT_OBJECT_0) {
            std::fprintf(
                stderr,
                "sink9100: the sink's thread on %s:9100 does not end: ending the test program\n",
                address_.c_str());
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (listener_ != INVALID_SOCKET) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
    }
}

void Sink::Serve() {
    std::vector<std::unique_ptr<Peer>> peers;
    while (!stop_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        for (const auto &peer : peers)
            if (!peer->done && options_.mode != Mode::kStall && readable.fd_count < FD_SETSIZE)
                FD_SET(peer->socket.get(), &readable);
        timeval wait{0, 2000};
        select(0, &readable, nullptr, nullptr, &wait);
        for (;;) {
            const SOCKET accepted = accept(listener_, nullptr, nullptr);
            if (accepted == INVALID_SOCKET)
                break;
            u_long nonBlocking = 1;
            ioctlsocket(accepted, FIONBIO, &nonBlocking);
            auto peer = std::make_unique<Peer>();
            peer->socket.reset(accepted);
            peer->lastTick = GetTickCount();
            {
                win::SectionLock guard(Section(lock_));
                peer->index = static_cast<int>(records_.size());
                records_.emplace_back();
            }
            peers.push_back(std::move(peer));
        }
        const std::uint32_t now = GetTickCount();
        for (auto &peer : peers)
            if (!peer->done)
                ServePeer(*peer, now);
    }
    for (auto &peer : peers)
        peer->socket.reset();
}

void Sink::ServePeer(Peer &peer, std::uint32_t now) {
    if (options_.mode == Mode::kStall)
        return;
    auto record = [&](auto change) {
        win::SectionLock guard(Section(lock_));
        if (peer.index < static_cast<int>(records_.size()))
            change(records_[peer.index]);
    };
    bool finSeen = false;
    record([&](Connection &c) { finSeen = c.finSeen; });
    if (!finSeen) {
        char buffer[kReadSize];
        for (int turn = 0; turn < kReadsPerTurn; ++turn) {
            const int n = recv(peer.socket.get(), buffer, sizeof buffer, 0);
            if (n > 0) {
                win::SectionLock guard(Section(lock_));
                count_ += static_cast<std::uint64_t>(n);
                sum_ = Checksum(buffer, static_cast<std::size_t>(n), sum_);
                if (peer.index < static_cast<int>(records_.size())) {
                    Connection &c = records_[peer.index];
                    c.count += static_cast<std::uint64_t>(n);
                    if (options_.keepBytes)
                        c.bytes.append(buffer, static_cast<std::size_t>(n));
                }
                continue;
            }
            if (n == 0) {
                record([](Connection &c) { c.finSeen = true; });
                finSeen = true;
                peer.lastTick = now;
            } else if (!WouldBlock()) {
                record([](Connection &c) { c.closeSeen = true; });
                peer.done = true;
                return;
            }
            break;
        }
    }
    if (options_.mode == Mode::kReply && peer.nextBurst < options_.reply.size()) {
        const Burst &burst = options_.reply[peer.nextBurst];
        if (now - peer.lastTick >= burst.delayMs) {
            const int left = static_cast<int>(burst.bytes.size() - peer.burstOffset);
            const int n =
                left ? send(peer.socket.get(), burst.bytes.data() + peer.burstOffset, left, 0) : 0;
            if (n > 0)
                peer.burstOffset += static_cast<std::size_t>(n);
            if (n < 0 && !WouldBlock()) {
                record([](Connection &c) { c.closeSeen = true; });
                peer.done = true;
                return;
            }
            if (peer.burstOffset == burst.bytes.size()) {
                ++peer.nextBurst;
                peer.burstOffset = 0;
                peer.lastTick = now;
            }
        }
        if (peer.nextBurst == options_.reply.size() && options_.closeAfterReply) {
            shutdown(peer.socket.get(), SD_SEND);
            peer.socket.reset();
            peer.done = true;
        }
        return;
    }
    if (options_.mode == Mode::kTrack && finSeen) {
        // After the FIN the peer may still hold its socket; a probe is refused once it is gone.
        if (now - peer.lastTick < kProbeEveryMs)
            return;
        peer.lastTick = now;
        const char probe = 0;
        if (send(peer.socket.get(), &probe, 1, 0) < 0 && !WouldBlock()) {
            record([](Connection &c) {
                c.closeSeen = true;
                c.closeAfterFin = c.finSeen;
            });
            peer.done = true;
        } else if (++peer.probes > kMaxProbes) {
            peer.done = true;
        }
    }
}

int Sink::Accepted() const {
    win::SectionLock guard(Section(lock_));
    return static_cast<int>(records_.size());
}

Connection Sink::Record(int index) const {
    win::SectionLock guard(Section(lock_));
    if (index < 0 || index >= static_cast<int>(records_.size()))
        return {};
    return records_[index];
}

std::string Sink::Received() const {
    win::SectionLock guard(Section(lock_));
    std::string all;
    for (const Connection &c : records_)
        all += c.bytes;
    return all;
}

std::uint64_t Sink::Count() const {
    win::SectionLock guard(Section(lock_));
    return count_;
}

std::uint64_t Sink::Sum() const {
    win::SectionLock guard(Section(lock_));
    return sum_;
}

void Sink::Reset() {
    win::SectionLock guard(Section(lock_));
    count_ = 0;
    sum_ = 14695981039346656037ull;
    for (Connection &c : records_)
        c.bytes.clear();
}

namespace {
template <class Pred> bool PollUntil(Pred done, unsigned timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(5);
    }
}
} // namespace

bool Sink::WaitForCount(std::uint64_t count, unsigned timeoutMs) const {
    return PollUntil([&] { return Count() >= count; }, timeoutMs);
}

bool Sink::WaitForAccepted(int connections, unsigned timeoutMs) const {
    return PollUntil([&] { return Accepted() >= connections; }, timeoutMs);
}

bool Sink::WaitForClose(int index, unsigned timeoutMs) const {
    return PollUntil([&] { return Record(index).closeSeen; }, timeoutMs);
}

} // namespace sink9100
