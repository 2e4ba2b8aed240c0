#include "ssl_socket.h"

#include <cstdint>
#include <cstring>

#include "heap.h"
#include "win_owners.h"

namespace marfel {
namespace {

const CSocketUtil kSockets;

bool Send(SslSocketContext *c, const void *data, DWORD length) {
    DWORD sent = 0;
    return SendAll(&::send, c->endpoint.socket, data, length, &sent);
}

void DeleteSecurityContext(SslSocketContext *c) {
    if (!(c->flags & kSecurityContext))
        return;
    c->sspi->DeleteSecurityContext(&c->security);
    c->security = CtxtHandle{};
    c->flags &= ~kSecurityContext;
}

void DropExtra(SslSocketContext *c) {
    FreeResult(c->extra);
    c->extra = nullptr;
    c->extraLength = 0;
    c->extraType = SECBUFFER_EMPTY;
}

// Keeps `length` bytes as the context's extra data (replacing any).
bool KeepExtra(SslSocketContext *c, const BYTE *bytes, DWORD length) {
    DropExtra(c);
    if (length == 0)
        return true;
    c->extra = static_cast<BYTE *>(AllocResult(length));
    if (!c->extra)
        return false;
    std::memcpy(c->extra, bytes, length);
    c->extraLength = length;
    c->extraType = SECBUFFER_TOKEN;
    return true;
}

// Waits until the socket is readable: 1 readable, 0 expired, -1 failed.
int WaitReadable(SOCKET s, timeval wait) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    const int n = select(0, &readable, nullptr, nullptr, &wait);
    return n < 0 ? -1 : (n == 0 ? 0 : 1);
}

void SendToken(SslSocketContext *c, SecBuffer &token, bool *sentOk) {
    if (token.pvBuffer && token.cbBuffer) {
        if (!Send(c, token.pvBuffer, token.cbBuffer))
            *sentOk = false;
    }
    if (token.pvBuffer)
        c->sspi->FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    token.cbBuffer = 0;
}

LONG GetSslClientCredentials(SslSocketContext *c) {
    SecPkgContext_IssuerListInfoEx issuers{};
    if (c->sspi->QueryContextAttributesA(&c->security, SECPKG_ATTR_ISSUER_LIST_EX, &issuers) !=
        SEC_E_OK)
        return 0;
    CERT_CHAIN_FIND_BY_ISSUER_PARA find{};
    find.cbSize = sizeof find;
    find.pszUsageIdentifier = const_cast<char *>(szOID_PKIX_KP_CLIENT_AUTH);
    find.cIssuer = issuers.cIssuers;
    find.rgIssuer = issuers.aIssuers;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    for (int guard = 0; guard < 1000; ++guard) {
        chain = CertFindChainInStore(c->store, X509_ASN_ENCODING, 0, CERT_CHAIN_FIND_BY_ISSUER,
                                     &find, chain);
        if (!chain)
            break;
        PCCERT_CONTEXT leaf = chain->rgpChain[0]->rgpElement[0]->pCertContext;
        SCHANNEL_CRED description = c->credentialDescription;
        description.cCreds = 1;
        description.paCred = &leaf;
        CredHandle fresh{};
        TimeStamp expiry{};
        if (c->sspi->AcquireCredentialsHandleA(nullptr, const_cast<char *>(UNISP_NAME_A),
                                               SECPKG_CRED_OUTBOUND, nullptr, &description, nullptr,
                                               nullptr, &fresh, &expiry) == SEC_E_OK) {
            if (c->flags & kCredentialsAcquired)
                c->sspi->FreeCredentialsHandle(&c->credentials);
            c->credentials = fresh;
            c->flags |= kCredentialsAcquired;
            CertFreeCertificateChain(chain);
            break;
        }
    }
    if (issuers.aIssuers)
        c->sspi->FreeContextBuffer(issuers.aIssuers);
    return 0;
}

// Deletes the context's security context when the scope ends, unless told to keep it.
class ContextUntilKept {
  public:
    explicit ContextUntilKept(SslSocketContext *c) noexcept : c_(c) {}
    ~ContextUntilKept() {
        if (c_)
            DeleteSecurityContext(c_);
    }
    ContextUntilKept(const ContextUntilKept &) = delete;
    ContextUntilKept &operator=(const ContextUntilKept &) = delete;
    void Keep() noexcept { c_ = nullptr; }

