// The TLS socket exports. Each failing export sets the thread's last error to the code it
// reports, as its final act.
#include "ssl_socket.h"

#include <type_traits>

#include "heap.h"

using namespace marfel;

namespace {

constexpr LONG kInvalidParameter = ERROR_INVALID_PARAMETER;

template <typename T> T Fail(LONG code, T result) {
    SetLastError(static_cast<DWORD>(code));
    return result;
}

// Credentials, handshake and certificate check on a connected context.
LONG Secure(SslSocketContext *c, const char *host, const SslSocketOptions *options) {
    LONG code = AcquireSslCredentials(c, options);
    if (code == 0)
        code = StartSslHandshake(c, host);
    if (code == 0)
        code = VerifySslServerCertificate(c, host);
    return code;
}

bool BadStreamArguments(SslSocketContext *c, const void *data, const int *length) {
    return !c || !data || !length || *length < 0;
}

} // namespace

extern "C" {

SslSocketContext *SslOpenSocket(const char *host, int port) {
    if (!host)
        return Fail<SslSocketContext *>(kInvalidParameter, nullptr);
    DWORD error = 0;
    SslSocketContext *c = CreateSslContext(&error);
    if (!c)
        return Fail<SslSocketContext *>(static_cast<LONG>(error), nullptr);
    const int code = ConnectSslContext(c, host, port);
    if (code != 0) {
        FreeSslContext(c);
        return Fail<SslSocketContext *>(code, nullptr);
    }
    return c;
}

SslSocketContext *SslOpenSSLSocket(const char *host, int port, const SslSocketOptions *options) {
    if (!host)
        return Fail<SslSocketContext *>(kInvalidParameter, nullptr);
    DWORD error = 0;
    SslSocketContext *c = CreateSslContext(&error);
    if (!c)
        return Fail<SslSocketContext *>(static_cast<LONG>(error), nullptr);
    LONG code = AcquireSslCredentials(c, options);
    if (code == 0)
        code = ConnectSslContext(c, host, port);
    if (code != 0) {
        FreeSslContext(c);
        return Fail<SslSocketContext *>(code, nullptr);
    }
    code = StartSslHandshake(c, host);
    if (code == 0)
        code = VerifySslServerCertificate(c, host);
    if (code != 0) {
        ShutdownSslContext(c);
        FreeSslContext(c);
        return Fail<SslSocketContext *>(code, nullptr);
    }
    return c;
}

void SslCloseSocket(SslSocketContext *context) {
    if (!context)
        return;
    ShutdownSslContext(context);
    FreeSslContext(context);
}

UINT_PTR SslGetSocket(SslSocketContext *context) {
    return context ? static_cast<UINT_PTR>(context->endpoint.socket) : 0;
}

int SslSendSSLDataStream(SslSocketContext *context, const void *data, int *length) {
    if (BadStreamArguments(context, data, length))
        return Fail<int>(kInvalidParameter, kInvalidParameter);
    if (!(context->flags & kSecurityContext))
        return Fail<int>(kInternalError, kInternalError);
    const LONG code = EncryptAndSendSslData(context, data, length);
    return code ? Fail<int>(code, code) : 0;
}

void *SslReceiveSSLDataStream(SslSocketContext *context, int timeoutSeconds, int *length, int) {
    if (!context || !length)
        return Fail<void *>(kInvalidParameter, nullptr);
    if (!(context->flags & kSecurityContext))
        return Fail<void *>(kInternalError, nullptr);
    void *result = nullptr;
    const LONG code = ReceiveAndDecryptSslData(context, timeoutSeconds, length, &result);
    return code ? Fail<void *>(code, nullptr) : result;
}

int SslStartTls(SslSocketContext *context, const char *host, const SslSocketOptions *options) {
    if (!context || !host || (context->flags & kSecurityContext) ||
        context->endpoint.socket == INVALID_SOCKET)
        return Fail<int>(kInternalError, kInternalError);
    if (context->flags & kCredentialsAcquired) {
        context->sspi->FreeCredentialsHandle(&context->credentials);
        context->flags &= ~kCredentialsAcquired;
    }
    const LONG code = Secure(context, host, options);
    return code ? Fail<int>(code, code) : 0;
}

int SslSendDataStream(SslSocketContext *context, const void *data, int *length) {
    if (BadStreamArguments(context, data, length))
        return Fail<int>(kInvalidParameter, kInvalidParameter);
    const LONG code = SendPlainStreamData(context, data, length);
    return code ? Fail<int>(code, code) : 0;
}

void *SslReceiveDataStream(SslSocketContext *context, int timeoutSeconds, int *length, int) {
    if (!context || !length)
        return Fail<void *>(kInvalidParameter, nullptr);
    void *result = nullptr;
    const LONG code = ReceivePlainStreamData(context, timeoutSeconds, length, &result);
    return code ? Fail<void *>(code, nullptr) : result;
}

} // extern "C"

static_assert(std::is_same_v<decltype(&SslOpenSocket), SslOpenSocketFn>);
static_assert(std::is_same_v<decltype(&SslOpenSSLSocket), SslOpenSSLSocketFn>);
static_assert(std::is_same_v<decltype(&SslCloseSocket), SslCloseSocketFn>);
static_assert(std::is_same_v<decltype(&SslGetSocket), SslGetSocketFn>);
static_assert(std::is_same_v<decltype(&SslSendSSLDataStream), SslSendSSLDataStreamFn>);
static_assert(std::is_same_v<decltype(&SslReceiveSSLDataStream), SslReceiveSSLDataStreamFn>);
static_assert(std::is_same_v<decltype(&SslStartTls), SslStartTlsFn>);
static_assert(std::is_same_v<decltype(&SslSendDataStream), SslSendDataStreamFn>);
static_assert(std::is_same_v<decltype(&SslReceiveDataStream), SslReceiveDataStreamFn>);
