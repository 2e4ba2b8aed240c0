// Socket helpers of the TLS client sockets, and a few more for other callers.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

namespace marfel {

struct SocketEndpoint {
    SOCKET socket;
    unsigned char address[28]; // a copy of the peer address, large enough for IPv6
    int addressLength;
};

// The send function of SendAll: ::send, or a test's stand-in.
using SendFunction = int(WSAAPI *)(SOCKET s, const char *data, int length, int flags);

// Sends every byte, looping over short counts. false on an error or a zero count; `*sent` is
// the bytes that went out either way.
bool SendAll(SendFunction send, SOCKET s, const void *data, DWORD length, DWORD *sent);

class CSocketUtil {
  public:
    virtual ~CSocketUtil() = default;

    // Resolves host and port (decimal service) and opens a socket on the first address that
    // allows one; the address is kept in the endpoint. 0, 1 no host or endpoint, 2 lookup
    // failed, 3 no socket.
    int OpenTcpSocket(const char *host, int port, SocketEndpoint *endpoint) const;
    // The same over UDP; IPv4 sockets get SO_BROADCAST, scoped IPv6 addresses their multicast
    // interface.
    int OpenUdpSocket(const char *host, int port, SocketEndpoint *endpoint) const;
    void ResetEndpoint(SocketEndpoint *endpoint) const;
    void CloseEndpoint(SocketEndpoint *endpoint) const;
    // AF_INET6 when the host text contains ":", else AF_UNSPEC.
    int GetHostFamily(const char *host) const;
    // Winsock 2.2: the start-up error, or WSAVERNOTSUPPORTED when another version is granted.
    int StartWinsock(WSADATA *data) const;
    void StopWinsock() const;
    // The 16 bytes of the host's first IPv6 address: 0, 1 no host or room below 16, 2 lookup
    // failed, 3 no answer.
    int ResolveIpv6Address(const char *host, unsigned char *out, int size) const;
    // The host's first usable address as numeric text (see FormatNumericAddress); the scope
    // is the address's own or else `scopeId`. 0, 2 lookup failed, 3 none usable, 4 no host or
    // length pointer.
    int FormatHostAddress(const char *host, unsigned long scopeId, char *out,
                          unsigned *length) const;
    // Numeric text of a socket address, as the core's FormatNumericAddress; 2 for an
    // unknown family.
    int FormatNumericAddress(const sockaddr *address, unsigned long scopeId, char *out,
                             unsigned *length) const;
    long ParseScopeId(const char *text) const;
    int AlwaysOne() const { return 1; }

  private:
    int OpenSocket(const char *host, int port, int type, int protocol,
                   SocketEndpoint *endpoint) const;
};

} // namespace marfel