  private:
    SslSocketContext *c_;
};

// The handshake loop over a 64 KB buffer that starts with `initial` bytes (read first only
// when there are none). Extra bytes behind the finished handshake go to the context; on any
// failure the security context is deleted.
LONG RunSslHandshakeLoop(SslSocketContext *c, const char *host, const BYTE *initial,
                         DWORD initialLength, timeval *readWait) {
    ContextUntilKept context(c);
    HeapBlock buffer(AllocResult(kHandshakeBuffer));
    if (!buffer)
        return kInternalError;
    BYTE *in = buffer.bytes();
    DWORD count = 0;
    if (initial && initialLength) {
        if (initialLength > kHandshakeBuffer)
            return kInternalError;
        std::memcpy(in, initial, initialLength);
        count = initialLength;
    }
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    bool skipRead = false;
    for (int rounds = 0;
         rounds < 4096 && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
                           status == SEC_I_INCOMPLETE_CREDENTIALS);
         ++rounds) {
        if (count == 0 || status == SEC_E_INCOMPLETE_MESSAGE) {
            if (skipRead) {
                skipRead = false;
            } else {
                if (count >= kHandshakeBuffer)
                    return kInternalError;
                if (readWait && WaitReadable(c->endpoint.socket, *readWait) != 1)
                    return kInternalError;
                const int n = recv(c->endpoint.socket, reinterpret_cast<char *>(in + count),
                                   static_cast<int>(kHandshakeBuffer - count), 0);
                if (n <= 0)
                    return kInternalError;
                count += static_cast<DWORD>(n);
            }
        }
        SecBuffer inBuffers[2] = {{count, SECBUFFER_TOKEN, in}, {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        TimeStamp expiry{};
        status = c->sspi->InitializeSecurityContextA(
            &c->credentials, &c->security, const_cast<char *>(host), kRequestFlags, 0,
            SECURITY_NATIVE_DREP, &inDesc, 0, nullptr, &outDesc, &attributes, &expiry);
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
            (FAILED(status) && (attributes & ISC_RET_EXTENDED_ERROR))) {
            bool sent = true;
            SendToken(c, outBuffer, &sent);
            if (!sent)
                return kInternalError;
        } else if (outBuffer.pvBuffer) {
            c->sspi->FreeContextBuffer(outBuffer.pvBuffer);
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            continue;
        if (status == SEC_E_OK) {
            if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0 &&
                inBuffers[1].cbBuffer <= count) {
                if (!KeepExtra(c, in + count - inBuffers[1].cbBuffer, inBuffers[1].cbBuffer))
                    return kInternalError;
            }
            context.Keep();
            return 0;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            GetSslClientCredentials(c);
            skipRead = true;
            status = SEC_I_CONTINUE_NEEDED;
            continue;
        }
        if (FAILED(status))
            return status;
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0 &&
            inBuffers[1].cbBuffer <= count) {
            std::memmove(in, in + count - inBuffers[1].cbBuffer, inBuffers[1].cbBuffer);
            count = inBuffers[1].cbBuffer;
        } else {
            count = 0;
        }
    }
    if (status != SEC_E_OK)
        return status == SEC_I_CONTINUE_NEEDED ? kInternalError : status;
    context.Keep();
    return 0;
}

// A result block with room for `need` bytes and a zero byte after them, grown by doubling.
bool Grow(HeapBlock &result, DWORD *capacity, DWORD used, DWORD add) {
    const std::uint64_t need = std::uint64_t{used} + add + 1;
    if (need <= *capacity)
        return true;
    std::uint64_t size = std::uint64_t{*capacity} * 2;
    if (size < need)
        size = need;
    if (size > 0x7FFFFFFF)
        return false;
    HeapBlock bigger(AllocResult(static_cast<std::size_t>(size)));
    if (!bigger)
        return false;
    std::memcpy(bigger.get(), result.get(), used);
    result = std::move(bigger);
    *capacity = static_cast<DWORD>(size);
    return true;
}

} // namespace

DWORD CredentialFlags(DWORD platformId, DWORD majorVersion) {
    const bool manual = (platformId == VER_PLATFORM_WIN32_NT && majorVersion == 4) ||
                        platformId == VER_PLATFORM_WIN32_WINDOWS;
    return manual ? (SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS)
                  : (SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_AUTO_CRED_VALIDATION);
}

