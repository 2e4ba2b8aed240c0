#include "socket_util.h"

#include <cstdio>
#include <cstring>

#include "net_address.h"

namespace marfel {

bool SendAll(SendFunction send, SOCKET s, const void *data, DWORD length, DWORD *sent) {
    const auto *p = static_cast<const char *>(data);
    DWORD done = 0;
    bool ok = true;
    while (done < length) {
        const DWORD left = length - done;
        const int chunk = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
        const int n = send(s, p + done, chunk, 0);
        if (n <= 0 || n > chunk) {
            ok = false;
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (sent)
        *sent = done;
    return ok;
}

void CSocketUtil::ResetEndpoint(SocketEndpoint *endpoint) const {
    if (!endpoint)
        return;
    endpoint->socket = INVALID_SOCKET;
    std::memset(endpoint->address, 0, sizeof endpoint->address);
    endpoint->addressLength = 0;
}

void CSocketUtil::CloseEndpoint(SocketEndpoint *endpoint) const {
    if (!endpoint || endpoint->socket == INVALID_SOCKET)
        return;
    closesocket(endpoint->socket);
    endpoint->socket = INVALID_SOCKET;
}

int CSocketUtil::GetHostFamily(const char *host) const {
    return host && std::strchr(host, ':') ? AF_INET6 : AF_UNSPEC;
}

int CSocketUtil::OpenSocket(const char *host, int port, int type, int protocol,
                            SocketEndpoint *endpoint) const {
    if (!host || !endpoint)
        return 1;
    ResetEndpoint(endpoint);
    char service[16];
    std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port) & 0xFFFFu);
    addrinfo hints{};
    hints.ai_family = GetHostFamily(host);
    hints.ai_socktype = type;
    hints.ai_protocol = protocol;
    addrinfo *answers = nullptr;
    if (getaddrinfo(host, service, &hints, &answers) != 0 || !answers)
        return 2;
    int result = 3;
    for (addrinfo *a = answers; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof endpoint->address)
            continue;
        SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET)
            continue;
        endpoint->socket = s;
        std::memcpy(endpoint->address, a->ai_addr, a->ai_addrlen);
        endpoint->addressLength = static_cast<int>(a->ai_addrlen);
        result = 0;
        break;
    }
    freeaddrinfo(answers);
    return result;
}

int CSocketUtil::OpenTcpSocket(const char *host, int port, SocketEndpoint *endpoint) const {
    return OpenSocket(host, port, SOCK_STREAM, IPPROTO_TCP, endpoint);
}

int CSocketUtil::OpenUdpSocket(const char *host, int port, SocketEndpoint *endpoint) const {
    const int result = OpenSocket(host, port, SOCK_DGRAM, IPPROTO_UDP, endpoint);
    if (result != 0)
        return result;
    const auto *address = reinterpret_cast<const sockaddr *>(endpoint->address);
    if (address->sa_family == AF_INET) {
        const BOOL on = TRUE;
        setsockopt(endpoint->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on),
                   sizeof on);
    } else if (address->sa_family == AF_INET6) {
        const DWORD scope = reinterpret_cast<const sockaddr_in6 *>(address)->sin6_scope_id;
        if (scope != 0)
            setsockopt(endpoint->socket, IPPROTO_IPV6, IPV6_MULTICAST_IF,
                       reinterpret_cast<const char *>(&scope), sizeof scope);
    }
    return 0;
}

int CSocketUtil::StartWinsock(WSADATA *data) const {
    WSADATA local;
    WSADATA *d = data ? data : &local;
    const int error = WSAStartup(MAKEWORD(2, 2), d);
    if (error != 0)
        return error;
    if (d->wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        return WSAVERNOTSUPPORTED;
    }
    return 0;
}

void CSocketUtil::StopWinsock() const {
    WSACleanup();
}

int CSocketUtil::ResolveIpv6Address(const char *host, unsigned char *out, int size) const {
    if (!host || !out || size < 16)
        return 1;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *answers = nullptr;
    if (getaddrinfo(host, "161", &hints, &answers) != 0)
        return 2;
    int result = 3;
    if (answers && answers->ai_family == AF_INET6 && answers->ai_addrlen >= sizeof(sockaddr_in6)) {
        std::memcpy(out, &reinterpret_cast<const sockaddr_in6 *>(answers->ai_addr)->sin6_addr, 16);
        result = 0;
    }
    if (answers)
        freeaddrinfo(answers);
    return result;
}

int CSocketUtil::FormatNumericAddress(const sockaddr *address, unsigned long scopeId, char *out,
                                      unsigned *length) const {
    if (!address || !length)
        return 2;
    if (address->sa_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(address);
        return marfel::FormatNumericAddress(AddressFamily::kIpv4,
                                            reinterpret_cast<const unsigned char *>(&in->sin_addr),
                                            0, out, length);
    }
    if (address->sa_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
        return marfel::FormatNumericAddress(
            AddressFamily::kIpv6, reinterpret_cast<const unsigned char *>(&in6->sin6_addr),
            static_cast<std::uint32_t>(scopeId), out, length);
    }
    return 2;
}

int CSocketUtil::FormatHostAddress(const char *host, unsigned long scopeId, char *out,
                                   unsigned *length) const {
    if (!host || !length)
        return 4;
    addrinfo hints{};
    hints.ai_family = GetHostFamily(host);
    addrinfo *answers = nullptr;
    if (getaddrinfo(host, "0", &hints, &answers) != 0)
        return 2;
    int result = 3;
    for (addrinfo *a = answers; a; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6)
            continue;
        unsigned long scope = scopeId;
        if (a->ai_family == AF_INET6) {
            const unsigned long own =
                reinterpret_cast<const sockaddr_in6 *>(a->ai_addr)->sin6_scope_id;
            if (own != 0)
                scope = own;
        }
        FormatNumericAddress(a->ai_addr, scope, out, length);
        result = 0;
        break;
    }
    if (answers)
        freeaddrinfo(answers);
    return result;
}

long CSocketUtil::ParseScopeId(const char *text) const {
    return marfel::ParseScopeId(text);
}

} // namespace marfel
