// TLS client sockets over the security support provider's Schannel package.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include "marfel.h"
#include "socket_util.h"

// The context behind the public header's opaque SslSocketContext: one zero-filled
// process-heap record per connection.
struct SslSocketContext {
    HMODULE securityModule;
    PSecurityFunctionTableA sspi;
    WSADATA winsock;
    HCERTSTORE store;
    SCHANNEL_CRED credentialDescription;
    CredHandle credentials;
    marfel::SocketEndpoint endpoint;
    CtxtHandle security;
    DWORD extraLength;
    DWORD extraType; // SECBUFFER_TOKEN when extra data is held, else SECBUFFER_EMPTY
    BYTE *extra;     // process-heap bytes received behind a handshake
    PCCERT_CONTEXT serverCertificate;
    DWORD flags;
};

namespace marfel {

inline constexpr DWORD kCredentialsAcquired = 1;
inline constexpr DWORD kSecurityContext = 2;
inline constexpr DWORD kRequestFlags = 0xC11C;
inline constexpr DWORD kHandshakeBuffer = 64 * 1024;
inline constexpr DWORD kPlainBuffer = 4096;
inline constexpr LONG kInternalError = static_cast<LONG>(0x80090304);
inline constexpr LONG kWrongPrincipal = static_cast<LONG>(0x80090322);
inline constexpr LONG kNoMemory = static_cast<LONG>(0xC0000017);

// The credential flags of the system version: manual validation on NT 4.0 and 9x.
DWORD CredentialFlags(DWORD platformId, DWORD majorVersion);

// The security library of the system version, or nullptr for an unsupported platform.
const char *SecurityModuleName(DWORD platformId, DWORD majorVersion);

// Waits of the receive paths: `timeoutSeconds` seconds, or that many times 10 microseconds
// once data flows; a negative timeout counts as 0.
timeval LongWait(int timeoutSeconds);
timeval ShortWait(int timeoutSeconds);

// Each operation returns 0 or a failure code; the exports set it as the last error.
SslSocketContext *CreateSslContext(DWORD *error);
void FreeSslContext(SslSocketContext *context);
int ConnectSslContext(SslSocketContext *context, const char *host, int port);
LONG AcquireSslCredentials(SslSocketContext *context, const SslSocketOptions *options);
LONG StartSslHandshake(SslSocketContext *context, const char *host);
LONG VerifySslServerCertificate(SslSocketContext *context, const char *host);
void ShutdownSslContext(SslSocketContext *context);
LONG EncryptAndSendSslData(SslSocketContext *context, const void *data, int *length);
LONG ReceiveAndDecryptSslData(SslSocketContext *context, int timeoutSeconds, int *length,
                              void **result);
LONG SendPlainStreamData(SslSocketContext *context, const void *data, int *length);
LONG ReceivePlainStreamData(SslSocketContext *context, int timeoutSeconds, int *length,
                            void **result);

} // namespace marfel