const char *SecurityModuleName(DWORD platformId, DWORD majorVersion) {
    if (platformId == VER_PLATFORM_WIN32_NT)
        return majorVersion == 4 ? "Security.dll" : "Secur32.dll";
    if (platformId == VER_PLATFORM_WIN32_WINDOWS)
        return "Secur32.dll";
    return nullptr;
}

timeval LongWait(int timeoutSeconds) {
    timeval t{};
    t.tv_sec = timeoutSeconds < 0 ? 0 : timeoutSeconds;
    return t;
}

timeval ShortWait(int timeoutSeconds) {
    const std::int64_t micro = timeoutSeconds < 0 ? 0 : std::int64_t{timeoutSeconds} * 10;
    timeval t{};
    t.tv_sec = static_cast<long>(micro / 1000000);
    t.tv_usec = static_cast<long>(micro % 1000000);
    return t;
}

SslSocketContext *CreateSslContext(DWORD *error) {
    HeapBlock block(AllocResult(sizeof(SslSocketContext)));
    if (!block) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    auto *c = static_cast<SslSocketContext *>(block.get());
    kSockets.ResetEndpoint(&c->endpoint);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    const char *name = GetVersionExA(&version)
                           ? SecurityModuleName(version.dwPlatformId, version.dwMajorVersion)
                           : nullptr;
    if (!name) {
        *error = ERROR_INSTALL_PLATFORM_UNSUPPORTED; // 1633
        return nullptr;
    }
    win::Module module(LoadLibraryA(name));
    auto init = module ? reinterpret_cast<INIT_SECURITY_INTERFACE_A>(reinterpret_cast<void (*)()>(
                             GetProcAddress(module.get(), "InitSecurityInterfaceA")))
                       : nullptr;
    c->sspi = init ? init() : nullptr;
    if (!c->sspi) {
        *error = GetLastError();
        if (*error == 0)
            *error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    const int wsa = WSAStartup(MAKEWORD(1, 1), &c->winsock);
    if (wsa != 0) {
        *error = static_cast<DWORD>(wsa);
        return nullptr;
    }
    c->securityModule = module.release();
    return static_cast<SslSocketContext *>(block.release());
}

void FreeSslContext(SslSocketContext *c) {
    if (!c)
        return;
    if (c->serverCertificate)
        CertFreeCertificateContext(c->serverCertificate);
    DropExtra(c);
    DeleteSecurityContext(c);
    if (c->flags & kCredentialsAcquired)
        c->sspi->FreeCredentialsHandle(&c->credentials);
    c->flags = 0;
    kSockets.CloseEndpoint(&c->endpoint);
    WSACleanup();
    if (c->store)
        CertCloseStore(c->store, 0);
    if (c->securityModule)
        FreeLibrary(c->securityModule);
    SecureZeroMemory(c, sizeof *c);
    FreeResult(c);
}

int ConnectSslContext(SslSocketContext *c, const char *host, int port) {
    const int opened = kSockets.OpenTcpSocket(host, port, &c->endpoint);
    if (opened == 1)
        return 1;
    if (opened != 0)
        return 2;
    if (connect(c->endpoint.socket, reinterpret_cast<const sockaddr *>(c->endpoint.address),
                c->endpoint.addressLength) != 0) {
        kSockets.CloseEndpoint(&c->endpoint);
        return 3;
    }
    return 0;
}

LONG AcquireSslCredentials(SslSocketContext *c, const SslSocketOptions *options) {
    const char *storeName = options && options->storeName ? options->storeName : "MY";
    if (!c->store) {
        c->store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                 storeName);
        if (!c->store)
            return 2;
    }
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return 3;
    PCCERT_CONTEXT client = nullptr;
    if (options && options->clientSubject) {
        if (options->clientSubject[0] == '\0')
            return 4;
        client =
            CertFindCertificateInStore(c->store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                       CERT_FIND_SUBJECT_STR_A, options->clientSubject, nullptr);
        if (!client)
            return 5;
    }
    SCHANNEL_CRED &d = c->credentialDescription;
    d = SCHANNEL_CRED{};
    d.dwVersion = SCHANNEL_CRED_VERSION;
    ALG_ID algorithm = 0; // pointed to only during the acquire call
    if (client) {
        d.cCreds = 1;
        d.paCred = &client;
    }
    d.grbitEnabledProtocols = options ? options->enabledProtocols : 0;
    if (options && options->algorithm) {
        algorithm = options->algorithm;
        d.cSupportedAlgs = 1;
        d.palgSupportedAlgs = &algorithm;
    }
    d.dwFlags = CredentialFlags(version.dwPlatformId, version.dwMajorVersion);
    TimeStamp expiry{};
    const SECURITY_STATUS status = c->sspi->AcquireCredentialsHandleA(
        nullptr, const_cast<char *>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &d, nullptr,
        nullptr, &c->credentials, &expiry);
    d.cCreds = 0;
    d.paCred = nullptr;
    d.cSupportedAlgs = 0;
    d.palgSupportedAlgs = nullptr;
    if (client)
        CertFreeCertificateContext(client);
    if (status != SEC_E_OK)
        return status;
    c->flags |= kCredentialsAcquired;
    return 0;
}

