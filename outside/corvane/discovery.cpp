// corvane stand-in: printer discovery. Local ports come from CORVANE_LOCAL_PRINTERS; IP
// targets are asked for sysName.0 and sysDescr.0 by SNMPv1 over loopback UDP only: the
// socket is bound to 127.0.0.1 and every datagram passes the loopback guard, a broadcast
// target standing for a sweep of loopback addresses.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "corvane.h"
#include "corvane_internal.h"
#include "discovery_core.h"
#include "win_owners.h"
#include "win_socket_owner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using corvane_internal::Env;
using corvane_internal::Fail;
using corvane_internal::Log;

namespace {

using Callback = void(CALLBACK *)(HANDLE, const DiscoveredPrinter *, void *);
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxTargetBytes = 1 << 16;
constexpr DWORD kSlotMs = 20;

struct LocalPrinter {
    std::string port;
    std::string name;
};

struct Search {
    std::uintptr_t id = 0;
    DWORD kind = 0;
    std::string targets; // the caller's multi-sz, copied
    DWORD timeoutMs = 0; // scaled
    Callback cb = nullptr;
    void *ctx = nullptr;
    std::vector<LocalPrinter> local;
    DWORD localDelayMs = 0;
    corvane::Plan plan;
    std::string community;
    std::thread worker;
    std::atomic<bool> stop{false};
    win::Handle wake; // set by Close
    ~Search() {
        if (worker.joinable())
            worker.detach(); // never closed: left to process exit
    }
};

std::mutex g_searchMu;
std::map<std::uintptr_t, std::shared_ptr<Search>> g_searches;
std::uintptr_t g_nextSearch = 0x5000;

std::string Upper(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "LPT1:=Desk Laser;USB001=Label".
std::vector<LocalPrinter> ParseLocal(const std::string &text) {
    std::vector<LocalPrinter> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(';', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(at, end - at);
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos && eq > 0 && eq + 1 < entry.size())
            out.push_back({entry.substr(0, eq), entry.substr(eq + 1)});
        at = end + 1;
    }
    return out;
}

DWORD EnvNumber(const char *name, DWORD fallback) {
    std::string text;
    if (!Env(name, text) || text.empty())
        return fallback;
    char *end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    return end && *end == '\0' ? static_cast<DWORD>(std::min<unsigned long>(v, 0x7fffffff))
                               : fallback;
}

std::string TargetsText(const std::string &multiSz) {
    std::string out;
    for (char c : multiSz)
        out.push_back(c == '\0' ? '|' : c);
    return out;
}

// Waits up to ms or until Close; false when stopped.
bool Hold(Search &s, DWORD ms) {
    if (s.stop)
        return false;
    WaitForSingleObject(s.wake.get(), ms);
    return !s.stop;
}

void Report(Search &s, const std::string &port, const std::string &name) {
    Log("discovery-callback", s.id, "port=" + port + " name=" + name, TRUE);
    DiscoveredPrinter record{port.c_str(), name.c_str()};
    s.cb(reinterpret_cast<HANDLE>(s.id), &record, s.ctx);
}

void RunLocal(Search &s) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(s.timeoutMs);
    const char *p = s.targets.c_str();
    while (*p && !s.stop) {
        const std::string target = p;
        p += target.size() + 1;
        for (const LocalPrinter &l : s.local) {
            if (Upper(l.port) == Upper(target)) {
                Report(s, target, l.name);
                break;
            }
        }
    }
    if (s.localDelayMs > 0) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        Hold(s, static_cast<DWORD>(std::clamp<long long>(left, 0, s.localDelayMs)));
    }
}

