// corvane stand-in: network printer ports over TCP, one connection per job.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "corvane.h"
#include "corvane_internal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

using corvane_internal::Fail;
using corvane_internal::Log;
using corvane_internal::Scaled;

namespace {

constexpr DWORD kDefaultTimeoutMs = 40000;
constexpr DWORD kDrainMs = 2000;
constexpr std::size_t kMaxName = 255;

struct Port {
    std::mutex mu;
    std::string host;
    unsigned short tcpPort = 9100;
    DWORD timeoutMs = kDefaultTimeoutMs;
    SOCKET s = INVALID_SOCKET;
};

std::mutex g_tableMu;
std::map<std::uintptr_t, std::shared_ptr<Port>> g_ports; // live handles, never dereferenced
std::uintptr_t g_nextHandle = 0x1000;
std::shared_ptr<Port> Lookup(QUVPORT h) {
    std::lock_guard<std::mutex> lock(g_tableMu);
    auto it = g_ports.find(reinterpret_cast<std::uintptr_t>(h));
    return it == g_ports.end() ? nullptr : it->second;
}

// "host[:port]": host of letters, digits, '.', '-' and '_'; port 1..65535.
bool ParseName(const char *name, std::string &host, unsigned short &port) {
    if (!name)
        return false;
    std::string text(name, strnlen(name, kMaxName + 1));
    if (text.empty() || text.size() > kMaxName)
        return false;
    std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    if (host.empty())
        return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'))
            return false;
    port = 9100;
    if (colon != std::string::npos) {
        std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5)
            return false;
        unsigned long v = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + static_cast<unsigned long>(c - '0');
        }
        if (v == 0 || v > 65535)
            return false;
        port = static_cast<unsigned short>(v);
    }
    return true;
}

bool StartsWithNoCase(const char *text, const char *prefix) {
    for (; *prefix; ++text, ++prefix)
        if (std::toupper(static_cast<unsigned char>(*text)) != *prefix)
            return false;
    return true;
}

// Waits until s is readable (or writable); false on time-out or error.
bool WaitFor(SOCKET s, bool write, DWORD ms) {
    fd_set set, errors;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    int n = select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
    return n > 0 && FD_ISSET(s, &set);
}

bool ResolveIPv4(const std::string &host, in_addr &out) {
    if (inet_pton(AF_INET, host.c_str(), &out) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result)
        return false;
    out = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr;
    freeaddrinfo(result);
    return true;
}

// Shuts the sending side, drains what the printer still sends (bounded), then closes.
void CloseJob(Port &port) {
    if (port.s == INVALID_SOCKET)
        return;
    shutdown(port.s, SD_SEND);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(kDrainMs));
    char sink[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitFor(port.s, false, static_cast<DWORD>(left.count())))
            break;
        if (recv(port.s, sink, sizeof sink, 0) <= 0)
            break;
    }
    closesocket(port.s);
    port.s = INVALID_SOCKET;
}

} // namespace

extern "C" {

BOOL WINAPI QuvOpenPort(LPCSTR name, QUVPORT *ph, DWORD) {
    if (!ph)
        return Fail(QUV_E_INVALID_PARAMETER);
    *ph = nullptr;
    if (name && (StartsWithNoCase(name, "LPT") || StartsWithNoCase(name, "USB")))
        return Fail(QUV_E_UNSUPPORTED_PORT);
    auto port = std::make_shared<Port>();
    if (!ParseName(name, port->host, port->tcpPort))
        return Fail(QUV_E_INVALID_PARAMETER);
    if (!corvane_internal::WinsockUp())
        return Fail(QUV_E_JOB_CONNECTION);
    std::uintptr_t handle;
    {
        std::lock_guard<std::mutex> lock(g_tableMu);
        handle = g_nextHandle++;
        g_ports[handle] = port;
    }
    *ph = reinterpret_cast<QUVPORT>(handle);
    Log("QuvOpenPort", handle, std::string("name=") + name, TRUE);
    return TRUE;
}

BOOL WINAPI QuvSetPortTimeout(QUVPORT h, DWORD ms) {
    auto port = Lookup(h);
    if (!port)
        return Fail(QUV_E_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(port->mu);
    port->timeoutMs = ms;
    Log("QuvSetPortTimeout", reinterpret_cast<std::uintptr_t>(h), "timeout=" + std::to_string(ms),
        TRUE);
    return TRUE;
}

BOOL WINAPI QuvStartJobPort(QUVPORT h) {
    auto port = Lookup(h);
    if (!port)
        return Fail(QUV_E_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(port->mu);
    const auto id = reinterpret_cast<std::uintptr_t>(h);
    if (port->s != INVALID_SOCKET)
        return Fail(QUV_E_JOB_ALREADY_OPEN);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port->tcpPort);
    SOCKET s = INVALID_SOCKET;
    BOOL ok = FALSE;
    const DWORD wait = Scaled(port->timeoutMs);
    if (ResolveIPv4(port->host, sa.sin_addr) &&
        (s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) != INVALID_SOCKET) {
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        int rc = connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        if (rc == 0 || (WSAGetLastError() == WSAEWOULDBLOCK && WaitFor(s, true, wait))) {
            int soError = 0;
            int len = sizeof soError;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&soError), &len);
            ok = soError == 0;
        }
    }
    if (!ok) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        SetLastError(QUV_E_JOB_CONNECTION);
    } else {
        port->s = s;
    }
    Log("QuvStartJobPort", id, "waited<=" + std::to_string(wait), ok);
    return ok;
}