LONG StartSslHandshake(SslSocketContext *c, const char *host) {
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    ULONG attributes = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS status = c->sspi->InitializeSecurityContextA(
        &c->credentials, nullptr, const_cast<char *>(host), kRequestFlags, 0, SECURITY_NATIVE_DREP,
        nullptr, 0, &c->security, &outDesc, &attributes, &expiry);
    if (status != SEC_I_CONTINUE_NEEDED) {
        if (outBuffer.pvBuffer)
            c->sspi->FreeContextBuffer(outBuffer.pvBuffer);
        if (status == SEC_E_OK) {
            // Nothing to negotiate is not a handshake this client can use.
            c->flags |= kSecurityContext;
            DeleteSecurityContext(c);
            return kInternalError;
        }
        return status;
    }
    c->flags |= kSecurityContext;
    bool sent = true;
    SendToken(c, outBuffer, &sent);
    if (!sent) {
        DeleteSecurityContext(c);
        return kInternalError;
    }
    return RunSslHandshakeLoop(c, host, nullptr, 0, nullptr);
}

LONG VerifySslServerCertificate(SslSocketContext *c, const char *host) {
    if (!host)
        return kWrongPrincipal;
    if (!c->serverCertificate &&
        c->sspi->QueryContextAttributesA(&c->security, SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                         &c->serverCertificate) != SEC_E_OK)
        c->serverCertificate = nullptr;
    if (!c->serverCertificate)
        return kWrongPrincipal;

    const int wide = MultiByteToWideChar(CP_ACP, 0, host, -1, nullptr, 0);
    if (wide <= 0)
        return kWrongPrincipal;
    HeapBlock name(AllocResult(static_cast<std::size_t>(wide) * sizeof(WCHAR)));
    if (!name)
        return static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
    MultiByteToWideChar(CP_ACP, 0, host, -1, static_cast<WCHAR *>(name.get()), wide);

    LPSTR usages[] = {const_cast<char *>(szOID_PKIX_KP_SERVER_AUTH),
                      const_cast<char *>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<char *>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 3;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, c->serverCertificate, nullptr,
                                 c->serverCertificate->hCertStore, &chainPara, 0, nullptr,
                                 &chain)) {
        const DWORD e = GetLastError();
        return e ? static_cast<LONG>(e) : kWrongPrincipal;
    }
    HTTPSPolicyCallbackData https{};
    https.cbStruct = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.fdwChecks = 0;
    https.pwszServerName = static_cast<WCHAR *>(name.get());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &https;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    LONG code = 0;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result))
        code = static_cast<LONG>(GetLastError());
    else if (result.dwError)
        code = static_cast<LONG>(result.dwError);
    CertFreeCertificateChain(chain);
    return code;
}

void ShutdownSslContext(SslSocketContext *c) {
    if (!(c->flags & kSecurityContext))
        return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (c->sspi->ApplyControlToken(&c->security, &controlDesc) != SEC_E_OK) {
        DeleteSecurityContext(c);
        kSockets.CloseEndpoint(&c->endpoint);
        return;
    }
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    ULONG attributes = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS status = c->sspi->InitializeSecurityContextA(
        &c->credentials, &c->security, nullptr, kRequestFlags, 0, SECURITY_NATIVE_DREP, nullptr, 0,
        &c->security, &outDesc, &attributes, &expiry);
    bool sent = true;
    if (!FAILED(status)) {
        SendToken(c, outBuffer, &sent);
    } else if (outBuffer.pvBuffer) {
        c->sspi->FreeContextBuffer(outBuffer.pvBuffer);
    }
    DeleteSecurityContext(c);
    kSockets.CloseEndpoint(&c->endpoint);
}