// Sends one datagram if the loopback guard lets it pass.
bool SendGuarded(Search &s, SOCKET sock, const corvane::Destination &d, int32_t id) {
    const std::string to = corvane::FormatIPv4(d.address) + ":" + std::to_string(d.port);
    if (!corvane::MaySendTo(d.address)) {
        Log("discovery-refuse", s.id, "to=" + to, FALSE);
        return false;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(d.port);
    sa.sin_addr.s_addr = htonl(d.address);
    const corvane::Bytes request = corvane::EncodeGetRequest(id, s.community);
    const int sent =
        sendto(sock, reinterpret_cast<const char *>(request.data()),
               static_cast<int>(request.size()), 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    Log("discovery-send", s.id,
        "to=" + to + " id=" + std::to_string(id) +
            (sent == SOCKET_ERROR ? " wsa=" + std::to_string(WSAGetLastError()) : std::string()),
        sent != SOCKET_ERROR);
    return sent != SOCKET_ERROR;
}

void RunSnmp(Search &s) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(s.timeoutMs);
    for (const std::string &skip : s.plan.skipped)
        Log("discovery-skip", s.id, "target=" + skip, FALSE);
    if (s.plan.unicast.empty() && !s.plan.sweep)
        return;
    if (!corvane_internal::WinsockUp())
        return;
    win::Socket owner(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!owner)
        return;
    const SOCKET sock = owner.get();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(0x7f000001); // 127.0.0.1 only
    if (bind(sock, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        Log("discovery-bind", s.id, "wsa=" + std::to_string(WSAGetLastError()), FALSE);
        return;
    }
    struct Pending {
        corvane::Destination to;
        bool settled = false;
    };
    std::map<int32_t, Pending> pending;
    std::size_t unsettled = 0;
    int32_t nextId = 1;
    for (const corvane::Destination &d : s.plan.unicast) {
        const int32_t id = nextId++;
        if (SendGuarded(s, sock, d, id)) {
            pending[id] = Pending{d};
            ++unsettled;
        }
    }
    for (const corvane::Destination &d : s.plan.sweepTo) {
        const int32_t id = nextId++;
        if (SendGuarded(s, sock, d, id))
            pending[id] = Pending{d};
    }
    std::set<uint32_t> reported;
    std::vector<uint8_t> buffer(65536);
    while (!s.stop && (unsettled > 0 || s.plan.sweep)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(sock, &set);
        const long slot = static_cast<long>(std::min<long long>(left, kSlotMs));
        timeval tv{0, slot * 1000};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0)
            continue;
        sockaddr_in from{};
        int fromLength = sizeof from;
        const int n =
            recvfrom(sock, reinterpret_cast<char *>(buffer.data()), static_cast<int>(buffer.size()),
                     0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error != WSAECONNRESET && error != WSAEMSGSIZE)
                Log("discovery-receive", s.id, "wsa=" + std::to_string(error), FALSE);
            continue;
        }
        corvane::Answer answer;
        if (!corvane::DecodeAnswer(buffer.data(), static_cast<std::size_t>(n), s.community,
                                   answer)) {
            Log("discovery-drop", s.id, "bytes=" + std::to_string(n), FALSE);
            continue;
        }
        auto it = pending.find(answer.id);
        if (it == pending.end() || it->second.settled) {
            Log("discovery-drop", s.id, "id=" + std::to_string(answer.id), FALSE);
            continue;
        }
        const corvane::Destination to = it->second.to;
        if (!to.sweep) {
            it->second.settled = true;
            --unsettled;
        }
        if (reported.insert(to.address).second) {
            const std::string address = corvane::FormatIPv4(to.address);
            Report(s, address, corvane::PrinterName(answer, address));
        }
    }
}

void Run(std::shared_ptr<Search> s) {
    if (s->kind == 0)
        RunLocal(*s);
    else
        RunSnmp(*s);
    Log("discovery-callback", s->id, "end", TRUE);
    s->cb(reinterpret_cast<HANDLE>(s->id), nullptr, s->ctx);
}

} // namespace