BOOL WINAPI QuvWritePort(QUVPORT h, const void *p, DWORD n, DWORD *taken, DWORD) {
    auto port = Lookup(h);
    if (!port)
        return Fail(QUV_E_INVALID_HANDLE);
    if (!taken || (!p && n > 0))
        return Fail(QUV_E_INVALID_PARAMETER);
    *taken = 0;
    std::lock_guard<std::mutex> lock(port->mu);
    if (port->s == INVALID_SOCKET)
        return Fail(QUV_E_JOB_NOT_OPEN);
    const DWORD wait = Scaled(port->timeoutMs);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
    const char *data = static_cast<const char *>(p);
    DWORD done = 0;
    BOOL ok = TRUE;
    DWORD error = 0;
    while (done < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitFor(port->s, true, static_cast<DWORD>(left.count()))) {
            if (done == 0) {
                ok = FALSE;
                error = QUV_E_TIMEOUT;
            }
            break;
        }
        int chunk = static_cast<int>(std::min<DWORD>(n - done, 65536));
        int sent = send(port->s, data + done, chunk, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            ok = FALSE;
            error = QUV_E_WRITE;
            break;
        }
        done += static_cast<DWORD>(sent);
    }
    *taken = done;
    if (!ok)
        SetLastError(error);
    Log("QuvWritePort", reinterpret_cast<std::uintptr_t>(h),
        "asked=" + std::to_string(n) + " done=" + std::to_string(done) +
            " timeout=" + std::to_string(port->timeoutMs) + " waited<=" + std::to_string(wait),
        ok);
    return ok;
}

BOOL WINAPI QuvReadPort(QUVPORT h, void *buf, DWORD cap, DWORD *got, DWORD) {
    auto port = Lookup(h);
    if (!port)
        return Fail(QUV_E_INVALID_HANDLE);
    if (!got || (!buf && cap > 0))
        return Fail(QUV_E_INVALID_PARAMETER);
    *got = 0;
    std::lock_guard<std::mutex> lock(port->mu);
    if (port->s == INVALID_SOCKET)
        return Fail(QUV_E_JOB_NOT_OPEN);
    const DWORD wait = Scaled(port->timeoutMs);
    BOOL ok = TRUE;
    if (cap > 0 && WaitFor(port->s, false, wait)) {
        int n = recv(port->s, static_cast<char *>(buf),
                     static_cast<int>(std::min<DWORD>(cap, 0x7fffffff)), 0);
        if (n > 0) {
            *got = static_cast<DWORD>(n);
        } else {
            ok = FALSE; // closed by the printer, or failed
            SetLastError(QUV_E_READ);
        }
    }
    Log("QuvReadPort", reinterpret_cast<std::uintptr_t>(h),
        "asked=" + std::to_string(cap) + " done=" + std::to_string(*got) +
            " timeout=" + std::to_string(port->timeoutMs) + " waited<=" + std::to_string(wait),
        ok);
    return ok;
}

BOOL WINAPI QuvEndJobPort(QUVPORT h, BOOL ok) {
    auto port = Lookup(h);
    if (!port)
        return Fail(QUV_E_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(port->mu);
    if (port->s == INVALID_SOCKET)
        return Fail(QUV_E_JOB_NOT_OPEN);
    CloseJob(*port);
    Log("QuvEndJobPort", reinterpret_cast<std::uintptr_t>(h), ok ? "ok=1" : "ok=0", TRUE);
    return TRUE;
}

BOOL WINAPI QuvClosePort(QUVPORT h) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> lock(g_tableMu);
        auto it = g_ports.find(reinterpret_cast<std::uintptr_t>(h));
        if (it == g_ports.end())
            return Fail(QUV_E_INVALID_HANDLE);
        port = it->second;
        g_ports.erase(it);
    }
    std::lock_guard<std::mutex> lock(port->mu);
    CloseJob(*port);
    Log("QuvClosePort", reinterpret_cast<std::uintptr_t>(h), "", TRUE);
    return TRUE;
}

} // extern "C"