LONG EncryptAndSendSslData(SslSocketContext *c, const void *data, int *length) {
    SecPkgContext_StreamSizes sizes{};
    const SECURITY_STATUS query =
        c->sspi->QueryContextAttributesA(&c->security, SECPKG_ATTR_STREAM_SIZES, &sizes);
    if (query != SEC_E_OK)
        return query;
    const std::uint64_t room =
        std::uint64_t{sizes.cbHeader} + sizes.cbMaximumMessage + sizes.cbTrailer;
    if (sizes.cbMaximumMessage == 0 || room > 0x7FFFFFFF)
        return kInternalError;
    HeapBlock buffer(AllocResult(static_cast<std::size_t>(room)));
    if (!buffer)
        return static_cast<LONG>(ERROR_NO_SYSTEM_RESOURCES);
    const auto *in = static_cast<const BYTE *>(data);
    const DWORD total = static_cast<DWORD>(*length);
    DWORD taken = 0;
    *length = 0;
    while (taken < total) {
        const DWORD chunk =
            total - taken < sizes.cbMaximumMessage ? total - taken : sizes.cbMaximumMessage;
        BYTE *p = buffer.bytes();
        std::memcpy(p + sizes.cbHeader, in + taken, chunk);
        SecBuffer buffers[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, p},
            {chunk, SECBUFFER_DATA, p + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, p + sizes.cbHeader + chunk},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = c->sspi->EncryptMessage(&c->security, 0, &desc, 0);
        if (status != SEC_E_OK)
            return status;
        // The sizes the provider wrote, which may be less than it declared.
        const DWORD record = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        if (buffers[0].pvBuffer != p || record > room)
            return kInternalError;
        if (buffers[1].pvBuffer != p + buffers[0].cbBuffer)
            std::memmove(p + buffers[0].cbBuffer, buffers[1].pvBuffer, buffers[1].cbBuffer);
        if (buffers[2].pvBuffer != p + buffers[0].cbBuffer + buffers[1].cbBuffer)
            std::memmove(p + buffers[0].cbBuffer + buffers[1].cbBuffer, buffers[2].pvBuffer,
                         buffers[2].cbBuffer);
        if (!Send(c, p, record))
            return kInternalError;
        taken += chunk;
        *length = static_cast<int>(taken);
    }
    return 0;
}