extern "C" {

BOOL WINAPI QuvIsAccessAvailable(void) {
    std::string text;
    if (Env("CORVANE_LOCAL_PRINTERS", text))
        return TRUE;
    return Fail(QUV_E_ACCESS_DENIED);
}

BOOL WINAPI QuvStartPrinterDiscovery(DWORD kind, DWORD, const char *targets, const DWORD *timeout,
                                     Callback cb, void *ctx, HANDLE *out) {
    if (out)
        *out = nullptr;
    if (!targets || !cb || !out || !timeout || kind > 1) {
        Log("QuvStartPrinterDiscovery", 0, "kind=" + std::to_string(kind), FALSE);
        return Fail(QUV_E_INVALID_PARAMETER);
    }
    auto s = std::make_shared<Search>();
    s->kind = kind;
    // Up to the empty entry that closes the list, bounded.
    std::size_t n = 0;
    while (n < kMaxTargetBytes && !(targets[n] == '\0' && (n == 0 || targets[n - 1] == '\0')))
        ++n;
    s->targets.assign(targets, n);
    s->targets.push_back('\0');
    s->targets.push_back('\0');
    s->cb = cb;
    s->ctx = ctx;
    s->timeoutMs = corvane_internal::Scaled(timeout[0]);

    std::string text;
    if (Env("CORVANE_FAIL_DISCOVERY", text) && text == std::to_string(kind)) {
        Log("QuvStartPrinterDiscovery", 0, "kind=" + std::to_string(kind) + " failed on request",
            FALSE);
        return Fail(QUV_E_UNSUPPORTED_PORT);
    }
    if (kind == 0) {
        if (Env("CORVANE_LOCAL_PRINTERS", text))
            s->local = ParseLocal(text);
        s->localDelayMs = EnvNumber("CORVANE_LOCAL_DELAY_MS", 0);
    } else {
        const DWORD port = EnvNumber("CORVANE_SNMP_PORT", 161);
        std::string sweep;
        Env("CORVANE_DISCOVERY_SWEEP", sweep);
        if (!Env("CORVANE_SNMP_COMMUNITY", s->community))
            s->community = "tavmor";
        std::string why;
        if (port == 0 || port > 65535 ||
            !corvane::PlanSearch(s->targets.data(), s->targets.size(), sweep,
                                 static_cast<uint16_t>(port), s->plan, why)) {
            Log("QuvStartPrinterDiscovery", 0, "kind=1 refused: " + why, FALSE);
            return Fail(QUV_E_INVALID_PARAMETER);
        }
    }
    s->wake.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!s->wake)
        return Fail(QUV_E_UNSUPPORTED_PORT);
    {
        // The worker starts under the table's lock, so that a Close sees it joinable.
        std::lock_guard<std::mutex> lock(g_searchMu);
        s->id = g_nextSearch++;
        Log("QuvStartPrinterDiscovery", s->id,
            "kind=" + std::to_string(kind) + " targets=" + TargetsText(s->targets) +
                " timeout=" + std::to_string(s->timeoutMs),
            TRUE);
        try {
            s->worker = std::thread(Run, s);
        } catch (...) {
            return Fail(QUV_E_UNSUPPORTED_PORT);
        }
        g_searches[s->id] = s;
    }
    *out = reinterpret_cast<HANDLE>(s->id);
    return TRUE;
}

BOOL WINAPI QuvClosePrinterDiscovery(HANDLE h) {
    const auto id = reinterpret_cast<std::uintptr_t>(h);
    std::shared_ptr<Search> s;
    {
        std::lock_guard<std::mutex> lock(g_searchMu);
        auto it = g_searches.find(id);
        if (it == g_searches.end()) {
            Log("QuvClosePrinterDiscovery", id, "unknown", FALSE);
            return Fail(QUV_E_INVALID_HANDLE);
        }
        if (it->second->worker.get_id() == std::this_thread::get_id()) {
            Log("QuvClosePrinterDiscovery", id, "from the callback", FALSE);
            return Fail(QUV_E_INVALID_PARAMETER);
        }
        s = it->second;
        g_searches.erase(it);
    }
    s->stop = true;
    SetEvent(s->wake.get());
    if (s->worker.joinable())
        s->worker.join();
    Log("QuvClosePrinterDiscovery", id, "closed", TRUE);
    return TRUE;
}

} // extern "C"