LONG ReceiveAndDecryptSslData(SslSocketContext *c, int timeoutSeconds, int *length, void **out) {
    SecPkgContext_StreamSizes sizes{};
    const SECURITY_STATUS query =
        c->sspi->QueryContextAttributesA(&c->security, SECPKG_ATTR_STREAM_SIZES, &sizes);
    if (query != SEC_E_OK)
        return query;
    const std::uint64_t record =
        std::uint64_t{sizes.cbHeader} + sizes.cbMaximumMessage + sizes.cbTrailer;
    // Room for the held extra data and one more record behind it.
    const std::uint64_t bufferSize = record + c->extraLength;
    if (bufferSize > 0x7FFFFFFF)
        return kInternalError;
    HeapBlock buffer(AllocResult(static_cast<std::size_t>(bufferSize)));
    DWORD capacity = static_cast<DWORD>(record + 1);
    HeapBlock result(AllocResult(capacity));
    if (!buffer || !result)
        return static_cast<LONG>(ERROR_NO_SYSTEM_RESOURCES);
    BYTE *in = buffer.bytes();
    DWORD count = 0;
    if (c->extra && c->extraLength) {
        std::memcpy(in, c->extra, c->extraLength);
        count = c->extraLength;
        DropExtra(c);
    }
    const DWORD size = static_cast<DWORD>(bufferSize);
    DWORD used = 0;
    bool arrived = false;
    SECURITY_STATUS status = SEC_E_OK;
    LONG end = 0;
    for (;;) {
        if (count == 0 || status == SEC_E_INCOMPLETE_MESSAGE) {
            // Data flows once bytes came in this call or held data decrypted to something.
            const bool flowing = arrived || used > 0;
            const timeval wait = !flowing || status == SEC_E_INCOMPLETE_MESSAGE
                                     ? LongWait(timeoutSeconds)
                                     : ShortWait(timeoutSeconds);
            if (WaitReadable(c->endpoint.socket, wait) != 1) {
                // Undecrypted bytes stay with the context for the next call.
                if (count && !KeepExtra(c, in, count))
                    return kNoMemory;
                end = flowing ? 0 : kInternalError;
                break;
            }
            if (count >= size)
                return kInternalError; // a record longer than the provider allows
            const int n = recv(c->endpoint.socket, reinterpret_cast<char *>(in + count),
                               static_cast<int>(size - count), 0);
            if (n < 0)
                return kInternalError;
            if (n == 0) {
                if (count == 0)
                    break; // the peer closed between records
                return kInternalError;
            }
            count += static_cast<DWORD>(n);
            arrived = true;
        }
        SecBuffer buffers[4] = {{count, SECBUFFER_DATA, in},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        status = c->sspi->DecryptMessage(&c->security, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            continue;
        if (status == SEC_I_CONTEXT_EXPIRED)
            break;
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
            return status;
        const SecBuffer *dataBuffer = nullptr;
        const SecBuffer *extraBuffer = nullptr;
        for (const SecBuffer &b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && !dataBuffer)
                dataBuffer = &b;
            if (b.BufferType == SECBUFFER_EXTRA && !extraBuffer)
                extraBuffer = &b;
        }
        if (dataBuffer && dataBuffer->cbBuffer) {
            if (!Grow(result, &capacity, used, dataBuffer->cbBuffer))
                return kNoMemory;
            std::memcpy(result.bytes() + used, dataBuffer->pvBuffer, dataBuffer->cbBuffer);
            used += dataBuffer->cbBuffer;
            *length = static_cast<int>(used);
        }
        if (extraBuffer && extraBuffer->cbBuffer && extraBuffer->cbBuffer <= count) {
            std::memmove(in, extraBuffer->pvBuffer, extraBuffer->cbBuffer);
            count = extraBuffer->cbBuffer;
        } else {
            count = 0;
        }
        if (status == SEC_I_RENEGOTIATE) {
            DropExtra(c);
            timeval wait = LongWait(timeoutSeconds);
            const LONG handshake = RunSslHandshakeLoop(c, nullptr, in, count, &wait);
            if (handshake != 0)
                return handshake;
            count = 0;
            if (c->extra && c->extraLength) {
                if (c->extraLength > size)
                    return kInternalError;
                std::memcpy(in, c->extra, c->extraLength);
                count = c->extraLength;
                DropExtra(c);
            }
            status = SEC_E_OK;
        }
    }
    if (end != 0)
        return end;
    result.bytes()[used] = 0;
    *length = static_cast<int>(used);
    *out = result.release();
    return 0;
}

LONG SendPlainStreamData(SslSocketContext *c, const void *data, int *length) {
    DWORD sent = 0;
    const bool ok = SendAll(&::send, c->endpoint.socket, data, static_cast<DWORD>(*length), &sent);
    if (!ok)
        return kInternalError;
    *length = static_cast<int>(sent);
    return 0;
}

LONG ReceivePlainStreamData(SslSocketContext *c, int timeoutSeconds, int *length, void **out) {
    DWORD capacity = kPlainBuffer;
    HeapBlock result(AllocResult(capacity));
    if (!result)
        return static_cast<LONG>(ERROR_NO_SYSTEM_RESOURCES);
    DWORD used = 0;
    bool arrived = false;
    for (;;) {
        const timeval wait = arrived ? ShortWait(timeoutSeconds) : LongWait(timeoutSeconds);
        if (WaitReadable(c->endpoint.socket, wait) != 1) {
            if (!arrived)
                return kInternalError;
            break;
        }
        // Always room for one byte more and the zero byte after the data.
        if (!Grow(result, &capacity, used, 1))
            return kNoMemory;
        const DWORD free = capacity - used - 1;
        const int n = recv(c->endpoint.socket, reinterpret_cast<char *>(result.bytes() + used),
                           static_cast<int>(free), 0);
        if (n < 0)
            return kInternalError;
        if (n == 0)
            break;
        used += static_cast<DWORD>(n);
        arrived = true;
        *length = static_cast<int>(used);
    }
    result.bytes()[used] = 0;
    *length = static_cast<int>(used);
    *out = result.release();
    return 0;
}

} // namespace marfel
